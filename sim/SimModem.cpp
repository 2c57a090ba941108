#include "SimModem.h"

#include <algorithm>
#include <cctype>

namespace telvara::sim {
namespace {

constexpr uint8_t kBackspace = 0x08;
constexpr uint64_t kFarAway = 24ull * 3600 * 1000;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string WithoutSpaces(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != ' ') out += c;
  return out;
}

// The numeric form of a result for V0.
const char* NumericCode(const std::string& text) {
  static const std::pair<const char*, const char*> kCodes[] = {
      {"OK", "0"},   {"CONNECT", "1"},     {"RING", "2"},        {"NO CARRIER", "3"},
      {"ERROR", "4"}, {"NO DIALTONE", "6"}, {"BUSY", "7"},       {"NO ANSWER", "8"},
  };
  for (const auto& [name, code] : kCodes)
    if (text == name) return code;
  return nullptr;
}

bool IsSuccessfulDial(const std::string& result) {
  return result == "CONNECT" || result.rfind("CONNECT ", 0) == 0 || result == "VCON" ||
         result == "OK";
}

}  // namespace

SimModem::SimModem(ModemType dialect, uint32_t startTick) : dialect_(dialect), lastTick_(startTick) {
  ResetSettings();
  transcript_.Add(0, "start", DialectName(dialect_), {{"rate", int64_t{Rate()}}});
}

SimModem::~SimModem() = default;

// ---------------------------------------------------------------- time

uint64_t SimModem::ToInternal(uint32_t tick) const {
  int32_t delta = static_cast<int32_t>(tick - lastTick_);
  return delta <= 0 ? now_ : now_ + static_cast<uint64_t>(delta);
}

void SimModem::AdvanceTo(uint32_t tick) {
  uint64_t target = ToInternal(tick);
  lastTick_ = tick;
  if (target < now_) return;
  // Everything due in between happens in time order.
  for (int guard = 0; guard < 10000000; ++guard) {
    std::optional<uint64_t> next = NextInternal();
    if (!next || *next > target) break;
    StepTo(std::max(*next, now_));
  }
  StepTo(target);
}

void SimModem::StepTo(uint64_t t) {
  now_ = t;
  ProgressVoice();
  while (!timers_.empty() && timers_.begin()->first.first <= now_) {
    auto fn = std::move(timers_.begin()->second);
    timers_.erase(timers_.begin());
    fn();
  }
  for (size_t i = 0; i < runners_.size(); ++i) runners_[i]->RunDue(*this);
}

void SimModem::ProgressVoice() {
  if (mode_ == Mode::VoiceTx && tx_) {
    tx_->ConsumeTo(now_);
    if (tx_->Ended()) EndTransmit("etx");
  } else if (mode_ == Mode::VoiceRx && rx_) {
    std::string bytes, reports;
    rx_->ProduceTo(now_, false, bytes, reports);
    if (!bytes.empty()) Out(std::move(bytes));
    for (char c : reports)
      transcript_.Add(now_, "event", std::string(1, c), {{"from", std::string("silence detector")}});
  }
}

std::optional<uint64_t> SimModem::NextInternal() const {
  std::optional<uint64_t> next;
  auto earlier = [&](std::optional<uint64_t> t) {
    if (t && (!next || *t < *next)) next = t;
  };
  if (!timers_.empty()) earlier(timers_.begin()->first.first);
  if (mode_ == Mode::VoiceTx && tx_) earlier(tx_->NextChange());
  if (mode_ == Mode::VoiceRx && rx_) earlier(rx_->NextBlock());
  for (const auto& r : runners_) earlier(r->NextTime(*this));
  return next;
}

uint32_t SimModem::NextChange(uint32_t tick) const {
  uint64_t now = ToInternal(tick);
  std::optional<uint64_t> next = NextInternal();
  // Due times only grow along the queue: the first chunk not yet due is found by search.
  auto firstFuture = std::upper_bound(out_.begin(), out_.end(), now,
                                      [](uint64_t t, const OutChunk& c) { return t < c.due; });
  if (firstFuture != out_.end() && (!next || firstFuture->due < *next)) next = firstFuture->due;
  uint64_t at = next ? std::max(*next, now) : now + kFarAway;
  if (at - now > kFarAway) at = now + kFarAway;
  return tick + static_cast<uint32_t>(at - now);
}

