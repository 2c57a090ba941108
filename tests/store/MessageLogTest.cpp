// The log's bytes. What is refused, and what then happens to the file, is in
// OrvanelDocTest.
#include <gtest/gtest.h>

#include "StoreTestSupport.h"
#include "store/MessageLog.h"

using namespace telvara;
using namespace telvara::test;

namespace {

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

TEST(MessageLog, ExampleLogsByteForByte) {
  FixTimeZone();
  MessageList one;
  one.push_back(CMessage::NewForCall(std::time_t(kExampleTime), "/nonexistent/"));
  one[0]->lengthSeconds = 75;
  Bytes expected = {0x01, 0x00, 0xFF, 0xFF, 0x02, 0x00, 0x08, 0x00, 'C',  'M',  'e',  's', 's', 'a',
                    'g',  'e',  0x85, 0xDD, 0x07, 0x35, 0x4B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 'P',
                    'G',  'M',  'O',  '0',  '5',  '0',  '9',  '.',  'W',  'A',  'V',  0x00};
  EXPECT_EQ(MessageLog::Write(one), expected);
  LogReadResult back = Read(expected);
  ASSERT_EQ(back.messages.size(), 1u) << back.detail;
  EXPECT_EQ(back.messages[0]->fileName, "PGMO0509.WAV");

  Bytes two = MessageLog::Write(Messages(2));
  ASSERT_EQ(two.size(), 66u);
  EXPECT_EQ((Bytes{two[0], two[40], two[41]}), (Bytes{2, 0x01, 0x80}));
  EXPECT_TRUE(std::equal(two.begin() + 42, two.end(), two.begin() + 16));
  EXPECT_EQ(Read(two).messages.size(), 2u);

  EXPECT_EQ(MessageLog::Write({}), (Bytes{0x00, 0x00}));
  EXPECT_TRUE(Read({0x00, 0x00}).Ok());
}

TEST(MessageLog, CountsFromFFFFTakeAWideCount) {
  Bytes below = MessageLog::Write(Messages(65534));
  EXPECT_EQ((Bytes{below[0], below[1]}), (Bytes{0xFE, 0xFF}));
  Bytes full = MessageLog::Write(Messages(65535));
  EXPECT_EQ(Bytes(full.begin(), full.begin() + 6), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));
  EXPECT_EQ(Read(full).messages.size(), 65535u);
  Bytes more = MessageLog::Write(Messages(65536));
  EXPECT_EQ(Bytes(more.begin(), more.begin() + 6), (Bytes{0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}));
  EXPECT_EQ(Read(more).messages.size(), 65536u);
}
