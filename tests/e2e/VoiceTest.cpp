// Voice on a real pseudo-terminal (its queue reads 0) in real time against telvara-modemsim,
// in every dialect at its voice format's rate.
#include <gtest/gtest.h>

#include <ctime>

#include "PtyVoiceLine.h"

namespace telvara::testing {
namespace {

// Runs fn; its wall time in seconds, with the CPU the test (one thread) used checked below 5 %.
double IdleWhile(RealClock& clock, const std::function<void()>& fn) {
  uint32_t start = clock.Now();
  std::clock_t cpu = std::clock();
  fn();
  double wall = (clock.Now() - start) / 1000.0, used = double(std::clock() - cpu) / CLOCKS_PER_SEC;
  EXPECT_LT(used, 0.05 * wall) << "the engine thread used " << used << " s of CPU in " << wall << " s";
  return wall;
}

struct Dialect {
  const char* name;
  ModemType type;
  int rate;
};

void PrintTo(const Dialect& d, std::ostream* out) { *out << d.name; }

class VoiceOnPty : public ::testing::TestWithParam<Dialect> {};

TEST_P(VoiceOnPty, PlayAndRecordKeepTheLineRateByteForByteAndAKeyEndsAPlayWithinASecond) {
  const Dialect d = GetParam();
  const int seconds = 2;  // of the prompt and of the recording, on this line
  std::vector<uint8_t> voice = PtyVoiceLine::Voice((seconds + 1) * d.rate, 11),
                       prompt = PtyVoiceLine::Voice(seconds * d.rate, 7);
  PtyVoiceLine line(TELVARA_BINARY_DIR, d.name,
                    "after 300ms ring 1\nwait record\nafter 2500ms key 1\nwait play\nafter 1s key 5\n", voice, d.rate);
  ASSERT_TRUE(line.Ready() && line.AnswerACall(d.type));
  FMODEM& modem = line.Modem();
  EXPECT_EQ(modem.LineRate(), d.rate);
  PtyVoiceLine::WriteWav(line.Dir() + "/prompt.wav", prompt, d.rate);
  PtyVoiceLine::WriteWav(line.Dir() + "/long.wav", PtyVoiceLine::Voice(5 * d.rate, 3), d.rate);
  double took = IdleWhile(line.Clock(), [&] { EXPECT_EQ(modem.PlayFile(line.Dir() + "/prompt.wav"), 1); });
  EXPECT_TRUE(took >= seconds - 0.2 && took < seconds + 1.5) << took;  // paced by the line, not dumped into the port
  took = IdleWhile(line.Clock(), [&] { EXPECT_EQ(modem.RecordFile(line.Dir() + "/message.wav"), 1); });
  EXPECT_GE(took, seconds + 0.4);
  took = IdleWhile(line.Clock(), [&] { EXPECT_EQ(modem.PlayFile(line.Dir() + "/long.wav"), 1); });
  EXPECT_LT(took, 3.0);
  EXPECT_EQ(modem.TakeEvent(), '5');  // left queued for the dialogue
  modem.HangUp();
  line.StopModem();
  std::vector<uint8_t> recorded = PtyVoiceLine::ReadSamples(line.Dir() + "/message.wav");
  ASSERT_GE(recorded.size(), std::size_t(seconds * d.rate));
  // The caller's file plays at the line's rate: what came in the first seconds is its start, unchanged.
  EXPECT_TRUE(std::equal(recorded.begin(), recorded.begin() + seconds * d.rate, voice.begin()));
  std::vector<std::string> ends = line.Entries("voice-tx-end"), keys = line.Entries("event"),
                           etx = line.Entries("etx-received"), heard = line.HeardFiles();
  ASSERT_TRUE(ends.size() == 2 && keys.size() == 2 && etx.size() == 2 && heard.size() == 2);
  EXPECT_NEAR(PtyVoiceLine::Field(ends[0], "ms"), seconds * 1000 + 300, 400);
  EXPECT_LE(PtyVoiceLine::Field(ends[0], "longestGapMs"), 512 * 1000 / d.rate);  // never dry for over a block
  EXPECT_TRUE(PtyVoiceLine::ReadSamples(heard[0]) == prompt);
  EXPECT_NEAR(PtyVoiceLine::Field(etx[1], "t") - PtyVoiceLine::Field(keys[1], "t"), 500, 500);
}

INSTANTIATE_TEST_SUITE_P(Dialects, VoiceOnPty,
                         ::testing::Values(Dialect{"rockwell", Rockwell, 7200}, Dialect{"is-101", IS_101, 7200},
                                           Dialect{"usr", USRobotics, 8000}, Dialect{"cirrus", Cirrus, 9600},
                                           Dialect{"sierra", Sierra, 9600}, Dialect{"umc", UMC, 7200}),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           std::erase(name, '-');
                           return name;
                         });

}  // namespace
}  // namespace telvara::testing
