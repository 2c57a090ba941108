// The real telvara against telvara-modemsim on a pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Files.h"
#include "Process.h"
#include "store/MessageLog.h"

using telvara::testing::Process;

namespace {

const std::string kBin = TELVARA_BINARY_DIR;

class ProgramTest : public ::testing::Test {
 protected:
  // The programs started here lock their device in the scratch folder.
  ProgramTest() {
    std::filesystem::create_directory(dir_ + "/lock");
    setenv("TELVARA_LOCK_DIR", (dir_ + "/lock").c_str(), 1);
  }
  // The simulator with a scenario, and a profile with its port on it; false when it did not come up.
  bool StartModem(const std::string& scenario, const std::string& dialect, const std::string& profile) {
    std::ofstream(dir_ + "/line.scn") << scenario;
    std::filesystem::create_directory(dir_ + "/heard");
    std::ofstream(dir_ + "/telvara.ini") << profile << "\n[PORTS]\nCOM2=" << dir_ << "/modem\n";
    modem_ = std::make_unique<Process>(std::vector<std::string>{
        kBin + "/telvara-modemsim", "--dialect", dialect, "--link", dir_ + "/modem", "--scenario", dir_ + "/line.scn",
        "--transcript", dir_ + "/modem.jsonl", "--heard-dir", dir_ + "/heard", "--control", dir_ + "/control"});
    std::string line;
    return modem_->ReadLine(line, 10000);
  }
  // Scenario steps given to the running simulator, one a line; true when all were taken.
  bool Send(const std::string& steps) {
    Process send({kBin + "/telvara-modemsim", "--send", dir_ + "/control", steps});
    return send.Wait(5000) == 0;
  }
  std::size_t LoggedMessages() {
    std::vector<uint8_t> log = telvara::testing::ReadFileBytes(dir_ + "/orvanel.log");
    return telvara::MessageLog::Read(log.data(), log.size()).messages.size();
  }
  std::unique_ptr<Process> StartTelvara() {
    return std::make_unique<Process>(
        std::vector<std::string>{kBin + "/telvara", "--home", dir_, "--listen", "127.0.0.1:0"});
  }
  // How often the simulator's transcript holds the text.
  std::size_t Count(const std::string& text) {
    std::string transcript = telvara::testing::ReadFileText(dir_ + "/modem.jsonl");
    std::size_t n = 0;
    for (std::size_t at = 0; (at = transcript.find(text, at)) != std::string::npos; ++at) ++n;
    return n;
  }