void SimModem::At(uint64_t t, std::function<void()> fn) {
  timers_.emplace(std::make_pair(t, ++timerSeq_), std::move(fn));
}

// ---------------------------------------------------------------- output

void SimModem::Out(std::string bytes, uint64_t delay) {
  if (bytes.empty()) return;
  if (outBytes_ + bytes.size() > kOutputLimit) {
    // The host has stopped reading: a modem's buffer overflows and data is lost.
    if (droppedOutput_ == 0) transcript_.Add(now_, "overrun", "the host is not reading");
    droppedOutput_ += bytes.size();
    return;
  }
  uint64_t due = std::max(now_ + delay, lastDue_);
  lastDue_ = due;
  outBytes_ += bytes.size();
  if (!out_.empty() && out_.back().due == due) {
    out_.back().bytes += bytes;
  } else {
    out_.push_back(OutChunk{due, std::move(bytes)});
  }
}

void SimModem::Result(const std::string& text, uint64_t delay) {
  transcript_.Add(std::max(now_ + delay, lastDue_), "result", text);
  if (quiet_) return;
  if (verbose_) {
    Out("\r\n" + text + "\r\n", delay);
  } else if (const char* code = NumericCode(text)) {
    Out(std::string(code) + "\r", delay);
  } else {
    Out("\r\n" + text + "\r\n", delay);
  }
}

void SimModem::EmitEvent(char code) {
  if (mode_ == Mode::VoiceRx && rx_) {
    // Samples up to this moment go first, so the event sits where it happened.
    std::string bytes, reports;
    rx_->ProduceTo(now_, true, bytes, reports);
    Out(std::move(bytes));
  }
  std::string e;
  e += static_cast<char>(kDLE);
  e += code;
  Out(std::move(e));
  transcript_.Add(now_, "event", std::string(1, code));
}

size_t SimModem::HostReadable() const {
  // Only the last few chunks (results within their reply delay) can lie ahead.
  size_t future = 0;
  for (auto it = out_.rbegin(); it != out_.rend() && it->due > now_; ++it) future += it->bytes.size();
  return outBytes_ - future;
}

size_t SimModem::HostRead(uint8_t* buffer, size_t max) {
  size_t n = 0;
  while (n < max && !out_.empty() && out_.front().due <= now_) {
    std::string& b = out_.front().bytes;
    size_t take = std::min(max - n, b.size());
    std::copy(b.begin(), b.begin() + static_cast<long>(take), buffer + n);
    n += take;
    outBytes_ -= take;
    if (take == b.size()) {
      out_.pop_front();
    } else {
      b.erase(0, take);
    }
  }
  return n;
}

// ---------------------------------------------------------------- host input

size_t SimModem::HostRoom() const {
  if (mode_ == Mode::VoiceTx && tx_) return tx_->EndReceived() ? 4096 : tx_->Room();
  return 4096;
}

size_t SimModem::TransmitBuffered() const {
  return mode_ == Mode::VoiceTx && tx_ ? tx_->Buffered() : 0;
}

size_t SimModem::HostWrite(const uint8_t* data, size_t count) {
  size_t i = 0;
  while (i < count) {
    if (mode_ != Mode::VoiceTx || !tx_) {
      InputByte(data[i++]);
      continue;
    }
    bool endBefore = tx_->EndReceived();
    std::string after;
    size_t n = tx_->Accept(data + i, count - i, now_, after);
    i += n;
    if (!endBefore && tx_->EndReceived()) {
      transcript_.Add(now_, "etx-received", "",
                      {{"buffered", static_cast<int64_t>(tx_->Buffered())}});
    }
    // Commands sent right behind DLE ETX wait for the end of the phase.
    if (heldInput_.size() + after.size() <= kLineLimit * 4) heldInput_ += after;
    if (tx_->Ended()) {
      EndTransmit("etx");
      continue;
    }
    if (n == 0) break;  // clear-to-send is down
  }
  return i;
}

