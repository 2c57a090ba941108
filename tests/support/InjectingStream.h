#pragma once
// Test double: wraps the in-process modem's stream so a test can put bytes (an
// unsolicited result line, a DLE event, garbage) in front of what the modem sends.
#include <algorithm>
#include <string>

#include "platform/ByteStream.h"
#include "platform/VirtualWaiter.h"

namespace telvara::testing {

class InjectingStream final : public ByteStream, public VirtualDevice {
 public:
  explicit InjectingStream(ByteStream& inner, VirtualDevice& device) : inner_(inner), device_(device) {}
  void Inject(const std::string& bytes) { injected_ += bytes; }
  long Read(void* buffer, std::size_t max) override {
    if (!injected_.empty()) {
      std::size_t n = std::min(max, injected_.size());
      injected_.copy(static_cast<char*>(buffer), n);
      injected_.erase(0, n);
      return static_cast<long>(n);
    }
    return inner_.Read(buffer, max);
  }
  long Write(const void* d, std::size_t n) override { return inner_.Write(d, n); }
  int InputQueued() override { return static_cast<int>(injected_.size()) + inner_.InputQueued(); }
  int OutputQueued() override { return inner_.OutputQueued(); }
  bool SetDtr(bool raised) override { return inner_.SetDtr(raised); }
  int PollFd() const override { return -1; }
  void AdvanceTo(uint32_t now) override { device_.AdvanceTo(now); }
  bool Ready(WaitFor what) override {
    return (what == WaitFor::Input && !injected_.empty()) || device_.Ready(what);
  }
  uint32_t NextChange(uint32_t now) override { return device_.NextChange(now); }

 private:
  ByteStream& inner_;
  VirtualDevice& device_;
  std::string injected_;
};

// The driver owns the stream it opens; this one lends a test's stream to it.
class LentStream final : public ByteStream {
 public:
  explicit LentStream(ByteStream& s) : s_(s) {}
  long Read(void* b, std::size_t n) override { return s_.Read(b, n); }
  long Write(const void* d, std::size_t n) override { return s_.Write(d, n); }
  int InputQueued() override { return s_.InputQueued(); }
  int OutputQueued() override { return s_.OutputQueued(); }
  bool SetDtr(bool raised) override { return s_.SetDtr(raised); }
  int PollFd() const override { return -1; }

 private:
  ByteStream& s_;
};

}  // namespace telvara::testing
