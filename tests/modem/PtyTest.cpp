// The driver on a real pseudo-terminal, in real time: the output queue count reads 0
// there, so only the driver's own pacing keeps a prompt interruptible, and every wait
// must block in poll(). The far end is a small line emulation in a thread.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "WaveFiles.h"
#include "modem/FMODEM.h"
#include "platform/SerialPort.h"
#include "platform/Wait.h"

namespace telvara::test {
namespace {

using Clock = std::chrono::steady_clock;

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The modem end of the pseudo-terminal: answers commands, and in voice transmit takes
// bytes at 7200 per second, noting how much the driver had queued ahead of it.
class FarEnd {
 public:
  FarEnd() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    termios tio{};
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    slave_ = ptsname(master_);
    thread_ = std::thread([this] { Run(); });
  }
  ~FarEnd() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) close(master_);
  }
  const std::string& SlavePath() const { return slave_; }
  void KeyAfter(int ms) { keyAfterMs_ = ms; }

  std::atomic<int> maxAhead{0};
  std::atomic<long> samples{0};
  std::atomic<bool> ended{false};
  Clock::time_point keyTime;

 private:
  void Send(const std::string& s) { [[maybe_unused]] ssize_t n = write(master_, s.data(), s.size()); }

  void Run() {
    std::string line;
    bool transmit = false, dle = false, keySent = false;
    Clock::time_point start;
    long consumed = 0;
    while (!stop_) {
      if (!transmit) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 10) <= 0) continue;
        char buf[256];
        ssize_t n = read(master_, buf, sizeof buf);
        for (ssize_t i = 0; i < n; ++i) {
          if (buf[i] != '\r') {
            if (buf[i] >= 32) line += buf[i];
            continue;
          }
          if (line == "AT#VTX") {
            Send("\r\nCONNECT\r\n");
            transmit = true;
            start = Clock::now();
            consumed = 0;
          } else {
            Send("\r\nOK\r\n");
          }
          line.clear();
        }
        continue;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      int waiting = 0;
      ioctl(master_, FIONREAD, &waiting);
      if (waiting > maxAhead) maxAhead = waiting;
      auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
      if (keyAfterMs_ >= 0 && !keySent && elapsed >= keyAfterMs_) {
        keySent = true;
        keyTime = Clock::now();
        Send("\x10" "5");
      }
      long allowed = std::min<long>(elapsed * 7200 / 1000 - consumed, 4096);
      if (allowed <= 0) continue;
      std::string buf(static_cast<std::size_t>(allowed), '\0');
      ssize_t n = read(master_, buf.data(), buf.size());
      for (ssize_t i = 0; i < n && transmit; ++i) {
        uint8_t b = static_cast<uint8_t>(buf[i]);
        ++consumed;
        if (dle) {
          dle = false;
          if (b == 0x10) ++samples;
          if (b == 0x03) {
            transmit = false;
            ended = true;
            Send("\r\nVCON\r\n");
          }
        } else if (b == 0x10) {
          dle = true;
        } else {
          ++samples;
        }
      }
    }
  }

  int master_ = -1;
  std::string slave_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> keyAfterMs_{-1};
};

class Pty : public ::testing::Test {
 protected:
  Pty() : loop_(clock_, std::make_unique<PollWaiter>(clock_)) {
    SetWaitLoop(&loop_);
    dir_ = ::testing::TempDir() + "pty-" + std::to_string(getpid()) + "/";
    std::filesystem::create_directories(dir_);
  }
  ~Pty() override {
    driver_.reset();
    SetWaitLoop(nullptr);
    std::filesystem::remove_all(dir_);
  }
  void Open() {
    ASSERT_FALSE(far_.SlavePath().empty());
    std::string path = far_.SlavePath();
    driver_ = std::make_unique<FMODEM>([path](int, int baud) { return SerialPort::Open(path, baud); });
    ASSERT_EQ(driver_->OpenComm(1, 1152), 1) << driver_->OpenError();
    driver_->SetModemType(Rockwell);
  }

  RealClock clock_;
  EventLoop loop_;
  FarEnd far_;
  std::unique_ptr<FMODEM> driver_;
  std::string dir_;
};

TEST_F(Pty, APromptPlaysAtTheLinesPaceWithoutSpinning) {
  Open();
  std::vector<uint8_t> samples = Samples(2 * 7200);
  WriteWav(dir_ + "p.wav", samples);
  auto wallStart = Clock::now();
  double cpuStart = ThreadCpuSeconds();
  EXPECT_EQ(driver_->PlayFile(dir_ + "p.wav"), 1);
  double cpu = ThreadCpuSeconds() - cpuStart;
  double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
  EXPECT_TRUE(far_.ended);
  EXPECT_EQ(far_.samples, static_cast<long>(samples.size()));
  EXPECT_GE(wall, 2.0);
  EXPECT_LT(wall, 2.6);
  // No more than the pacing bound, a block and the far end's 10 ms step ahead.
  EXPECT_LE(far_.maxAhead, 3600 + 1024 + 200);
  RecordProperty("maxAheadBytes", far_.maxAhead.load());
  RecordProperty("engineCpuPercent", std::to_string(100.0 * cpu / wall));
  EXPECT_LT(cpu, 0.05 * wall) << "the engine thread used " << cpu << " s of CPU in " << wall << " s";
}

TEST_F(Pty, AKeyEndsAPromptWithinTheBound) {
  Open();
  WriteWav(dir_ + "long.wav", Samples(10 * 7200));
  far_.KeyAfter(1000);
  EXPECT_EQ(driver_->PlayFile(dir_ + "long.wav"), 1);
  auto afterKey = std::chrono::duration<double>(Clock::now() - far_.keyTime).count();
  EXPECT_EQ(driver_->TakeEvent(), '5');
  RecordProperty("keyToEndMs", std::to_string(afterKey * 1000));
  // The line still plays what was queued (at most half a second and a block).
  EXPECT_LT(afterKey, 0.8);
  EXPECT_LT(far_.samples, 2 * 7200);
}

}  // namespace
}  // namespace telvara::test
