#include "web/GuessDelay.h"

#include <algorithm>

namespace telvara {

namespace {
// An address is remembered this long after its last failure, and at most this many
// addresses are, so that guesses from many addresses cannot fill the memory.
constexpr std::chrono::minutes kMemory{15};
constexpr std::size_t kMaxRecords = 4096;
}  // namespace

GuessDelay::GuessDelay(std::chrono::milliseconds step, int freeFailures, int maxSteps)
    : step_(step), freeFailures_(freeFailures), maxSteps_(maxSteps) {}

GuessDelay::TimePoint GuessDelay::NextCheck(const std::string& address, TimePoint now) const {
  auto it = records_.find(address);
  return it == records_.end() ? now : it->second.next;
}

int GuessDelay::Failed(const std::string& address, TimePoint now) {
  if (records_.size() >= kMaxRecords && !records_.count(address)) Forget(now);
  Record& record = records_[address];
  record.failures += 1;
  record.last = now;
  int steps = std::min(record.failures - freeFailures_ + 1, maxSteps_);
  record.next = steps > 0 ? now + step_ * steps : now;
  return record.failures;
}

void GuessDelay::Succeeded(const std::string& address) { records_.erase(address); }

void GuessDelay::Forget(TimePoint now) {
  std::erase_if(records_, [now](const auto& entry) { return now - entry.second.last > kMemory; });
  if (records_.size() < kMaxRecords) return;
  // Still full: the address whose last failure is oldest goes.
  auto oldest = std::min_element(records_.begin(), records_.end(),
                                 [](const auto& a, const auto& b) { return a.second.last < b.second.last; });
  records_.erase(oldest);
}

}  // namespace telvara