void SimModem::InputByte(uint8_t b) {
  switch (mode_) {
    case Mode::VoiceRx:
      if (b == kCAN) EndReceive("cancel");
      return;  // anything else is ignored while the modem sends voice
    case Mode::DataOnline:
      return;  // data for the far end, which this simulator does not model
    case Mode::Dialing:
    case Mode::DataAnswering:
      // Any character aborts dialling or the handshake.
      transcript_.Add(now_, "abort", mode_ == Mode::Dialing ? "dial" : "answer");
      Result("NO CARRIER");
      GoOnHook("aborted");
      return;
    default:
      CommandByte(b);
  }
}

void SimModem::CommandByte(uint8_t b) {
  if (echo_) Out(std::string(1, static_cast<char>(b)));
  if (b == '\r') {
    if (line_.size() >= 2) {
      std::string line = line_;
      bool tooLong = lineTooLong_;
      line_.clear();
      lineTooLong_ = false;
      noise_.clear();
      if (tooLong) {
        transcript_.Add(now_, "command", line, {{"truncated", true}});
        Result("ERROR");
      } else {
        ExecuteLine(line);
      }
    } else {
      if (!noise_.empty() || !line_.empty()) transcript_.Add(now_, "ignored", noise_ + line_);
      noise_.clear();
      line_.clear();
    }
    return;
  }
  if (b == '\n') return;
  if (b == kBackspace) {
    if (line_.size() > 2) line_.pop_back();
    return;
  }
  if (line_.empty()) {
    if (b == 'A' || b == 'a') {
      line_ += static_cast<char>(b);
    } else if (noise_.size() < kLineLimit) {
      noise_ += static_cast<char>(b);
    }
    return;
  }
  if (line_.size() == 1) {
    if (b == 'T' || b == 't') {
      line_ += static_cast<char>(b);
    } else {
      if (noise_.size() < kLineLimit) noise_ += line_;
      line_.clear();
      if (b == 'A' || b == 'a') line_ += static_cast<char>(b);
    }
    return;
  }
  if (line_.size() >= kLineLimit) {
    lineTooLong_ = true;
    return;
  }
  line_ += static_cast<char>(b);
}

// ---------------------------------------------------------------- commands

void SimModem::ExecuteLine(const std::string& line) {
  transcript_.Add(now_, "command", line);
  std::string key = Upper(WithoutSpaces(line));
  if (auto it = replies_.find(key); it != replies_.end()) {
    if (!it->second.empty()) Result(it->second);
    return;
  }
  std::string body = key.substr(2);
  std::string info;
  size_t i = 0;
  while (i < body.size()) {
    char c = body[i];
    std::string token;
    if (c == ';') {
      ++i;
      continue;
    }
    if (c == 'D') {
      // The dial string is the rest of the line, as the host wrote it.
      std::string original = WithoutSpaces(line).substr(2 + i + 1);
      Dial(original);
      return;
    }
    if (c == 'A') {
      if (voiceClass_) {
        Answer();
        Result(VoiceConnectResult(dialect_));
      } else {
        DataAnswer();
      }
      return;
    }
    if (c == '+' || c == '#') {
      size_t j = i + 1;
      while (j < body.size() && std::isalnum(static_cast<unsigned char>(body[j]))) ++j;
      if (j < body.size() && body[j] == '?') {
        ++j;
      } else if (j < body.size() && body[j] == '=') {
        ++j;
        while (j < body.size() && body[j] != '#' && body[j] != '+' && body[j] != ';') ++j;
      }
      token = body.substr(i, j - i);
      i = j;
    } else if (c == '&' || c == '\\') {
      size_t j = i + 1;
      if (j < body.size()) ++j;
      while (j < body.size() && std::isdigit(static_cast<unsigned char>(body[j]))) ++j;
      token = body.substr(i, j - i);
      i = j;
    } else if (c == 'S') {
      size_t j = i + 1;
      while (j < body.size() && std::isdigit(static_cast<unsigned char>(body[j]))) ++j;
      if (j < body.size() && body[j] == '?') {
        ++j;
      } else if (j < body.size() && body[j] == '=') {
        ++j;
        while (j < body.size() && std::isdigit(static_cast<unsigned char>(body[j]))) ++j;
      }
      token = body.substr(i, j - i);
      i = j;
    } else if (std::isalpha(static_cast<unsigned char>(c))) {
      size_t j = i + 1;
      while (j < body.size() && std::isdigit(static_cast<unsigned char>(body[j]))) ++j;
      token = body.substr(i, j - i);
      i = j;
    } else {
      Result("ERROR");
      return;
    }
    Outcome o = ExecuteToken(token, info);
    if (o == Outcome::Error) {
      Result("ERROR");
      return;
    }
    if (o == Outcome::Done) return;
  }
  if (!info.empty()) Out(info, kReplyDelayMs);
  Result("OK");
}

