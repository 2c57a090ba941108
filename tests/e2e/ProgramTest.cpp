// The real telvara against telvara-modemsim on a pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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
  // The simulator with a scenario, and a profile (with its port on the simulator);
  // false when the simulator did not come up.
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
  // The messages the log on disk lists.
  std::size_t LoggedMessages() {
    std::vector<uint8_t> log = telvara::testing::ReadFileBytes(dir_ + "/orvanel.log");
    return telvara::MessageLog::Read(log.data(), log.size()).messages.size();
  }
  std::unique_ptr<Process> StartTelvara() {
    return std::make_unique<Process>(
        std::vector<std::string>{kBin + "/telvara", "--home", dir_, "--listen", "127.0.0.1:0"});
  }
  std::string Transcript() {
    std::stringstream s;
    s << std::ifstream(dir_ + "/modem.jsonl").rdbuf();
    return s.str();
  }

  telvara::testing::ScratchDir scratch_;
  std::string dir_ = scratch_.Path().substr(0, scratch_.Path().size() - 1);
  std::unique_ptr<Process> modem_;
};

// Asks the window's address (http://127.0.0.1:PORT/?token=...) for its page, or with
// the token's cookie for `path`, through bash's /dev/tcp; the status line of the reply.
std::string HttpGet(const std::string& url, const std::string& path = "") {
  std::size_t slash = url.find('/', 17);
  std::string port = url.substr(17, slash - 17), line;
  std::size_t token = url.find("token=");
  std::string cookie = path.empty() || token == std::string::npos
                           ? ""
                           : "Cookie: telvara" + port + "=" + url.substr(token + 6) + "\\r\\n";
  Process get({"/bin/bash", "-c",
               "exec 3<>/dev/tcp/127.0.0.1/$0 && printf 'GET %s HTTP/1.1\\r\\nHost: 127.0.0.1\\r\\n%b\\r\\n' \"$1\" "
               "\"$2\" >&3 && head -1 <&3",
               port, path.empty() ? url.substr(slash) : path, cookie});
  get.ReadLine(line, 5000);
  return line.substr(0, line.find('\r'));
}

TEST_F(ProgramTest, StartsAnswersAtTheRingCountAndStopsCleanlyOnSigterm) {
  ASSERT_TRUE(StartModem("after 1s ring 3\n", "rockwell", "[MODEM]\nRINGS=1"));
  auto t = StartTelvara();
  std::string url;
  ASSERT_TRUE(t->ReadLine(url, 10000));
  EXPECT_EQ(url.rfind("http://127.0.0.1:", 0), 0u) << url;
  // The token is traded for the cookie; without it the window is refused. The address
  // is kept for --url.
  EXPECT_EQ(HttpGet(url), "HTTP/1.1 303 See Other");
  EXPECT_EQ(HttpGet(url.substr(0, url.find('?'))), "HTTP/1.1 401 Unauthorized");
  std::string printed;
  Process again({kBin + "/telvara", "--home", dir_, "--url"});
  ASSERT_TRUE(again.ReadLine(printed, 5000));
  EXPECT_EQ(printed, url);
  ASSERT_TRUE(t->WaitFor("Stand by", 15000)) << t->Output();
  // Ring 1 comes within 12 s of start-up and is not counted; rings 2 and 3 are.
  for (int ring = 1; ring <= 3; ++ring) ASSERT_TRUE(t->WaitFor("Phone ringing.", 15000)) << t->Output();
  ASSERT_TRUE(t->WaitFor("Answering Incoming Phone Call...", 5000)) << t->Output();
  ASSERT_TRUE(t->WaitFor("Hang up modem", 60000)) << t->Output();  // a caller who keys nothing
  ASSERT_TRUE(t->WaitFor("Stand by", 10000)) << t->Output();
  t->Signal(SIGTERM);
  EXPECT_EQ(t->Wait(10000), 0);
  std::string transcript = Transcript();
  EXPECT_NE(transcript.find("\"text\":\"ATA\""), std::string::npos);
  EXPECT_NE(transcript.find("\"text\":\"ATH0\""), std::string::npos);
  EXPECT_NE(transcript.find("dropped"), std::string::npos);  // the port closed: DTR down
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/orvanel.log"));
}

TEST_F(ProgramTest, SigintStopsItTooAndAStraySigusr1ChangesNothing) {
  ASSERT_TRUE(StartModem("", "is-101", "[MODEM]\nTYPE=1"));
  auto t = StartTelvara();
  ASSERT_TRUE(t->WaitFor("Stand by", 15000)) << t->Output();
  t->Signal(SIGUSR1);
  usleep(100000);
  t->Signal(SIGINT);
  EXPECT_EQ(t->Wait(10000), 0);
  EXPECT_NE(Transcript().find("dropped"), std::string::npos);
}

