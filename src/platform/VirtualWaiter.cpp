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

void VirtualWaiter::Block(uint32_t until, WaitFor what) {
  Settle();
  uint32_t now = clock_.Now();
  if (TickReached(now, until)) return;
  if (what != WaitFor::Messages) {
    for (VirtualDevice* d : devices_)
      if (d->Ready(what)) return;
  }
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
}

}  // namespace telvara
