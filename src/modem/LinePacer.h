#pragma once
// Keeps the samples written in one voice-transmit phase from running more than a bound
// ahead of what the line has played at its rate. The line is taken to start playing at
// the first write and to stand idle whenever the writer falls behind, so a late writer
// never earns a burst. Engine thread only.
#include <cstdint>

namespace telvara {

class LinePacer {
 public:
  // Starts a phase at `now`: `rate` samples per second, `boundMs` of sound ahead at most.
  void Start(int rate, uint32_t boundMs, uint32_t now);
  void Stop() { active_ = false; }
  bool Active() const { return active_; }
  // The tick from which `samples` more may be written (now when they may go at once).
  uint32_t ReadyTick(int samples, uint32_t now);
  void Sent(int samples) { sent_ += static_cast<uint64_t>(samples); }

 private:
  uint64_t PlayedAt(uint32_t now);

  bool active_ = false;
  uint64_t rate_ = 0;
  uint64_t bound_ = 0;     // samples
  uint32_t baseTick_ = 0;  // the line had played baseSamples_ at baseTick_
  uint64_t baseSamples_ = 0;
  uint64_t sent_ = 0;
};

}  // namespace telvara