// telvara | head -1: the status lines after the first meet a closed pipe. SIGQUIT then
// closes in order, like SIGTERM.
TEST_F(ProgramTest, AClosedStandardOutputDoesNotEndItAndSigquitClosesInOrder) {
  ASSERT_TRUE(StartModem("", "rockwell", "[MODEM]"));
  auto t = StartTelvara();
  std::string url;
  ASSERT_TRUE(t->ReadLine(url, 10000));
  t->CloseOutput();
  for (int waited = 0; Transcript().find("AT+FCLASS=0") == std::string::npos && waited < 15000; waited += 100)
    usleep(100000);
  usleep(300000);  // "Stand by" and more are written to nobody
  t->Signal(SIGQUIT);
  EXPECT_EQ(t->Wait(10000), 0);  // -1 had SIGPIPE ended it
  EXPECT_NE(Transcript().find("dropped"), std::string::npos);
}

// The same process starts again and reads the profile anew: the new value is told.
TEST_F(ProgramTest, SighupStartsItAgainWithTheProfileReadAnew) {
  ASSERT_TRUE(StartModem("", "rockwell", "[MODEM]"));
  auto t = StartTelvara();
  ASSERT_TRUE(t->WaitFor("Stand by", 15000)) << t->Output();
  std::ofstream(dir_ + "/telvara.ini") << "[MODEM]\nSPEED=99\n[PORTS]\nCOM2=" << dir_ << "/modem\n";
  t->Signal(SIGHUP);
  ASSERT_TRUE(t->WaitFor("http://127.0.0.1:", 15000)) << t->Output();
  ASSERT_TRUE(t->WaitFor("Profile: SPEED=99", 15000)) << t->Output();
  ASSERT_TRUE(t->WaitFor("Stand by", 15000)) << t->Output();
  t->Signal(SIGTERM);
  EXPECT_EQ(t->Wait(10000), 0);
}

// Stopping never waits on a line operation: SIGTERM during a recording and during a
// dial ends the program within 2 s with exit status 0, the recording so far listed and
// the line released (DTR dropped: the port closed).
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
  std::string transcript = Transcript();
  std::size_t drops = 0;
  for (std::size_t at = 0; (at = transcript.find("dropped", at)) != std::string::npos; ++at) ++drops;
  EXPECT_GE(drops, 2u);
}

// The modem's device vanishes (a USB modem pulled out) while idle and during a call, and
// comes back: what was recorded is listed, and the next call is answered.
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

TEST_F(ProgramTest, AMissingDeviceIsAClearStatusNotACrash) {
  std::ofstream(dir_ + "/telvara.ini") << "[PORTS]\nCOM2=" << dir_ << "/no-such-modem\n";
  auto t = StartTelvara();
  ASSERT_TRUE(t->WaitFor("OpenCom Failed: COM2: cannot open " + dir_ + "/no-such-modem", 10000)) << t->Output();
  t->Signal(SIGTERM);
  EXPECT_EQ(t->Wait(10000), 0);
}

TEST_F(ProgramTest, ASecondTelvaraOnTheSameModemIsToldWhoHasIt) {
  ASSERT_TRUE(StartModem("", "rockwell", "[MODEM]"));
  auto first = StartTelvara();
  ASSERT_TRUE(first->WaitFor("Stand by", 15000)) << first->Output();
  std::filesystem::create_directory(dir_ + "/second");
  std::filesystem::copy_file(dir_ + "/telvara.ini", dir_ + "/second/telvara.ini");
  Process second({kBin + "/telvara", "--home", dir_ + "/second", "--listen", "127.0.0.1:0"});
  std::string device = std::filesystem::canonical(dir_ + "/modem");
  std::string lock = dir_ + "/lock/LCK.." + device.substr(device.rfind('/') + 1);
  ASSERT_TRUE(second.WaitFor(
      "OpenCom Failed: COM2: Modem in use by process " + std::to_string(first->Pid()) + " (lock file " + lock + ")",
      10000))
      << second.Output();
  second.Signal(SIGTERM);
  EXPECT_EQ(second.Wait(10000), 0);
  EXPECT_TRUE(std::filesystem::exists(lock));  // the second one leaves the first one's lock alone
  first->Signal(SIGTERM);
  EXPECT_EQ(first->Wait(10000), 0);
  EXPECT_FALSE(std::filesystem::exists(lock));
}

TEST_F(ProgramTest, NonsenseProfileAndAModemSendingGarbage) {
  std::string junk = "[MODEM]\nPORT=2\nSPEED=zz\nTYPE=99999999999999\nRINGS=-7\nINIT=AT&F&C1&D2\n";
  for (int i = 0; i < 2000; ++i) junk += static_cast<char>(1 + (i * 37) % 250);
  ASSERT_TRUE(StartModem("noise 4000\nafter 50ms noise 4000\nafter 300ms noise 4000\nafter 1s result RINGRINGRING\n",
                         "rockwell", junk));
  auto t = StartTelvara();
  ASSERT_TRUE(t->WaitFor("Stand by", 30000)) << t->Output();
  t->Signal(SIGTERM);
  EXPECT_EQ(t->Wait(10000), 0);
}

// The 8-bit samples after a WAV file's 44-byte header.
std::string Samples(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str().size() > 44 ? s.str().substr(44) : "";
}

