#pragma once
// The one simulated line every in-process test runs on: a virtual clock, the engine's loop,
// the simulated modem behind a fault layer, the voice driver, a scratch folder.
#include <stdlib.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Files.h"
#include "SimStream.h"
#include "modem/FMODEM.h"
#include "platform/VirtualWaiter.h"

namespace telvara::testing {

// What goes wrong between the driver and the modem; a test sets them at any time.
struct LineFaults {
  bool failOpen = false;          // the device cannot be opened
  bool takesNoBytes = false;      // flow control held for ever: nothing leaves the port
  bool hidesOutputQueue = false;  // the queue count reads 0, as on a pseudo-terminal
  bool ignoresCancel = false;     // a lone CAN is lost (the modem never ends a recording)
  bool hungUp = false;            // reads and writes fail (a USB modem unplugged)
  std::size_t portBuffer = 0;     // bytes the port itself holds before the modem (a tty's)
  std::string injected;           // bytes read before anything the modem sends
  std::string openNotice;         // what an open that succeeds says (no lock file, say)
};

// What the port did, with the truth behind a hidden queue.
struct PortLog {
  long calls = 0;                                        // reads and writes
  std::vector<std::pair<uint32_t, std::string>> writes;  // what it took, when
  std::string wire;                                      // all of it
  std::size_t mostQueued = 0;                            // the most bytes in the port and the modem after a write
  const std::string& Wire() const { return wire; }
  // When `bytes` were written as one (DLE ETX and CAN go alone).
  std::vector<uint32_t> TimesOf(const std::string& bytes) const {
    std::vector<uint32_t> t;
    for (const auto& w : writes)
      if (w.second == bytes) t.push_back(w.first);
    return t;
  }
};

class SimLine : private VirtualDevice {
 public:
  explicit SimLine(ModemType dialect) : dialect_(dialect), stream_(clock_, dialect) { waiter_->AddDevice(this); }
  ~SimLine() override { driver_.reset(); }

  VirtualClock& Clock() { return clock_; }
  uint32_t Now() const { return clock_.Now(); }
  EventLoop& Loop() { return loop_; }
  sim::SimStream& Stream() { return stream_; }
  sim::SimModem& Modem() { return stream_.Modem(); }
  LineFaults& Faults() { return faults_; }
  const PortLog& Port() const { return log_; }
  std::string Path(const std::string& name = "") const { return dir_.Path() + name; }

  // The driver's way to the line: "COM<n>" opens it through the faults.
  PortOpener Opener() {
    return [this](int n, int baud) {
      if (faults_.failOpen)
        return PortOpenResult{{}, "cannot open COM" + std::to_string(n) + ": No such file or directory", ""};
      PortOpenResult r = simOpener_(n, baud);
      if (r.stream) r = {std::make_unique<FaultyPort>(std::move(r.stream), *this), "", faults_.openNotice};
      return r;
    };
  }
  FMODEM& Driver() {  // its faults are told to Reported()
    if (!driver_) driver_ = std::make_unique<FMODEM>(loop_, Opener());
    driver_->SetFaultReporter([this](const std::string& text) { reported_.push_back(text); });
    return *driver_;
  }
  std::vector<std::string>& Reported() { return reported_; }
  // Open(): the driver's port in the line's dialect; Call(): a ring, answered.
  bool Open() { return Driver().OpenComm(2, 1152) && driver_->SetModemType(dialect_); }
  bool Call() {
    Modem().Ring(1);
    return Driver().WaitResult(kNoStopText, 2000) == ResultRing && driver_->Answer() == 1;
  }

  // Runs fn on the engine thread when the virtual clock reaches the tick (in a wait).
  void At(uint32_t tick, std::function<void()> fn) { waiter_->At(tick, std::move(fn)); }
  // Dispatches messages as the program's loop would.
  void RunFor(uint32_t ms) {
    for (uint32_t until = Now() + ms; !TickReached(Now(), until);)
      if (!loop_.PumpOne()) loop_.WaitUntil(until, WaitFor::Messages);
  }
  // The command lines the modem received, from the n-th on.
  std::vector<std::string> Commands(std::size_t from = 0) {
    std::vector<std::string> c = stream_.GetTranscript().Texts("command");
    return std::vector<std::string>(c.begin() + static_cast<long>(std::min(from, c.size())), c.end());
  }
  // When the transcript's entries of a kind (and text) happened.
  std::vector<uint32_t> Times(const std::string& kind, const std::string& text = "") {
    std::vector<uint32_t> t;
    for (const sim::TranscriptEntry& e : stream_.GetTranscript().Entries())
      if (e.kind == kind && (text.empty() || e.text == text)) t.push_back(origin_ + static_cast<uint32_t>(e.t));
    return t;
  }
  // What the line played in each voice-transmit phase since the last call.
  std::vector<std::vector<uint8_t>> Played() {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& phases = Modem().Phases(); seenPhases_ < phases.size(); ++seenPhases_)
      if (phases[seenPhases_].kind == sim::VoicePhase::Kind::Transmit) out.push_back(phases[seenPhases_].samples);
    return out;
  }

