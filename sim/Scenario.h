#pragma once
// Scenarios: what the far end of the simulated line does, one step a line, with times
// relative to the step before or to an event of the line ("wait answer"). The steps
// come from a scenario file or, one a line, from the control socket. The format is
// described in sim/README.md. Belongs to the thread that runs the simulator.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace telvara::sim {

class SimModem;

// Things on the line that a scenario can wait for.
enum class SimSignal {
  Ring,     // a RING went to the host
  Answer,   // the host answered a ringing call
  Connect,  // a call is connected (answered, or a dialled number picked up)
  Dial,     // the host dialled
  Play,     // a voice-transmit phase began
  PlayEnd,
  Record,  // a voice-receive phase began
  RecordEnd,
  OnHook,   // the modem went on hook
  CallEnd,  // a call is over (unanswered, hung up, failed)
  Idle,     // a state, not an event: on hook with no call (met at once when it holds)
};
constexpr size_t kSignalCount = 11;
std::optional<SimSignal> ParseSignal(std::string_view name);

struct ScenarioStep {
  enum class Timing { Now, After, Wait };
  enum class Action {
    None,
    Ring,
    Caller,
    Key,
    Event,
    HangUp,
    DialResult,
    Reply,
    Result,
    Noise,
    Note,
    PowerOff,
    PowerOn,
    Unplug,
    Plug,
    Repeat,
    Exit
  };

  Timing timing = Timing::Now;
  uint64_t delayMs = 0;            // After: the pause; Wait: the time-out (0: wait for ever)
  std::vector<SimSignal> signals;  // Wait: any one of them
  Action action = Action::None;
  int count = 0;                                      // ring: how many rings; noise: how many bytes
  uint64_t periodMs = 0;                              // ring: RING to RING
  std::string text;                                   // keys, event code, dial result, reply command, result, note
                                                      // or a ringing caller's number
  std::string name;                                   // ring: the caller's name
  std::optional<std::string> reply;                   // reply: the result ("" none); nullopt: back to normal
  uint64_t resultDelayMs = 0;                         // dial-result: when the result comes
  std::shared_ptr<const std::vector<uint8_t>> voice;  // caller
  int voiceRate = 0;                                  // caller: the file's rate
  std::string source;                                 // the step as written
};

struct ScenarioParse {
  std::vector<ScenarioStep> steps;
  std::string error;  // empty when every line was understood
};

// Parses scenario text; relative voice file paths are tried in the working directory
// first, then in `baseDir`.
ScenarioParse ParseScenario(std::string_view text, const std::string& baseDir);
ScenarioParse LoadScenarioFile(const std::string& path);
// "2s", "500ms", "1.5s", "3m", "1h"; a bare number is seconds.
std::optional<uint64_t> ParseDuration(std::string_view text);

// Runs one list of steps in order against the modem; the modem's thread only.
class ScenarioRunner {
 public:
  ScenarioRunner(std::string name, uint64_t now);
  const std::string& Name() const { return name_; }
  // Adds steps at the end; on an idle runner times count from `now`.
  void Append(std::vector<ScenarioStep> steps, const SimModem& modem);
  // When the next step is due (nullopt: finished, or waiting for an event).
  std::optional<uint64_t> NextTime(const SimModem& modem) const;
  // Runs every step due at the modem's current time.
  void RunDue(SimModem& modem);

 private:
  void Arm(const SimModem& modem);
  // When the wait step was met (the earliest of its events), if it was.
  std::optional<uint64_t> Met(const ScenarioStep& step, const SimModem& modem) const;
  void Execute(const ScenarioStep& step, SimModem& modem);

  std::string name_;
  std::vector<ScenarioStep> steps_;
  size_t index_ = 0;
  uint64_t base_;                     // when the previous step ran
  uint64_t passStart_;                // when the current pass through the steps began
  std::vector<uint64_t> waitCounts_;  // each awaited signal's count when the wait began
};

}  // namespace telvara::sim
