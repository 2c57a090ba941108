#pragma once
// Test harness: the one simulated line every in-process test runs on. A virtual clock,
// the engine's loop with a virtual waiter, the in-process simulated modem, a small
// fault layer between the modem and the driver (what a real port or modem does wrong),
// and a scratch folder. Test (engine) thread only.
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SimStream.h"
#include "platform/EventLoop.h"
#include "platform/VirtualWaiter.h"

namespace telvara::testing {

// A fresh folder under /tmp, removed with everything in it when the test ends.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = "/tmp/telvara-test-XXXXXX";
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// What goes wrong between the driver and the modem; a test sets them at any time.
struct LineFaults {
  bool failOpen = false;          // the device cannot be opened
  bool takesNoBytes = false;      // writes take nothing (flow control held for ever)
  bool hidesOutputQueue = false;  // the queue count reads 0, as on a pseudo-terminal
  bool ignoresCancel = false;     // a lone CAN is lost (the modem never ends a recording)
  bool hungUp = false;            // reads and writes fail (a USB modem unplugged)
  std::string injected;           // bytes read before anything the modem sends
};

// One open of the line, through the faults. Closing it lets go of the simulated port.
class FaultyPort final : public ByteStream {
 public:
  FaultyPort(std::unique_ptr<ByteStream> inner, LineFaults& faults)
      : inner_(std::move(inner)), faults_(faults) {}
  long Read(void* buffer, std::size_t max) override {
    if (faults_.hungUp) return -1;
    if (!faults_.injected.empty()) {
      std::size_t n = std::min(max, faults_.injected.size());
      faults_.injected.copy(static_cast<char*>(buffer), n);
      faults_.injected.erase(0, n);
      return static_cast<long>(n);
    }
    return inner_->Read(buffer, max);
  }
  long Write(const void* data, std::size_t count) override {
    if (faults_.hungUp) return -1;
    if (faults_.takesNoBytes) return 0;
    if (faults_.ignoresCancel && count == 1 && *static_cast<const uint8_t*>(data) == kCAN) return 1;
    return inner_->Write(data, count);
  }
  int InputQueued() override {
    return static_cast<int>(faults_.injected.size()) + inner_->InputQueued();
  }
  int OutputQueued() override { return faults_.hidesOutputQueue ? 0 : inner_->OutputQueued(); }
  bool SetDtr(bool raised) override { return inner_->SetDtr(raised); }
  int PollFd() const override { return -1; }

 private:
  std::unique_ptr<ByteStream> inner_;
  LineFaults& faults_;
};

class SimLine : private VirtualDevice {
 public:
  explicit SimLine(ModemType dialect)
      : waiter_(new VirtualWaiter(clock_)),
        loop_(clock_, std::unique_ptr<Waiter>(waiter_)),
        stream_(clock_, dialect),
        simOpener_(sim::MakeSimPortOpener(stream_)) {
    waiter_->AddDevice(this);
  }
  SimLine(const SimLine&) = delete;
  SimLine& operator=(const SimLine&) = delete;

  VirtualClock& Clock() { return clock_; }
  uint32_t Now() const { return clock_.Now(); }
  EventLoop& Loop() { return loop_; }
  sim::SimStream& Stream() { return stream_; }
  sim::SimModem& Modem() { return stream_.Modem(); }
  LineFaults& Faults() { return faults_; }
  const std::string& Dir() const { return dir_.Path(); }

  // The driver's way to the line: "COM<n>" opens it through the faults.
  PortOpener Opener() {
    return [this](int port, int baud) {
      if (faults_.failOpen) {
        PortOpenResult failed;
        failed.error = "cannot open COM" + std::to_string(port) + ": No such file or directory";
        return failed;
      }
      PortOpenResult r = simOpener_(port, baud);
      if (r.stream) r.stream = std::make_unique<FaultyPort>(std::move(r.stream), faults_);
      return r;
    };
  }

  // Runs fn on the engine thread when the virtual clock reaches the tick (in a wait).
  void At(uint32_t tick, std::function<void()> fn) { waiter_->At(tick, std::move(fn)); }
  // Dispatches messages as the program's loop would, for `ms` of virtual time.
  void RunFor(uint32_t ms) {
    uint32_t until = clock_.Now() + ms;
    while (!TickReached(clock_.Now(), until))
      if (!loop_.PumpOne()) loop_.WaitUntil(until, WaitFor::Messages);
  }
  // The command lines the modem received, in order.
  std::vector<std::string> Commands() { return stream_.GetTranscript().Texts("command"); }

 private:
  // The waiter sees the modem, and injected bytes as input.
  void AdvanceTo(uint32_t now) override { stream_.AdvanceTo(now); }
  bool Ready(WaitFor what) override {
    return (what == WaitFor::Input && !faults_.injected.empty()) || stream_.Ready(what);
  }
  uint32_t NextChange(uint32_t now) override { return stream_.NextChange(now); }

  VirtualClock clock_;
  VirtualWaiter* waiter_;  // owned by the loop
  EventLoop loop_;
  sim::SimStream stream_;
  PortOpener simOpener_;
  LineFaults faults_;
  ScratchDir dir_;
};

}  // namespace telvara::testing
