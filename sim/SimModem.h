#pragma once
// The emulation core of the simulated voice modem. It takes the bytes the host writes,
// produces the bytes the host reads, and acts over time: command echo and results,
// rings with a real cadence, answering, dialling, voice transmit at the line's rate
// through a bounded buffer, voice receive of the far end's samples with touch tones
// and silence reports, DTR. Time comes in from outside as the caller's millisecond
// ticks (a real or a virtual clock), so the same core serves the pseudo-terminal
// program and the in-process tests.
//
// Single-threaded: belongs to the thread that drives it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Scenario.h"
#include "SimCommands.h"
#include "SimDialect.h"
#include "Transcript.h"
#include "VoiceReceive.h"
#include "VoiceTransmit.h"

namespace telvara::sim {

// What ended a voice phase.
enum class PhaseEnd {
  Etx,     // the host's DLE ETX, once what came before it was played
  Cancel,  // the host's CAN during receive
  Dtr,     // DTR dropped
  HangUp,  // the host hung up (ATH)
  Reset,   // ATZ
  Power,   // the modem lost its power (or was unplugged)
};
// The word the transcript writes: "etx", "cancel", "dtr", "host", "reset", "power".
const char* PhaseEndName(PhaseEnd end);

// One voice phase as the line carried it.
struct VoicePhase {
  enum class Kind { Transmit, Receive };
  Kind kind = Kind::Transmit;
  int number = 0;      // 1, 2, ... in the order the phases began
  std::string device;  // "line", "handset", "speaker", ...
  int rate = 0;
  uint64_t start = 0;  // ms since the simulator started
  uint64_t end = 0;
  uint64_t sampleCount = 0;
  std::vector<uint8_t> samples;  // transmit: what the line played
  int underruns = 0;             // transmit: times the buffer ran dry before the end
  uint64_t longestGap = 0;       // transmit: longest of those gaps, ms
  PhaseEnd endedBy = PhaseEnd::Etx;
};

class SimModem {
 public:
  static constexpr uint64_t kReplyDelayMs = 8;    // command to result
  static constexpr uint64_t kResetDelayMs = 100;  // ATZ
  static constexpr uint64_t kBeepMs = 150;
  static constexpr uint64_t kRingPeriodMs = 6000;  // RING to RING: 2 s on, 4 s off
  static constexpr uint64_t kCallerIdMs = 1000;    // first RING to the caller-ID lines
  static constexpr uint64_t kKeyGapMs = 300;       // between the keys of one `key` step
  static constexpr uint64_t kDataAnswerMs = 5000;  // a data answer to a voice caller fails
  static constexpr uint64_t kDialDelayMs = 3000;   // the far end picks up
  static constexpr uint64_t kBusyDelayMs = 2000;   // far end gone to first busy report
  static constexpr uint64_t kBusyRepeatMs = 4000;
  static constexpr int kDefaultSilencePeriod = 50;  // tenths of a second
  static constexpr size_t kOutputLimit = 1 << 20;   // undelivered bytes kept for the host
  static constexpr size_t kLineLimit = CommandLineReader::kLineLimit;

  SimModem(ModemType dialect, uint32_t startTick);
  ~SimModem();
  SimModem(const SimModem&) = delete;
  SimModem& operator=(const SimModem&) = delete;

  // Samples per second on the line: the last format command's rate, else the dialect's.
  int Rate() const { return settings_.rate > 0 ? settings_.rate : LineRate(dialect_); }

  // --- time ---
  // Does everything due up to the tick (ticks wrap as the platform clock's do).
  void AdvanceTo(uint32_t tick);
  // The next tick at which the modem acts or has bytes for the host: a result after
  // its reply delay, a ring, the next block of received voice, transmit room, ...
  uint32_t NextChange(uint32_t tick) const;
  uint64_t Now() const { return now_; }  // ms since the simulator started

  // --- the host side (at the time of the last AdvanceTo) ---
  // How many bytes were taken: all of them, except in voice transmit where the
  // buffer's flow control limits it (0 while clear-to-send is down).
  size_t HostWrite(const uint8_t* data, size_t count);
  size_t HostRead(uint8_t* buffer, size_t max);
  size_t HostReadable() const;  // bytes the host can read now
  size_t HostRoom() const;      // bytes HostWrite would take now
  size_t TransmitBuffered() const;
  void SetDtr(bool raised);
  bool Dtr() const { return dtr_; }

