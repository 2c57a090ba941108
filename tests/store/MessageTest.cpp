// A message's file name, list line and stored fields, the archive's strings and the log's bytes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "StoreTestSupport.h"
#include "store/Message.h"
#include "store/MessageLog.h"

using namespace telvara;
using namespace telvara::test;

namespace {

class MessageTest : public ::testing::Test {
 protected:
  void SetUp() override { FixTimeZone(); }

  static std::string Line(std::time_t when, std::uint32_t length, MessageStatus status = MessageStatus::StatusNew,
                          std::string caller = "") {
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

MessageList Messages(int count) {
  MessageList list;
  for (int i = 0; i < count; ++i) {
    list.push_back(std::make_unique<CMessage>());
    list.back()->time = std::int32_t(kExampleTime);
    list.back()->lengthSeconds = 75;
    list.back()->fileName = "PGMO0509.WAV";
  }
  return list;
}

LogReadResult Read(const Bytes& bytes) { return MessageLog::Read(bytes.data(), bytes.size()); }

}  // namespace

TEST_F(MessageTest, FileNamesFollowTheLocalTime) {
  EXPECT_EQ(CMessage::FileNameFor(Local(2024, 1, 1, 0, 0, 0)), "PCBA0000.WAV");
  EXPECT_EQ(CMessage::FileNameFor(Local(2024, 12, 31, 23, 59, 59)), "PZPX5959.WAV");
}

TEST_F(MessageTest, ListLineColumns) {
  EXPECT_EQ(Line(Local(1998, 3, 12, 14, 5, 9), 75), " 2:05:09pm  03/12/1998  1:15  PGMO0509.WAV               NEW");
  EXPECT_EQ(Line(Local(2024, 3, 12, 0, 30, 0), 0).substr(0, 11) + Line(Local(2024, 3, 12, 12, 30, 0), 0).substr(0, 10),
            "12:30:00am 12:30:00pm");
  const std::time_t t = Local(2024, 1, 5, 9, 0, 0);
  EXPECT_EQ(Line(t, 3600).substr(12, 16), "01/05/2024 60:00");
  EXPECT_EQ(Line(t, 0x10000 + 75).substr(22, 6), "  1:15");  // the low 16 bits only
  EXPECT_EQ(Line(t, 0, MessageStatus::StatusPlayedThisCall).substr(42), std::string(15, ' ') + "OLD");
  EXPECT_EQ(Line(t, 0, MessageStatus::StatusOld, "5551234").substr(42), "     5551234   OLD");
}

TEST_F(MessageTest, NewNameNeverTakesAFileInTheInbox) {
  ScratchDir inbox;
  const std::time_t now = Local(1998, 3, 12, 14, 5, 9);
  EXPECT_EQ(CMessage::NewForCall(now, inbox.Path())->fileName, "PGMO0509.WAV");
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

TEST(MessageLog, ExampleLogsByteForByte) {
  FixTimeZone();
  MessageList one;
  one.push_back(CMessage::NewForCall(std::time_t(kExampleTime), "/nonexistent/"));
  one[0]->lengthSeconds = 75;
  Bytes expected = {0x01, 0x00, 0xFF, 0xFF, 0x02, 0x00, 0x08, 0x00, 'C',  'M',  'e',  's',  's',  'a',
                    'g',  'e',  0x85, 0xDD, 0x07, 0x35, 0x4B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 'P',
                    'G',  'M',  'O',  '0',  '5',  '0',  '9',  '.',  'W',  'A',  'V',  0x00};
  EXPECT_EQ(MessageLog::Write(one), expected);
  LogReadResult back = Read(expected);
  ASSERT_EQ(back.messages.size(), 1u) << back.detail;
  EXPECT_EQ(back.messages[0]->fileName, "PGMO0509.WAV");

  Bytes two = MessageLog::Write(Messages(2));  // the second message after a back-reference to the class
  ASSERT_EQ(two.size(), 66u);
  EXPECT_EQ((Bytes{two[0], two[40], two[41]}), (Bytes{2, 0x01, 0x80}));
  EXPECT_TRUE(std::equal(two.begin() + 42, two.end(), two.begin() + 16));
  EXPECT_EQ(Read(two).messages.size(), 2u);
  EXPECT_EQ(MessageLog::Write({}), (Bytes{0x00, 0x00}));
}

TEST(MessageLog, ATextBeyondItsFieldIsCutSoThatTheLogLoads) {
  MessageList one = Messages(1);
  one[0]->callerId = std::string(40, 'C');
  LogReadResult back = Read(MessageLog::Write(one));
  ASSERT_EQ(back.messages.size(), 1u) << back.detail;
  EXPECT_EQ(back.messages[0]->callerId, std::string(31, 'C'));
}

TEST(MessageLog, CountsFromFFFFTakeAWideCount) {
  Bytes full = MessageLog::Write(Messages(65535));
  EXPECT_EQ(Bytes(full.begin(), full.begin() + 6), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));
  EXPECT_EQ(Read(full).messages.size(), 65535u);
  Bytes more = MessageLog::Write(Messages(65536));
  EXPECT_EQ(Bytes(more.begin(), more.begin() + 6), (Bytes{0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}));
  EXPECT_EQ(Read(more).messages.size(), 65536u);
}
