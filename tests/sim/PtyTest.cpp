// telvara-modemsim as a program: started on a pseudo-terminal and driven through a
// real SerialPort, with its control socket, link, transcript and kept WAV files.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "SimHost.h"
#include "WavData.h"
#include "modem/FMODEM.h"
#include "platform/EventLoop.h"
#include "platform/Wait.h"
#include "platform/SerialPort.h"

namespace telvara::sim {
namespace {

using testing::ScratchDir;
using testing::Unshield;
using Ms = std::chrono::milliseconds;

const std::string kProgram = std::string(TELVARA_BINARY_DIR) + "/telvara-modemsim";

uint64_t NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<Ms>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Runs the program; its first line of output is the device to open.
class Simulator {
 public:
  explicit Simulator(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(kProgram.c_str()));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(kProgram.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    device_ = ReadLine(out_, 5000);
  }
  ~Simulator() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
  }
  const std::string& Device() const { return device_; }
  pid_t Pid() const { return pid_; }
  // SIGTERM, then the exit status (-1 when it did not end within 3 s).
  int Stop(int signal = SIGTERM) {
    ::kill(pid_, signal);
    return Wait(3000);
  }
  int Wait(int ms) {
    for (int i = 0; i < ms / 10; ++i) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      ::usleep(10000);
    }
    return -1;
  }
  std::string Errors() { return ReadAll(err_); }

 private:
  static std::string ReadLine(int fd, int ms) {
    std::string line;
    char c;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, ms) > 0 && ::read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  static std::string ReadAll(int fd) {
    std::string s;
    char buf[512];
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 1000) > 0) {
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) break;
      s.append(buf, static_cast<size_t>(n));
    }
    return s;
  }

  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  bool exited_ = false;
  std::string device_;
};

// The host side over a real SerialPort.
class Port {
 public:
  explicit Port(const std::string& device) {
    PortOpenResult r = SerialPort::Open(device, 115200);
    error_ = r.error;
    port_ = std::move(r.stream);
  }
  bool IsOpen() const { return port_ != nullptr; }
  const std::string& Error() const { return error_; }
  void Close() { port_.reset(); }

  void Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      long n = port_->Write(bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      pollfd p{port_->PollFd(), POLLOUT, 0};
      ASSERT_GT(::poll(&p, 1, 5000), 0) << "the simulator takes no bytes";
    }
  }
  std::string ReadUntil(const std::string& needle, int ms) {
    std::string got;
    uint64_t end = NowMs() + static_cast<uint64_t>(ms);
    while (got.find(needle) == std::string::npos && NowMs() < end) {
      char buf[4096];
      long n = port_->Read(buf, sizeof buf);
      if (n > 0) {
        got.append(buf, static_cast<size_t>(n));
        continue;
      }
      pollfd p{port_->PollFd(), POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(end - NowMs()) + 1);
    }
    return got;
  }
  std::string ReadFor(int ms) { return ReadUntil(std::string(1, '\0') + "never", ms); }
  std::string Command(const std::string& line) {
    Send(line + "\r");
    std::string got = ReadUntil("\r\n", 1000);
    return got + ReadFor(30);
  }

 private:
  std::unique_ptr<ByteStream> port_;
  std::string error_;
};

// Sends lines on the control socket; the replies.
std::string Control(const std::string& path, const std::string& lines) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return "cannot connect";
  }
  ::send(fd, lines.data(), lines.size(), MSG_NOSIGNAL);
  ::shutdown(fd, SHUT_WR);
  std::string replies;
  char buf[256];
  pollfd p{fd, POLLIN, 0};
  while (::poll(&p, 1, 2000) > 0) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    replies.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return replies;
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    ::closedir(d);
  }
  return names;
}