 private:
  // One open of the line, through the faults; closing it lets go of the simulated port.
  class FaultyPort final : public ByteStream {
   public:
    FaultyPort(std::unique_ptr<ByteStream> inner, SimLine& line) : inner_(std::move(inner)), line_(line) {
      line_.port_ = this;
    }
    ~FaultyPort() override { line_.port_ = nullptr; }
    long Read(void* buffer, std::size_t max) override {
      ++line_.log_.calls;
      std::string& injected = line_.faults_.injected;
      if (f().hungUp) return errno = EIO, -1;
      if (injected.empty()) return inner_->Read(buffer, max);
      std::size_t n = injected.copy(static_cast<char*>(buffer), max);
      injected.erase(0, n);
      return static_cast<long>(n);
    }
    long Write(const void* data, std::size_t count) override {
      ++line_.log_.calls;
      const char* bytes = static_cast<const char*>(data);
      if (f().hungUp) return errno = EIO, -1;
      if (f().ignoresCancel && count == 1 && bytes[0] == char(kCAN)) return 1;
      Flush();
      long n = 0;
      if (f().portBuffer > 0) {
        n = static_cast<long>(std::min(count, f().portBuffer - std::min(f().portBuffer, pending_.size())));
        pending_.append(bytes, static_cast<std::size_t>(n));
        Flush();
      } else if (!f().takesNoBytes) {
        n = inner_->Write(data, count);
      }
      if (n > 0) line_.log_.writes.emplace_back(line_.Now(), std::string(bytes, std::size_t(n)));
      if (n > 0) line_.log_.wire += line_.log_.writes.back().second;
      line_.log_.mostQueued = std::max(line_.log_.mostQueued, Queued());
      return n;
    }
    int InputQueued() override { return static_cast<int>(f().injected.size()) + inner_->InputQueued(); }
    int OutputQueued() override {
      Flush();
      return f().hidesOutputQueue ? 0 : static_cast<int>(Queued());
    }
    bool SetDtr(bool raised) override { return inner_->SetDtr(raised); }
    int PollFd() const override { return -1; }
    void Flush() {  // the port's buffer goes on as the modem takes it
      for (long n; !f().takesNoBytes && !f().hungUp && !pending_.empty(); pending_.erase(0, n))
        if ((n = inner_->Write(pending_.data(), pending_.size())) <= 0) return;
    }
    bool HasRoom() const { return f().portBuffer > 0 ? pending_.size() < f().portBuffer : !f().takesNoBytes; }

   private:
    const LineFaults& f() const { return line_.faults_; }
    std::size_t Queued() { return pending_.size() + static_cast<std::size_t>(std::max(0, inner_->OutputQueued())); }

    std::unique_ptr<ByteStream> inner_;
    SimLine& line_;
    std::string pending_;
  };

  // Through the faults: no room when nothing is taken, a hung-up port sleeps (as in poll()).
  void AdvanceTo(uint32_t now) override {
    stream_.AdvanceTo(now);
    if (port_) port_->Flush();
  }
  bool Ready(WaitFor what) override {
    if (faults_.hungUp || what == WaitFor::Messages) return false;
    if (what == WaitFor::Input) return !faults_.injected.empty() || stream_.Ready(what);
    return port_ ? port_->HasRoom() && (faults_.portBuffer > 0 || stream_.Ready(what)) : stream_.Ready(what);
  }
  bool Failed() override { return faults_.hungUp; }
  uint32_t NextChange(uint32_t now) override { return stream_.NextChange(now); }

  VirtualClock clock_;
  VirtualWaiter* waiter_ = new VirtualWaiter(clock_);  // owned by the loop
  EventLoop loop_{clock_, std::unique_ptr<Waiter>(waiter_)};
  uint32_t origin_ = clock_.Now();  // the tick of the transcript's time 0
  ModemType dialect_;
  sim::SimStream stream_;
  PortOpener simOpener_ = sim::MakeSimPortOpener(stream_);
  LineFaults faults_;
  PortLog log_;
  FaultyPort* port_ = nullptr;
  ScratchDir dir_;
  std::vector<std::string> reported_;
  std::size_t seenPhases_ = 0;
  std::unique_ptr<FMODEM> driver_;
};

// Samples of every byte value, 0x10 included.
inline std::vector<uint8_t> Samples(std::size_t count, uint8_t seed = 0) {
  std::vector<uint8_t> s(count);
  for (std::size_t i = 0; i < count; ++i) s[i] = static_cast<uint8_t>(i * 7 + seed);
  return s;
}

// Runs fn with files limited to `bytes`: a write beyond fails as on a full disk.
template <class F>
auto WithFileSizeLimit(rlim_t bytes, F fn) {
  rlimit old{}, limit{bytes, 0};
  getrlimit(RLIMIT_FSIZE, &old);
  limit.rlim_max = old.rlim_max;
  auto handler = std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limit);
  auto result = fn();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, handler);
  return result;
}

}  // namespace telvara::testing
