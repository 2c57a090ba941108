// The simulated modem's line and what happens at its far end: the hook, DTR, calls
// that ring, are answered or dialled, the dialling outcomes, a far end that presses
// keys or hangs up, and the other things a scenario does to the line.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

#include "SimModem.h"
#include "modem/RateConverter.h"

namespace telvara::sim {
namespace {

bool IsSuccessfulDial(const std::string& result) {
  return result == "CONNECT" || result.rfind("CONNECT ", 0) == 0 || result == "VCON" || result == "OK";
}

}  // namespace

// ---------------------------------------------------------------- the line

std::optional<uint64_t> SimModem::IdleSince() const {
  if (offHook_ || callState_ != CallState::None) return std::nullopt;
  // The latest moment it went on hook or a call ended (0: idle from the start).
  return std::max(SignalTime(SimSignal::OnHook), SignalTime(SimSignal::CallEnd));
}

void SimModem::GoOffHook() {
  if (offHook_) return;
  offHook_ = true;
  transcript_.Add(now_, "hook", "off");
}

void SimModem::GoOnHook(OnHook by) {
  std::string reason;
  switch (by) {
    case OnHook::Host: reason = "host"; break;
    case OnHook::Reset: reason = "reset"; break;
    case OnHook::Dtr: reason = "dtr"; break;
    case OnHook::NoCarrier: reason = "no carrier"; break;
    case OnHook::Aborted: reason = "aborted"; break;
    case OnHook::DialFailed: reason = "dial failed"; break;
    case OnHook::Power: reason = "power off"; break;
  }
  // Only DTR or power can end a voice phase this way: a phase takes the host's bytes as samples.
  EndPhase(by == OnHook::Dtr     ? PhaseEnd::Dtr
           : by == OnHook::Reset ? PhaseEnd::Reset
           : by == OnHook::Power ? PhaseEnd::Power
                                 : PhaseEnd::HangUp);
  mode_ = Mode::Command;
  ++dialId_;  // a dial in progress no longer resolves
  if (offHook_) {
    offHook_ = false;
    transcript_.Add(now_, "hook", "on", {{"by", reason}});
    Signal(SimSignal::OnHook);
  }
  if (callState_ == CallState::Connected) EndCall("hung up (" + reason + ")");
}

void SimModem::EndCall(const std::string& reason) {
  if (callState_ == CallState::None) return;
  callState_ = CallState::None;
  farEndGone_ = false;
  transcript_.Add(now_, "call-end", reason);
  Signal(SimSignal::CallEnd);
}

void SimModem::SetDtr(bool raised) {
  if (raised == dtr_) return;
  dtr_ = raised;
  transcript_.Add(now_, "dtr", raised ? "raised" : "dropped");
  if (raised || settings_.dtrMode == 0) return;
  bool busy = offHook_ || mode_ != Mode::Command;
  if (settings_.dtrMode == 1) {
    EndPhase(PhaseEnd::Dtr);
    if (mode_ == Mode::DataOnline) mode_ = Mode::Command;
  } else {
    GoOnHook(OnHook::Dtr);
    if (settings_.dtrMode == 3) settings_ = Settings{};
  }
  if (busy) Result("OK");
}

// ---------------------------------------------------------------- calls

void SimModem::Answer() {
  GoOffHook();
  if (callState_ == CallState::Ringing) {
    callState_ = CallState::Connected;
    transcript_.Add(now_, "answer", "", {{"rings", int64_t{ringsDone_}}});
    Signal(SimSignal::Answer);
    Signal(SimSignal::Connect);
  }
}

void SimModem::DataAnswer() {
  GoOffHook();
  if (callState_ == CallState::Ringing) callState_ = CallState::Connected;
  mode_ = Mode::DataAnswering;
  transcript_.Add(now_, "data-answer");
  int call = callId_;
  At(now_ + kDataAnswerMs, [this, call] {
    if (mode_ != Mode::DataAnswering || callId_ != call) return;
    // No modem at the far end: the handshake fails.
    Result("NO CARRIER", 0);
    GoOnHook(OnHook::NoCarrier);
  });
}

void SimModem::Dial(const std::string& dialString) {
  std::string number;
  for (char c : dialString)
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#' || c == ',') number += c;
  transcript_.Add(now_, "dial", number);
  Signal(SimSignal::Dial);
  GoOffHook();
  mode_ = Mode::Dialing;
  uint64_t id = ++dialId_;
  std::string result;
  uint64_t delay = kDialDelayMs;
  if (!dialOutcomes_.empty()) {
    result = dialOutcomes_.front().first;
    delay = dialOutcomes_.front().second;
    dialOutcomes_.pop_front();
  } else {
    result = settings_.voiceClass ? "answer" : "NO CARRIER";
  }
  if (result == "answer") result = VoiceConnectResult(dialect_);
  if (result.empty()) {
    transcript_.Add(now_, "note", "the dial gets no reply");
    return;
  }
  At(now_ + delay, [this, id, result] { ResolveDial(id, result); });
}

void SimModem::ResolveDial(uint64_t dialId, std::string result) {
  if (mode_ != Mode::Dialing || dialId != dialId_) return;
  Result(result, 0);
  if (IsSuccessfulDial(result)) {
    ++callId_;
    callState_ = CallState::Connected;
    farEndGone_ = false;
    mode_ = (!settings_.voiceClass && result.rfind("CONNECT", 0) == 0) ? Mode::DataOnline : Mode::Command;
    transcript_.Add(now_, "connect", "", {{"outgoing", true}});
    Signal(SimSignal::Connect);
  } else {
    GoOnHook(OnHook::DialFailed);
  }
}

void SimModem::QueueDialOutcome(std::string result, uint64_t delayMs) {
  dialOutcomes_.emplace_back(std::move(result), delayMs);
}

// ---------------------------------------------------------------- far end

void SimModem::Ring(int count, uint64_t periodMs, std::string number, std::string name) {
  if (offHook_ || callState_ != CallState::None) {
    transcript_.Add(now_, "note", "the line is busy: the caller hears a busy tone");
    return;
  }
  int call = ++callId_;
  callState_ = CallState::Ringing;
  farEndGone_ = false;
  ringsLeft_ = std::max(count, 1);
  ringsDone_ = 0;
  callerNumber_ = std::move(number);
  callerName_ = std::move(name);
  ringPeriod_ = std::max<uint64_t>(periodMs, 100);
  At(now_, [this, call] { RingOnce(call); });
}

void SimModem::RingOnce(int call) {
  if (callState_ != CallState::Ringing || callId_ != call) return;
  ++ringsDone_;
  --ringsLeft_;
  if (!powered_) {
    // The caller rings on; a modem without power reports nothing.
    transcript_.Add(now_, "ring", "", {{"n", int64_t{ringsDone_}}, {"reported", false}});
  } else {
    transcript_.Add(now_, "ring", "", {{"n", int64_t{ringsDone_}}});
    if (mode_ == Mode::VoiceTx || mode_ == Mode::VoiceRx) {
      EmitEvent('R');  // in a voice phase a ring is an event in the data
    } else if (!settings_.quiet) {
      Out(settings_.verbose ? "\r\nRING\r\n" : "2\r");
    }
    Signal(SimSignal::Ring);
    if (ringsDone_ == 1 && !callerNumber_.empty()) At(now_ + kCallerIdMs, [this, call] { SendCallerId(call); });
  }
  if (ringsLeft_ > 0) {
    At(now_ + ringPeriod_, [this, call] { RingOnce(call); });
  } else {
    At(now_ + ringPeriod_, [this, call] {
      if (callState_ == CallState::Ringing && callId_ == call) EndCall("not answered");
    });
  }
}

void SimModem::SendCallerId(int call) {
  // Only to a host that asked for it, while the call still rings and the modem can say it.
  if (callState_ != CallState::Ringing || callId_ != call || !powered_ || mode_ != Mode::Command) return;
  if (!settings_.callerId) {
    transcript_.Add(now_, "note", "caller ID not sent: the host did not turn it on");
    return;
  }
  std::time_t wall = std::time(nullptr);
  std::tm local{};
  localtime_r(&wall, &local);
  char date[8], time[8];
  std::snprintf(date, sizeof date, "%02d%02d", (local.tm_mon + 1) % 100, local.tm_mday % 100);
  std::snprintf(time, sizeof time, "%02d%02d", local.tm_hour % 100, local.tm_min % 100);
  std::string lines = std::string("\r\nDATE = ") + date + "\r\nTIME = " + time + "\r\nNMBR = " + callerNumber_ + "\r\n";
  if (!callerName_.empty()) lines += "NAME = " + callerName_ + "\r\n";
  transcript_.Add(now_, "caller-id", callerNumber_, {{"name", callerName_}});
  Out(lines + "\r\n");
}

void SimModem::FarEndHangUp() {
  switch (callState_) {
    case CallState::None: transcript_.Add(now_, "note", "hang-up without a call"); return;
    case CallState::Ringing: EndCall("the caller gave up"); return;
    case CallState::Connected: break;
  }
  if (farEndGone_) return;
  transcript_.Add(now_, "far-end-hangup");
  if (mode_ == Mode::DataOnline || mode_ == Mode::DataAnswering) {
    Result("NO CARRIER", 0);
    GoOnHook(OnHook::NoCarrier);
    return;
  }
  farEndGone_ = true;
  if (mode_ == Mode::VoiceRx && rx_) {
    // What was said up to now is still heard; silence starts here.
    std::string bytes, reports;
    rx_->ProduceTo(now_, true, bytes, reports);
    Out(std::move(bytes));
    rx_->Silence();
  }
  ScheduleBusy(callId_, kBusyDelayMs);
}

void SimModem::ScheduleBusy(int call, uint64_t delay) {
  At(now_ + delay, [this, call] {
    if (callState_ != CallState::Connected || callId_ != call || !farEndGone_ || !offHook_) return;
    EmitEvent('b');  // the exchange's busy tone, heard again and again
    ScheduleBusy(call, kBusyRepeatMs);
  });
}

void SimModem::PressKeys(const std::string& keys) {
  if (callState_ != CallState::Connected || farEndGone_) {
    transcript_.Add(now_, "note", "keys " + keys + " pressed with no call: nobody hears them");
    return;
  }
  int call = callId_;
  uint64_t at = now_;
  for (char k : keys) {
    At(at, [this, call, k] {
      if (callState_ != CallState::Connected || callId_ != call || farEndGone_ || !offHook_ ||
          mode_ == Mode::DataOnline)
        return;
      EmitEvent(k);
    });
    at += kKeyGapMs;
  }
}

void SimModem::SendEvent(char code) {
  if (!offHook_ || mode_ == Mode::DataOnline || mode_ == Mode::Dialing || mode_ == Mode::DataAnswering) {
    transcript_.Add(now_, "note", std::string("event ") + code + " dropped: no voice line");
    return;
  }
  EmitEvent(code);
}

void SimModem::SetVoice(std::shared_ptr<const std::vector<uint8_t>> samples, std::string name, int rate) {
  voice_ = std::move(samples);
  voiceRate_ = rate;
  transcript_.Add(now_, "voice", name.empty() ? "none" : name,
                  {{"samples", static_cast<int64_t>(voice_ ? voice_->size() : 0)}});
}

std::shared_ptr<const std::vector<uint8_t>> SimModem::PhaseVoice() const {
  if (farEndGone_) return nullptr;
  // On the telephone line only a connected far end talks; a local handset always can.
  if (settings_.device == "line" && callState_ != CallState::Connected) return nullptr;
  if (!voice_ || voiceRate_ == 0 || voiceRate_ == Rate()) return voice_;
  auto resampled = std::make_shared<std::vector<uint8_t>>();
  RateConverter(voiceRate_, Rate()).Convert(voice_->data(), voice_->size(), *resampled);
  return resampled;
}

void SimModem::Note(const std::string& text) { transcript_.Add(now_, "note", text); }

void SimModem::SendResultLine(const std::string& text) { Result(text, 0); }

void SimModem::SendNoise(size_t count) {
  std::string bytes;
  for (size_t i = 0; i < count; ++i) {
    noiseSeed_ = noiseSeed_ * 1103515245u + 12345u;
    bytes += static_cast<char>(noiseSeed_ >> 16);
  }
  transcript_.Add(now_, "noise", "", {{"bytes", static_cast<int64_t>(count)}});
  Out(std::move(bytes));
}

}  // namespace telvara::sim
