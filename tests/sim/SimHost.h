#pragma once
// Test helper: a host talking to a modem byte for byte through a loop's waits: the one
// simulated line's modem (virtual clock), or telvara-modemsim's pty (real clock).
#include <algorithm>
#include <string>
#include <vector>

#include "SimLine.h"

namespace telvara::sim::testing {

class RawHost {
 public:
  RawHost(EventLoop& loop, ByteStream& stream) : loop_(loop), stream_(stream) { loop_.GetWaiter().Watch(&stream_); }
  // Writes everything, waiting for room while the modem takes nothing.
  void Send(const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
      long n = stream_.Write(bytes.data() + done, bytes.size() - done);
      if (n > 0)
        done += static_cast<size_t>(n);
      else
        loop_.BlockUntil(loop_.GetClock().Now() + 10000, WaitFor::OutputRoom);
    }
  }
  // Reads until `needle` has arrived or `ms` passed (with all that was due by then).
  std::string ReadUntil(const std::string& needle, uint32_t ms) {
    uint32_t until = loop_.GetClock().Now() + ms;
    std::string got;
    char buffer[4096];
    while (got.find(needle) == std::string::npos) {
      long n = stream_.Read(buffer, sizeof buffer);
      if (n > 0)
        got.append(buffer, static_cast<size_t>(n));
      else if (TickReached(loop_.GetClock().Now(), until))
        break;
      else
        loop_.BlockUntil(until, WaitFor::Input);
    }
    return got;
  }
  // Everything the modem sends in the next `ms` milliseconds.
  std::string ReadFor(uint32_t ms) { return ReadUntil(std::string("\0never", 6), ms); }
  // Sends a command line; what came back within a second.
  std::string Command(const std::string& line) {
    Send(line + "\r");
    return ReadFor(1000);
  }

 private:
  EventLoop& loop_;
  ByteStream& stream_;
};

// The in-process modem on the simulated line, a host on its stream, and the command
// lines that bring it into the test's starting state.
class SimHost : public telvara::testing::SimLine, public RawHost {
 public:
  explicit SimHost(ModemType dialect, const std::vector<std::string>& setup = {})
      : SimLine(dialect), RawHost(Loop(), Stream()) {
    for (const std::string& line : setup) Command(line);
  }
  // Runs scenario text on a runner of its own; the parse error, or "".
  std::string Scenario(const std::string& text) { return Stream().AddScenario(text); }
  Transcript& Log() { return Stream().GetTranscript(); }
  // Whether a transcript line holds the JSON text.
  bool Logged(const std::string& json) {
    return std::ranges::any_of(Log().Entries(), [&](auto& e) { return e.json.find(json) != std::string::npos; });
  }
  // When the transcript entries of a kind were made.
  std::vector<uint64_t> Times(const std::string& kind) {
    std::vector<uint64_t> times;
    for (const TranscriptEntry& e : Log().Entries())
      if (e.kind == kind) times.push_back(e.t);
    return times;
  }
};

}  // namespace telvara::sim::testing
