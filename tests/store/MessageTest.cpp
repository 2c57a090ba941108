#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "StoreTestSupport.h"
#include "store/Message.h"

using namespace telvara;
using namespace telvara::test;

namespace {

void Touch(const std::string& path) { ::close(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)); }

class MessageTest : public ::testing::Test {
 protected:
  void SetUp() override { FixTimeZone(); }

  static std::string Line(std::time_t when, std::uint32_t length,
                          MessageStatus status = MessageStatus::StatusNew, std::string caller = "") {
    CMessage m;
    m.time = static_cast<std::int32_t>(when);
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
  // The 16th moves the first letter on, not only the second.
  EXPECT_EQ(CMessage::FileNameFor(Local(2024, 1, 16, 0, 0, 0)), "PDAA0000.WAV");
  EXPECT_EQ(CMessage::FileNameFor(Local(2024, 1, 15, 0, 0, 0)), "PCPA0000.WAV");
}

TEST_F(MessageTest, ListLineColumns) {
  EXPECT_EQ(Line(Local(1998, 3, 12, 14, 5, 9), 75),
            " 2:05:09pm  03/12/1998  1:15  PGMO0509.WAV               NEW");
  EXPECT_EQ(Line(Local(1998, 3, 12, 14, 5, 9), 75).size(), 60u);
  EXPECT_EQ(Line(Local(2024, 3, 12, 0, 30, 0), 0).substr(0, 10), "12:30:00am");
  EXPECT_EQ(Line(Local(2024, 3, 12, 12, 30, 0), 0).substr(0, 10), "12:30:00pm");
  EXPECT_EQ(Line(Local(2024, 3, 12, 23, 59, 59), 0).substr(0, 10), "11:59:59pm");
  EXPECT_EQ(Line(Local(2024, 3, 12, 11, 59, 59), 0).substr(0, 10), "11:59:59am");
  EXPECT_EQ(Line(Local(2024, 1, 5, 9, 0, 0), 0).substr(12, 10), "01/05/2024");

  auto lengthColumn = [](const std::string& line) { return line.substr(22, 6); };
  EXPECT_EQ(lengthColumn(Line(Local(2024, 1, 5, 9, 0, 0), 0)), "  0:00");
  EXPECT_EQ(lengthColumn(Line(Local(2024, 1, 5, 9, 0, 0), 3599)), " 59:59");
  EXPECT_EQ(lengthColumn(Line(Local(2024, 1, 5, 9, 0, 0), 3600)), " 60:00");
  // Only the low 16 bits of the length are shown.
  EXPECT_EQ(lengthColumn(Line(Local(2024, 1, 5, 9, 0, 0), 0x10000 + 75)), "  1:15");

  std::string played = Line(Local(2024, 1, 5, 9, 0, 0), 0, MessageStatus::StatusPlayedThisCall);
  EXPECT_EQ(played.substr(played.size() - 3), "OLD");
  EXPECT_EQ(played.substr(42, 15), std::string(15, ' '));
  std::string caller = Line(Local(2024, 1, 5, 9, 0, 0), 0, MessageStatus::StatusOld, "5551234");
  EXPECT_EQ(caller.substr(42), "     5551234   OLD");
}

TEST_F(MessageTest, NewForCallStampsTheTime) {
  ScratchDir inbox;
  std::time_t now = Local(1998, 3, 12, 14, 5, 9);
  auto m = CMessage::NewForCall(now, inbox.Path());
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->time, now);
  EXPECT_EQ(m->fileName, "PGMO0509.WAV");
  EXPECT_EQ(m->status, MessageStatus::StatusNew);
  EXPECT_EQ(m->lengthSeconds, 0u);
  EXPECT_TRUE(m->callerId.empty());
  EXPECT_TRUE(m->listLine.empty());
}

TEST_F(MessageTest, NewNameNeverTakesAFileInTheInbox) {
  ScratchDir inbox;
  std::time_t now = Local(1998, 3, 12, 14, 5, 9);
  WriteFile(inbox.Path() + "PGMO0509.WAV", {1});
  EXPECT_EQ(CMessage::NewForCall(now, inbox.Path())->fileName, "PGMO0560.WAV");
  for (int s = 60; s <= 99; ++s) WriteFile(inbox.Path() + "PGMO05" + std::to_string(s) + ".WAV", {1});
  EXPECT_EQ(CMessage::NewForCall(now, inbox.Path())->fileName, "PGMO6000.WAV");
  for (int mm = 60; mm <= 99; ++mm)
    for (int s = 0; s <= 99; ++s) {
      char name[16];
      std::snprintf(name, sizeof name, "PGMO%02d%02d.WAV", mm, s);
      Touch(inbox.Path() + name);
    }
  EXPECT_EQ(CMessage::NewForCall(now, inbox.Path()), nullptr);
  // A missing inbox holds no names.
  EXPECT_EQ(CMessage::NewForCall(now, inbox.Path() + "none/")->fileName, "PGMO0509.WAV");
}

TEST_F(MessageTest, StoringAndLoadingKeepsTheFiveFields) {
  CMessage out;
  out.time = -12345;
  out.lengthSeconds = 0xFFFFFFF0u;
  out.status = static_cast<MessageStatus>(7);  // unknown values are carried unchanged
  out.fileName = std::string(CMessage::kFileNameMax, 'F');
  out.callerId = std::string(CMessage::kCallerIdMax, 'C');
  out.listLine = "not stored";
  ArchiveWriter writer;
  out.Serialize(writer);
  EXPECT_EQ(writer.Bytes().size(), 4u + 4 + 2 + 1 + 129 + 1 + 31);

  CMessage in;
  ArchiveReader reader(writer.Bytes().data(), writer.Bytes().size());
  ASSERT_EQ(in.Serialize(reader), LogError::None);
  EXPECT_EQ(in.time, out.time);
  EXPECT_EQ(in.lengthSeconds, out.lengthSeconds);
  EXPECT_EQ(in.status, out.status);
  EXPECT_EQ(in.fileName, out.fileName);
  EXPECT_EQ(in.callerId, out.callerId);
  EXPECT_TRUE(in.listLine.empty());
}

TEST_F(MessageTest, StoringCutsTextsSoTheLogLoadsAgain) {
  CMessage out;
  out.fileName = "PGMO0509.WAV";
  out.callerId = std::string(40, 'c');
  CMessage nul;
  nul.fileName = "PGMO0509.WAV";
  nul.callerId = std::string("555\0junk", 8);
  for (const CMessage* m : {&out, &nul}) {
    ArchiveWriter writer;
    m->Serialize(writer);
    CMessage in;
    ArchiveReader reader(writer.Bytes().data(), writer.Bytes().size());
    ASSERT_EQ(in.Serialize(reader), LogError::None);
    EXPECT_EQ(in.callerId, m == &out ? std::string(31, 'c') : "555");
  }
}

TEST_F(MessageTest, OnlyPlainNamesAreInboxNames) {
  EXPECT_TRUE(CMessage::IsPlainFileName("PGMO0509.WAV"));
  for (const std::string& bad : std::vector<std::string>{"", ".", "..", "../telvara.ini", "a/b", std::string("P\0.WAV", 6)})
    EXPECT_FALSE(CMessage::IsPlainFileName(bad)) << bad;
}
