// The simulated modem's core: its clock, the bytes queued for the host, the host's
// bytes dispatched by the modem's state, and the scenario runners. The command
// interpreter, the line and far end, and the voice phases have files of their own.
#include "SimModem.h"

#include <algorithm>

namespace telvara::sim {
namespace {

constexpr uint64_t kFarAway = 24ull * 3600 * 1000;

// The numeric form of a result for V0.
const char* NumericCode(const std::string& text) {
  static const std::pair<const char*, const char*> kCodes[] = {
      {"OK", "0"},    {"CONNECT", "1"},     {"RING", "2"}, {"NO CARRIER", "3"},
      {"ERROR", "4"}, {"NO DIALTONE", "6"}, {"BUSY", "7"}, {"NO ANSWER", "8"},
  };
  for (const auto& [name, code] : kCodes)
    if (text == name) return code;
  return nullptr;
}

}  // namespace

SimModem::SimModem(ModemType dialect, uint32_t startTick) : dialect_(dialect), lastTick_(startTick) {
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
  auto firstFuture =
      std::upper_bound(out_.begin(), out_.end(), now, [](uint64_t t, const OutChunk& c) { return t < c.due; });
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
  if (bytes.empty() || !powered_) return;
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
  if (settings_.quiet) return;
  if (settings_.verbose) {
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

size_t SimModem::TransmitBuffered() const { return mode_ == Mode::VoiceTx && tx_ ? tx_->Buffered() : 0; }

size_t SimModem::HostWrite(const uint8_t* data, size_t count) {
  if (!powered_) return count;  // lost: nothing listens
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
      transcript_.Add(now_, "etx-received", "", {{"buffered", static_cast<int64_t>(tx_->Buffered())}});
    }
    // Commands sent right behind DLE ETX wait for the end of the phase.
    if (heldInput_.size() + after.size() <= kLineLimit * 4) heldInput_ += after;
    if (tx_->Ended()) {
      EndTransmit(PhaseEnd::Etx);
      continue;
    }
    if (n == 0) break;  // clear-to-send is down
  }
  return i;
}

void SimModem::InputByte(uint8_t b) {
  switch (mode_) {
    case Mode::VoiceRx: {
      // The stop sequences of real modems: CAN in all; DLE '!' (the receive abort);
      // a bare '!' on Rockwell modems; DLE alone on US Robotics modems.
      bool afterDle = rxDle_;
      rxDle_ = b == kDLE;
      if (b == kCAN || (afterDle && b == '!') || (b == '!' && dialect_ == Rockwell) ||
          (b == kDLE && dialect_ == USRobotics))
        EndReceive(PhaseEnd::Cancel);
      return;  // anything else is ignored while the modem sends voice
    }
    case Mode::DataOnline: return;  // data for the far end, which this simulator does not model
    case Mode::Dialing:
    case Mode::DataAnswering:
      // Any character aborts dialling or the handshake.
      transcript_.Add(now_, "abort", mode_ == Mode::Dialing ? "dial" : "answer");
      Result("NO CARRIER");
      GoOnHook(OnHook::Aborted);
      return;
    default: CommandByte(b);
  }
}

// ---------------------------------------------------------------- scenarios

void SimModem::Signal(SimSignal signal) {
  size_t i = static_cast<size_t>(signal);
  ++signalCount_[i];
  signalTime_[i] = now_;
}

uint64_t SimModem::SignalCount(SimSignal signal) const { return signalCount_[static_cast<size_t>(signal)]; }

uint64_t SimModem::SignalTime(SimSignal signal) const { return signalTime_[static_cast<size_t>(signal)]; }

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
