// telvara-modemsim as a program on a pseudo-terminal, driven through a real SerialPort,
// with its control socket (reached with --send), link and transcript. (Voice through
// it: the e2e tests.)
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>

#include "Process.h"
#include "SimHost.h"
#include "platform/SerialPort.h"

namespace telvara::sim {
namespace {

// The program with its error output on the same pipe: the first line is the device to
// open, or why it did not start.
struct Simulator {
  explicit Simulator(std::vector<std::string> args) {
    args.insert(args.begin(),
                {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", std::string(TELVARA_BINARY_DIR) + "/telvara-modemsim"});
    process = std::make_unique<telvara::testing::Process>(args);
    process->ReadLine(device, 5000);
  }
  std::unique_ptr<telvara::testing::Process> process;
  std::string device;
};

// telvara-modemsim --send with `input` on its standard input: all it printed (errors
// too) and its exit status.
std::pair<std::string, int> Send(const std::vector<std::string>& args, const std::string& input = "") {
  std::vector<std::string> argv = {
      "/bin/sh", "-c", "printf %s \"$0\" | \"$@\" 2>&1", input, std::string(TELVARA_BINARY_DIR) + "/telvara-modemsim",
      "--send"};
  argv.insert(argv.end(), args.begin(), args.end());
  telvara::testing::Process process(argv);
  for (std::string line; process.ReadLine(line, 3000);) {
  }
  return {process.Output(), process.Wait(3000)};
}

TEST(ModemSimProgram, AnswersOnItsLinkRingsFromTheControlSocketAndHangsUpWhenTheHostCloses) {
  telvara::testing::ScratchDir dir;
  std::string link = dir.Path() + "dev/modem", ctl = dir.Path() + "ctl", log = dir.Path() + "t";
  Simulator sim({"--link", link, "--control", ctl, "--transcript", log, "--dialect", "is-101"});
  ASSERT_EQ(sim.device, link);
  RealClock clock;  // the host waits in poll()
  EventLoop loop(clock, std::make_unique<PollWaiter>(clock));
  {
    PortOpenResult port = SerialPort::Open(link, 115200, dir.Path());  // exclusively
    ASSERT_TRUE(port.stream) << port.error;
    testing::RawHost host(loop, *port.stream);
    host.Send("ATE0V1\rAT+FCLASS=8\rAT+VLS=1\r");
    EXPECT_EQ(host.ReadUntil("OK\r\n\r\nOK\r\n\r\nOK\r\n", 1000), "ATE0V1\r\r\nOK\r\n\r\nOK\r\n\r\nOK\r\n");
    EXPECT_EQ(
        Send({ctl}, "ring 2\nring bad"),
        std::make_pair(std::string("ok\nerror: bad ring count \"bad\"\n"
                                   "telvara-modemsim: the simulator refused \"ring bad\": bad ring count \"bad\"\n"),
                       1));
    EXPECT_EQ(host.ReadFor(300), "");  // off hook: the caller hears a busy tone
  }
  ::usleep(100000);
  // Another host can open it; nothing of the old session is left, and the modem hung up.
  PortOpenResult port = SerialPort::Open(link, 115200, dir.Path());
  ASSERT_TRUE(port.stream) << port.error;
  testing::RawHost host(loop, *port.stream);
  EXPECT_EQ(Send({ctl, "ring 2"}), std::make_pair(std::string("ok\n"), 0));
  EXPECT_EQ(host.ReadFor(500), "\r\nRING\r\n");
  sim.process->Signal(SIGTERM);
  EXPECT_EQ(sim.process->Wait(3000), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(link)) << "the link is left behind";
  EXPECT_FALSE(std::filesystem::exists(ctl)) << "the socket is left behind";
  auto [said, status] = Send({ctl, "ring"});
  EXPECT_NE(said.find("cannot reach the control socket " + ctl + ": No such file"), std::string::npos) << said;
  EXPECT_EQ(status, 1);
  for (const char* line : {"\"kind\":\"command\",\"text\":\"ATE0V1\"", "\"kind\":\"ring\",\"n\":1",
                           "\"kind\":\"hook\",\"text\":\"on\",\"by\":\"dtr\"", "\"kind\":\"exit\",\"signal\":15"})
    EXPECT_NE(telvara::testing::ReadFileText(log).find(line), std::string::npos) << line;
}

TEST(ModemSimProgram, RefusesBadOptionsAndWillNotReplaceFiles) {
  telvara::testing::ScratchDir dir;
  std::ofstream(dir.Path() + "bad.scn") << "after 1s ring\nwait nothing\n";
  std::ofstream(dir.Path() + "precious") << "keep me";
  const std::tuple<std::vector<std::string>, const char*, int> cases[] = {
      {{"--dialect", "hayes"}, "unknown dialect hayes", 2},
      {{"--scenario", dir.Path() + "bad.scn"}, "line 2: unknown event \"nothing\"", 1},
      {{"--link", dir.Path() + "precious"}, "exists and is not a symlink; not replacing it", 1},
      {{"--control", dir.Path() + "precious"}, "", 1},
      {{"--help"}, "usage: telvara-modemsim", 0},
  };
  for (const auto& [args, firstLine, status] : cases) {
    Simulator sim(args);
    EXPECT_NE(sim.device.find(firstLine), std::string::npos) << args[0] << ": " << sim.device;
    EXPECT_EQ(sim.process->Wait(3000), status) << args[0];
    EXPECT_EQ(telvara::testing::ReadFileText(dir.Path() + "precious"), "keep me");
  }
}

}  // namespace
}  // namespace telvara::sim
