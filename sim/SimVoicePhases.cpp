// The simulated modem's voice phases: transmit and receive begin on the host's
// command, run at the line's rate, end on the host's DLE ETX or CAN, DTR or a hang-up,
// and each leaves a record of what the line carried.
#include "SimModem.h"

namespace telvara::sim {

const char* PhaseEndName(PhaseEnd end) {
  switch (end) {
    case PhaseEnd::Etx: return "etx";
    case PhaseEnd::Cancel: return "cancel";
    case PhaseEnd::Dtr: return "dtr";
    case PhaseEnd::HangUp: return "host";
    case PhaseEnd::Reset: return "reset";
    case PhaseEnd::Power: return "power";
  }
  return "?";
}

void SimModem::ProgressVoice() {
  if (mode_ == Mode::VoiceTx && tx_) {
    tx_->ConsumeTo(now_);
    if (tx_->Ended()) EndTransmit(PhaseEnd::Etx);
  } else if (mode_ == Mode::VoiceRx && rx_) {
    std::string bytes, reports;
    rx_->ProduceTo(now_, false, bytes, reports);
    if (!bytes.empty()) Out(std::move(bytes));
    for (char c : reports)
      transcript_.Add(now_, "event", std::string(1, c), {{"from", std::string("silence detector")}});
  }
}

// A new phase record, told in the transcript, and the modem's CONNECT.
void SimModem::BeginPhase(VoicePhase::Kind kind) {
  phase_ = VoicePhase{};
  phase_.kind = kind;
  phase_.number = ++phaseCount_;
  phase_.device = settings_.device;
  phase_.rate = Rate();
  phase_.start = now_;
  const char* name = kind == VoicePhase::Kind::Transmit ? "voice-tx-start" : "voice-rx-start";
  transcript_.Add(now_, name, "",
                  {{"phase", int64_t{phase_.number}},
                   {"device", settings_.device},
                   {"coding", std::string(CodingName(settings_.coding))},
                   {"rate", int64_t{Rate()}}});
  Result("CONNECT");
}

void SimModem::StartTransmit() {
  mode_ = Mode::VoiceTx;
  tx_ = std::make_unique<VoiceTransmit>(Rate(), settings_.coding);
  heldInput_.clear();
  BeginPhase(VoicePhase::Kind::Transmit);
  Signal(SimSignal::Play);
}

void SimModem::StartReceive() {
  mode_ = Mode::VoiceRx;
  rxDle_ = false;
  BeginPhase(VoicePhase::Kind::Receive);
  // The samples follow the CONNECT line.
  uint64_t period = settings_.silenceOn ? static_cast<uint64_t>(settings_.silencePeriod) * 100u : 0;
  rx_ = std::make_unique<VoiceReceive>(lastDue_, Rate(), settings_.coding, PhaseVoice(), period);
  Signal(SimSignal::Record);
}

void SimModem::EndPhase(PhaseEnd end) {
  if (mode_ == Mode::VoiceTx) EndTransmit(end);
  if (mode_ == Mode::VoiceRx) EndReceive(end);
}

void SimModem::EndTransmit(PhaseEnd end) {
  if (!tx_) return;
  tx_->ConsumeTo(now_);
  VoicePhase phase = std::move(phase_);
  phase.end = now_;
  phase.samples = tx_->Played();
  phase.sampleCount = phase.samples.size();
  phase.underruns = tx_->Underruns();
  phase.longestGap = tx_->LongestGap();
  phase.endedBy = end;
  tx_.reset();
  mode_ = Mode::Command;
  FinishPhase(std::move(phase), "voice-tx-end");
  if (end == PhaseEnd::Etx) Result(VoiceConnectResult(dialect_));
  Signal(SimSignal::PlayEnd);
  std::string held = std::move(heldInput_);
  heldInput_.clear();
  if (end == PhaseEnd::Etx)
    for (char c : held) InputByte(static_cast<uint8_t>(c));
}

void SimModem::EndReceive(PhaseEnd end) {
  if (!rx_) return;
  if (end == PhaseEnd::Cancel) {
    // What was still due goes out, then the end mark and the result.
    std::string bytes, reports;
    rx_->ProduceTo(now_, true, bytes, reports);
    bytes += static_cast<char>(kDLE);
    bytes += static_cast<char>(kETX);
    Out(std::move(bytes));
  }
  VoicePhase phase = std::move(phase_);
  phase.end = now_;
  phase.sampleCount = rx_->Samples();
  phase.endedBy = end;
  rx_.reset();
  mode_ = Mode::Command;
  FinishPhase(std::move(phase), "voice-rx-end");
  if (end == PhaseEnd::Cancel) Result(VoiceConnectResult(dialect_));
  Signal(SimSignal::RecordEnd);
}

void SimModem::FinishPhase(VoicePhase phase, const char* kind) {
  std::string file = phaseSink_ ? phaseSink_(phase) : "";
  transcript_.Add(now_, kind, "",
                  {{"phase", int64_t{phase.number}},
                   {"device", phase.device},
                   {"samples", static_cast<int64_t>(phase.sampleCount)},
                   {"ms", static_cast<int64_t>(phase.end - phase.start)},
                   {"underruns", int64_t{phase.underruns}},
                   {"longestGapMs", static_cast<int64_t>(phase.longestGap)},
                   {"endedBy", std::string(PhaseEndName(phase.endedBy))},
                   {"file", file}});
  if (!keepSamples_) {
    phase.samples.clear();
    phase.samples.shrink_to_fit();
  }
  phases_.push_back(std::move(phase));
}

void SimModem::SetPhaseSink(std::function<std::string(const VoicePhase&)> sink, bool keepSamples) {
  phaseSink_ = std::move(sink);
  keepSamples_ = keepSamples;
}

}  // namespace telvara::sim
