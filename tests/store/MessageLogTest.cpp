#include <gtest/gtest.h>

#include "StoreTestSupport.h"
#include "store/MessageLog.h"

using namespace telvara;
using namespace telvara::test;

namespace {

constexpr std::uint32_t kExampleTime = 889707909;  // 12 March 1998 14:05:09 CET

MessageList Messages(int count) {
  MessageList list;
  for (int i = 0; i < count; ++i) {
    auto m = std::make_unique<CMessage>();
    m->time = static_cast<std::int32_t>(kExampleTime);
    m->lengthSeconds = 75;
    m->fileName = "PGMO0509.WAV";
    list.push_back(std::move(m));
  }
  return list;
}

LogReadResult Read(const Bytes& bytes) { return MessageLog::Read(bytes.data(), bytes.size()); }

}  // namespace

TEST(MessageLog, ExampleLogByteForByte) {
  FixTimeZone();
  auto m = CMessage::NewForCall(static_cast<std::time_t>(kExampleTime), "/nonexistent/");
  ASSERT_NE(m, nullptr);
  m->lengthSeconds = 75;
  MessageList one;
  one.push_back(std::move(m));
  Bytes expected = {0x01, 0x00, 0xFF, 0xFF, 0x02, 0x00, 0x08, 0x00, 'C', 'M', 'e', 's',
                    's',  'a',  'g',  'e',  0x85, 0xDD, 0x07, 0x35, 0x4B, 0x00, 0x00, 0x00,
                    0x00, 0x00, 0x0C, 'P',  'G',  'M',  'O',  '0',  '5',  '0',  '9',  '.',
                    'W',  'A',  'V',  0x00};
  EXPECT_EQ(MessageLog::Write(one), expected);

  LogReadResult back = Read(expected);
  ASSERT_TRUE(back.Ok()) << back.detail;
  ASSERT_EQ(back.messages.size(), 1u);
  EXPECT_EQ(back.messages[0]->time, static_cast<std::int32_t>(kExampleTime));
  EXPECT_EQ(back.messages[0]->fileName, "PGMO0509.WAV");
}

TEST(MessageLog, FurtherMessagesCarryOnlyTheClassTag) {
  Bytes two = MessageLog::Write(Messages(2));
  ASSERT_EQ(two.size(), 66u);
  EXPECT_EQ(two[0], 2);
  EXPECT_EQ(two[40], 0x01);
  EXPECT_EQ(two[41], 0x80);
  EXPECT_TRUE(std::equal(two.begin() + 42, two.end(), two.begin() + 16));
  EXPECT_EQ(Read(two).messages.size(), 2u);

  Bytes empty = MessageLog::Write({});
  EXPECT_EQ(empty, (Bytes{0x00, 0x00}));
  LogReadResult none = Read(empty);
  EXPECT_TRUE(none.Ok());
  EXPECT_TRUE(none.messages.empty());
}

TEST(MessageLog, RefusesMalformedLogs) {
  const std::uint32_t t = kExampleTime;
  struct Case {
    const char* what;
    Bytes bytes;
    LogError error;
  };
  const Case cases[] = {
      {"schema 1", LogBuilder().U16(1).ClassRecord(1).Message(t, "PGMO0509.WAV").bytes, LogError::WrongSchema},
      {"count 2 holding one", LogBuilder().U16(2).ClassRecord().Message(t, "PGMO0509.WAV").bytes,
       LogError::EndsEarly},
      {"another class", LogBuilder().U16(1).ClassRecord(2, "CMassage").Message(t, "PGMO0509.WAV").bytes,
       LogError::WrongClass},
      {"longer class name", LogBuilder().U16(1).ClassRecord(2, "CMessages").Message(t, "P.WAV").bytes,
       LogError::WrongClass},
      {"tag 0 first", LogBuilder().U16(1).U16(0).bytes, LogError::WrongTag},
      {"back-reference",
       LogBuilder().U16(2).ClassRecord().Message(t, "PGMO0509.WAV").U16(0x0001).bytes, LogError::WrongTag},
      {"second class description",
       LogBuilder().U16(2).ClassRecord().Message(t, "PGMO0509.WAV").ClassRecord().Message(t, "P.WAV").bytes,
       LogError::WrongTag},
      {"file name too long", LogBuilder().U16(1).ClassRecord().Message(t, std::string(130, 'F')).bytes,
       LogError::FieldTooLong},
      {"caller too long", LogBuilder().U16(1).ClassRecord().Message(t, "P.WAV", 1, 0, std::string(32, 'c')).bytes,
       LogError::FieldTooLong},
      {"path in file name", LogBuilder().U16(1).ClassRecord().Message(t, "../telvara.ini").bytes,
       LogError::BadFileName},
      {"NUL in caller", LogBuilder().U16(1).ClassRecord().Message(t, "P.WAV", 1, 0, std::string("a\0b", 3)).bytes,
       LogError::BadCallerId},
      {"trailing byte", LogBuilder().U16(0).U16(0).bytes, LogError::TrailingBytes},
      {"no count", Bytes{0x00}, LogError::EndsEarly},
      {"empty file", Bytes{}, LogError::EndsEarly},
  };
  for (const Case& c : cases) {
    LogReadResult r = Read(c.bytes);
    EXPECT_EQ(r.error, c.error) << c.what << ": " << r.detail;
    EXPECT_TRUE(r.messages.empty()) << c.what;
    EXPECT_FALSE(r.detail.empty()) << c.what;
  }
  EXPECT_EQ(Read(cases[0].bytes).detail, "message 1 of 1: schema 1 instead of 2");
  EXPECT_EQ(Read(cases[5].bytes).detail, "message 2 of 2: tag 0x0001 instead of 0x8001");
}

TEST(MessageLog, CountsFromFFFFTakeAWideCount) {
  Bytes below = MessageLog::Write(Messages(65534));
  EXPECT_EQ((Bytes{below[0], below[1]}), (Bytes{0xFE, 0xFF}));
  EXPECT_EQ(below.size(), 40u + 65533u * 26u);

  Bytes full = MessageLog::Write(Messages(65535));
  EXPECT_EQ((Bytes(full.begin(), full.begin() + 6)), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));
  EXPECT_EQ(Read(full).messages.size(), 65535u);

  Bytes more = MessageLog::Write(Messages(65536));
  EXPECT_EQ((Bytes(more.begin(), more.begin() + 6)), (Bytes{0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}));
  EXPECT_EQ(Read(more).messages.size(), 65536u);
}
