#include <gtest/gtest.h>

#include "StoreTestSupport.h"
#include "store/Archive.h"

using namespace telvara;
using test::Bytes;

TEST(Archive, StringFormsAndLimits) {
  for (std::size_t length : {254u, 255u, 300u}) {
    std::string text(length, 'q');
    ArchiveWriter writer;
    writer.WriteString(text);
    const Bytes& bytes = writer.Bytes();
    Bytes head = length < 255 ? Bytes{std::uint8_t(length)}
                              : Bytes{0xFF, std::uint8_t(length & 0xFF), std::uint8_t(length >> 8)};
    ASSERT_EQ(bytes.size(), head.size() + length);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin())) << length;
    ArchiveReader reader(bytes.data(), bytes.size());
    std::string back;
    ASSERT_EQ(reader.ReadString(back, 0xFFFE), ReadStatus::Ok);
    EXPECT_EQ(back, text);
    EXPECT_EQ(reader.Remaining(), 0u);
    // Over the limit is refused before the text is read, and the position stays.
    ArchiveReader limited(bytes.data(), bytes.size());
    EXPECT_EQ(limited.ReadString(back, length - 1), ReadStatus::TooLong);
    EXPECT_EQ(limited.Offset(), 0u);
  }
}