  telvara::testing::ScratchDir scratch_;
  std::string dir_ = scratch_.Path().substr(0, scratch_.Path().size() - 1);
  std::unique_ptr<Process> modem_;
};

// The address is printed first, and again by --url. SIGHUP starts the same process again,
// the profile read anew; a stray SIGUSR1 changes nothing. With its output closed
// (telvara | head -1) it runs on, and SIGQUIT closes in order, dropping DTR.
TEST_F(ProgramTest, SighupStartsItAgainWithTheProfileReadAnewAndAClosedOutputDoesNotEndIt) {
  ASSERT_TRUE(StartModem("", "rockwell", "[MODEM]"));
  auto t = StartTelvara();
  std::string url, printed;
  ASSERT_TRUE(t->ReadLine(url, 10000));
  EXPECT_EQ(url.rfind("http://127.0.0.1:", 0), 0u) << url;
  ASSERT_TRUE(t->WaitFor("Stand by", 15000)) << t->Output();
  Process again({kBin + "/telvara", "--home", dir_, "--url"});
  ASSERT_TRUE(again.ReadLine(printed, 5000));
  EXPECT_EQ(printed, url);
  t->Signal(SIGUSR1);
  std::ofstream(dir_ + "/telvara.ini") << "[MODEM]\nSPEED=99\n[PORTS]\nCOM2=" << dir_ << "/modem\n";
  t->Signal(SIGHUP);
  ASSERT_TRUE(t->WaitFor("Profile: SPEED=99", 15000)) << t->Output();
  t->CloseOutput();
  for (int waited = 0; Count("AT+FCLASS=0") < 2 && waited < 15000; waited += 100) usleep(100000);
  usleep(300000);  // "Stand by" and more are written to nobody
  std::size_t drops = Count("dropped");
  t->Signal(SIGQUIT);
  EXPECT_EQ(t->Wait(10000), 0);  // -1 had SIGPIPE ended it
  EXPECT_GT(Count("dropped"), drops);
}

// Stopping never waits on a line operation; the recording so far is listed, DTR dropped.
TEST_F(ProgramTest, SigtermDuringARecordingOrADialEndsItWithinTwoSecondsKeepingTheMessage) {
  const std::string voice = TELVARA_SOURCE_DIR "/sim/voices/caller.wav";
  ASSERT_TRUE(
      StartModem("caller " + voice + "\ndial-result silence\n", "rockwell", "[MODEM]\nRINGS=-1\nPHONE=5551234"));
  auto t = StartTelvara();
  ASSERT_TRUE(t->WaitFor("Stand by", 15000)) << t->Output();
  ASSERT_TRUE(Send("ring 1\nwait answer\nafter 1s key 1"));
  ASSERT_TRUE(t->WaitFor("Recording ", 20000)) << t->Output();
  sleep(2);
  t->Signal(SIGTERM);
  EXPECT_EQ(t->Wait(2000), 0) << t->Output();
  EXPECT_EQ(LoggedMessages(), 1u);

  t = StartTelvara();  // a new message, then its call-out, whose dial is never answered
  ASSERT_TRUE(t->WaitFor("Stand by", 15000)) << t->Output();
  ASSERT_TRUE(
      Send("ring 1\nwait answer\nafter 1s key 1\nwait record\nafter 2s key 5\nwait record-end\nafter 1s key 9"));
  ASSERT_TRUE(t->WaitFor("Dial out...", 40000)) << t->Output();
  sleep(1);
  t->Signal(SIGTERM);
  EXPECT_EQ(t->Wait(2000), 0) << t->Output();
  EXPECT_EQ(LoggedMessages(), 2u);
  EXPECT_GE(Count("dropped"), 2u);
}

// A USB modem pulled out and put back: what was recorded is listed, the next call answered.
TEST_F(ProgramTest, AModemUnpluggedIdleOrDuringACallIsTakenBackWhenItReturns) {
  const std::string voice = TELVARA_SOURCE_DIR "/sim/voices/caller.wav";
  ASSERT_TRUE(StartModem("caller " + voice + "\n", "rockwell", "[MODEM]\nRINGS=-1"));
  auto t = StartTelvara();
  ASSERT_TRUE(t->WaitFor("Stand by", 15000)) << t->Output();
  ASSERT_TRUE(Send("unplug\nafter 3s plug"));
  ASSERT_TRUE(t->WaitFor("Modem lost: ", 5000)) << t->Output();
  ASSERT_TRUE(t->WaitFor("Stand by", 15000)) << t->Output();
  ASSERT_TRUE(Send("ring 1\nwait answer\nafter 1s key 1\nwait record\nafter 2s unplug\nafter 1s plug"));
  ASSERT_TRUE(t->WaitFor("Modem lost: ", 30000)) << t->Output();
  EXPECT_EQ(LoggedMessages(), 1u);
  ASSERT_TRUE(t->WaitFor("Stand by", 15000)) << t->Output();
  ASSERT_TRUE(Send("ring 1"));
  ASSERT_TRUE(t->WaitFor("Answering Incoming Phone Call...", 10000)) << t->Output();
  t->Signal(SIGTERM);
  EXPECT_EQ(t->Wait(2000), 0) << t->Output();
}

// A recording cut short by a crash (its header counts no data), NEW with its length.
TEST_F(ProgramTest, ARecordingCutShortIsListedAtTheNextStart) {
  std::filesystem::create_directory(dir_ + "/inbox");
  const char provisional[] =
      "RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x20\x1c\0\0\x20\x1c\0\0\x01\0\x08\0data\0\0\0";
  std::ofstream(dir_ + "/inbox/PCUTSHRT.WAV", std::ios::binary)
      << std::string(provisional, 44) << std::string(7200 * 3 + 5, '\x80');  // 3 s, cut mid-byte-pair
  ASSERT_TRUE(StartModem("", "rockwell", ""));
  auto t = StartTelvara();
  ASSERT_TRUE(t->WaitFor("Recovered 1 message cut short", 15000)) << t->Output();
  t->Signal(SIGTERM);
  EXPECT_EQ(t->Wait(10000), 0);
  std::vector<uint8_t> log = telvara::testing::ReadFileBytes(dir_ + "/orvanel.log");
  telvara::LogReadResult read = telvara::MessageLog::Read(log.data(), log.size());
  ASSERT_EQ(read.messages.size(), 1u) << read.detail;
  const telvara::CMessage& m = *read.messages[0];
  EXPECT_TRUE(m.fileName == "PCUTSHRT.WAV" && m.lengthSeconds == 3 && m.status == telvara::MessageStatus::StatusNew);
  std::vector<uint8_t> wav = telvara::testing::ReadFileBytes(dir_ + "/inbox/PCUTSHRT.WAV");
  ASSERT_EQ(wav.size(), 44u + 7200 * 3 + 6);
  EXPECT_EQ(telvara::testing::U32(wav, 40), 7200u * 3 + 5);
}

}  // namespace
