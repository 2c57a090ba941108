// Scenarios: the step language and its errors, how steps are timed against the line;
// and the WAV data of a far end's voice.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <tuple>

#include "SimHost.h"
#include "WavData.h"

namespace telvara::sim {
namespace {

using telvara::testing::ScratchDir;
using testing::SimHost;
using A = ScenarioStep::Action;

TEST(ScenarioParse, DurationsTakeUnitsAndRefuseNonsense) {
  for (const auto& [text, ms] : std::map<std::string, uint64_t>{
           {"2s", 2000}, {"500ms", 500}, {"1.5s", 1500}, {"0.25", 250}, {"3m", 180000}, {"1h", 3600000}, {"7", 7000}})
    EXPECT_EQ(ParseDuration(text), ms) << text;
  for (const char* bad : {"", "s", "-1s", "1.s", "1.5.5", "2x", "1 s", "99999999999h", "4000h"})
    EXPECT_FALSE(ParseDuration(bad).has_value()) << bad;
}

TEST(ScenarioParse, EachVerbGivesItsStepAndAnErrorNamesTheLineAndLoadsNothing) {
  const std::tuple<std::string, A, const char*> cases[] = {
      {"wait answer|idle 30s", A::None, ""},
      {"key 1#", A::Key, ""},
      {"reply AT#CLS=8 OK", A::Reply, ""},
      {"power off", A::PowerOff, ""},
      {"ring 2\n\nring two\n", A::None, "line 3: bad ring count \"two\""},
      {"# comment\nwait answr\n", A::None, "line 2: unknown event \"answr\""},
      {"wait record|", A::None, "line 1: unknown event \"\""},
      {"dance", A::None, "line 1: unknown step \"dance\""},
      {"key 12x", A::None, "line 1: keys are 0-9, *, #, A-D"},
      {"reply ZZ OK", A::None, "line 1: the command must begin with AT"},
      {"caller /nonexistent/x.wav", A::None, "line 1: cannot open /nonexistent/x.wav: No such file or directory"},
      {"note " + std::string(5000, 'x'), A::None, "line 1: too long"},
  };
  for (const auto& [text, action, error] : cases) {
    ScenarioParse p = ParseScenario(text, ".");
    EXPECT_EQ(p.error, error) << text;
    ASSERT_EQ(p.steps.size(), *error ? 0u : 1u) << text;
    EXPECT_TRUE(p.steps.empty() || p.steps[0].action == action) << text;
  }
}

TEST(ScenarioParse, AFileFindsVoicesBesideItAndSkipsCommentsAndBlankLines) {
  ScratchDir dir;
  std::string error;
  ASSERT_TRUE(WriteWavFile(dir.Path() + "hello.wav", {1, 2, 3}, 7200, error)) << error;
  // Lines of white space are no steps; a CR before the LF is no part of one.
  std::ofstream(dir.Path() + "s.scn") << "# comment\r\n  caller hello.wav\r\n\v\n \f\nwait answer|idle\n";
  ScenarioParse p = LoadScenarioFile(dir.Path() + "s.scn");
  ASSERT_EQ(p.error, "");
  ASSERT_EQ(p.steps.size(), 2u);
  EXPECT_EQ(p.steps[0].source, "caller hello.wav");
  EXPECT_EQ(*p.steps[0].voice, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(p.steps[1].signals, (std::vector<SimSignal>{SimSignal::Answer, SimSignal::Idle}));
  EXPECT_NE(LoadScenarioFile(dir.Path() + "none.scn").error, "");
  EXPECT_NE(LoadScenarioFile(dir.Path()).error, "");
}

TEST(ScenarioRun, AfterCountsFromTheStepBeforeWaitFromTheEventAndIdleIsAState) {
  SimHost host(Rockwell, {"ATE0", "AT#CLS=8"});
  uint64_t t0 = host.Modem().Now();
  // The line is idle: met at once. "record" never comes: the wait ends at the hang-up.
  ASSERT_EQ(host.Scenario("wait idle\nafter 2s note a\nafter 1s note b\nring 5\nwait answer\n"
                          "after 500ms note c\nwait record 4s\nnote d\nwait record|idle\n"
                          "after 1s note e"),
            "");
  host.RunFor(10000);
  uint64_t answered = host.Modem().Now();
  host.Command("ATA");
  host.RunFor(10000);
  uint64_t hungUp = host.Modem().Now();
  host.Command("ATH");
  host.RunFor(3000);
  EXPECT_EQ(host.Times("note"),
            (std::vector<uint64_t>{t0 + 2000, t0 + 3000, answered + 500, answered + 4500, hungUp + 1000}));
  EXPECT_TRUE(host.Logged("\"text\":\"wait record 4s\",\"source\":\"test\",\"timedOut\":true"));
}

// A WAV file image: PCM format `tag`, 8000 samples a second, a LIST chunk of odd size
// before the format, and a data chunk whose size field says `declared` bytes.
std::vector<uint8_t> Wav(uint8_t tag, uint8_t channels, uint8_t bits, std::vector<uint8_t> data, uint8_t declared) {
  std::vector<uint8_t> f = {'R', 'I', 'F', 'F', 0,    0, 0,        0,   'W',  'A',  'V',      'E', 'L', 'I',
                            'S', 'T', 3,   0,   0,    0, 'a',      'b', 'c',  0,    'f',      'm', 't', ' ',
                            16,  0,   0,   0,   tag,  0, channels, 0,   0x40, 0x1f, 0,        0,   0,   0,
                            0,   0,   4,   0,   bits, 0, 'd',      'a', 't',  'a',  declared, 0,   0,   0};
  for (uint8_t b : data) f.push_back(b);
  return f;
}

TEST(WavData, ReadsPcmAsEightBitMonoKeepsACutOffRecordingAndRefusesTheRest) {
  const std::string kUnplayable = "only 8- or 16-bit PCM, mono or stereo, can be played to the line";
  std::vector<uint8_t> f = Wav(1, 1, 8, {1}, 1), damaged = f, notRiff = f;
  damaged[28] = 0xff;  // the format chunk's size
  notRiff[8] = 'X';
  const std::tuple<std::vector<uint8_t>, std::vector<uint8_t>, std::string> cases[] = {
      // 16-bit stereo, more data declared than there is: (0x4000 + 0) / 2 channels -> 160.
      {Wav(1, 2, 16, {0x00, 0x40, 0x00, 0x00, 0x00, 0xc0, 0x00, 0xc0}, 100), {160, 64}, ""},
      {Wav(1, 1, 8, {0x80, 0x40, 0x41}, 2), {0x80, 0x40}, ""},
      {Wav(3, 1, 8, {1}, 1), {}, kUnplayable},
      {Wav(1, 0, 8, {1}, 1), {}, kUnplayable},
      {{f.begin(), f.end() - 9}, {}, "no data chunk"},
      {{f.begin(), f.begin() + 24}, {}, "no format chunk"},
      {damaged, {}, "damaged format chunk"},
      {notRiff, {}, "not a RIFF WAVE file"}};
  for (const auto& [image, samples, error] : cases) {
    WavLoad w = ParseWav(image);
    EXPECT_EQ(w.error, error);
    EXPECT_EQ(w.samples ? *w.samples : std::vector<uint8_t>{}, samples) << error;
    EXPECT_TRUE(!w.samples || w.rate == 8000);
  }
}

TEST(WavData, WritesAPaddedFileAndNeverReplacesOne) {
  ScratchDir dir;
  std::string error, path = dir.Path() + "a.wav";
  ASSERT_TRUE(WriteWavFile(path, {1, 2, 3}, 8000, error));
  std::vector<uint8_t> bytes = telvara::testing::ReadFileBytes(path);
  ASSERT_EQ(bytes.size(), 48u);
  EXPECT_EQ(bytes[4], 36 + 3 + 1);  // the RIFF size counts the pad byte
  EXPECT_EQ(bytes[24] | bytes[25] << 8, 8000);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 40, bytes.end()), (std::vector<uint8_t>{3, 0, 0, 0, 1, 2, 3, 0}));
  EXPECT_FALSE(WriteWavFile(path, {9}, 8000, error));
  EXPECT_NE(error.find("File exists"), std::string::npos);
  EXPECT_EQ(*LoadWavSamples(path).samples, (std::vector<uint8_t>{1, 2, 3}));
}

}  // namespace
}  // namespace telvara::sim
