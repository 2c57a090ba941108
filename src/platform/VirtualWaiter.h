#pragma once
// The test double of PollWaiter: instead of sleeping, it moves a VirtualClock forward
// to the next moment anything can happen (the time limit, a scheduled test action, or
// the simulated device's next change), so calls with 6 s, 20 s and 300 s waits run in
// milliseconds. Engine (test) thread only; Wake() is a no-op since tests post on the
// same thread.
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "platform/EventLoop.h"

namespace telvara {

// A device that lives in-process on the virtual clock (the simulated modem).
class VirtualDevice {
 public:
  virtual ~VirtualDevice() = default;
  virtual void AdvanceTo(uint32_t now) = 0;       // do everything due up to now
  virtual bool Ready(WaitFor what) = 0;           // input waiting / room for output
  virtual bool Failed() { return false; }         // hung up, as a poll() would report it
  virtual uint32_t NextChange(uint32_t now) = 0;  // next tick at which it acts
};

class VirtualWaiter final : public Waiter {
 public:
  explicit VirtualWaiter(VirtualClock& clock) : clock_(clock) {}
  void AddDevice(VirtualDevice* device) { devices_.push_back(device); }
  // Runs fn on the engine thread when the clock reaches tick (during a wait).
  void At(uint32_t tick, std::function<void()> fn) { actions_.emplace(tick, std::move(fn)); }

  bool Block(uint32_t until, WaitFor what) override;
  void Wake() override {}
  void Watch(ByteStream*) override { failed_ = false; }
  bool StreamFailed() const override { return failed_; }
  // Brings the devices and actions up to the clock's current time.
  void Settle();

 private:
  VirtualClock& clock_;
  std::vector<VirtualDevice*> devices_;
  std::multimap<uint32_t, std::function<void()>> actions_;
  bool failed_ = false;
};

}  // namespace telvara
