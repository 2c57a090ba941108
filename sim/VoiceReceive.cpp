#include "VoiceReceive.h"

#include <cstdlib>

#include "modem/VoiceProtocol.h"

namespace telvara::sim {

VoiceReceive::VoiceReceive(uint64_t now, int rate, VoiceCoding coding,
                           std::shared_ptr<const std::vector<uint8_t>> voice, uint64_t silencePeriodMs)
    : start_(now),
      rate_(rate),
      encoder_(coding),
      voice_(std::move(voice)),
      silencePeriodMs_(silencePeriodMs),
      nextBlock_(now + kBlockMs),
      lastClassified_(now) {}

void VoiceReceive::ProduceTo(uint64_t now, bool flush, std::string& out, std::string& reports) {
  if (now <= start_ || (!flush && now < nextBlock_)) return;
  while (nextBlock_ <= now) nextBlock_ += kBlockMs;
  uint64_t due = (now - start_) * static_cast<uint64_t>(rate_) / 1000u;
  int peak = 0;
  std::string coded;
  for (; produced_ < due; ++produced_) {
    uint8_t s = kSilence;
    if (voice_ && produced_ < voice_->size()) s = (*voice_)[produced_];
    int level = std::abs(static_cast<int>(s) - kSilence);
    if (level > peak) peak = level;
    encoder_.Put(s, coded);
  }
  AppendShielded(reinterpret_cast<const uint8_t*>(coded.data()), coded.size(), out);
  if (silencePeriodMs_ == 0) return;
  uint64_t span = now - lastClassified_;
  lastClassified_ = now;
  if (peak >= kVoiceLevel) {
    voiceHeard_ = true;
    quietReported_ = false;
    silentMs_ = 0;
    return;
  }
  silentMs_ += span;
  if (quietReported_) return;  // reported once; the next report needs voice again
  if (silentMs_ >= silencePeriodMs_) {
    quietReported_ = voiceHeard_;
    char code = voiceHeard_ ? 'q' : 's';
    out += static_cast<char>(kDLE);
    out += code;
    reports += code;
    silentMs_ = 0;
    voiceHeard_ = false;
  }
}

}  // namespace telvara::sim
