#pragma once
// Time for the engine: a 32-bit wrapping millisecond tick counter and the wall clock.
// RealClock reads the system; VirtualClock is advanced by whoever drives the test
// (or by the virtual waiter when the engine waits).
#include <cstdint>
#include <ctime>

namespace telvara {

// Ticks compare by unsigned difference, so a count that wraps after 49.7 days still
// orders correctly for intervals shorter than that.
inline bool TickReached(uint32_t now, uint32_t target) { return static_cast<int32_t>(now - target) >= 0; }

// Any thread may call Now()/WallNow() of RealClock; VirtualClock belongs to the
// thread that runs the test.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t Now() const = 0;         // milliseconds, wrapping
  virtual std::time_t WallNow() const = 0;  // seconds since 1970 UTC
};

class RealClock final : public Clock {
 public:
  uint32_t Now() const override;
  std::time_t WallNow() const override;
};

class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(uint32_t startTicks = 1000, std::time_t startWall = 1700000000)
      : ticks_(startTicks), wallBase_(startWall), ticksBase_(startTicks) {}
  uint32_t Now() const override { return ticks_; }
  // Wall time moves with the ticks, whole seconds from the last SetWall.
  std::time_t WallNow() const override { return wallBase_ + static_cast<std::time_t>((ticks_ - ticksBase_) / 1000u); }
  void Advance(uint32_t ms) { ticks_ += ms; }
  void AdvanceTo(uint32_t tick) {
    if (!TickReached(ticks_, tick)) ticks_ = tick;
  }
  void SetWall(std::time_t wall) {
    wallBase_ = wall;
    ticksBase_ = ticks_;
  }

 private:
  uint32_t ticks_;
  std::time_t wallBase_;
  uint32_t ticksBase_;
};

}  // namespace telvara
