#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "StoreTestSupport.h"
#include "store/Archive.h"
#include "store/Message.h"

using namespace telvara;
using namespace telvara::test;

namespace {

class MessageTest : public ::testing::Test {
 protected:
  void SetUp() override { FixTimeZone(); }

  static std::string Line(std::time_t when, std::uint32_t length,
                          MessageStatus status = MessageStatus::StatusNew, std::string caller = "") {
    CMessage m;
    m.time = std::int32_t(when);
    m.lengthSeconds = length;
    m.status = status;
    m.callerId = std::move(caller);
    m.fileName = CMessage::FileNameFor(when);
    m.BuildListLine();
    return m.listLine;
  }
};

}  // namespace

TEST_F(MessageTest, FileNamesFollowTheLocalTime) {
  EXPECT_EQ(CMessage::FileNameFor(Local(1998, 3, 12, 14, 5, 9)), "PGMO0509.WAV");
  EXPECT_EQ(CMessage::FileNameFor(Local(2024, 1, 1, 0, 0, 0)), "PCBA0000.WAV");
  EXPECT_EQ(CMessage::FileNameFor(Local(2024, 12, 31, 23, 59, 59)), "PZPX5959.WAV");
  EXPECT_EQ(CMessage::FileNameFor(Local(2024, 1, 15, 0, 0, 0)), "PCPA0000.WAV");
  EXPECT_EQ(CMessage::FileNameFor(Local(2024, 1, 16, 0, 0, 0)), "PDAA0000.WAV");
}

TEST_F(MessageTest, ListLineColumns) {
  EXPECT_EQ(Line(Local(1998, 3, 12, 14, 5, 9), 75),
            " 2:05:09pm  03/12/1998  1:15  PGMO0509.WAV               NEW");
  EXPECT_EQ(Line(Local(2024, 3, 12, 0, 30, 0), 0).substr(0, 10), "12:30:00am");
  EXPECT_EQ(Line(Local(2024, 3, 12, 12, 30, 0), 0).substr(0, 10), "12:30:00pm");
  EXPECT_EQ(Line(Local(2024, 3, 12, 23, 59, 59), 0).substr(0, 10), "11:59:59pm");
  EXPECT_EQ(Line(Local(2024, 3, 12, 11, 59, 59), 0).substr(0, 10), "11:59:59am");
  const std::time_t t = Local(2024, 1, 5, 9, 0, 0);
  EXPECT_EQ(Line(t, 0).substr(12, 16), "01/05/2024  0:00");
  EXPECT_EQ(Line(t, 3599).substr(22, 6), " 59:59");
  EXPECT_EQ(Line(t, 3600).substr(22, 6), " 60:00");
  EXPECT_EQ(Line(t, 0x10000 + 75).substr(22, 6), "  1:15");  // the low 16 bits only
  EXPECT_EQ(Line(t, 0, MessageStatus::StatusPlayedThisCall).substr(42), std::string(15, ' ') + "OLD");
  EXPECT_EQ(Line(t, 0, MessageStatus::StatusOld, "5551234").substr(42), "     5551234   OLD");
}

TEST_F(MessageTest, NewNameNeverTakesAFileInTheInbox) {
  ScratchDir inbox;
  const std::time_t now = Local(1998, 3, 12, 14, 5, 9);
  auto first = CMessage::NewForCall(now, inbox.Path());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->time, now);
  EXPECT_EQ(first->fileName, "PGMO0509.WAV");
  EXPECT_TRUE(first->status == MessageStatus::StatusNew && first->lengthSeconds == 0 &&
              first->callerId.empty() && first->listLine.empty());

  auto touch = [&](int minute, int second) {
    char name[16];
    std::snprintf(name, sizeof name, "PGMO%02d%02d.WAV", minute, second);
    ::close(::open((inbox.Path() + name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  };
  touch(5, 9);
  EXPECT_EQ(CMessage::NewForCall(now, inbox.Path())->fileName, "PGMO0560.WAV");
  for (int s = 60; s <= 99; ++s) touch(5, s);
  EXPECT_EQ(CMessage::NewForCall(now, inbox.Path())->fileName, "PGMO6000.WAV");
  for (int m = 60; m <= 99; ++m)
    for (int s = 0; s <= 99; ++s) touch(m, s);
  EXPECT_EQ(CMessage::NewForCall(now, inbox.Path()), nullptr);
}

TEST_F(MessageTest, StoringAndLoadingKeepsTheFiveFields) {
  CMessage out;
  out.time = -12345;
  out.lengthSeconds = 0xFFFFFFF0u;
  out.status = static_cast<MessageStatus>(7);  // carried unchanged
  out.fileName = std::string(CMessage::kFileNameMax, 'F');
  out.callerId = std::string(CMessage::kCallerIdMax, 'C');
  // Texts beyond their fields are cut as the fields would cut them, so the log loads.
  CMessage cut = out;
  cut.callerId = std::string(40, 'C');
  CMessage nul = out;
  nul.callerId = std::string(CMessage::kCallerIdMax, 'C') + std::string("\0junk", 5);
  for (const CMessage* m : {&out, &cut, &nul}) {
    ArchiveWriter writer;
    m->Serialize(writer);
    EXPECT_EQ(writer.Bytes().size(), 4u + 4 + 2 + 1 + 129 + 1 + 31);
    CMessage in;
    ArchiveReader reader(writer.Bytes().data(), writer.Bytes().size());
    ASSERT_EQ(in.Serialize(reader), LogError::None);
    EXPECT_EQ(in.time, out.time);
    EXPECT_EQ(in.lengthSeconds, out.lengthSeconds);
    EXPECT_EQ(in.status, out.status);
    EXPECT_EQ(in.fileName, out.fileName);
    EXPECT_EQ(in.callerId, out.callerId);
  }
}

TEST(Archive, StringsOf255BytesAndMoreTakeTheLongFormAndLimitsAreKept) {
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
