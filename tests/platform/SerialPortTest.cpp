// SerialPort on a pseudo-terminal, and the device's lock file (on a plain file as the
// device where only the lock is at stake). The kernel's termios2 header reads the line back.
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "Files.h"
#include "platform/EventLoop.h"
#include "platform/Profile.h"
#include "platform/SerialDevices.h"
#include "platform/SerialLock.h"
#include "platform/SerialPort.h"

using namespace telvara;
using telvara::testing::ReadFileText;
using telvara::testing::ScratchDir;

namespace {

struct Pty {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  std::string path = master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : "";
  std::string LockIn(const std::string& dir) const { return dir + "LCK.." + path.substr(path.rfind('/') + 1); }
  ~Pty() { close(master); }
};

std::string LockText(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

long Entries(const std::string& dir) { return std::distance(std::filesystem::directory_iterator(dir), {}); }

TEST(SerialLock, WrittenInTheUucpFormatAndRemovedOnCloseWhileStillOurs) {
  Pty pty;
  ScratchDir locks;
  std::string lock = pty.LockIn(locks.Path());
  PortOpenResult r = SerialPort::Open(pty.path, 115200, locks.Path());
  ASSERT_TRUE(r.stream && r.notice.empty()) << r.error;
  EXPECT_EQ(ReadFileText(lock), LockText(getpid()));
  EXPECT_EQ(Entries(locks.Path()), 1);  // no temporary file left beside it
  r.stream.reset();
  EXPECT_FALSE(std::filesystem::exists(lock));

  // A lock that names another process by the time of the close is not ours to remove.
  r = SerialPort::Open(pty.path, 115200, locks.Path());
  ASSERT_TRUE(r.stream) << r.error;
  std::ofstream(lock) << LockText(getppid());
  r.stream.reset();
  EXPECT_EQ(ReadFileText(lock), LockText(getppid()));
}

// Another live process, or this one under another name of the device, holds the lock.
TEST(SerialLock, ALiveHolderRefusesTheOpenNamingIt) {
  Pty pty;
  ScratchDir locks, dev;
  std::string lock = pty.LockIn(locks.Path()), link = dev.Path() + "usb-Modem-if00";
  std::ofstream(lock) << LockText(getppid());
  PortOpenResult r = SerialPort::Open(pty.path, 115200, locks.Path());
  EXPECT_EQ(r.error, "Modem in use by process " + std::to_string(getppid()) + " (lock file " + lock + ")");
  EXPECT_TRUE(!r.stream && ReadFileText(lock) == LockText(getppid()));
  unlink(lock.c_str());
  std::filesystem::create_symlink(pty.path, link);
  PortOpenResult first = SerialPort::Open(link, 115200, locks.Path());
  ASSERT_TRUE(first.stream) << first.error;
  EXPECT_EQ(SerialPort::Open(pty.path, 115200, locks.Path()).error,
            "Modem in use by process " + std::to_string(getpid()) + " (lock file " + lock + ")");
}

// Gone: an ended process, an impossible PID, no PID, our own PID that we do not hold (an exec's).
TEST(SerialLock, AStaleLockIsTakenOver) {
  ScratchDir dir;
  std::string device = dir.Path() + "ttyX", lock = dir.Path() + "LCK..ttyX";
  std::ofstream(device) << "";
  pid_t ended = fork();
  if (ended == 0) _exit(0);
  ASSERT_GT(ended, 0);
  waitpid(ended, nullptr, 0);
  for (const std::string& stale : {LockText(ended), LockText(999999999), std::string("garbage\n"), std::string(""),
                                   std::string("-5\n"), std::string(100, '7'), LockText(getpid())}) {
    std::ofstream(lock) << stale;
    SerialLockResult r = AcquireSerialLock(device, dir.Path());
    EXPECT_TRUE(r.lock.Held() && ReadFileText(lock) == LockText(getpid())) << stale << r.refusal << r.notice;
    r.lock.Release();
    EXPECT_FALSE(std::filesystem::exists(lock)) << stale;
  }
}

// Many takers of one stale lock at once: exactly one gets it. The race is narrow: 200 rounds.
TEST(SerialLock, OnlyOneOfManyTakesAStaleLockOver) {
  ScratchDir dir;
  std::string device = dir.Path() + "ttyX";
  std::ofstream(device) << "";
  constexpr int kTakers = 8;
  for (int round = 0; round < 200 && !HasFailure(); ++round) {
    std::ofstream(dir.Path() + "LCK..ttyX") << "garbage\n";
    int go[2], hold[2], done[2];
    ASSERT_EQ(pipe(go) | pipe(hold) | pipe(done), 0);
    std::vector<pid_t> takers;
    for (int i = 0; i < kTakers; ++i) {
      pid_t pid = fork();
      if (pid == 0) {
        close(go[1]);
        close(hold[1]);
        char c;
        (void)!read(go[0], &c, 1);  // all start when the parent closes its end
        SerialLockResult r = AcquireSerialLock(device, dir.Path());
        char said = r.lock.Held() ? 'W' : !r.refusal.empty() ? 'R' : '?';
        (void)!write(done[1], &said, 1);
        (void)!read(hold[0], &c, 1);  // the winner stays alive while the others look
        _exit(0);
      }
      takers.push_back(pid);
    }
    close(go[1]);
    std::string said;
    pollfd p{done[0], POLLIN, 0};
    while (said.size() < kTakers && poll(&p, 1, 10000) == 1) {
      char c;
      if (read(done[0], &c, 1) == 1) said += c;
    }
    close(hold[1]);
    for (pid_t pid : takers) waitpid(pid, nullptr, 0);
    for (int fd : {go[0], hold[0], done[0], done[1]}) close(fd);
    std::sort(said.begin(), said.end());
    EXPECT_EQ(said, std::string(kTakers - 1, 'R') + "W") << " in round " << round;
  }
}

// No folder, a file in its place, or (but for root) a read-only folder: opened, without a lock.
TEST(SerialLock, AnUnusableLockFolderStillOpensAndSaysSo) {
  Pty pty;
  ScratchDir dir;
  std::ofstream(dir.Path() + "file") << "";
  std::filesystem::create_directory(dir.Path() + "readonly");
  chmod((dir.Path() + "readonly").c_str(), 0555);
  std::vector<std::string> folders = {dir.Path() + "missing", dir.Path() + "file"};
  if (geteuid() != 0) folders.push_back(dir.Path() + "readonly");
  for (const std::string& folder : folders) {
    PortOpenResult r = SerialPort::Open(pty.path, 115200, folder);
    EXPECT_TRUE(r.stream && r.notice.starts_with("Modem not locked: cannot write in " + folder)) << r.notice << r.error;
  }
  EXPECT_EQ(Entries(dir.Path() + "readonly"), 0);
}

TEST(SerialPort, AHungUpLineIsReportedOnceAndThenNoWaitSpinsOnIt) {
  Pty pty;
  ScratchDir locks;
  PortOpenResult r = SerialPort::Open(pty.path, 115200, locks.Path());
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

// The device itself is exclusive too (a second open with another lock folder); root gets past it.
TEST(SerialPort, OpenIsExclusiveUntilClosed) {
  Pty pty;
  ScratchDir locks, otherLocks;
  PortOpenResult first = SerialPort::Open(pty.path, 115200, locks.Path());
  int exclusive = 0, fd = dup(first.stream->PollFd());
  EXPECT_TRUE(ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive == 1);
  EXPECT_TRUE(geteuid() == 0 || !SerialPort::Open(pty.path, 115200, otherLocks.Path()).stream);
  first.stream.reset();
  EXPECT_TRUE(ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive == 0);
  close(fd);
}

// Raw 8N1 with RTS/CTS and HUPCL (the last close drops DTR); a rate without a Bnnn constant too.
TEST(SerialPort, SetsRawEightBitsHardwareFlowAndTheRate) {
  ScratchDir locks;
  for (auto [baud, code] : {std::pair{57600, B57600}, {56000, BOTHER}}) {
    Pty pty;
    PortOpenResult r = SerialPort::Open(pty.path, baud, locks.Path());
    ASSERT_TRUE(r.stream) << r.error;
    termios2 tio{};
    ASSERT_EQ(ioctl(r.stream->PollFd(), TCGETS2, &tio), 0);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL | CBAUD),
              tcflag_t(CS8 | CRTSCTS | HUPCL | code));
    EXPECT_EQ((tio.c_lflag & (ICANON | ECHO | ISIG)) | (tio.c_iflag & (IXON | IXOFF | ICRNL)), 0u);
    EXPECT_EQ(tio.c_ospeed, speed_t(baud));
  }
}

// [PORTS] COMn=: every program test (ProgramTest).
TEST(SerialPort, TtySWithoutAPortsEntryAndFailuresWithAReason) {
  Profile p;
  EXPECT_EQ(SerialDevicePath(p, 1), "/dev/ttyS0");
  ScratchDir locks;
  for (auto [device, reason] : {std::pair{"/dev/telvara-no-such-device", "/dev/telvara-no-such-device"},
                                {"/dev/null", "not a serial device"}}) {
    PortOpenResult r = SerialPort::Open(device, 19200, locks.Path());
    EXPECT_TRUE(!r.stream && r.error.find(reason) != std::string::npos) << r.error;
  }
  PortOpenResult r = MakeSerialPortOpener(p)(0, 19200);  // names no device
  EXPECT_TRUE(!r.stream && r.error.find("COM0") != std::string::npos) << r.error;
}

// The stable names first, then ACM and USB devices by number; ttyS without a UART left out.
TEST(SerialDevices, OffersTheStableNamesThenTheNumberedDevices) {
  ScratchDir dev;
  std::filesystem::create_directories(dev.Path() + "serial/by-id");
  std::filesystem::create_symlink("../../ttyACM0", dev.Path() + "serial/by-id/usb-Modem-if00");
  for (const char* name : {"ttyACM0", "ttyUSB10", "ttyUSB2", "ttyS0", "tty1", "ttyACMx", "console"})
    std::ofstream(dev.Path() + name) << "";
  EXPECT_EQ(FindSerialDevices(dev.Path()),
            (std::vector<std::string>{dev.Path() + "serial/by-id/usb-Modem-if00", dev.Path() + "ttyACM0",
                                      dev.Path() + "ttyUSB2", dev.Path() + "ttyUSB10"}));
}

}  // namespace