// A caller leaves a message; the owner, called back, keys the code, hears that there is
// one new message, plays it, deletes it with 6 and ends with #.
TEST_F(ProgramTest, ACallerLeavesAMessageAndTheOwnerCalledBackHearsAndDeletesIt) {
  std::filesystem::create_directory(dir_ + "/system");
  std::filesystem::copy_file(kBin + "/system/1.wav", dir_ + "/system/1.wav");
  const std::string voice = TELVARA_SOURCE_DIR "/sim/voices/caller.wav";
  ASSERT_TRUE(StartModem("caller " + voice +
                             "\nafter 13s ring 1\nwait answer\nafter 1s key 1\nwait record\nafter 5s hangup\n"
                             "wait connect 2m\nafter 2s key 857\nafter 4s key 1\nwait play\nwait play\nwait play\n"
                             "after 1s key 6\nafter 3s key #\n",
                         "rockwell", "[MODEM]\nRINGS=0\nPHONE=5551234"));
  auto t = StartTelvara();
  std::string url;
  ASSERT_TRUE(t->ReadLine(url, 10000));
  ASSERT_TRUE(t->WaitFor("Dial out...", 120000)) << t->Output();
  std::vector<std::string> inbox;
  for (const auto& e : std::filesystem::directory_iterator(dir_ + "/inbox")) inbox.push_back(e.path());
  ASSERT_EQ(inbox.size(), 1u);
  // The page may play it: the window serves it from the inbox, by its name.
  std::string name = std::filesystem::path(inbox[0]).filename();
  EXPECT_EQ(HttpGet(url, "/api/message?file=" + name), "HTTP/1.1 200 OK");
  EXPECT_EQ(HttpGet(url, "/api/message?file=orvanel.log"), "HTTP/1.1 404 Not Found");
  std::string recorded = Samples(inbox[0]), spoken = Samples(voice);
  ASSERT_GT(recorded.size(), 3u * 7200);
  EXPECT_EQ(recorded.substr(0, 3 * 7200), spoken.substr(0, 3 * 7200));  // the caller's own samples
  EXPECT_GT(std::filesystem::file_size(dir_ + "/orvanel.log"), 2u);     // one message logged
  ASSERT_TRUE(t->WaitFor("Security Code Verified", 60000)) << t->Output();
  ASSERT_TRUE(t->WaitFor("Modem Hangs Up", 60000)) << t->Output();
  EXPECT_TRUE(std::filesystem::is_empty(dir_ + "/inbox"));
  EXPECT_EQ(std::filesystem::file_size(dir_ + "/orvanel.log"), 2u);  // the empty log: 00 00
  t->Signal(SIGTERM);
  EXPECT_EQ(t->Wait(10000), 0);
  // The owner heard "one" new message: a phase on the line played just the number's file.
  std::string one = Samples(dir_ + "/system/1.wav");
  int heardOne = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_ + "/heard")) heardOne += Samples(e.path()) == one;
  EXPECT_GE(heardOne, 1);
}

// A recording cut short by a crash (its header counts no data) is listed again at the
// next start, NEW with its length, and the log keeps it.
TEST_F(ProgramTest, ARecordingCutShortIsListedAtTheNextStart) {
  std::filesystem::create_directory(dir_ + "/inbox");
  std::ofstream cut(dir_ + "/inbox/PCUTSHRT.WAV", std::ios::binary);
  const char provisional[] = "RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x20\x1c\0\0\x20\x1c\0\0\x01\0\x08\0data";
  cut.write(provisional, sizeof provisional - 1).write("\0\0\0\0", 4);
  cut << std::string(7200 * 3 + 5, '\x80');  // 3 s at 7200 samples a second, cut mid-byte-pair
  cut.close();
  ASSERT_TRUE(StartModem("", "rockwell", ""));
  auto t = StartTelvara();
  ASSERT_TRUE(t->WaitFor("Recovered 1 message cut short", 15000)) << t->Output();
  t->Signal(SIGTERM);
  EXPECT_EQ(t->Wait(10000), 0);
  std::vector<uint8_t> log = telvara::testing::ReadFileBytes(dir_ + "/orvanel.log");
  telvara::LogReadResult read = telvara::MessageLog::Read(log.data(), log.size());
  ASSERT_TRUE(read.Ok()) << read.detail;
  ASSERT_EQ(read.messages.size(), 1u);
  EXPECT_EQ(read.messages[0]->fileName, "PCUTSHRT.WAV");
  EXPECT_EQ(read.messages[0]->lengthSeconds, 3u);
  EXPECT_EQ(read.messages[0]->status, telvara::MessageStatus::StatusNew);
  std::vector<uint8_t> wav = telvara::testing::ReadFileBytes(dir_ + "/inbox/PCUTSHRT.WAV");
  ASSERT_EQ(wav.size(), 44u + 7200 * 3 + 6);
  EXPECT_EQ(telvara::testing::U32(wav, 40), 7200u * 3 + 5);
}

}  // namespace
