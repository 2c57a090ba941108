// telvara-modemsim as a program: started on a pseudo-terminal and driven through a
// real SerialPort, with its control socket, link and transcript. (Voice through the
// program is checked in the end-to-end voice tests.)
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

#include "Process.h"
#include "SimHost.h"
#include "platform/SerialPort.h"

namespace telvara::sim {
namespace {

using telvara::testing::Process;
using testing::ScratchDir;
using Ms = std::chrono::milliseconds;

const std::string kProgram = std::string(TELVARA_BINARY_DIR) + "/telvara-modemsim";

uint64_t NowMs() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<Ms>(now).count());
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Runs the program with its error output on the same pipe; the first line is the
// device to open (or the reason it did not start).
struct Simulator {
  explicit Simulator(const std::vector<std::string>& args)
      : process(Command(args)) { process.ReadLine(device, 5000); }
  static std::vector<std::string> Command(std::vector<std::string> args) {
    args.insert(args.begin(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", kProgram});
    return args;
  }
  int Stop(int signal = SIGTERM) {
    process.Signal(signal);
    return process.Wait(3000);
  }
  Process process;
  std::string device;
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

// CPU time that ended child processes have used, in ms.
uint64_t ChildrenCpuMs() {
  rusage r{};
  ::getrusage(RUSAGE_CHILDREN, &r);
  auto ms = [](const timeval& t) { return static_cast<uint64_t>(t.tv_sec) * 1000 + t.tv_usec / 1000; };
  return ms(r.ru_utime) + ms(r.ru_stime);
}

TEST(ModemSimProgram, AnswersOnItsLinkRingsFromTheControlSocketAndExitsCleanly) {
  ScratchDir scratch;
  const std::string& dir = scratch.Path();
  std::string link = dir + "/dev/modem", ctl = dir + "/ctl", log = dir + "/t.jsonl";
  uint64_t cpu = ChildrenCpuMs();
  {
    Simulator sim({"--link", link, "--control", ctl, "--transcript", log});
    ASSERT_EQ(sim.device, link);
    Port port(link);
    ASSERT_TRUE(port.IsOpen()) << port.Error();
    EXPECT_EQ(port.Command("AT"), "AT\r\r\nOK\r\n");
    EXPECT_EQ(port.Command("ATE0V1"), "ATE0V1\r\r\nOK\r\n");
    EXPECT_EQ(Control(ctl, "ring 2\nring bad\n"), "ok\nerror: bad ring count \"bad\"\n");
    EXPECT_EQ(port.ReadUntil("RING\r\n", 500), "\r\nRING\r\n");
    EXPECT_EQ(port.ReadFor(1500), "");
    EXPECT_EQ(sim.Stop(), 0);
  }
  // Idle between rings costs next to nothing: the loop sleeps in poll.
  EXPECT_LE(ChildrenCpuMs() - cpu, 100u);
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
  ASSERT_EQ(sim.device.rfind("/dev/pts/", 0), 0u) << sim.device;
  {
    Port port(sim.device);  // SerialPort takes it exclusively
    ASSERT_TRUE(port.IsOpen()) << port.Error();
    EXPECT_EQ(port.Command("ATE0"), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(port.Command("AT+FCLASS=8"), "\r\nOK\r\n");
    EXPECT_EQ(port.Command("AT+VLS=1"), "\r\nOK\r\n");
  }
  ::usleep(100000);
  Port again(sim.device);
  ASSERT_TRUE(again.IsOpen()) << again.Error();
  // Nothing of the old session is left in the line, and the modem hung up.
  EXPECT_EQ(again.Command("AT"), "\r\nOK\r\n");
  EXPECT_EQ(sim.Stop(SIGINT), 0);
  std::string transcript = ReadFile(log);
  EXPECT_NE(transcript.find("\"kind\":\"hook\",\"text\":\"on\",\"by\":\"dtr\""),
            std::string::npos);
}

TEST(ModemSimProgram, RefusesBadOptionsAndWillNotReplaceFiles) {
  ScratchDir scratch;
  const std::string& dir = scratch.Path();
  std::ofstream(dir + "/bad.scn") << "after 1s ring\nwait nothing\n";
  std::ofstream(dir + "/precious") << "keep me";
  const struct {
    std::vector<std::string> args;
    const char* firstLine;
    int status;
  } cases[] = {
      {{"--dialect", "hayes"}, "unknown dialect hayes", 2},
      {{"--scenario", dir + "/bad.scn"}, "line 2: unknown event \"nothing\"", 1},
      {{"--link", dir + "/precious"}, "", 1},
      {{"--control", dir + "/precious"}, "", 1},
      {{"--help"}, "usage: telvara-modemsim", 0},
  };
  for (const auto& c : cases) {
    Simulator sim(c.args);
    EXPECT_NE(sim.device.find(c.firstLine), std::string::npos) << c.args[0] << ": " << sim.device;
    EXPECT_EQ(sim.process.Wait(3000), c.status) << c.args[0];
    EXPECT_EQ(ReadFile(dir + "/precious"), "keep me");
  }
}

}  // namespace
}  // namespace telvara::sim
