// The speech operations: which files play, in which voice phase, what stops them.
#include <gtest/gtest.h>

#include <map>

#include "SimLine.h"
#include "WavData.h"
#include "prompts/PromptTable.h"
#include "prompts/VoicePrompts.h"

namespace telvara::testing {
namespace {

using Strings = std::vector<std::string>;

TEST(NumberWords, GroupsOfHundredsWithOBeforeADigitGroup) {
  const std::map<uint32_t, Strings> cases = {
      {15, {"15"}},         {42, {"40", "2"}},        {305, {"3", "o", "5"}},
      {1015, {"10", "15"}}, {1200, {"12", "o", "0"}}, {65535, {"6", "50", "5", "30", "5"}}};
  for (const auto& [value, words] : cases) EXPECT_EQ(VoicePrompts::NumberWords(value), words) << value;
}

// Each file holds 100 samples of its own marker byte: what plays tells the files, in order.
struct Speech : ::testing::Test {
  Speech() : prompts(line.Driver(), line.Loop(), [this](const std::string& s) { status.push_back(s); }) {
    setenv("TZ", "UTC", 1);
    tzset();
    for (int n = 0; n <= 90; n += n < 20 ? 1 : 10) files.push_back(std::to_string(n));
    for (std::string day : kWeekdayFile) files.push_back(day.substr(0, day.size() - 4));
    std::filesystem::create_directories(line.Path("system"));
    std::filesystem::create_directories(line.Path("inbox"));
    for (std::size_t i = 0; i < files.size(); ++i) {
      std::string path = line.Path(i ? "system/" + files[i] + ".wav" : "inbox/PCBA0000.WAV"), error;
      EXPECT_TRUE(sim::WriteWavFile(path, std::vector<uint8_t>(100, uint8_t(0x20 + i)), 7200, error)) << error;
    }
    prompts.SetDirectories(line.Path("system/"), line.Path("inbox/"));
    EXPECT_TRUE(line.Open() && line.Driver().SetVoiceMode() && line.Driver().SelectLine(LineHandset));
  }
  // The files played in each voice phase since the last call.
  std::vector<Strings> Phases() {
    std::vector<Strings> out;
    for (const std::vector<uint8_t>& samples : line.Played()) {
      out.emplace_back();
      for (std::size_t i = 0; i < samples.size(); i += 100) out.back().push_back(files.at(samples[i] - 0x20));
    }
    return out;
  }
  void Pending(char code) { line.Faults().injected += std::string("\x10") + code; }

  SimLine line{Rockwell};
  Strings status, files = {"message", "its", "am", "pm", "o", "*", "#", "sys001", "sys002"};
  VoicePrompts prompts;
};

TEST_F(Speech, SpeakNumberStreamsItsFilesInOnePlay) {
  EXPECT_EQ(prompts.SpeakNumber(1234) + prompts.SpeakNumber(305) + prompts.SpeakNumber(65535 + 306), 3);
  EXPECT_EQ(Phases(), (std::vector<Strings>{{"12", "30", "4"}, {"3", "o", "5"}, {"3", "o", "5"}}));  // modulo 65536
}

TEST_F(Speech, SpeakTimeAroundTheClock) {
  const std::pair<int, Strings> cases[] = {{2 * 1440, {"its", "12", "o", "0", "am", "Tuesday"}},  // from a Sunday
                                           {3 * 1440 + 581 + 720, {"its", "9", "40", "1", "pm", "Wednsday"}}};
  for (const auto& [minute, files] : cases) {
    line.Clock().SetWall((3 * 1440 + minute) * 60);  // 4 January 1970 was a Sunday
    EXPECT_EQ(prompts.SpeakTime(), 1);
    Strings played;
    for (const Strings& phase : Phases()) played.insert(played.end(), phase.begin(), phase.end());
    EXPECT_EQ(played, files) << minute;
  }
}

TEST_F(Speech, SpeakDigitsReadsEachCharacterAndSkipsThoseWithoutFiles) {
  prompts.SpeakDigits("5-6*1#5");
  prompts.SpeakDigits("");  // nothing at all
  EXPECT_EQ(Phases(), (std::vector<Strings>{{"5", "6", "*", "1", "#", "5"}}));
  EXPECT_EQ(status, Strings{"Playing \"5-6*1#5\""});
}

TEST_F(Speech, APendingSilenceStopsANumberButNotAPromptAndAPendingKeyStopsEveryPlayAndStaysQueued) {
  Pending('s');
  EXPECT_EQ(prompts.SpeakNumber(42), 0);
  EXPECT_TRUE(Phases().empty());
  EXPECT_EQ(line.Driver().TakeEvent(), 's');  // still queued
  Pending('s');
  EXPECT_NE(prompts.PlayPrompt("sys001.wav"), 0);
  EXPECT_EQ(Phases(), (std::vector<Strings>{{"sys001"}}));
  EXPECT_EQ(line.Driver().TakeEvent(), 0);  // the prompt dropped it
  status.clear();
  Pending('5');
  EXPECT_EQ(prompts.PlayPrompt("sys001.wav"), 0);
  EXPECT_EQ(prompts.PlayInboxFile("PCBA0000.WAV"), 0);  // the key is queued now
  EXPECT_EQ(prompts.SpeakNumber(7), 0);
  prompts.SpeakDigits("123");
  EXPECT_EQ(line.Driver().TakeEvent(), '5');
  EXPECT_EQ(line.Driver().TakeEvent(), 0);
  EXPECT_EQ(Phases(), std::vector<Strings>{{}});  // only the digits' play began, and sent nothing
  EXPECT_EQ(status, Strings{"Playing \"123\""});
}

TEST_F(Speech, AMissingPromptPlaysNothingAndStillSucceedsAndInboxFilesPlayFromTheInbox) {
  EXPECT_NE(prompts.PlayPrompt("nosuch.wav"), 0);
  EXPECT_NE(prompts.PlayInboxFile("PCBA0000.WAV"), 0);
  EXPECT_EQ(Phases(), (std::vector<Strings>{{}, {"message"}}));
  EXPECT_EQ(status,
            (Strings{"Playing " + line.Path("system/nosuch.wav"), "Playing " + line.Path("inbox/PCBA0000.WAV")}));
}

TEST_F(Speech, ARefusedPlayIsReportedAndRecordingsGoToTheirDirectoriesWithTheirStatus) {
  line.Modem().SetReply("AT#VTX", "ERROR");
  EXPECT_EQ(prompts.PlayPrompt("sys002.wav"), 0);
  EXPECT_EQ(status.back(), "Unable to play " + line.Path("system/sys002.wav"));
  line.Modem().SetReply("AT#VRX", "ERROR");
  EXPECT_EQ(prompts.RecordInboxFile("PXXX0000.WAV") + prompts.RecordPrompt("announce.wav"), 0);
  EXPECT_EQ(Strings(status.end() - 2, status.end()),
            (Strings{"Recording " + line.Path("inbox/PXXX0000.WAV"), "Recording " + line.Path("system/announce.wav")}));
  EXPECT_FALSE(std::filesystem::exists(line.Path("inbox/PXXX0000.WAV")));
}

}  // namespace
}  // namespace telvara::testing
