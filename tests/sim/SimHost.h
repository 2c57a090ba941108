#pragma once
// Test helper: plays the host of the in-process simulated modem on a virtual clock,
// with an EventLoop and a VirtualWaiter as the program would have them.
#include <filesystem>
#include <memory>
#include <string>

#include <stdlib.h>

#include "SimStream.h"
#include "platform/EventLoop.h"
#include "platform/VirtualWaiter.h"

namespace telvara::sim::testing {

class SimHost {
 public:
  explicit SimHost(ModemType dialect, SimStreamOptions options = {})
      : loop_(clock_, std::make_unique<VirtualWaiter>(clock_)),
        stream_(clock_, dialect, options) {
    static_cast<VirtualWaiter&>(loop_.GetWaiter()).AddDevice(&stream_);
  }

  VirtualClock& Clock() { return clock_; }
  SimStream& Stream() { return stream_; }
  SimModem& Modem() { return stream_.Modem(); }
  uint32_t Now() const { return clock_.Now(); }

  // Writes everything, waiting (in virtual time) for room when the modem is full.
  void Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      long n = stream_.Write(bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else {
        loop_.WaitUntil(clock_.Now() + 10000, WaitFor::OutputRoom);
      }
    }
  }

  // Reads until `needle` has arrived or `ms` passed (with all that was due by then).
  std::string ReadUntil(const std::string& needle, uint32_t ms) {
    uint32_t until = clock_.Now() + ms;
    std::string got;
    while (got.find(needle) == std::string::npos) {
      if (ReadSome(got)) continue;
      if (TickReached(clock_.Now(), until)) break;
      loop_.WaitUntil(until, WaitFor::Input);
    }
    return got;
  }
  // Everything the modem sends in the next `ms` milliseconds.
  std::string ReadFor(uint32_t ms) { return ReadUntil(std::string(1, '\0') + "never", ms); }

  // Sends a command line and gives what came back within 1 s.
  std::string Command(const std::string& line) {
    Send(line + "\r");
    return ReadFor(1000);
  }

  // Moves time on without reading.
  void Idle(uint32_t ms) {
    uint32_t until = clock_.Now() + ms;
    while (!TickReached(clock_.Now(), until)) loop_.WaitUntil(until, WaitFor::Messages);
  }

 private:
  bool ReadSome(std::string& got) {
    char buf[4096];
    long n = stream_.Read(buf, sizeof buf);
    if (n <= 0) return false;
    got.append(buf, static_cast<size_t>(n));
    return true;
  }

  VirtualClock clock_;
  EventLoop loop_;
  SimStream stream_;
};

// A fresh folder under /tmp, removed with everything in it when the test ends.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = "/tmp/telvara-sim-test-XXXXXX";
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

// Removes the DLE shielding of a received voice stream: the samples, and the event
// codes in `events`.
inline std::string Unshield(const std::string& wire, std::string* events = nullptr) {
  std::string samples;
  for (size_t i = 0; i < wire.size(); ++i) {
    if (wire[i] != 0x10 || i + 1 >= wire.size()) {
      samples += wire[i];
      continue;
    }
    char code = wire[++i];
    if (code == 0x10) {
      samples += code;
    } else if (events) {
      *events += code;
    }
  }
  return samples;
}

}  // namespace telvara::sim::testing
