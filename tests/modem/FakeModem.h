#pragma once
// A scripted voice modem for the driver's tests, living on the virtual clock. It reads
// the command lines the driver sends and answers them as the test says, plays what the
// driver sends in voice transmit at the line's rate, streams a caller's samples and
// touch tones in voice receive, and notes everything with its tick. Test thread only.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/ByteStream.h"
#include "platform/Clock.h"
#include "platform/VirtualWaiter.h"

namespace telvara::test {

class FakeModem final : public VirtualDevice {
 public:
  enum class Mode { Command, Transmit, Receive };
  struct Reply {
    std::vector<std::string> lines;  // each framed "\r\n" text "\r\n"; none: silence
    uint32_t delayMs = 20;
    Mode enter = Mode::Command;      // the mode from the reply on
  };
  struct Written {
    uint32_t tick;
    std::string bytes;
  };
  struct Stray {  // a control byte received in command mode
    uint32_t tick;
    uint8_t byte;
  };

  explicit FakeModem(VirtualClock& clock) : clock_(clock), born_(clock.Now()) {}

  // ---- the script
  // The reply to a command from now on.
  void On(const std::string& command, Reply reply) { rules_[command] = {std::move(reply)}; }
  // Adds a reply for the command's next use; replies are used in order, the last one stays.
  void Queue(const std::string& command, Reply reply) { rules_[command].push_back(std::move(reply)); }
  void On(const std::string& command, const std::string& line) { On(command, Reply{{line}}); }
  void SetDefault(Reply reply) { default_ = std::move(reply); }
  void SendAt(uint32_t tick, const std::string& bytes);
  void SendAfter(uint32_t ms, const std::string& bytes) { SendAt(clock_.Now() + ms, bytes); }

  int lineRate = 7200;
  std::vector<std::string> transmitEndLines = {"VCON"};
  // Voice receive: the caller's samples from the CONNECT on, events (the code after
  // DLE) before the sample of the given index, then DLE ETX if the caller's part ends.
  std::vector<uint8_t> callerSamples;
  std::multimap<std::size_t, uint8_t> callerEvents;
  bool callerEndsWithEtx = false;
  bool ignoreCancel = false;
  std::vector<std::string> receiveEndLines = {"OK"};

  // ---- the port
  bool acceptsBytes = true;
  int outputCapacity = 22000;
  bool reportsOutputQueue = false;  // a pseudo-terminal's queue count reads 0
  bool failOpen = false;
  PortOpener Opener();

  // ---- what happened
  std::vector<std::string> commands;
  std::vector<uint32_t> commandTicks;
  std::vector<Written> writes;
  std::vector<Stray> strays;
  std::vector<uint8_t> played;            // samples the line played in voice transmit
  std::vector<uint32_t> transmitEndTicks; // when DLE ETX reached the modem
  uint32_t longestStarvation = 0;         // the longest gap in a voice-transmit phase
  std::vector<uint32_t> cancelTicks;
  std::vector<std::pair<uint32_t, bool>> dtrChanges;
  int maxQueued = 0;
  long reads = 0;
  int openedPort = 0;
  int openedBaud = 0;
  bool portOpen = false;
  Mode mode() const { return mode_; }
  std::string AllWritten() const;

  // ---- the byte stream (through the port the opener gives)
  long Read(void* buffer, std::size_t max);
  long Write(const void* data, std::size_t count);
  int OutputQueued();
  bool SetDtr(bool raised);

  // ---- VirtualDevice
  void AdvanceTo(uint32_t now) override;
  bool Ready(WaitFor what) override;
  uint32_t NextChange(uint32_t now) override;

 private:
  void Called();
  void Schedule(uint32_t tick, std::function<void()> fn) { actions_.emplace(tick, std::move(fn)); }
  void Drain(uint32_t upTo);
  void Consume(uint8_t byte, uint32_t tick);
  void Command(const std::string& line, uint32_t tick);
  void SendLines(const std::vector<std::string>& lines);
  void StreamChunk(uint32_t tick, int generation);

  VirtualClock& clock_;
  uint32_t born_;
  long calls_ = 0;
  std::map<std::string, std::deque<Reply>> rules_;
  Reply default_{{"OK"}};
  std::multimap<uint32_t, std::function<void()>> actions_;
  std::string toHost_;
  std::deque<uint8_t> queue_;  // written by the host, not yet taken by the modem
  uint32_t lastDrain_ = 0;
  uint64_t credit_ = 0;
  bool starving_ = false;
  uint32_t starveStart_ = 0;
  Mode mode_ = Mode::Command;
  std::string line_;
  bool dle_ = false;
  std::size_t callerPos_ = 0;
  int generation_ = 0;
};

}  // namespace telvara::test