// CPU time the process has used, in ms.
uint64_t CpuMs(pid_t pid) {
  std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  std::istringstream in(stat.substr(close + 2));
  std::string field;
  uint64_t utime = 0, stime = 0;
  for (int i = 3; i <= 15 && in >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return (utime + stime) * 1000 / static_cast<uint64_t>(::sysconf(_SC_CLK_TCK));
}

TEST(ModemSimProgram, AnswersOnItsLinkRingsFromTheControlSocketAndExitsCleanly) {
  ScratchDir scratch;
  const std::string& dir = scratch.Path();
  std::string link = dir + "/dev/modem", ctl = dir + "/ctl", log = dir + "/t.jsonl";
  Simulator sim({"--link", link, "--control", ctl, "--transcript", log});
  ASSERT_EQ(sim.Device(), link) << sim.Errors();
  Port port(link);
  ASSERT_TRUE(port.IsOpen()) << port.Error();
  EXPECT_EQ(port.Command("AT"), "AT\r\r\nOK\r\n");
  EXPECT_EQ(port.Command("ATE0V1"), "ATE0V1\r\r\nOK\r\n");
  EXPECT_EQ(Control(ctl, "ring 2\nring bad\n"), "ok\nerror: bad ring count \"bad\"\n");
  EXPECT_EQ(port.ReadUntil("RING\r\n", 500), "\r\nRING\r\n");
  // Idle between rings costs next to nothing: the loop sleeps in poll.
  uint64_t cpu = CpuMs(sim.Pid());
  EXPECT_EQ(port.ReadFor(1500), "");
  EXPECT_LE(CpuMs(sim.Pid()) - cpu, 30u);
  EXPECT_EQ(sim.Stop(), 0);
  struct stat st {};
  EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link is left behind";
  EXPECT_NE(::lstat(ctl.c_str(), &st), 0) << "the socket is left behind";
  std::string transcript = ReadFile(log);
  EXPECT_NE(transcript.find("\"kind\":\"command\",\"text\":\"ATE0V1\""), std::string::npos);
  EXPECT_NE(transcript.find("\"kind\":\"ring\",\"n\":1"), std::string::npos);
  EXPECT_NE(transcript.find("\"kind\":\"exit\",\"signal\":15"), std::string::npos);
}

TEST(ModemSimProgram, ClosingTheDeviceDropsDtrAndAnotherHostCanOpenIt) {
  ScratchDir scratch;
  const std::string& dir = scratch.Path();
  std::string log = dir + "/t.jsonl";
  Simulator sim({"--transcript", log, "--dialect", "is-101"});
  ASSERT_FALSE(sim.Device().empty()) << sim.Errors();
  {
    Port port(sim.Device());  // SerialPort takes it exclusively
    ASSERT_TRUE(port.IsOpen()) << port.Error();
    EXPECT_EQ(port.Command("ATE0"), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(port.Command("AT+FCLASS=8"), "\r\nOK\r\n");
    EXPECT_EQ(port.Command("AT+VLS=1"), "\r\nOK\r\n");
  }
  ::usleep(100000);
  Port again(sim.Device());
  ASSERT_TRUE(again.IsOpen()) << again.Error();
  // Nothing of the old session is left in the line, and the modem hung up.
  EXPECT_EQ(again.Command("AT"), "\r\nOK\r\n");
  EXPECT_EQ(sim.Stop(SIGINT), 0);
  std::string transcript = ReadFile(log);
  EXPECT_NE(transcript.find("\"kind\":\"hook\",\"text\":\"on\",\"by\":\"dtr\""),
            std::string::npos);
}

// A 1 s prompt goes out through the pty at the line's rate and is kept byte for byte.
TEST(ModemSimProgram, TransmitIsPacedAndKeptAsAWavFile) {
  for (const char* dialect : {"rockwell", "usr"}) {
    SCOPED_TRACE(dialect);
    ScratchDir scratch;
  const std::string& dir = scratch.Path();
    Simulator sim({"--dialect", dialect, "--heard-dir", dir + "/heard"});
    Port port(sim.Device());
    ASSERT_TRUE(port.IsOpen()) << port.Error() << sim.Errors();
    port.Command("ATE0");
    EXPECT_EQ(port.Command("AT#CLS=8"), "\r\nOK\r\n");
    EXPECT_EQ(port.Command("AT#VTX"), "\r\nCONNECT\r\n");
    int rate = std::string(dialect) == "usr" ? 8000 : 7200;
    std::vector<uint8_t> samples;
    std::string wire;
    for (int i = 0; i < rate; ++i) {
      auto s = static_cast<uint8_t>(128 + 100 * std::sin(i * 0.05));
      if (i % 500 == 0) s = 0x10;
      samples.push_back(s);
      wire += static_cast<char>(s);
      if (s == 0x10) wire += '\x10';
    }
    wire += "\x10\x03";
    uint64_t start = NowMs();
    port.Send(wire);
    EXPECT_EQ(port.ReadUntil("VCON\r\n", 3000), "\r\nVCON\r\n");
    // Never faster than the line plays; slower only by scheduling on a busy machine.
    uint64_t took = NowMs() - start;
    EXPECT_GE(took, 990u);
    EXPECT_LE(took, 1400u);
    EXPECT_EQ(sim.Stop(), 0);
    std::string heard = dir + "/heard";
    std::vector<std::string> names = FilesIn(heard);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind("heard-", 0), 0u);
    std::string name = names[0];
    WavLoad kept = LoadWavSamples(heard + "/" + name);
    ASSERT_TRUE(kept.samples) << kept.error;
    EXPECT_EQ(*kept.samples, samples);
    EXPECT_EQ(kept.rate, rate);
  }
}

TEST(ModemSimProgram, ReceiveStreamsTheCallerAndEndsOnCancel) {
  ScratchDir scratch;
  const std::string& dir = scratch.Path();
  std::vector<uint8_t> voice;
  for (int i = 0; i < 7200 * 2; ++i)
    voice.push_back(static_cast<uint8_t>(128 + 90 * std::sin(i * 0.07) + (i % 3)));
  std::string error;
  ASSERT_TRUE(WriteWavFile(dir + "/caller.wav", voice, 7200, error)) << error;
  std::ofstream(dir + "/call.scn") << "# a caller who says something\n"
                                      "caller caller.wav\n"
                                      "after 500ms ring 4\n";
  Simulator sim({"--scenario", dir + "/call.scn"});
  Port port(sim.Device());
  ASSERT_TRUE(port.IsOpen()) << port.Error() << sim.Errors();
  port.Command("ATE0");
  port.Command("AT#CLS=8");
  EXPECT_NE(port.ReadUntil("RING\r\n", 7000).find("RING"), std::string::npos);
  EXPECT_EQ(port.Command("ATA"), "\r\nVCON\r\n");
  port.Send("AT#VRX\r");
  ASSERT_EQ(port.ReadUntil("CONNECT\r\n", 1000), "\r\nCONNECT\r\n");
  std::string wire = port.ReadFor(1000);
  port.Send("\x18");
  wire += port.ReadUntil("VCON\r\n", 1000);
  size_t end = wire.find("\x10\x03\r\nVCON\r\n");
  ASSERT_NE(end, std::string::npos);
  std::string got = Unshield(wire.substr(0, end));
  EXPECT_GE(got.size(), 7200u * 95 / 100);
  EXPECT_LE(got.size(), 7200u * 140 / 100);
  EXPECT_EQ(got, std::string(voice.begin(), voice.begin() + static_cast<long>(got.size())));
  EXPECT_EQ(sim.Stop(), 0);
}

// The real driver on the pseudo-terminal, on the real clock: a prompt reaches the line
// byte for byte without a gap, and a caller comes back sample for sample.
TEST(ModemSimProgram, DriverPlaysAndRecordsThroughThePty) {
  ScratchDir scratch;
  const std::string& dir = scratch.Path();
  std::vector<uint8_t> voice;
  for (int i = 0; i < 7200 * 2; ++i)
    voice.push_back(static_cast<uint8_t>(128 + 100 * std::sin(i * 0.09)));
  std::vector<uint8_t> prompt;
  for (int i = 0; i < 7200 * 2; ++i)
    prompt.push_back(i % 50 == 0 ? 0x10 : static_cast<uint8_t>(128 + 80 * std::cos(i * 0.03)));
  std::string error;
  ASSERT_TRUE(WriteWavFile(dir + "/caller.wav", voice, 7200, error)) << error;
  ASSERT_TRUE(WriteWavFile(dir + "/prompt.wav", prompt, 7200, error)) << error;
  std::string log = dir + "/t.jsonl";
  Simulator sim({"--caller", dir + "/caller.wav", "--control", dir + "/ctl", "--transcript",
                 log, "--heard-dir", dir + "/heard"});
  ASSERT_FALSE(sim.Device().empty()) << sim.Errors();

  RealClock clock;
  EventLoop loop(clock, std::make_unique<PollWaiter>(clock));
  SetWaitLoop(&loop);
  {
    std::string device = sim.Device();
    FMODEM modem([device](int, int baud) { return SerialPort::Open(device, baud); });
    ASSERT_EQ(modem.OpenComm(2, 1152), 1) << modem.OpenError();
    EXPECT_EQ(modem.SendCommand("AT&F&C1&D2"), ResultOk);
    EXPECT_EQ(modem.SendCommand("ATE0V1"), ResultOk);
    modem.SetModemType(Rockwell);
    EXPECT_EQ(modem.SetVoiceMode(), ResultOk);
    EXPECT_EQ(Control(dir + "/ctl", "ring 2\n"), "ok\n");
    EXPECT_EQ(modem.WaitResult("QQ", 400), ResultRing);
    ASSERT_EQ(modem.Answer(), 1);
    EXPECT_EQ(modem.SetSilenceDetection(), 1);
    uint64_t start = NowMs();
    EXPECT_EQ(modem.PlayFile(dir + "/prompt.wav"), 1);
    EXPECT_GE(NowMs() - start, 1990u);
    EXPECT_LE(NowMs() - start, 2600u);
    EXPECT_EQ(modem.RecordFile(dir + "/message.wav"), 1);
    std::ifstream in(dir + "/message.wav", std::ios::binary);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GE(file.size(), 44 + voice.size());
    EXPECT_TRUE(std::equal(voice.begin(), voice.end(), file.begin() + 44));
    EXPECT_EQ(modem.HangUp(), 1);
    modem.CloseComm();
  }
  SetWaitLoop(nullptr);
  EXPECT_EQ(sim.Stop(), 0);
  std::vector<std::string> kept = FilesIn(dir + "/heard");
  ASSERT_EQ(kept.size(), 1u);
  WavLoad heard = LoadWavSamples(dir + "/heard/" + kept[0]);
  ASSERT_TRUE(heard.samples) << heard.error;
  EXPECT_EQ(*heard.samples, prompt);
  std::string transcript = ReadFile(log);
  EXPECT_NE(transcript.find("\"kind\":\"voice-tx-end\",\"phase\":1,\"device\":\"line\",\"samples\":14400"),
            std::string::npos);
  // No gap longer than one 512-byte block (71 ms) while the prompt played.
  size_t gap = transcript.find("\"longestGapMs\":");
  ASSERT_NE(gap, std::string::npos);
  EXPECT_LE(std::stoi(transcript.substr(gap + 15)), 71);
}

TEST(ModemSimProgram, RefusesBadOptionsAndWillNotReplaceFiles) {
  ScratchDir scratch;
  const std::string& dir = scratch.Path();
  {
    Simulator sim({"--dialect", "hayes"});
    EXPECT_EQ(sim.Device(), "");
    EXPECT_EQ(sim.Wait(3000), 2);
    EXPECT_NE(sim.Errors().find("unknown dialect hayes"), std::string::npos);
  }
  {
    std::ofstream(dir + "/bad.scn") << "after 1s ring\nwait nothing\n";
    Simulator sim({"--scenario", dir + "/bad.scn"});
    EXPECT_EQ(sim.Wait(3000), 1);
    EXPECT_NE(sim.Errors().find("line 2: unknown event \"nothing\""), std::string::npos);
  }
  {
    std::ofstream(dir + "/precious") << "keep me";
    Simulator sim({"--link", dir + "/precious"});
    EXPECT_EQ(sim.Wait(3000), 1);
    EXPECT_EQ(ReadFile(dir + "/precious"), "keep me");
    Simulator sim2({"--control", dir + "/precious"});
    EXPECT_EQ(sim2.Wait(3000), 1);
    EXPECT_EQ(ReadFile(dir + "/precious"), "keep me");
  }
  {
    Simulator sim({"--help"});
    EXPECT_EQ(sim.Device().rfind("usage: telvara-modemsim", 0), 0u);
    EXPECT_EQ(sim.Wait(3000), 0);
  }
}

}  // namespace
}  // namespace telvara::sim