SimModem::Outcome SimModem::ExecuteToken(const std::string& t, std::string& info) {
  auto digitsAfter = [&](size_t prefix, int& value) {
    std::string rest = t.substr(prefix);
    if (rest.empty()) {
      value = 0;
      return true;
    }
    if (rest.size() > 3 || !std::all_of(rest.begin(), rest.end(), ::isdigit)) return false;
    value = std::stoi(rest);
    return true;
  };
  int v = 0;
  char c = t[0];
  if (c == 'E' && digitsAfter(1, v) && v <= 1) {
    echo_ = v == 1;
    return Outcome::Ok;
  }
  if (c == 'V' && digitsAfter(1, v) && v <= 1) {
    verbose_ = v == 1;
    return Outcome::Ok;
  }
  if (c == 'Q' && digitsAfter(1, v) && v <= 1) {
    quiet_ = v == 1;
    return Outcome::Ok;
  }
  if (c == 'H' && digitsAfter(1, v) && v <= 1) {
    if (v == 0) {
      GoOnHook("host");
    } else {
      GoOffHook();
    }
    return Outcome::Ok;
  }
  if (c == 'Z' && digitsAfter(1, v) && v <= 1) {
    GoOnHook("reset");
    ResetSettings();
    Result("OK", kResetDelayMs);
    return Outcome::Done;
  }
  if (c == 'I' && digitsAfter(1, v) && v <= 9) {
    info += std::string("\r\nTelvara simulated voice modem, ") + DialectName(dialect_) +
            " voice commands\r\n";
    return Outcome::Ok;
  }
  if ((c == 'L' || c == 'M') && digitsAfter(1, v) && v <= 3) return Outcome::Ok;
  if (c == 'X' && digitsAfter(1, v) && v <= 4) return Outcome::Ok;
  if (c == 'S' && t.size() >= 2) {
    size_t q = t.find_first_of("=?");
    int reg = 0;
    std::string number = t.substr(1, q == std::string::npos ? std::string::npos : q - 1);
    if (number.empty() || number.size() > 3 || !std::all_of(number.begin(), number.end(), ::isdigit))
      return Outcome::Error;
    reg = std::stoi(number);
    if (reg > 255 || q == std::string::npos) return Outcome::Error;
    if (t[q] == '?') {
      char text[8];
      std::snprintf(text, sizeof text, "%03d", sRegisters_[static_cast<size_t>(reg)]);
      info += std::string("\r\n") + text + "\r\n";
      return Outcome::Ok;
    }
    std::string value = t.substr(q + 1);
    if (value.empty() || value.size() > 3 || !std::all_of(value.begin(), value.end(), ::isdigit))
      return Outcome::Error;
    int x = std::stoi(value);
    if (x > 255) return Outcome::Error;
    sRegisters_[static_cast<size_t>(reg)] = x;
    return Outcome::Ok;
  }
  if (t == "&F" || t == "&F0") {
    ResetSettings();
    return Outcome::Ok;
  }
  if ((t == "&C0" || t == "&C1" || t == "&W" || t == "&W0")) return Outcome::Ok;
  if (t.size() == 3 && t[0] == '&' && t[1] == 'D' && t[2] >= '0' && t[2] <= '3') {
    dtrMode_ = t[2] - '0';
    return Outcome::Ok;
  }
  if (t == "+FCLASS?") {
    info += voiceClass_ ? "\r\n8\r\n" : "\r\n0\r\n";
    return Outcome::Ok;
  }
  if (t == "+FCLASS=?") {
    info += "\r\n0,8\r\n";
    return Outcome::Ok;
  }
  std::optional<DialectCommand> command = LookUpDialectCommand(dialect_, t);
  if (!command) return Outcome::Error;
  return ExecuteDialect(*command);
}

