#include "modem/FCOMM.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace telvara {
namespace {

// Result lines, compared in this order over each entry's own length.
const char* const kResultTexts[] = {
    "OK",   "CONNECT", "ERROR", "NO CARRIER", "NO DIALTONE", "BUSY",   "RING",   "NO ANSWER",
    "VCON", "FCON",    "DCON",  "+FDIS:",     "+FCSI:",      "+FNSF:", "+FHNG:",
};

constexpr uint32_t kFirstCharMs = 100;  // a line must start within this
constexpr uint32_t kLineMs = 500;       // and end within this once started
constexpr std::size_t kStopTextMax = 40;
constexpr int kLineSize = 250;

bool StartsWith(const std::string& line, const std::string& prefix) {
  return line.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

int BaudForSpeed(int speed) {
  switch (speed) {
    case 24: return 2400;
    case 48: return 4800;
    case 96: return 9600;
    case 192: return 19200;
    case 384: return 38400;
    case 560: return 56000;
    case 576: return 57600;
    case 1152: return 115200;
    case 1280: return 128000;
    case 2560: return 256000;
    default: return 19200;
  }
}

FCOMM::FCOMM(EventLoop& loop, PortOpener opener) : loop_(loop), opener_(std::move(opener)) {}

FCOMM::~FCOMM() {
  if (open_) CloseComm();
}

void FCOMM::ReportFault(const std::string& text) {
  if (faultReporter_) faultReporter_(text);
}

void FCOMM::MarkLost(const std::string& reason) {
  if (lost_) return;
  lost_ = true;
  lostReason_ = reason;
}

bool FCOMM::Aborted() {
  if (open_ && !lost_ && loop_.GetWaiter().StreamFailed()) MarkLost("the port hung up");
  return lost_ || loop_.Closing();
}

namespace {

// Why a read or a write failed, as errno says it.
std::string PortError(const char* what, int error) {
  return std::string("the port failed ") + what + (error != 0 ? std::string(" (") + std::strerror(error) + ")" : "");
}

}  // namespace

// ---- the port ------------------------------------------------------------------------

int FCOMM::OpenComm(int port, int speed) {
  loop_.CheckEngineThread();
  if (open_) CloseComm();
  openError_.clear();
  openNotice_.clear();
  if (!opener_) {
    openError_ = "no way to open a port";
    return 0;
  }
  PortOpenResult r = opener_(port, BaudForSpeed(speed));
  if (!r.stream) {
    openError_ = r.error.empty() ? "COM" + std::to_string(port) + " cannot be opened" : r.error;
    return 0;
  }
  stream_ = std::move(r.stream);
  openNotice_ = std::move(r.notice);
  portStuck_ = false;
  lost_ = false;
  lostReason_.clear();
  inputCount_ = inputPos_ = 0;
  open_ = true;
  loop_.GetWaiter().Watch(stream_.get());
  return 1;
}

void FCOMM::CloseComm() {
  if (stream_) {
    stream_->SetDtr(false);
    loop_.GetWaiter().Watch(nullptr);
  }
  open_ = false;
  stream_.reset();
  pacer_.Stop();
  decoder_.Reset();
}

// ---- reading -------------------------------------------------------------------------

bool FCOMM::Refill() {
  inputCount_ = 0;
  inputPos_ = 0;
  if (!open_ || lost_) return false;
  errno = 0;
  long n = stream_->Read(input_.data(), input_.size());
  if (n < 0) MarkLost(PortError("reading", errno));
  if (n > 0) inputCount_ = static_cast<int>(std::min<long>(n, input_.size()));
  return inputCount_ > 0;
}

bool FCOMM::HasBufferedInput() const {
  for (int i = inputPos_; i < inputCount_; ++i)
    if (input_[i] != '\r' && input_[i] != '\n') return true;
  return false;
}

void FCOMM::QueueEvent(uint8_t code) {
  // No guard against overrun: the oldest untaken events are overwritten.
  events_[eventWrite_] = code;
  eventWrite_ = (eventWrite_ + 1) % 256;
}

bool FCOMM::NextDecoded(uint8_t& byte, DleDecoder::Kind& kind) {
  for (;;) {
    if (inputPos_ >= inputCount_) return false;
    byte = input_[inputPos_++];
    kind = decoder_.Feed(byte);
    if (kind != DleDecoder::Kind::Pending) return true;
  }
}

int FCOMM::ReadByte() {
  if (inputPos_ >= inputCount_) Refill();
  uint8_t byte;
  DleDecoder::Kind kind;
  if (!NextDecoded(byte, kind)) return kReadNothing;
  if (kind == DleDecoder::Kind::Event) {
    QueueEvent(byte);
    return kReadEvent;
  }
  // Bytes come back as signed chars: 0x80 and above read negative.
  return static_cast<int8_t>(byte);
}

int FCOMM::ReadBlock(int max, uint8_t* buffer) {
  int count = 0;
  if (max <= 0 || buffer == nullptr) return 0;
  bool refilled = false;
  for (;;) {
    uint8_t byte;
    DleDecoder::Kind kind;
    while (NextDecoded(byte, kind)) {
      if (kind == DleDecoder::Kind::Event) {
        QueueEvent(byte);
        return count;
      }
      buffer[count++] = byte;
      if (count >= max) return count;
    }
    if (refilled || !Refill()) return count;
    refilled = true;
  }
}

int FCOMM::TakeEvent() {
  if (eventRead_ == eventWrite_) return 0;
  int code = events_[eventRead_];
  eventRead_ = (eventRead_ + 1) % 256;
  return code;
}

void FCOMM::UngetEvent() { eventRead_ = (eventRead_ + 255) % 256; }

int FCOMM::PollEvent() {
  if (eventRead_ == eventWrite_) {
    while (ReadByte() != kReadNothing) {
    }
  }
  return TakeEvent();
}

int FCOMM::FlushEvents() {
  while (ReadByte() != kReadNothing) {
  }
  while (TakeEvent() != 0) {
  }
  return 0;
}

// ---- result lines --------------------------------------------------------------------

int FCOMM::ReadLine(int size, std::string& line) {
  line.clear();
  if (size < 2) return 0;
  uint32_t start = Ticks();
  int c;
  for (;;) {
    c = ReadByte();
    if (c >= 32 && c <= 127) break;
    if (TickReached(Ticks(), start + kFirstCharMs) || Aborted()) return 0;
    loop_.PumpOne();
    if (c == kReadNothing) loop_.WaitUntil(start + kFirstCharMs, WaitFor::Input);
  }
  line.push_back(static_cast<char>(c));
  uint32_t lineStart = Ticks();
  for (;;) {
    c = ReadByte();
    if (c == '\r' || c == '\n') break;
    if (c < 0 || c > 255) {
      if (TickReached(Ticks(), lineStart + kLineMs) || Aborted()) break;
      loop_.PumpOne();
      if (c == kReadNothing) loop_.WaitUntil(lineStart + kLineMs, WaitFor::Input);
      continue;
    }
    if (static_cast<int>(line.size()) >= size - 1) break;
    line.push_back(static_cast<char>(c));
  }
  return static_cast<int>(line.size());
}

ModemResult FCOMM::Classify(const std::string& line) const {
  int code = 1;
  for (const char* text : kResultTexts) {
    if (StartsWith(line, text)) return static_cast<ModemResult>(code);
    ++code;
  }
  if (StartsWith(line, stopText_)) return ResultStopText;
  return ResultNone;
}

ModemResult FCOMM::WaitResult(const std::string& stop, int units) {
  loop_.SetDeadline(static_cast<uint32_t>(std::max(units, 0)));
  stopText_ = stop.substr(0, kStopTextMax);
  for (;;) {
    if (Aborted() || loop_.DeadlinePassed()) return ResultNone;
    if (ReadLine(kLineSize, lineBuffer_) == 0) continue;
    ModemResult r = Classify(lineBuffer_);
    if (r != ResultNone) return r;
    if (otherLineSink_) otherLineSink_(lineBuffer_);
  }
}

int FCOMM::SendLine(const std::string& text) {
  if (!open_ || lost_) return 0;
  std::size_t end = text.size();
  while (end > 0 && static_cast<uint8_t>(text[end - 1]) < 16) --end;
  for (std::size_t i = 0; i < end; ++i)
    if (!WriteByteRetrying(static_cast<uint8_t>(text[i]))) return 0;
  return WriteByteRetrying('\r') ? 1 : 0;
}

ModemResult FCOMM::SendCommand(const std::string& command) {
  loop_.Delay(2);
  // A command the port never took has no answer to wait for.
  if (!SendLine(command)) return ResultNone;
  ModemResult r = WaitResult(kNoStopText, 400);
  loop_.Delay(2);
  return r;
}

// ---- writing -------------------------------------------------------------------------

int FCOMM::WriteByte(uint8_t byte) {
  if (!open_ || lost_) return 0;
  uint32_t start = Ticks();
  for (;;) {
    errno = 0;
    long n = stream_->Write(&byte, 1);
    if (n == 1) return 1;
    if (n < 0) {
      MarkLost(PortError("writing", errno));
      return 0;
    }
    if (TickReached(Ticks(), start + kWriteByteMs) || Aborted()) return 0;
    loop_.BlockUntil(start + kWriteByteMs, WaitFor::OutputRoom);
  }
}

bool FCOMM::WriteByteRetrying(uint8_t byte) {
  if (!open_) return false;
  uint32_t start = Ticks();
  for (;;) {
    uint32_t attempt = Ticks();
    if (WriteByte(byte)) {
      portStuck_ = false;
      return true;
    }
    // A port already known to be stuck gets one attempt, so that a sequence of
    // writes (a command, the hang-up stages) does not wait the bound for each byte.
    if (portStuck_ || Aborted()) return false;
    if (TickReached(Ticks(), start + kStuckPortMs)) {
      portStuck_ = true;
      ReportFault("The modem port took no data for 5 seconds");
      return false;
    }
    // A write that failed outright (not just held up) is retried after the time a
    // held-up one would have taken, not at once.
    if (!TickReached(Ticks(), attempt + kWriteByteMs))
      loop_.BlockUntil(std::min(attempt + kWriteByteMs, start + kStuckPortMs), WaitFor::Messages);
  }
}

void FCOMM::BeginLinePacing(uint32_t aheadMs) { pacer_.Start(lineRate_, aheadMs, Ticks()); }

int FCOMM::WriteBlock(int count, const uint8_t* bytes) {
  if (!open_ || lost_ || count <= 0 || bytes == nullptr) return 0;
  // The samples in the block: a doubled DLE is one sample.
  int samples = 0;
  if (pacer_.Active()) {
    for (int i = 0; i < count; ++i) {
      if (bytes[i] == kDLE && i + 1 < count && bytes[i + 1] == kDLE) ++i;
      ++samples;
    }
  }
  uint32_t start = Ticks();
  uint32_t lastRoom = start;
  // Wait until the output queue takes the whole block below the limit and the line's
  // pace allows it, dispatching messages meanwhile.
  for (;;) {
    uint32_t now = Ticks();
    int queued = stream_->OutputQueued();
    bool room = queued >= 0 && queued + count < kOutputQueueLimit;
    uint32_t ready = pacer_.ReadyTick(samples, now);
    bool paced = TickReached(now, ready);
    if (room && paced) break;
    if (Aborted()) return 0;
    if (room) lastRoom = now;
    if (TickReached(now, lastRoom + kStuckPortMs)) {
      if (!portStuck_) ReportFault("The modem port took no data for 5 seconds");
      portStuck_ = true;
      return 0;
    }
    loop_.PumpOne();
    if (!open_) return 0;  // a dispatched message closed the port
    if (!paced) {
      loop_.WaitUntil(ready, WaitFor::Messages);
    } else {
      // The queue drains at about a byte per sample of the line; look again when the
      // excess should be gone. (Not on output readiness: a port can be writable while
      // its queue count stays above the limit, and the loop would spin.)
      int excess = queued >= 0 ? queued + count - kOutputQueueLimit + 1 : 1;
      uint32_t ms = static_cast<uint32_t>(excess) * 1000u / static_cast<uint32_t>(lineRate_);
      loop_.WaitUntil(now + std::clamp<uint32_t>(ms, 5, 50), WaitFor::Messages);
    }
  }
  int done = 0;
  for (;;) {
    errno = 0;
    long n = stream_->Write(bytes + done, static_cast<std::size_t>(count - done));
    if (n < 0) {
      MarkLost(PortError("writing", errno));
      return 0;
    }
    done += static_cast<int>(n);
    if (done >= count) break;
    if (TickReached(Ticks(), start + kWriteBlockMs) || Aborted()) {
      if (!Aborted()) ReportFault("The modem port held up the sound data for 3.5 seconds");
      pacer_.Sent(samples);
      return 0;
    }
    loop_.BlockUntil(start + kWriteBlockMs, WaitFor::OutputRoom);
  }
  portStuck_ = false;
  pacer_.Sent(samples);
  return count;
}

int FCOMM::SendCancel() { return WriteByteRetrying(kCAN) ? 1 : 0; }

// ---- hang-up -------------------------------------------------------------------------

int FCOMM::HangUp() {
  // A lost port has nobody to hang up; a closing program drops DTR as it closes the port.
  if (!open_ || Aborted()) return 0;
  // 1. Ask politely.
  loop_.Delay(5);
  SendLine("ATH0");
  if (WaitResult(kNoStopText, 300) == ResultOk) return 1;
  // 2. Drop DTR: a modem set up with &D2 goes on hook.
  if (stream_) stream_->SetDtr(false);
  loop_.Delay(100);
  if (stream_) stream_->SetDtr(true);
  WaitResult(kNoStopText, 200);
  loop_.Delay(5);
  if (SendCommand("ATH0") == ResultOk) return 1;
  // 3. End a voice transmission in progress.
  if (WriteByteRetrying(kDLE)) WriteByteRetrying(kETX);
  WaitResult(kNoStopText, 200);
  if (SendCommand("ATH0") == ResultOk) return 1;
  // 4. End a voice reception in progress.
  SendCancel();
  WaitResult(kNoStopText, 200);
  return SendCommand("ATH0") == ResultOk ? 1 : 0;
}

}  // namespace telvara
