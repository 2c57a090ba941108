#include "modem/LinePacer.h"

#include "platform/Clock.h"

namespace telvara {

void LinePacer::Start(int rate, uint32_t boundMs, uint32_t now) {
  active_ = rate > 0;
  rate_ = rate > 0 ? static_cast<uint64_t>(rate) : 0;
  bound_ = rate_ * boundMs / 1000u;
  baseTick_ = now;
  baseSamples_ = 0;
  sent_ = 0;
}

uint64_t LinePacer::PlayedAt(uint32_t now) {
  uint64_t played = baseSamples_ + static_cast<uint64_t>(now - baseTick_) * rate_ / 1000u;
  if (played > sent_) {
    // The line ran dry: it played nothing of ours meanwhile, so count from here.
    baseTick_ = now;
    baseSamples_ = sent_;
    played = sent_;
  }
  return played;
}

uint32_t LinePacer::ReadyTick(int samples, uint32_t now) {
  if (!active_ || samples <= 0) return now;
  uint64_t played = PlayedAt(now);
  uint64_t after = sent_ + static_cast<uint64_t>(samples);
  // A block larger than the bound alone may go once the line has played everything.
  uint64_t need = after > bound_ ? after - bound_ : 0;
  if (need > sent_) need = sent_;
  if (need <= played) return now;
  uint64_t ms = ((need - baseSamples_) * 1000u + rate_ - 1) / rate_;
  uint32_t tick = baseTick_ + static_cast<uint32_t>(ms);
  return TickReached(now, tick) ? now + 1 : tick;
}

}  // namespace telvara