SimModem::Outcome SimModem::ExecuteDialect(const DialectCommand& command) {
  switch (command.action) {
    case VoiceAction::EnterVoice:
      voiceClass_ = true;
      return Outcome::Ok;
    case VoiceAction::LeaveVoice:
      voiceClass_ = false;
      return Outcome::Ok;
    case VoiceAction::FlowControl:
      return Outcome::Ok;
    default:
      break;
  }
  // Everything else is a voice command: refused outside the voice class.
  if (!voiceClass_) return Outcome::Error;
  switch (command.action) {
    case VoiceAction::VoiceFormat:
    case VoiceAction::SilenceSensitivity:
      return Outcome::Ok;
    case VoiceAction::SilenceOn:
      silenceOn_ = true;
      return Outcome::Ok;
    case VoiceAction::SilenceOff:
      silenceOn_ = false;
      return Outcome::Ok;
    case VoiceAction::SilencePeriod:
      silencePeriod_ = command.value;
      return Outcome::Ok;
    case VoiceAction::SilenceBoth:
      silenceOn_ = command.value > 0;
      silencePeriod_ = command.value;
      return Outcome::Ok;
    case VoiceAction::SelectLine:
      device_ = command.device;
      return Outcome::Ok;
    case VoiceAction::LineOffHook:
      device_ = command.device;
      Answer();
      return Outcome::Ok;
    case VoiceAction::SelectLocal:
      device_ = command.device;
      Result(VoiceConnectResult(dialect_));
      return Outcome::Done;
    case VoiceAction::Answer:
      Answer();
      Result(VoiceConnectResult(dialect_));
      return Outcome::Done;
    case VoiceAction::Beep:
      transcript_.Add(now_, "beep", "", {{"device", device_}});
      Result("OK", kBeepMs);
      return Outcome::Done;
    case VoiceAction::Transmit:
      StartTransmit();
      return Outcome::Done;
    case VoiceAction::Receive:
      StartReceive();
      return Outcome::Done;
    default:
      return Outcome::Error;
  }
}

void SimModem::ResetSettings() {
  echo_ = true;
  verbose_ = true;
  quiet_ = false;
  dtrMode_ = 2;
  voiceClass_ = false;
  silenceOn_ = true;
  silencePeriod_ = kDefaultSilencePeriod;
  device_ = "line";
  sRegisters_.fill(0);
  sRegisters_[2] = 43;
  sRegisters_[3] = 13;
  sRegisters_[4] = 10;
  sRegisters_[5] = 8;
}

void SimModem::SetReply(const std::string& command, std::optional<std::string> result) {
  std::string key = Upper(WithoutSpaces(command));
  if (result) {
    replies_[key] = *result;
  } else {
    replies_.erase(key);
  }
}

// ---------------------------------------------------------------- line

void SimModem::Signal(SimSignal signal) {
  size_t i = static_cast<size_t>(signal);
  ++signalCount_[i];
  signalTime_[i] = now_;
}

uint64_t SimModem::SignalCount(SimSignal signal) const {
  return signalCount_[static_cast<size_t>(signal)];
}

