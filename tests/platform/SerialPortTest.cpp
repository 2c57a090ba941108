// SerialPort on a pseudo-terminal: the test plays the modem on the master side. The
// kernel's own termios2 header (not <termios.h>) reads the line back, rates without a
// Bnnn constant included.
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Files.h"
#include "platform/EventLoop.h"
#include "platform/Profile.h"
#include "platform/SerialDevices.h"
#include "platform/SerialPort.h"

using namespace telvara;

namespace {

struct Pty {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  std::string path = master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : "";
  ~Pty() { close(master); }
};

TEST(SerialPort, AHungUpLineIsReportedOnceAndThenNoWaitSpinsOnIt) {
  Pty pty;
  telvara::testing::ScratchDir locks;
  PortOpenResult r = SerialPort::Open(pty.path, 115200, locks.Path());
  ASSERT_TRUE(r.stream);
  RealClock clock;
  EventLoop loop(clock, std::make_unique<PollWaiter>(clock));
  loop.GetWaiter().Watch(r.stream.get());
  close(pty.master);  // the far side goes: the descriptor reports a hang-up for ever
  pty.master = open("/dev/null", O_RDONLY);
  char buf[8];
  r.stream->Read(buf, sizeof buf);
  uint32_t start = clock.Now();
  loop.WaitUntil(start + 200, WaitFor::Input);
  EXPECT_TRUE(loop.GetWaiter().StreamFailed());
  loop.WaitUntil(start + 200, WaitFor::Input);
  EXPECT_GE(clock.Now() - start, 190u);
  loop.GetWaiter().Watch(nullptr);
}

// The device itself is exclusive too: the second open here finds no lock file (another
// folder), and only root gets past the exclusive mode.
TEST(SerialPort, OpenIsExclusiveUntilClosed) {
  Pty pty;
  telvara::testing::ScratchDir locks, otherLocks;
  PortOpenResult first = SerialPort::Open(pty.path, 115200, locks.Path());
  ASSERT_TRUE(first.stream);
  int exclusive = 0;
  ASSERT_EQ(ioctl(first.stream->PollFd(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
  EXPECT_TRUE(geteuid() == 0 || !SerialPort::Open(pty.path, 115200, otherLocks.Path()).stream);
  int fd = dup(first.stream->PollFd());
  first.stream.reset();
  ASSERT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  close(fd);
}

// Raw 8N1 with RTS/CTS, and HUPCL so that the last close drops DTR; the rate by its
// Bnnn constant, or by termios2 where there is none.
TEST(SerialPort, SetsRawEightBitsHardwareFlowAndTheRate) {
  telvara::testing::ScratchDir locks;
  for (auto [baud, code] : {std::pair{57600, B57600}, {115200, B115200}, {56000, BOTHER}, {128000, BOTHER}}) {
    Pty pty;
    PortOpenResult r = SerialPort::Open(pty.path, baud, locks.Path());
    ASSERT_TRUE(r.stream) << r.error;
    termios2 tio{};
    ASSERT_EQ(ioctl(r.stream->PollFd(), TCGETS2, &tio), 0);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL), tcflag_t(CS8 | CRTSCTS | HUPCL));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(tio.c_cflag & CBAUD, tcflag_t(code)) << baud;
    EXPECT_EQ(tio.c_ospeed, speed_t(baud));
  }
}

TEST(SerialPort, TheDeviceFromThePortsSectionThenTtySAndFailuresWithAReason) {
  std::string path = ::testing::TempDir() + "ports_" + std::to_string(getpid()) + ".ini";
  std::ofstream(path) << "[PORTS]\nCOM2=/dev/pts/7\n";
  Profile p(path);
  EXPECT_EQ(SerialDevicePath(p, 2), "/dev/pts/7");
  EXPECT_EQ(SerialDevicePath(p, 1), "/dev/ttyS0");
  EXPECT_EQ(SerialDevicePath(p, 4), "/dev/ttyS3");
  EXPECT_EQ(SerialDevicePath(p, 0), "");
  EXPECT_EQ(SerialDevicePath(p, -3), "");
  unlink(path.c_str());
  const std::pair<std::string, std::string> failures[] = {
      {"/dev/telvara-no-such-device", "/dev/telvara-no-such-device"}, {"/dev/null", "not a serial device"}};
  telvara::testing::ScratchDir locks;
  for (auto [device, reason] : failures) {
    PortOpenResult r = SerialPort::Open(device, 19200, locks.Path());
    EXPECT_FALSE(r.stream);
    EXPECT_NE(r.error.find(reason), std::string::npos) << r.error;
  }
  PortOpenResult r = MakeSerialPortOpener(p)(0, 19200);  // names no device
  EXPECT_FALSE(r.stream);
  EXPECT_NE(r.error.find("COM0"), std::string::npos) << r.error;
}

// A device folder of files: the stable names first, then ACM and USB devices by
// number; ttyS entries without a UART behind them (here: not even a terminal) and
// other names are left out.
TEST(SerialDevices, OffersTheStableNamesThenTheNumberedDevices) {
  telvara::testing::ScratchDir dev;
  std::filesystem::create_directories(dev.Path() + "serial/by-id");
  std::filesystem::create_symlink("../../ttyACM0", dev.Path() + "serial/by-id/usb-Modem-if00");
  for (const char* name : {"ttyACM0", "ttyUSB10", "ttyUSB2", "ttyS0", "tty1", "ttyACMx", "console"})
    std::ofstream(dev.Path() + name) << "";
  EXPECT_EQ(FindSerialDevices(dev.Path()),
            (std::vector<std::string>{dev.Path() + "serial/by-id/usb-Modem-if00", dev.Path() + "ttyACM0",
                                      dev.Path() + "ttyUSB2", dev.Path() + "ttyUSB10"}));
}

}  // namespace
