// Scenarios: the step language, its errors, and how steps are timed against the line.
#include <gtest/gtest.h>

#include <fstream>

#include "SimHost.h"
#include "WavData.h"

namespace telvara::sim {
namespace {

using testing::ScratchDir;
using testing::SimHost;

TEST(ScenarioParse, DurationsTakeUnitsAndRefuseNonsense) {
  EXPECT_EQ(ParseDuration("2s"), 2000u);
  EXPECT_EQ(ParseDuration("500ms"), 500u);
  EXPECT_EQ(ParseDuration("1.5s"), 1500u);
  EXPECT_EQ(ParseDuration("0.25"), 250u);
  EXPECT_EQ(ParseDuration("3m"), 180000u);
  EXPECT_EQ(ParseDuration("1h"), 3600000u);
  EXPECT_EQ(ParseDuration("7"), 7000u);
  for (const char* bad : {"", "s", "-1s", "1.s", "1.5.5", "2x", "1 s", "99999999999h", "4000h"})
    EXPECT_FALSE(ParseDuration(bad).has_value()) << bad;
}

TEST(ScenarioParse, ErrorsNameTheLineAndLoadNothing) {
  const std::pair<const char*, const char*> cases[] = {
      {"ring 2\n\nring two\n", "line 3: bad ring count \"two\""},
      {"# comment\nwait answr\n", "line 2: unknown event \"answr\""},
      {"wait record|\n", "line 1: unknown event \"\""},
      {"after soon ring\n", "line 1: bad duration \"soon\""},
      {"key 12x\n", "line 1: keys are 0-9, *, #, A-D"},
      {"event sq\n", "line 1: use: event CODE (one printable character, e.g. s, q, b, d)"},
      {"reply ATZ\n", "line 1: use: reply COMMAND RESULT|silence|default"},
      {"reply ZZ OK\n", "line 1: the command must begin with AT"},
      {"ring 3 each 5s\n", "line 1: use: ring COUNT every DURATION"},
      {"caller /nonexistent/x.wav\n", "line 1: cannot open /nonexistent/x.wav: No such file or directory"},
      {"dance\n", "line 1: unknown step \"dance\""},
      {"noise lots\n", "line 1: bad byte count \"lots\""},
  };
  for (const auto& [text, error] : cases) {
    ScenarioParse p = ParseScenario(text, ".");
    EXPECT_EQ(p.error, error) << text;
    EXPECT_TRUE(p.steps.empty());
  }
  std::string huge(5000, 'x');
  EXPECT_EQ(ParseScenario("note " + huge, ".").error, "line 1: too long");
  // Lines of other white space are blank lines, not empty steps.
  ScenarioParse blank = ParseScenario("\v\n \r\n\f\n\t# c\nring 1\n", ".");
  EXPECT_EQ(blank.error, "");
  EXPECT_EQ(blank.steps.size(), 1u);
}

TEST(ScenarioParse, ReadsEveryStepAndFindsVoicesBesideTheFile) {
  ScratchDir scratch;
  const std::string& dir = scratch.Path();
  std::string error;
  ASSERT_TRUE(WriteWavFile(dir + "/hello.wav", {1, 2, 3}, 7200, error)) << error;
  std::ofstream(dir + "/s.scn") << "# whole line comments only\r\n"
                                   "  caller hello.wav\r\n"
                                   "after 1.5s ring 3 every 11s\n"
                                   "wait answer 30s\n"
                                   "key 1#\n"
                                   "event q\n"
                                   "dial-result NO ANSWER in 20s\n"
                                   "dial-result silence\n"
                                   "reply AT#CLS=8 silence\n"
                                   "result NO CARRIER\n"
                                   "noise 12\n"
                                   "hangup\n"
                                   "note a b  c\n"
                                   "repeat\n"
                                   "exit";
  ScenarioParse p = LoadScenarioFile(dir + "/s.scn");
  ASSERT_EQ(p.error, "");
  ASSERT_EQ(p.steps.size(), 14u);
  using A = ScenarioStep::Action;
  EXPECT_EQ(p.steps[0].action, A::Caller);
  ASSERT_TRUE(p.steps[0].voice);
  EXPECT_EQ(*p.steps[0].voice, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(p.steps[0].source, "caller hello.wav");
  EXPECT_EQ(p.steps[1].timing, ScenarioStep::Timing::After);
  EXPECT_EQ(p.steps[1].delayMs, 1500u);
  EXPECT_EQ(p.steps[1].count, 3);
  EXPECT_EQ(p.steps[1].periodMs, 11000u);
  EXPECT_EQ(p.steps[2].timing, ScenarioStep::Timing::Wait);
  EXPECT_EQ(p.steps[2].signals, std::vector<SimSignal>{SimSignal::Answer});
  EXPECT_EQ(p.steps[2].delayMs, 30000u);
  EXPECT_EQ(p.steps[3].text, "1#");
  EXPECT_EQ(p.steps[4].text, "q");
  EXPECT_EQ(p.steps[5].text, "NO ANSWER");
  EXPECT_EQ(p.steps[5].resultDelayMs, 20000u);
  EXPECT_EQ(p.steps[6].text, "");
  EXPECT_EQ(p.steps[7].reply, std::optional<std::string>(""));
  EXPECT_EQ(p.steps[8].text, "NO CARRIER");
  EXPECT_EQ(p.steps[9].count, 12);
  EXPECT_EQ(p.steps[11].text, "a b c");
  EXPECT_EQ(p.steps[13].action, A::Exit);
  EXPECT_NE(LoadScenarioFile(dir + "/none.scn").error, "");
  EXPECT_NE(LoadScenarioFile(dir).error, "");
}

// The times at which the "note" steps of a scenario ran.
std::vector<uint64_t> NoteTimes(SimHost& host) {
  std::vector<uint64_t> t;
  for (const TranscriptEntry& e : host.Stream().GetTranscript().Entries())
    if (e.kind == "note") t.push_back(e.t);
  return t;
}

TEST(ScenarioRun, AfterCountsFromTheStepBeforeAndWaitFromTheEvent) {
  SimHost host(Rockwell);
  host.Command("ATE0");
  host.Command("AT#CLS=8");
  uint64_t t0 = host.Modem().Now();
  ASSERT_EQ(host.Stream().AddScenario("after 2s note a\n"
                                      "after 1s note b\n"
                                      "ring 5\n"
                                      "wait answer\n"
                                      "after 500ms note c\n"
                                      "wait record 4s\n"
                                      "note d\n"),
            "");
  host.ReadUntil("RING\r\n", 10000);
  host.Idle(7000);
  uint64_t answered = host.Modem().Now();
  host.Command("ATA");
  host.Idle(10000);
  EXPECT_EQ(NoteTimes(host), (std::vector<uint64_t>{t0 + 2000, t0 + 3000, answered + 500,
                                                     answered + 4500}));
  // The wait that timed out says so.
  bool timedOut = false;
  for (const TranscriptEntry& e : host.Stream().GetTranscript().Entries())
    if (e.kind == "scenario" && e.text == "wait record 4s")
      timedOut = e.json.find("\"timedOut\":true") != std::string::npos;
  EXPECT_TRUE(timedOut);
}

TEST(ScenarioRun, IdleIsAStateMetAtOnceAndAlternativesTakeTheFirst) {
  SimHost host(Rockwell);
  host.Command("ATE0");
  host.Command("AT#CLS=8");
  uint64_t t0 = host.Modem().Now();
  // Idle now: met at once. Then a call: the wait ends when the host hangs up, and the
  // "record" alternative never comes.
  ASSERT_EQ(host.Stream().AddScenario("wait idle\n"
                                      "note a\n"
                                      "ring 5\n"
                                      "wait record|idle\n"
                                      "after 1s note b\n"),
            "");
  host.ReadUntil("RING\r\n", 1000);
  host.Command("ATA");
  host.Idle(5000);
  uint64_t hungUp = host.Modem().Now();
  host.Command("ATH");
  host.Idle(3000);
  EXPECT_EQ(NoteTimes(host), (std::vector<uint64_t>{t0, hungUp + 1000}));
}

TEST(ScenarioRun, RingsAtAChosenSpacing) {
  SimHost host(Rockwell);
  host.Command("ATE0");
  ASSERT_EQ(host.Stream().AddScenario("ring 2 every 13s"), "");
  host.ReadUntil("RING\r\n", 1000);
  uint32_t first = host.Now();
  EXPECT_EQ(host.ReadFor(12900), "");
  EXPECT_EQ(host.ReadUntil("RING\r\n", 200), "\r\nRING\r\n");
  EXPECT_EQ(host.Now() - first, 13000u);
}

TEST(ScenarioRun, RepeatLoopsAndAPassTakesAtLeastASecond) {
  SimHost host(Rockwell);
  uint64_t t0 = host.Modem().Now();
  ASSERT_EQ(host.Stream().AddScenario("note tick\nrepeat"), "");
  host.Idle(3500);
  EXPECT_EQ(NoteTimes(host), (std::vector<uint64_t>{t0, t0 + 1000, t0 + 2000, t0 + 3000}));

  SimHost demo(Rockwell);
  demo.Command("ATE0");
  ASSERT_EQ(demo.Stream().AddScenario("after 10s ring 1\nrepeat"), "");
  demo.ReadFor(35000);
  EXPECT_EQ(demo.Stream().GetTranscript().Texts("ring").size(), 3u);
}

TEST(ScenarioRun, ResultLinesNoiseAndExit) {
  SimHost host(Rockwell);
  host.Command("ATE0");
  ASSERT_EQ(host.Stream().AddScenario("result NO CARRIER\nnoise 300\nafter 1s exit"), "");
  std::string got = host.ReadFor(500);
  ASSERT_EQ(got.size(), 14u + 300u);
  EXPECT_EQ(got.substr(0, 14), "\r\nNO CARRIER\r\n");
  EXPECT_FALSE(host.Modem().ExitRequested());
  host.Idle(600);
  EXPECT_TRUE(host.Modem().ExitRequested());
}

TEST(ScenarioRun, AppendedLinesOnAnIdleRunnerCountFromNow) {
  SimHost host(Rockwell);
  host.Idle(5000);
  ScenarioParse first = ParseScenario("after 1s note x", ".");
  host.Modem().AppendSteps(std::move(first.steps), "control");
  host.Idle(3000);
  ScenarioParse second = ParseScenario("after 1s note y", ".");
  host.Modem().AppendSteps(std::move(second.steps), "control");
  host.Idle(3000);
  EXPECT_EQ(NoteTimes(host), (std::vector<uint64_t>{6000, 9000}));
}

TEST(WavData, ConvertsPcmToEightBitMonoAndKeepsACutOffRecording) {
  // 16-bit stereo: (0x4000 + 0x0000) / 2 channels -> 64 / 2 + 128 = 160.
  std::vector<uint8_t> file = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E',
                               'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0,
                               'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,
                               0x40, 0x1f, 0, 0, 0, 0, 0, 0, 4, 0, 16, 0,
                               'd', 'a', 't', 'a', 100, 0, 0, 0,
                               0x00, 0x40, 0x00, 0x00, 0x00, 0xc0, 0x00, 0xc0};
  WavLoad w = ParseWav(file);
  ASSERT_TRUE(w.samples) << w.error;
  EXPECT_EQ(w.rate, 8000);
  EXPECT_EQ(*w.samples, (std::vector<uint8_t>{160, 64}));

  std::vector<uint8_t> mono8 = file;
  mono8[34] = 1;  // channels
  mono8[46] = 8;  // bits
  w = ParseWav(mono8);
  ASSERT_TRUE(w.samples);
  EXPECT_EQ(w.samples->size(), 8u);
  EXPECT_EQ((*w.samples)[1], 0x40);
}

TEST(WavData, RefusesWhatCannotBePlayed) {
  std::vector<uint8_t> base = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E',
                               'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0,
                               0x20, 0x1c, 0, 0, 0x20, 0x1c, 0, 0, 1, 0, 8, 0,
                               'd', 'a', 't', 'a', 2, 0, 0, 0, 0x80, 0x81};
  ASSERT_TRUE(ParseWav(base).samples);
  auto with = [&](size_t at, uint8_t v) {
    auto f = base;
    f[at] = v;
    return ParseWav(f).error;
  };
  EXPECT_EQ(with(20, 3), "only 8- or 16-bit PCM, mono or stereo, can be played to the line");
  EXPECT_EQ(with(34, 24), "only 8- or 16-bit PCM, mono or stereo, can be played to the line");
  EXPECT_EQ(with(22, 0), "only 8- or 16-bit PCM, mono or stereo, can be played to the line");
  EXPECT_EQ(with(16, 0xff), "damaged format chunk");
  EXPECT_EQ(with(8, 'X'), "not a RIFF WAVE file");
  EXPECT_EQ(with(36, 'X'), "no data chunk");
  EXPECT_EQ(ParseWav({}).error, "not a RIFF WAVE file");
  std::vector<uint8_t> noFormat(base.begin(), base.begin() + 12);
  EXPECT_EQ(ParseWav(noFormat).error, "no format chunk");
}

TEST(WavData, WritesAPaddedFileAndNeverReplacesOne) {
  ScratchDir scratch;
  const std::string& dir = scratch.Path();
  std::string error;
  std::string path = dir + "/a.wav";
  ASSERT_TRUE(WriteWavFile(path, {1, 2, 3}, 8000, error));
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(bytes.size(), 48u);  // 44 + 3 + a pad byte
  EXPECT_EQ(bytes[4], 40);       // RIFF size 36 + 3 + 1
  EXPECT_EQ(bytes[24] | bytes[25] << 8, 8000);
  EXPECT_EQ(bytes[40], 3);
  EXPECT_EQ(bytes[47], 0);
  EXPECT_FALSE(WriteWavFile(path, {9}, 8000, error));
  EXPECT_NE(error.find("File exists"), std::string::npos);
  WavLoad back = LoadWavSamples(path);
  ASSERT_TRUE(back.samples);
  EXPECT_EQ(*back.samples, (std::vector<uint8_t>{1, 2, 3}));
}

}  // namespace
}  // namespace telvara::sim
