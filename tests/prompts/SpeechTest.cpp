// The speech operations against the in-process simulated modem: which files are
// played, in which voice phase, and how a waiting event stops them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "InjectingStream.h"
#include "SimStream.h"
#include "WavData.h"
#include "modem/FMODEM.h"
#include "platform/EventLoop.h"
#include "platform/VirtualWaiter.h"
#include "prompts/PromptTable.h"
#include "prompts/VoicePrompts.h"

using namespace telvara;
using Strings = std::vector<std::string>;

namespace {

// Every file of the scratch system directory holds 100 samples of one marker byte, so
// the played samples tell which files were sent, in order.
class SpeechTest : public ::testing::Test {
 protected:
  SpeechTest()
      : waiter_(new VirtualWaiter(clock_)),
        loop_(clock_, std::unique_ptr<Waiter>(waiter_)),
        stream_(clock_, Rockwell),
        line_(stream_, stream_),
        modem_(loop_, [this](int, int) {
          PortOpenResult r;
          r.stream = std::make_unique<telvara::testing::LentStream>(line_);
          return r;
        }),
        prompts_(modem_, loop_, [this](const std::string& s) { status_.push_back(s); }) {
    setenv("TZ", "UTC", 1);
    tzset();
    waiter_->AddDevice(&line_);
    char pattern[] = "/tmp/telvara-speech-XXXXXX";
    dir_ = mkdtemp(pattern);
    std::filesystem::create_directories(dir_ + "/system");
    std::filesystem::create_directories(dir_ + "/inbox");
    Strings names = {"its", "am", "pm", "o", "*", "#", "sys001", "sys002"};
    for (int n = 0; n < 20; ++n) names.push_back(std::to_string(n));
    for (int n = 20; n <= 90; n += 10) names.push_back(std::to_string(n));
    for (const char* day : kWeekdayFile) names.push_back(std::string(day).substr(0, std::string(day).size() - 4));
    for (const std::string& name : names) AddFile("system/" + name + ".wav", name);
    AddFile("inbox/PCBA0000.WAV", "message");
    prompts_.SetDirectories(dir_ + "/system/", dir_ + "/inbox/");
    EXPECT_EQ(modem_.OpenComm(2, 1152), 1);
    modem_.SetModemType(Rockwell);
    modem_.SetVoiceMode();
    modem_.SelectLine(LineHandset);
    status_.clear();
  }
  ~SpeechTest() override {
    modem_.CloseComm();
    std::filesystem::remove_all(dir_);
  }

  void AddFile(const std::string& relative, const std::string& name) {
    uint8_t marker = static_cast<uint8_t>(0x20 + markers_.size());
    markers_[marker] = name;
    std::string error;
    EXPECT_TRUE(sim::WriteWavFile(dir_ + "/" + relative, std::vector<uint8_t>(100, marker), 7200, error)) << error;
  }

  // The files played in each voice phase since the last call.
  std::vector<Strings> Phases() {
    std::vector<Strings> out;
    const auto& phases = stream_.Modem().Phases();
    for (; seenPhases_ < phases.size(); ++seenPhases_) {
      Strings files;
      int last = -1;
      for (uint8_t b : phases[seenPhases_].samples) {
        if (b != last && markers_.count(b)) files.push_back(markers_[b]);
        last = b;
      }
      out.push_back(files);
    }
    return out;
  }
  size_t Commands() { return stream_.GetTranscript().Texts("command").size(); }
  void SetTime(int wday, int hour, int minute) {
    // 4 January 1970 was a Sunday.
    std::time_t t = (3 + wday) * 86400 + hour * 3600 + minute * 60;
    clock_.SetWall(t);
  }

