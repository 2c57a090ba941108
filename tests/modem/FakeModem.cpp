#include "FakeModem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace telvara::test {
namespace {

constexpr uint8_t DLE = 0x10, ETX = 0x03, CAN = 0x18;
constexpr uint32_t kChunkMs = 20;
// A driver that polls instead of blocking never lets virtual time move, and one that
// waits without end lets it run away; stop either.
constexpr long kCallBudget = 20'000'000;
constexpr uint32_t kTimeBudgetMs = 3600u * 1000u;

class FakePort final : public ByteStream {
 public:
  explicit FakePort(FakeModem& modem) : modem_(modem) { modem_.portOpen = true; }
  ~FakePort() override { modem_.portOpen = false; }
  long Read(void* buffer, std::size_t max) override { return modem_.Read(buffer, max); }
  long Write(const void* data, std::size_t count) override { return modem_.Write(data, count); }
  int InputQueued() override { return 0; }
  int OutputQueued() override { return modem_.OutputQueued(); }
  bool SetDtr(bool raised) override { return modem_.SetDtr(raised); }
  int PollFd() const override { return -1; }

 private:
  FakeModem& modem_;
};

}  // namespace

PortOpener FakeModem::Opener() {
  return [this](int port, int baud) {
    PortOpenResult r;
    if (failOpen) {
      r.error = "cannot open /dev/ttyS" + std::to_string(port - 1) + ": No such file or directory";
      return r;
    }
    openedPort = port;
    openedBaud = baud;
    r.stream = std::make_unique<FakePort>(*this);
    return r;
  };
}

std::string FakeModem::AllWritten() const {
  std::string all;
  for (const Written& w : writes) all += w.bytes;
  return all;
}

void FakeModem::SendAt(uint32_t tick, const std::string& bytes) {
  Schedule(tick, [this, bytes] { toHost_ += bytes; });
}

void FakeModem::SendLines(const std::vector<std::string>& lines) {
  for (const std::string& l : lines) toHost_ += "\r\n" + l + "\r\n";
}

void FakeModem::Called() {
  if (++calls_ > kCallBudget) {
    ADD_FAILURE() << "the driver used the port " << calls_ << " times: it is polling, not blocking";
    std::abort();
  }
}

long FakeModem::Read(void* buffer, std::size_t max) {
  Called();
  ++reads;
  AdvanceTo(clock_.Now());
  std::size_t n = std::min(max, toHost_.size());
  std::memcpy(buffer, toHost_.data(), n);
  toHost_.erase(0, n);
  return static_cast<long>(n);
}

long FakeModem::Write(const void* data, std::size_t count) {
  Called();
  uint32_t now = clock_.Now();
  AdvanceTo(now);
  if (!acceptsBytes) return 0;
  std::size_t room = static_cast<std::size_t>(std::max(0, outputCapacity - static_cast<int>(queue_.size())));
  std::size_t n = std::min(count, room);
  if (n == 0) return 0;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  writes.push_back({now, std::string(reinterpret_cast<const char*>(bytes), n)});
  if (queue_.empty()) {
    lastDrain_ = now;
    credit_ = 0;
  }
  queue_.insert(queue_.end(), bytes, bytes + n);
  maxQueued = std::max(maxQueued, static_cast<int>(queue_.size()));
  if (mode_ == Mode::Transmit && starving_) {
    longestStarvation = std::max(longestStarvation, now - starveStart_);
    starving_ = false;
  }
  Drain(now);
  return static_cast<long>(n);
}

int FakeModem::OutputQueued() {
  Called();
  AdvanceTo(clock_.Now());
  return reportsOutputQueue ? static_cast<int>(queue_.size()) : 0;
}

bool FakeModem::SetDtr(bool raised) {
  dtrChanges.emplace_back(clock_.Now(), raised);
  return true;
}

// The modem takes queued bytes: at once in command mode, at the line's rate while
// it plays voice.
void FakeModem::Drain(uint32_t upTo) {
  if (queue_.empty()) {
    lastDrain_ = upTo;
    return;
  }
  if (mode_ != Mode::Transmit) {
    while (!queue_.empty() && mode_ != Mode::Transmit) {
      uint8_t b = queue_.front();
      queue_.pop_front();
      Consume(b, upTo);
    }
    lastDrain_ = upTo;
    if (queue_.empty()) return;
  }
  credit_ += static_cast<uint64_t>(upTo - lastDrain_) * static_cast<uint64_t>(lineRate);
  lastDrain_ = upTo;
  while (!queue_.empty()) {
    if (mode_ == Mode::Transmit) {
      if (credit_ < 1000) break;
      credit_ -= 1000;
    }
    uint8_t b = queue_.front();
    queue_.pop_front();
    Consume(b, upTo);
  }
  if (queue_.empty()) {
    credit_ = 0;
    if (mode_ == Mode::Transmit && !starving_ && !played.empty()) {
      starving_ = true;
      starveStart_ = upTo;
    }
  }
}

