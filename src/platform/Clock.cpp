#include "platform/Clock.h"

namespace telvara {

uint32_t RealClock::Now() const {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

std::time_t RealClock::WallNow() const { return std::time(nullptr); }

}  // namespace telvara