  VirtualClock clock_;
  VirtualWaiter* waiter_;
  EventLoop loop_;
  sim::SimStream stream_;
  telvara::testing::InjectingStream line_;
  FMODEM modem_;
  Strings status_;
  VoicePrompts prompts_;
  std::string dir_;
  std::map<uint8_t, std::string> markers_;
  size_t seenPhases_ = 0;
};

TEST(NumberWords, GroupsOfHundredsWithOBeforeADigitGroup) {
  std::map<uint32_t, Strings> cases = {
      {0, {"0"}},           {7, {"7"}},           {10, {"10"}},         {15, {"15"}},
      {20, {"20"}},         {42, {"40", "2"}},    {100, {"1", "o", "0"}}, {305, {"3", "o", "5"}},
      {1015, {"10", "15"}}, {1200, {"12", "o", "0"}}, {1234, {"12", "30", "4"}},
      {65535, {"6", "50", "5", "30", "5"}}, {65536 + 42, {"40", "2"}}, {65536, {"0"}}};
  for (const auto& [value, words] : cases) EXPECT_EQ(VoicePrompts::NumberWords(value), words) << value;
}

TEST_F(SpeechTest, SpeakNumberStreamsItsFilesInOnePlay) {
  EXPECT_EQ(prompts_.SpeakNumber(1234), 1);
  EXPECT_EQ(Phases(), (std::vector<Strings>{{"12", "30", "4"}}));
  prompts_.SpeakNumber(305);
  prompts_.SpeakNumber(65535 + 306);  // spoken modulo 65536
  EXPECT_EQ(Phases(), (std::vector<Strings>{{"3", "o", "5"}, {"3", "o", "5"}}));
}

TEST_F(SpeechTest, SpeakTimeAroundTheClock) {
  struct Case {
    int wday, hour, minute;
    Strings files;
  };
  for (const Case& c : std::vector<Case>{
           {2, 0, 0, {"its", "12", "o", "0", "am", "Tuesday"}},
           {2, 0, 30, {"its", "12", "30", "am", "Tuesday"}},
           {2, 12, 0, {"its", "12", "o", "0", "pm", "Tuesday"}},
           {2, 15, 5, {"its", "3", "o", "5", "pm", "Tuesday"}},
           {3, 9, 41, {"its", "9", "40", "1", "am", "Wednsday"}}}) {
    SetTime(c.wday, c.hour, c.minute);
    EXPECT_EQ(prompts_.SpeakTime(), 1);
    Strings played;
    for (const Strings& phase : Phases()) played.insert(played.end(), phase.begin(), phase.end());
    EXPECT_EQ(played, c.files) << c.hour << ":" << c.minute;
  }
}

TEST_F(SpeechTest, SpeakDigitsReadsEachCharacterAndSkipsThoseWithoutFiles) {
  prompts_.SpeakDigits("5-6*1#5");
  EXPECT_EQ(Phases(), (std::vector<Strings>{{"5", "6", "*", "1", "#", "5"}}));
  EXPECT_EQ(status_, (Strings{"Playing \"5-6*1#5\""}));
  size_t commands = Commands();
  status_.clear();
  prompts_.SpeakDigits("");
  EXPECT_EQ(Commands(), commands);
  EXPECT_TRUE(status_.empty());
}

TEST_F(SpeechTest, APendingSilenceStopsANumberButNotAPrompt) {
  line_.Inject("\x10s");
  EXPECT_EQ(prompts_.SpeakNumber(42), 0);
  EXPECT_TRUE(Phases().empty());
  EXPECT_EQ(modem_.TakeEvent(), 's');  // still queued
  line_.Inject("\x10s");
  EXPECT_NE(prompts_.PlayPrompt("sys001.wav"), 0);
  EXPECT_EQ(Phases(), (std::vector<Strings>{{"sys001"}}));
  EXPECT_EQ(modem_.TakeEvent(), 0);  // the prompt dropped it
}

TEST_F(SpeechTest, APendingKeyStopsEveryPlayAndStaysQueued) {
  line_.Inject("\x10" "5");
  EXPECT_EQ(prompts_.PlayPrompt("sys001.wav"), 0);
  EXPECT_EQ(prompts_.PlayInboxFile("PCBA0000.WAV"), 0);  // the key is queued now
  EXPECT_EQ(prompts_.SpeakNumber(7), 0);
  prompts_.SpeakDigits("123");
  EXPECT_EQ(modem_.TakeEvent(), '5');
  EXPECT_EQ(modem_.TakeEvent(), 0);
  std::vector<Strings> phases = Phases();
  ASSERT_EQ(phases.size(), 1u);  // only the digits' play began, and sent nothing
  EXPECT_TRUE(phases[0].empty());
  EXPECT_TRUE(status_.size() == 1 && status_[0] == "Playing \"123\"");
}

TEST_F(SpeechTest, AMissingPromptPlaysNothingAndStillSucceeds) {
  EXPECT_NE(prompts_.PlayPrompt("nosuch.wav"), 0);
  EXPECT_EQ(status_, (Strings{"Playing " + dir_ + "/system/nosuch.wav"}));
  std::vector<Strings> phases = Phases();
  ASSERT_EQ(phases.size(), 1u);
  EXPECT_TRUE(phases[0].empty());
}

TEST_F(SpeechTest, InboxFilesPlayFromTheInbox) {
  EXPECT_NE(prompts_.PlayInboxFile("PCBA0000.WAV"), 0);
  EXPECT_EQ(Phases(), (std::vector<Strings>{{"message"}}));
  EXPECT_EQ(status_, (Strings{"Playing " + dir_ + "/inbox/PCBA0000.WAV"}));
}

TEST_F(SpeechTest, ARefusedPlayIsReported) {
  stream_.Modem().SetReply("AT#VTX", std::string("ERROR"));
  EXPECT_EQ(prompts_.PlayPrompt("sys002.wav"), 0);
  EXPECT_EQ(status_.back(), "Unable to play " + dir_ + "/system/sys002.wav");
}

TEST_F(SpeechTest, TheShippedGreetingArrivesByteForByte) {
  std::string shipped = std::string(TELVARA_SOURCE_DIR) + "/system/sys001.wav";
  std::ifstream in(shipped, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 44u);
  std::filesystem::copy_file(shipped, dir_ + "/system/greeting.wav");
  EXPECT_NE(prompts_.PlayPrompt("greeting.wav"), 0);
  const auto& phase = stream_.Modem().Phases().back();
  EXPECT_EQ(std::string(phase.samples.begin(), phase.samples.end()), bytes.substr(44));
}

TEST_F(SpeechTest, RecordingsGoToTheirDirectoriesWithTheirStatus) {
  stream_.Modem().SetReply("AT#VRX", std::string("ERROR"));
  EXPECT_EQ(prompts_.RecordInboxFile("PXXX0000.WAV"), 0);
  EXPECT_EQ(status_.back(), "Recording " + dir_ + "/inbox/PXXX0000.WAV");
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/inbox/PXXX0000.WAV"));
  EXPECT_EQ(prompts_.RecordPrompt("announce.wav"), 0);
  EXPECT_EQ(status_.back(), "Recording " + dir_ + "/system/announce.wav");
}

}  // namespace
