#pragma once
// The silence rules of the telephone dialogues: a silence longer than the period offers
// the menu again the first time and ends the dialogue the second time; whatever the
// keys, more than 30 s without one ends it. Engine thread only.
#include <cstdint>

namespace telvara {

class SilenceWatch {
 public:
  enum class Verdict { GoOn, OfferMenu, End };
  static constexpr uint32_t kLimitMs = 30000;

  SilenceWatch(uint32_t periodMs, uint32_t now) : periodMs_(periodMs), start_(now) {}
  // Silence is measured again from now (a prompt ended, a message played).
  void Restart(uint32_t now) { start_ = now; }
  // After the dialogue took `event` (0: none): digits, '*', '#' and the upper-case
  // events restart the silence; the modem's own lower-case reports do not.
  Verdict Check(int event, uint32_t now) {
    if (event >= 0x20 && event <= 0x60) start_ = now;
    uint32_t idle = now - start_;
    if (idle > kLimitMs) return Verdict::End;
    if (idle <= periodMs_) return Verdict::GoOn;
    return ++silences_ >= 2 ? Verdict::End : Verdict::OfferMenu;
  }
  // The tick at which the current silence becomes one.
  uint32_t Due() const { return start_ + periodMs_ + 1; }

 private:
  uint32_t periodMs_;
  uint32_t start_;
  int silences_ = 0;
};

}  // namespace telvara
