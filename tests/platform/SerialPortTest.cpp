#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>

#include "platform/EventLoop.h"
#include "platform/Profile.h"
#include "platform/SerialPort.h"

using namespace telvara;

namespace {

// A pseudo-terminal pair: the test plays the modem on the master side.
struct Pty {
  int master = -1, slave = -1;
  std::string path;
  Pty() {
    char name[256];
    termios raw{};
    cfmakeraw(&raw);
    EXPECT_EQ(openpty(&master, &slave, name, &raw, nullptr), 0);
    path = name;
    fcntl(master, F_SETFL, O_NONBLOCK);
  }
  ~Pty() {
    close(master);
    close(slave);
  }
};

TEST(SerialPort, MovesBytesBothWaysWithoutBlocking) {
  Pty pty;
  PortOpenResult r = SerialPort::Open(pty.path, 115200);
  ASSERT_TRUE(r.stream) << r.error;
  char buf[16];
  EXPECT_EQ(r.stream->Read(buf, sizeof buf), 0);  // nothing waiting: no block
  ASSERT_EQ(write(pty.master, "OK\r\n", 4), 4);
  usleep(20000);
  EXPECT_EQ(r.stream->InputQueued(), 4);
  ASSERT_EQ(r.stream->Read(buf, sizeof buf), 4);
  EXPECT_EQ(std::string(buf, 4), "OK\r\n");
  EXPECT_EQ(r.stream->Write("ATZ\r", 4), 4);
  usleep(20000);
  ASSERT_EQ(read(pty.master, buf, sizeof buf), 4);
  EXPECT_EQ(std::string(buf, 4), "ATZ\r");
  EXPECT_GE(r.stream->OutputQueued(), 0);
  EXPECT_EQ(r.stream->PollFd() >= 0, true);
}

TEST(SerialPort, AHungUpLineMakesAWaitSleepNotSpin) {
  Pty pty;
  PortOpenResult r = SerialPort::Open(pty.path, 115200);
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
  EXPECT_GE(clock.Now() - start, 190u);
  loop.GetWaiter().Watch(nullptr);
}

TEST(SerialPort, OpenIsExclusive) {
  Pty pty;
  PortOpenResult first = SerialPort::Open(pty.path, 115200);
  ASSERT_TRUE(first.stream);
  int exclusive = 0;
  ASSERT_EQ(ioctl(first.stream->PollFd(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
  if (geteuid() != 0) {
    EXPECT_FALSE(SerialPort::Open(pty.path, 115200).stream);
  }
  // Closing gives the device up: it can be opened again.
  int fd = dup(first.stream->PollFd());
  first.stream.reset();
  ASSERT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  close(fd);
}

TEST(SerialPort, MissingOrWrongDevicesFailWithAReason) {
  PortOpenResult r = SerialPort::Open("/dev/telvara-no-such-device", 19200);
  EXPECT_FALSE(r.stream);
  EXPECT_NE(r.error.find("/dev/telvara-no-such-device"), std::string::npos);
  r = SerialPort::Open("/dev/null", 19200);
  EXPECT_FALSE(r.stream);
  EXPECT_NE(r.error.find("not a serial device"), std::string::npos);
  r = SerialPort::Open("", 19200);
  EXPECT_FALSE(r.stream);
}

TEST(SerialPort, SetsRawEightBitsWithHardwareFlowAndTheRate) {
  Pty pty;
  PortOpenResult r = SerialPort::Open(pty.path, 57600);
  ASSERT_TRUE(r.stream);
  termios tio{};
  ASSERT_EQ(tcgetattr(r.stream->PollFd(), &tio), 0);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & PARENB, 0u);
  EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
  EXPECT_NE(tio.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(tio.c_lflag & ICANON, 0u);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B57600));
}

TEST(SerialDevicePath, PortsSectionThenTtyS) {
  std::string path = ::testing::TempDir() + "ports_" + std::to_string(getpid()) + ".ini";
  std::ofstream(path) << "[PORTS]\nCOM2=/dev/pts/7\n";
  Profile p(path);
  EXPECT_EQ(SerialDevicePath(p, 2), "/dev/pts/7");
  EXPECT_EQ(SerialDevicePath(p, 1), "/dev/ttyS0");
  EXPECT_EQ(SerialDevicePath(p, 4), "/dev/ttyS3");
  EXPECT_EQ(SerialDevicePath(p, 0), "");
  EXPECT_EQ(SerialDevicePath(p, -3), "");
  PortOpenResult r = MakeSerialPortOpener(p)(0, 19200);
  EXPECT_FALSE(r.stream);
  EXPECT_NE(r.error.find("COM0"), std::string::npos);
  unlink(path.c_str());
}

}  // namespace