uint64_t SimModem::SignalTime(SimSignal signal) const {
  return signalTime_[static_cast<size_t>(signal)];
}

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

void SimModem::GoOnHook(const std::string& reason) {
  if (mode_ == Mode::VoiceTx) EndTransmit(reason);
  if (mode_ == Mode::VoiceRx) EndReceive(reason);
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
    GoOnHook("no carrier");
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
    result = voiceClass_ ? "answer" : "NO CARRIER";
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
    mode_ = (!voiceClass_ && result.rfind("CONNECT", 0) == 0) ? Mode::DataOnline : Mode::Command;
    transcript_.Add(now_, "connect", "", {{"outgoing", true}});
    Signal(SimSignal::Connect);
  } else {
    GoOnHook("dial failed");
  }
}

void SimModem::QueueDialOutcome(std::string result, uint64_t delayMs) {
  dialOutcomes_.emplace_back(std::move(result), delayMs);
}

void SimModem::SetDtr(bool raised) {
  if (raised == dtr_) return;
  dtr_ = raised;
  transcript_.Add(now_, "dtr", raised ? "raised" : "dropped");
  if (raised || dtrMode_ == 0) return;
  bool busy = offHook_ || mode_ != Mode::Command;
  if (dtrMode_ == 1) {
    if (mode_ == Mode::VoiceTx) EndTransmit("dtr");
    if (mode_ == Mode::VoiceRx) EndReceive("dtr");
    if (mode_ == Mode::DataOnline) mode_ = Mode::Command;
  } else {
    GoOnHook("dtr");
    if (dtrMode_ == 3) ResetSettings();
  }
  if (busy) Result("OK");
}

// ---------------------------------------------------------------- far end

void SimModem::Ring(int count, uint64_t periodMs) {
  if (offHook_ || callState_ != CallState::None) {
    transcript_.Add(now_, "note", "the line is busy: the caller hears a busy tone");
    return;
  }
  int call = ++callId_;
  callState_ = CallState::Ringing;
  farEndGone_ = false;
  ringsLeft_ = std::max(count, 1);
  ringsDone_ = 0;
  ringPeriod_ = std::max<uint64_t>(periodMs, 100);
  At(now_, [this, call] { RingOnce(call); });
}

void SimModem::RingOnce(int call) {
  if (callState_ != CallState::Ringing || callId_ != call) return;
  ++ringsDone_;
  --ringsLeft_;
  transcript_.Add(now_, "ring", "", {{"n", int64_t{ringsDone_}}});
  if (mode_ == Mode::VoiceTx || mode_ == Mode::VoiceRx) {
    EmitEvent('R');  // in a voice phase a ring is an event in the data
  } else if (!quiet_) {
    Out(verbose_ ? "\r\nRING\r\n" : "2\r");
  }
  Signal(SimSignal::Ring);
  if (ringsLeft_ > 0) {
    At(now_ + ringPeriod_, [this, call] { RingOnce(call); });
  } else {
    At(now_ + ringPeriod_, [this, call] {
      if (callState_ == CallState::Ringing && callId_ == call) EndCall("not answered");
    });
  }
}

