#include "platform/VirtualWaiter.h"

namespace telvara {

void VirtualWaiter::Settle() {
  uint32_t now = clock_.Now();
  for (VirtualDevice* d : devices_) d->AdvanceTo(now);
  while (!actions_.empty() && TickReached(now, actions_.begin()->first)) {
    auto fn = std::move(actions_.begin()->second);
    actions_.erase(actions_.begin());
    fn();
  }
}

bool VirtualWaiter::Block(uint32_t until, WaitFor what) {
  Settle();
  auto ready = [&] {
    if (what == WaitFor::Messages || failed_) return false;
    for (VirtualDevice* d : devices_) {
      if (d->Failed()) return failed_ = true;
      if (d->Ready(what)) return true;
    }
    return false;
  };
  uint32_t now = clock_.Now();
  if (TickReached(now, until)) return false;
  if (ready()) return true;
  uint32_t next = until;
  auto earlier = [&](uint32_t t) {
    if (static_cast<int32_t>(t - next) < 0) next = t;
  };
  for (VirtualDevice* d : devices_) earlier(d->NextChange(now));
  if (!actions_.empty()) earlier(actions_.begin()->first);
  // Never move backwards; move at least 1 ms so that a polling caller's loop ends.
  if (static_cast<int32_t>(next - now) <= 0) next = now + 1;
  clock_.AdvanceTo(next);
  Settle();
  return ready();
}

}  // namespace telvara
