#pragma once
// Slows down password guessing, address by address: after `freeFailures` wrong
// passwords in a row from one address, a further password from it is checked only
// once a delay has passed, one `step` longer for each failure, up to `maxSteps` steps.
// A right password clears the address. Only the server's thread calls it; the time
// is given by the caller, so that a test drives it.
#include <chrono>
#include <cstddef>
#include <string>
#include <unordered_map>

namespace telvara {

class GuessDelay {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  explicit GuessDelay(std::chrono::milliseconds step = std::chrono::seconds(1), int freeFailures = 5,
                      int maxSteps = 30);

  // When a password from `address` may be checked next; a time not after `now`: at once.
  TimePoint NextCheck(const std::string& address, TimePoint now) const;
  // A wrong password from `address`, checked at `now`; gives the failures in a row.
  int Failed(const std::string& address, TimePoint now);
  void Succeeded(const std::string& address);

 private:
  struct Record {
    int failures = 0;
    TimePoint last;
    TimePoint next;
  };
  void Forget(TimePoint now);

  std::chrono::milliseconds step_;
  int freeFailures_;
  int maxSteps_;
  std::unordered_map<std::string, Record> records_;
};

}  // namespace telvara