void SimModem::FarEndHangUp() {
  switch (callState_) {
    case CallState::None:
      transcript_.Add(now_, "note", "hang-up without a call");
      return;
    case CallState::Ringing:
      EndCall("the caller gave up");
      return;
    case CallState::Connected:
      break;
  }
  if (farEndGone_) return;
  transcript_.Add(now_, "far-end-hangup");
  if (mode_ == Mode::DataOnline || mode_ == Mode::DataAnswering) {
    Result("NO CARRIER", 0);
    GoOnHook("no carrier");
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
  if (!offHook_ || mode_ == Mode::DataOnline || mode_ == Mode::Dialing ||
      mode_ == Mode::DataAnswering) {
    transcript_.Add(now_, "note", std::string("event ") + code + " dropped: no voice line");
    return;
  }
  EmitEvent(code);
}

void SimModem::SetVoice(std::shared_ptr<const std::vector<uint8_t>> samples, std::string name) {
  voice_ = std::move(samples);
  voiceName_ = std::move(name);
  transcript_.Add(now_, "voice", voiceName_.empty() ? "none" : voiceName_,
                  {{"samples", static_cast<int64_t>(voice_ ? voice_->size() : 0)}});
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

std::shared_ptr<const std::vector<uint8_t>> SimModem::PhaseVoice() const {
  if (farEndGone_) return nullptr;
  // On the telephone line only a connected far end talks; a local handset always can.
  if (device_ == "line" && callState_ != CallState::Connected) return nullptr;
  return voice_;
}

// ---------------------------------------------------------------- voice phases

void SimModem::StartTransmit() {
  mode_ = Mode::VoiceTx;
  tx_ = std::make_unique<VoiceTransmit>(now_, Rate());
  heldInput_.clear();
  phase_ = VoicePhase{};
  phase_.kind = VoicePhase::Kind::Transmit;
  phase_.number = ++phaseCount_;
  phase_.device = device_;
  phase_.rate = Rate();
  phase_.start = now_;
  transcript_.Add(now_, "voice-tx-start", "", {{"phase", int64_t{phase_.number}}, {"device", device_}});
  Result("CONNECT");
  Signal(SimSignal::Play);
}

void SimModem::StartReceive() {
  mode_ = Mode::VoiceRx;
  phase_ = VoicePhase{};
  phase_.kind = VoicePhase::Kind::Receive;
  phase_.number = ++phaseCount_;
  phase_.device = device_;
  phase_.rate = Rate();
  phase_.start = now_;
  transcript_.Add(now_, "voice-rx-start", "", {{"phase", int64_t{phase_.number}}, {"device", device_}});
  Result("CONNECT");
  // The samples follow the CONNECT line.
  uint64_t period = silenceOn_ ? static_cast<uint64_t>(silencePeriod_) * 100u : 0;
  rx_ = std::make_unique<VoiceReceive>(lastDue_, Rate(), PhaseVoice(), period);
  Signal(SimSignal::Record);
}

void SimModem::EndTransmit(const std::string& reason) {
  if (!tx_) return;
  tx_->ConsumeTo(now_);
  VoicePhase phase = std::move(phase_);
  phase.end = now_;
  phase.samples = tx_->Played();
  phase.sampleCount = phase.samples.size();
  phase.underruns = tx_->Underruns();
  phase.longestGap = tx_->LongestGap();
  phase.endedBy = reason;
  tx_.reset();
  mode_ = Mode::Command;
  FinishPhase(std::move(phase), "voice-tx-end");
  if (reason == "etx") Result(VoiceConnectResult(dialect_));
  Signal(SimSignal::PlayEnd);
  std::string held = std::move(heldInput_);
  heldInput_.clear();
  if (reason == "etx")
    for (char c : held) InputByte(static_cast<uint8_t>(c));
}

void SimModem::EndReceive(const std::string& reason) {
  if (!rx_) return;
  if (reason == "cancel") {
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
  phase.endedBy = reason;
  rx_.reset();
  mode_ = Mode::Command;
  FinishPhase(std::move(phase), "voice-rx-end");
  if (reason == "cancel") Result(VoiceConnectResult(dialect_));
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
                   {"endedBy", phase.endedBy},
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

// ---------------------------------------------------------------- scenarios

void SimModem::AddScenario(std::vector<ScenarioStep> steps, const std::string& source) {
  runners_.push_back(std::make_unique<ScenarioRunner>(source, now_));
  runners_.back()->Append(std::move(steps), *this);
}

void SimModem::AppendSteps(std::vector<ScenarioStep> steps, const std::string& source) {
  for (auto& r : runners_) {
    if (r->Name() == source) {
      r->Append(std::move(steps), *this);
      return;
    }
  }
  AddScenario(std::move(steps), source);
}

}  // namespace telvara::sim