  // --- the far end (what a scenario does) ---
  // A caller rings `count` times, RING to RING `periodMs` apart, then gives up. With a
  // number, a host that turned caller ID on gets its lines after the first RING.
  void Ring(int count, uint64_t periodMs = kRingPeriodMs, std::string number = "", std::string name = "");
  void FarEndHangUp();
  void PressKeys(const std::string& keys);
  void SendEvent(char code);
  // What the far end says in each voice-receive phase (null: silence).
  // `rate`: the samples' own rate, at which the line carries them whatever its rate
  // (0: the line's rate, whatever it is).
  void SetVoice(std::shared_ptr<const std::vector<uint8_t>> samples, std::string name, int rate = 0);
  // The outcome of the next dial not yet given one: a result line ("" for none at
  // all, "answer" for the dialect's own success reply) after the delay.
  void QueueDialOutcome(std::string result, uint64_t delayMs);
  // Answers a command line (compared without spaces, upper case) with `result`
  // instead of acting on it ("" for no reply at all); nullopt removes the rule.
  void SetReply(const std::string& command, std::optional<std::string> result);
  // An unsolicited result line, framed as results are.
  void SendResultLine(const std::string& text);
  // Bytes of line noise (a fixed pseudo-random sequence, so runs repeat).
  void SendNoise(size_t count);
  void Note(const std::string& text);

  // --- power and the device (SimPower.cpp) ---
  // Off, the modem stays on the port but answers nothing: the host's bytes are lost and
  // no echo, result, event or RING reaches the host; a call in progress ends. On, it is
  // as freshly powered: default settings, on hook.
  void PowerOff();
  void PowerOn();
  bool Powered() const { return powered_; }
  // The device vanishes (a USB modem pulled out): it goes off as with PowerOff, and the
  // pseudo-terminal program takes its device away until Plug, which brings a new one
  // with the modem freshly powered. In-process it only powers the modem off and on.
  void Unplug();
  void Plug();
  bool Plugged() const { return plugged_; }

  // --- scenarios ---
  // Runs the steps on a runner of their own (`source` names it in the transcript).
  void AddScenario(std::vector<ScenarioStep> steps, const std::string& source);
  // Appends to the named runner, creating it when missing (the control socket's lines).
  void AppendSteps(std::vector<ScenarioStep> steps, const std::string& source);
  bool ExitRequested() const { return exitRequested_; }
  void RequestExit() { exitRequested_ = true; }
  uint64_t SignalCount(SimSignal signal) const;
  uint64_t SignalTime(SimSignal signal) const;
  // Since when the line has been idle (on hook, no call); nullopt while it is not.
  std::optional<uint64_t> IdleSince() const;

  // --- what happened ---
  Transcript& GetTranscript() { return transcript_; }
  const std::vector<VoicePhase>& Phases() const { return phases_; }
  // Called with every finished phase; gives the name of the file it was kept in (or
  // ""). Unless samples are kept, the core then drops them.
  void SetPhaseSink(std::function<std::string(const VoicePhase&)> sink, bool keepSamples);
  bool OffHook() const { return offHook_; }
  bool InVoiceClass() const { return settings_.voiceClass; }

 private:
  enum class Mode { Command, Dialing, DataAnswering, DataOnline, VoiceTx, VoiceRx };
  enum class CallState { None, Ringing, Connected };
  enum class Outcome { Ok, Error, Done };  // Done: the command gave its own result
  // Why the modem went on hook.
  enum class OnHook { Host, Reset, Dtr, NoCarrier, Aborted, DialFailed, Power };
  struct OutChunk {
    uint64_t due;
    std::string bytes;
  };
  // What the command set changes; AT&F and ATZ bring these values back.
  struct Settings {
    bool echo = true;
    bool verbose = true;
    bool quiet = false;
    int dtrMode = 2;
    bool voiceClass = false;
    bool silenceOn = true;
    int silencePeriod = kDefaultSilencePeriod;
    std::string device = "line";
    int rate = 0;  // set by a format command that names one
    VoiceCoding coding = VoiceCoding::Linear8;

