// Voice over a pseudo-terminal in real time: what the driver plays arrives at the
// simulated line byte for byte at the line's rate, and what the caller says comes back
// sample for sample.
#include <gtest/gtest.h>

#include <algorithm>

#include "PtyVoiceLine.h"

using namespace telvara;
using telvara::testing::PtyVoiceLine;

namespace {

struct ModemType {
  const char* name;
  uint32_t type;
  uint32_t rate;
};

class VoiceOnPty : public ::testing::TestWithParam<ModemType> {};

TEST_P(VoiceOnPty, ATenSecondPromptArrivesByteForByteAtTheLineRate) {
  const ModemType& d = GetParam();
  PtyVoiceLine line(TELVARA_BINARY_DIR, d.name, "after 300ms ring 1\n");
  ASSERT_TRUE(line.Ready());
  ASSERT_TRUE(line.AnswerACall(d.type));
  std::vector<uint8_t> prompt = PtyVoiceLine::Voice(10 * d.rate, 7);
  ASSERT_GT(std::count(prompt.begin(), prompt.end(), 0x10), 100);
  std::string path = line.Dir() + "/prompt.wav";
  PtyVoiceLine::WriteWav(path, prompt, 7200);
  uint32_t start = line.Clock().Now();
  ASSERT_EQ(line.Modem().PlayFile(path), 1);
  uint32_t took = line.Clock().Now() - start;
  line.Modem().HangUp();
  line.StopModem();

  EXPECT_GE(took, 9800u);  // paced by the line, not dumped into the port
  EXPECT_LT(took, 12000u);
  std::vector<std::string> ends = line.Entries("voice-tx-end");
  ASSERT_EQ(ends.size(), 1u);
  long long ms = PtyVoiceLine::Field(ends[0], "ms");
  EXPECT_GE(ms, 9900);
  EXPECT_LT(ms, 10800);
  // The line never ran dry for longer than one block's worth of sound.
  EXPECT_LE(PtyVoiceLine::Field(ends[0], "longestGapMs"), 512 * 1000 / static_cast<long long>(d.rate));
  std::vector<std::string> heard = line.HeardFiles();
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_TRUE(PtyVoiceLine::ReadSamples(heard[0]) == prompt);
}

TEST_P(VoiceOnPty, TenSecondsOfACallerComeBackSampleForSample) {
  const ModemType& d = GetParam();
  std::vector<uint8_t> voice = PtyVoiceLine::Voice(10 * d.rate, 11);
  char pattern[] = "/tmp/telvara-caller-XXXXXX.wav";
  int fd = mkstemps(pattern, 4);
  close(fd);
  PtyVoiceLine::WriteWav(pattern, voice, d.rate);
  PtyVoiceLine line(TELVARA_BINARY_DIR, d.name,
                    std::string("caller ") + pattern + "\nafter 300ms ring 1\nwait record\nafter 10500ms key 1\n");
  ASSERT_TRUE(line.Ready());
  ASSERT_TRUE(line.AnswerACall(d.type));
  std::string path = line.Dir() + "/message.wav";
  uint32_t start = line.Clock().Now();
  EXPECT_EQ(line.Modem().RecordFile(path), 1);
  uint32_t took = line.Clock().Now() - start;
  line.Modem().HangUp();
  unlink(pattern);
  EXPECT_GE(took, 10000u);
  EXPECT_LT(took, 14000u);
  std::vector<uint8_t> recorded = PtyVoiceLine::ReadSamples(path);
  ASSERT_GE(recorded.size(), voice.size());
  EXPECT_TRUE(std::equal(voice.begin(), voice.end(), recorded.begin()));
  EXPECT_EQ(line.Modem().GetWave()->GetDataLength(), static_cast<int>(recorded.size()));
}

TEST_P(VoiceOnPty, AKeyEndsAPlayWithinASecond) {
  const ModemType& d = GetParam();
  PtyVoiceLine line(TELVARA_BINARY_DIR, d.name, "after 300ms ring 1\nwait play\nafter 2s key 5\n");
  ASSERT_TRUE(line.Ready());
  ASSERT_TRUE(line.AnswerACall(d.type));
  std::string path = line.Dir() + "/long.wav";
  PtyVoiceLine::WriteWav(path, PtyVoiceLine::Voice(30 * d.rate, 3), 7200);
  uint32_t start = line.Clock().Now();
  ASSERT_EQ(line.Modem().PlayFile(path), 1);
  EXPECT_LT(line.Clock().Now() - start, 4000u);
  EXPECT_EQ(line.Modem().TakeEvent(), '5');  // left queued for the dialogue
  line.Modem().HangUp();
  line.StopModem();
  std::vector<std::string> keys = line.Entries("event");
  std::vector<std::string> etx = line.Entries("etx-received");
  ASSERT_FALSE(keys.empty());
  ASSERT_FALSE(etx.empty());
  long long latency = PtyVoiceLine::Field(etx[0], "t") - PtyVoiceLine::Field(keys[0], "t");
  EXPECT_GE(latency, 0);
  EXPECT_LT(latency, 1000);
}

INSTANTIATE_TEST_SUITE_P(Dialects, VoiceOnPty,
                         ::testing::Values(ModemType{"rockwell", Rockwell, 7200},
                                           ModemType{"is-101", IS_101, 7200},
                                           ModemType{"usr", USRobotics, 8000}),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           n.erase(std::remove(n.begin(), n.end(), '-'), n.end());
                           return n;
                         });

}  // namespace
