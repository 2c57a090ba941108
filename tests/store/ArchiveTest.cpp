#include <gtest/gtest.h>

#include <memory>

#include "StoreTestSupport.h"
#include "store/Archive.h"

using namespace telvara;
using test::Bytes;

namespace {

Bytes Written(const std::string& text) {
  ArchiveWriter writer;
  writer.WriteString(text);
  return writer.Bytes();
}

}  // namespace

TEST(ArchiveString, ShortAndLongForms) {
  std::string caller(300, 'x');
  Bytes longForm = Written(caller);
  ASSERT_EQ(longForm.size(), 3u + 300u);
  EXPECT_EQ(longForm[0], 0xFF);
  EXPECT_EQ(longForm[1], 0x2C);  // 300 = 0x012C
  EXPECT_EQ(longForm[2], 0x01);

  Bytes at254 = Written(std::string(254, 'a'));
  EXPECT_EQ(at254.size(), 255u);
  EXPECT_EQ(at254[0], 254);
  Bytes at255 = Written(std::string(255, 'a'));
  ASSERT_EQ(at255.size(), 258u);
  EXPECT_EQ((Bytes{at255[0], at255[1], at255[2]}), (Bytes{0xFF, 0xFF, 0x00}));

  for (std::size_t length : {std::size_t{300}, std::size_t{254}, std::size_t{255}}) {
    std::string text(length, 'q');
    Bytes bytes = Written(text);
    ArchiveReader reader(bytes.data(), bytes.size());
    std::string back;
    ASSERT_EQ(reader.ReadString(back, 0xFFFE), ReadStatus::Ok);
    EXPECT_EQ(back, text);
    EXPECT_EQ(reader.Remaining(), 0u);
  }
}

TEST(ArchiveString, LimitIsCheckedBeforeTheText) {
  Bytes bytes = Written(std::string(40, 'c'));
  ArchiveReader reader(bytes.data(), bytes.size());
  std::string out = "kept";
  EXPECT_EQ(reader.ReadString(out, 31), ReadStatus::TooLong);
  EXPECT_EQ(reader.Offset(), 0u);
  // A length announced beyond the data is "ends early" however large the limit.
  Bytes cut = {0xFF, 0x10, 0x00, 'a'};
  ArchiveReader short_(cut.data(), cut.size());
  EXPECT_EQ(short_.ReadString(out, 0xFFFE), ReadStatus::EndsEarly);
  EXPECT_EQ(short_.Offset(), 0u);
}

TEST(ArchiveReader, EveryCutInputEndsEarlyWithoutReadingPastIt) {
  ArchiveWriter writer;
  writer.WriteU16(0x1234);
  writer.WriteI32(-2);
  writer.WriteString(std::string(300, 'z'));
  const Bytes& full = writer.Bytes();
  for (std::size_t size = 0; size < full.size(); ++size) {
    // An exactly sized copy, so the sanitizer sees any read past the end.
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size + 1]);
    std::copy(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size), copy.get());
    ArchiveReader reader(copy.get(), size);
    std::uint16_t a = 0;
    std::int32_t b = 0;
    std::string c;
    bool ok = reader.ReadU16(a) && reader.ReadI32(b) && reader.ReadString(c, 0xFFFE) == ReadStatus::Ok;
    EXPECT_FALSE(ok) << size;
    EXPECT_LE(reader.Offset(), size);
  }
  ArchiveReader reader(full.data(), full.size());
  std::uint16_t a = 0;
  std::int32_t b = 0;
  ASSERT_TRUE(reader.ReadU16(a) && reader.ReadI32(b));
  EXPECT_EQ(a, 0x1234);
  EXPECT_EQ(b, -2);
}
