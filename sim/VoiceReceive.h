#pragma once
// One voice-receive phase of the simulated modem: the far end's samples go to the host
// at the line's rate in its coding, a block every 20 ms, DLE-shielded (0x10 sent as DLE DLE), and
// the modem's silence detector reports 'q' (voice, then silence for the period; once,
// until voice comes again) or 's' (no voice at all for the period). Times are milliseconds of the simulator's clock.
// Belongs to the thread that runs the simulator.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "LineCoding.h"

namespace telvara::sim {

class VoiceReceive {
 public:
  static constexpr uint64_t kBlockMs = 20;
  static constexpr uint8_t kSilence = 0x80;  // 8-bit unsigned PCM at rest
  static constexpr int kVoiceLevel = 12;     // a block whose peak departs this far is voice

  // `voice`: what the far end says, from the phase's start (may be null: silence).
  // `silencePeriodMs`: 0 turns the silence reports off.
  VoiceReceive(uint64_t now, int rate, VoiceCoding coding, std::shared_ptr<const std::vector<uint8_t>> voice,
               uint64_t silencePeriodMs);

  // Appends to `out` the samples due up to `now` (DLE-shielded) and any silence report
  // that falls due with them; `reports` gets the report codes. Whole blocks only,
  // unless `flush` asks for everything up to `now` (before an event or the end).
  void ProduceTo(uint64_t now, bool flush, std::string& out, std::string& reports);
  uint64_t NextBlock() const { return nextBlock_; }
  // The far end stops talking (hung up): silence from now on.
  void Silence() { voice_.reset(); }

  uint64_t Samples() const { return produced_; }

 private:
  uint64_t start_;
  int rate_;
  LineEncoder encoder_;
  std::shared_ptr<const std::vector<uint8_t>> voice_;
  uint64_t silencePeriodMs_;
  uint64_t produced_ = 0;
  uint64_t nextBlock_;
  uint64_t silentMs_ = 0;       // silence heard since the last voice or report
  bool voiceHeard_ = false;     // voice since the last report
  bool quietReported_ = false;  // 'q' said; silence goes unreported until voice comes again
  uint64_t lastClassified_;     // time up to which silence has been measured
};

}  // namespace telvara::sim