    bool callerId = false;  // #CID=1 / +VCID=1
    std::array<int, 256> sRegisters = DefaultRegisters();
    static std::array<int, 256> DefaultRegisters();
  };

  // --- time, output and the host's bytes (SimModem.cpp) ---
  uint64_t ToInternal(uint32_t tick) const;
  std::optional<uint64_t> NextInternal() const;
  void StepTo(uint64_t t);
  void At(uint64_t t, std::function<void()> fn);
  void Out(std::string bytes, uint64_t delay = 0);
  void Result(const std::string& text, uint64_t delay = kReplyDelayMs);
  void EmitEvent(char code);
  void InputByte(uint8_t b);
  void Signal(SimSignal signal);

  // --- the command interpreter (SimCommands.cpp) ---
  void CommandByte(uint8_t b);
  void ExecuteLine(const std::string& line);
  Outcome ExecuteToken(const std::string& token, std::string& info);
  Outcome ExecuteDialect(const DialectCommand& command);

  // --- the line and the far end (SimFarEnd.cpp) ---
  void Answer();  // voice answer (or just off hook with nobody there)
  void DataAnswer();
  void Dial(const std::string& dialString);
  void ResolveDial(uint64_t dialId, std::string result);
  void GoOffHook();
  void GoOnHook(OnHook by);
  void EndCall(const std::string& reason);
  void RingOnce(int call);
  void SendCallerId(int call);
  void ScheduleBusy(int callId, uint64_t delay);
  std::shared_ptr<const std::vector<uint8_t>> PhaseVoice() const;

  // --- the voice phases (SimVoicePhases.cpp) ---
  void ProgressVoice();
  void BeginPhase(VoicePhase::Kind kind);
  void StartTransmit();
  void StartReceive();
  void EndPhase(PhaseEnd end);  // whichever phase is running, if one is
  void EndTransmit(PhaseEnd end);
  void EndReceive(PhaseEnd end);
  void FinishPhase(VoicePhase phase, const char* kind);

  ModemType dialect_;
  uint32_t lastTick_;
  uint64_t now_ = 0;
  uint64_t timerSeq_ = 0;
  std::map<std::pair<uint64_t, uint64_t>, std::function<void()>> timers_;
  std::deque<OutChunk> out_;
  size_t outBytes_ = 0;
  uint64_t lastDue_ = 0;
  uint64_t droppedOutput_ = 0;

  // commands
  Settings settings_;
  CommandLineReader reader_;
  std::map<std::string, std::string> replies_;

  // the line and the far end
  Mode mode_ = Mode::Command;
  bool dtr_ = true;
  bool offHook_ = false;
  CallState callState_ = CallState::None;
  int callId_ = 0;
  bool farEndGone_ = false;
  int ringsLeft_ = 0;
  int ringsDone_ = 0;
  std::string callerNumber_, callerName_;  // the ringing caller's identity
  uint64_t ringPeriod_ = kRingPeriodMs;
  uint32_t noiseSeed_ = 12345;
  uint64_t dialId_ = 0;
  std::deque<std::pair<std::string, uint64_t>> dialOutcomes_;
  std::shared_ptr<const std::vector<uint8_t>> voice_;
  int voiceRate_ = 0;

  // voice phases
  std::unique_ptr<VoiceTransmit> tx_;
  std::unique_ptr<VoiceReceive> rx_;
  VoicePhase phase_;
  std::string heldInput_;  // host bytes that came after DLE ETX
  bool rxDle_ = false;     // the host's last byte in voice receive was DLE
  int phaseCount_ = 0;
  std::vector<VoicePhase> phases_;
  std::function<std::string(const VoicePhase&)> phaseSink_;
  bool keepSamples_ = true;

  // power and the device
  void LosePower();
  bool powered_ = true;
  bool plugged_ = true;

  // scenarios
  std::vector<std::unique_ptr<ScenarioRunner>> runners_;
  std::array<uint64_t, kSignalCount> signalCount_{};
  std::array<uint64_t, kSignalCount> signalTime_{};
  bool exitRequested_ = false;

  Transcript transcript_;
};

}  // namespace telvara::sim