void FakeModem::Consume(uint8_t byte, uint32_t tick) {
  switch (mode_) {
    case Mode::Command:
      if (byte == '\r') {
        std::string line = line_;
        line_.clear();
        Command(line, tick);
      } else if (byte < 32) {
        if (byte != '\n') strays.push_back({tick, byte});
      } else {
        line_.push_back(static_cast<char>(byte));
      }
      return;
    case Mode::Transmit:
      if (dle_) {
        dle_ = false;
        if (byte == DLE) {
          played.push_back(DLE);
        } else if (byte == ETX) {
          transmitEndTicks.push_back(tick);
          mode_ = Mode::Command;
          starving_ = false;
          Schedule(tick + 20, [this, lines = transmitEndLines] { SendLines(lines); });
        }
      } else if (byte == DLE) {
        dle_ = true;
      } else {
        played.push_back(byte);
      }
      return;
    case Mode::Receive:
      if (byte == CAN) {
        cancelTicks.push_back(tick);
        if (ignoreCancel) return;
        ++generation_;  // no more samples
        mode_ = Mode::Command;
        Schedule(tick + 30, [this] {
          toHost_ += std::string{static_cast<char>(DLE), static_cast<char>(ETX)};
          SendLines(receiveEndLines);
        });
      }
      return;
  }
}

void FakeModem::Command(const std::string& line, uint32_t tick) {
  commands.push_back(line);
  commandTicks.push_back(tick);
  Reply reply = default_;
  auto it = rules_.find(line);
  if (it != rules_.end() && !it->second.empty()) {
    reply = it->second.front();
    if (it->second.size() > 1) it->second.pop_front();
  }
  uint32_t at = tick + reply.delayMs;
  Schedule(at, [this, reply, at] {
    SendLines(reply.lines);
    if (reply.enter == Mode::Transmit) {
      mode_ = Mode::Transmit;
      dle_ = false;
      starving_ = false;
    } else if (reply.enter == Mode::Receive) {
      mode_ = Mode::Receive;
      callerPos_ = 0;
      int generation = ++generation_;
      Schedule(at + kChunkMs, [this, at, generation] { StreamChunk(at + kChunkMs, generation); });
    }
  });
}

void FakeModem::StreamChunk(uint32_t tick, int generation) {
  if (generation != generation_ || mode_ != Mode::Receive) return;
  std::size_t perChunk = static_cast<std::size_t>(lineRate) * kChunkMs / 1000;
  std::size_t end = std::min(callerSamples.size(), callerPos_ + perChunk);
  auto events = [&](std::size_t index) {
    auto [first, last] = callerEvents.equal_range(index);
    for (auto e = first; e != last; ++e) {
      toHost_.push_back(static_cast<char>(DLE));
      toHost_.push_back(static_cast<char>(e->second));
    }
  };
  for (; callerPos_ < end; ++callerPos_) {
    events(callerPos_);
    uint8_t s = callerSamples[callerPos_];
    toHost_.push_back(static_cast<char>(s));
    if (s == DLE) toHost_.push_back(static_cast<char>(DLE));
  }
  if (callerPos_ >= callerSamples.size()) {
    // The caller's part is over: events after the last sample, then the end or silence.
    for (auto e = callerEvents.lower_bound(callerSamples.size()); e != callerEvents.end(); ++e) {
      toHost_.push_back(static_cast<char>(DLE));
      toHost_.push_back(static_cast<char>(e->second));
    }
    if (callerEndsWithEtx) {
      toHost_ += std::string{static_cast<char>(DLE), static_cast<char>(ETX)};
      SendLines(receiveEndLines);
      mode_ = Mode::Command;
    }
    return;
  }
  Schedule(tick + kChunkMs, [this, tick, generation] { StreamChunk(tick + kChunkMs, generation); });
}

void FakeModem::AdvanceTo(uint32_t now) {
  if (now - born_ > kTimeBudgetMs) {
    ADD_FAILURE() << "an hour of virtual time went by: the driver waits without end";
    std::abort();
  }
  for (;;) {
    if (actions_.empty() || !TickReached(now, actions_.begin()->first)) break;
    uint32_t at = actions_.begin()->first;
    Drain(at);
    auto fn = std::move(actions_.begin()->second);
    actions_.erase(actions_.begin());
    fn();
  }
  Drain(now);
}

bool FakeModem::Ready(WaitFor what) {
  AdvanceTo(clock_.Now());
  if (what == WaitFor::Input) return !toHost_.empty();
  if (what == WaitFor::OutputRoom)
    return acceptsBytes && static_cast<int>(queue_.size()) < std::min(256, outputCapacity);
  return false;
}

uint32_t FakeModem::NextChange(uint32_t now) {
  uint32_t next = now + 3600u * 1000u;
  if (!actions_.empty() && static_cast<int32_t>(actions_.begin()->first - next) < 0)
    next = actions_.begin()->first;
  if (mode_ == Mode::Transmit && !queue_.empty() && lineRate > 0) {
    uint32_t toEmpty = static_cast<uint32_t>(queue_.size() * 1000 / static_cast<std::size_t>(lineRate));
    uint32_t step = std::clamp<uint32_t>(toEmpty, 1, 20);
    if (static_cast<int32_t>(now + step - next) < 0) next = now + step;
  }
  return next;
}

}  // namespace telvara::test
