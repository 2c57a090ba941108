#include "Scenario.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "SimModem.h"
#include "WavData.h"

namespace telvara::sim {
namespace {

constexpr const char* kSignalNames[kSignalCount] = {"ring",   "answer",     "connect", "dial",     "play", "play-end",
                                                    "record", "record-end", "onhook",  "call-end", "idle"};
constexpr uint64_t kLongestDuration = 30ull * 24 * 3600 * 1000;
constexpr uint64_t kMinimumPass = 1000;  // a repeated scenario takes at least this long a pass
constexpr size_t kMaxLineLength = 4096;
constexpr size_t kCallerIdTextMax = 64;

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  std::string w;
  for (char c : line) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!w.empty()) words.push_back(std::move(w));
      w.clear();
    } else {
      w += c;
    }
  }
  if (!w.empty()) words.push_back(std::move(w));
  return words;
}

std::string Join(const std::vector<std::string>& words, size_t from, size_t to) {
  std::string s;
  for (size_t i = from; i < to && i < words.size(); ++i) {
    if (!s.empty()) s += ' ';
    s += words[i];
  }
  return s;
}

bool Printable(const std::string& s) {
  for (unsigned char c : s)
    if (c < 0x20 || c >= 0x7f) return false;
  return true;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// Each takes a verb's arguments (the words after it) into the step; relative voice
// files are also looked for in `baseDir`. An error text, empty on success.
using Args = std::vector<std::string>;
using A = ScenarioStep::Action;

std::string ParseRing(const Args& all, const std::string&, ScenarioStep& step) {
  step.count = 1;
  step.periodMs = SimModem::kRingPeriodMs;
  // "from NUMBER [NAME]": what caller ID reports, the name being the rest of the line.
  Args a(all.begin(), std::find(all.begin(), all.end(), "from"));
  if (a.size() < all.size()) {
    if (a.size() + 1 == all.size()) return "use: ring [COUNT [every DURATION]] from NUMBER [NAME]";
    step.text = all[a.size() + 1];
    step.name = Join(all, a.size() + 2, all.size());
    if (step.text.size() > kCallerIdTextMax || step.name.size() > kCallerIdTextMax || !Printable(step.text + step.name))
      return "a caller's number and name are at most " + std::to_string(kCallerIdTextMax) + " printable characters";
  }
  if (a.size() != 0 && a.size() != 1 && a.size() != 3) return "use: ring [COUNT [every DURATION]] [from NUMBER [NAME]]";
  if (a.size() >= 1) {
    const std::string& n = a[0];
    if (n.empty() || n.size() > 3 || n.find_first_not_of("0123456789") != std::string::npos || std::stoi(n) < 1)
      return "bad ring count \"" + n + "\"";
    step.count = std::stoi(n);
  }
  if (a.size() == 3) {
    std::optional<uint64_t> d = ParseDuration(a[2]);
    if (a[1] != "every" || !d || *d < 100) return "use: ring COUNT every DURATION";
    step.periodMs = *d;
  }
  return "";
}

std::string ParseCaller(const Args& a, const std::string& baseDir, ScenarioStep& step) {
  if (a.size() != 1) return "use: caller FILE.wav | caller none";
  std::string path = a[0];
  if (path == "none") return "";
  if (path[0] != '/' && !FileExists(path) && !baseDir.empty() && FileExists(baseDir + "/" + path))
    path = baseDir + "/" + path;
  WavLoad load = LoadWavSamples(path);
  if (!load.samples) return load.error;
  step.voice = load.samples;
  step.voiceRate = load.rate;
  step.text = path;
  return "";
}

std::string ParseKey(const Args& a, const std::string&, ScenarioStep& step) {
  if (a.size() != 1) return "use: key DIGITS";
  step.text = Upper(a[0]);
  if (step.text.find_first_not_of("0123456789*#ABCD") != std::string::npos) return "keys are 0-9, *, #, A-D";
  return "";
}

std::string ParseEvent(const Args& a, const std::string&, ScenarioStep& step) {
  if (a.size() != 1 || a[0].size() != 1 || !Printable(a[0]))
    return "use: event CODE (one printable character, e.g. s, q, b, d)";
  step.text = a[0];
  return "";
}

std::string ParseDialResult(const Args& a, const std::string&, ScenarioStep& step) {
  if (a.size() < 1) return "use: dial-result RESULT [in DURATION]";
  size_t end = a.size();
  step.resultDelayMs = SimModem::kDialDelayMs;
  if (a.size() >= 3 && a[a.size() - 2] == "in") {
    std::optional<uint64_t> d = ParseDuration(a.back());
    if (!d) return "bad duration \"" + a.back() + "\"";
    step.resultDelayMs = *d;
    end = a.size() - 2;
  }
  std::string result = Join(a, 0, end);
  if (result == "silence") {
    step.text = "";
  } else if (result == "answer") {
    step.text = "answer";
  } else {
    step.text = Upper(result);
    if (!Printable(step.text) || step.text.size() > 64) return "bad dial result";
  }
  return "";
}

std::string ParseReply(const Args& a, const std::string&, ScenarioStep& step) {
  if (a.size() < 2) return "use: reply COMMAND RESULT|silence|default";
  step.text = a[0];
  if (Upper(step.text).rfind("AT", 0) != 0 || !Printable(step.text)) return "the command must begin with AT";
  std::string result = Join(a, 1, a.size());
  if (result == "default") {
    step.reply.reset();
  } else if (result == "silence") {
    step.reply = "";
  } else {
    if (!Printable(result) || result.size() > 64) return "bad result text";
    step.reply = result;
  }
  return "";
}

std::string ParseResult(const Args& a, const std::string&, ScenarioStep& step) {
  if (a.size() < 1) return "use: result TEXT";
  step.text = Join(a, 0, a.size());
  if (!Printable(step.text) || step.text.size() > 200) return "bad result text";
  return "";
}

std::string ParseNoise(const Args& a, const std::string&, ScenarioStep& step) {
  if (a.size() != 1) return "use: noise COUNT";
  const std::string& n = a[0];
  if (n.empty() || n.size() > 5 || n.find_first_not_of("0123456789") != std::string::npos)
    return "bad byte count \"" + n + "\"";
  step.count = std::stoi(n);
  return "";
}

std::string ParseNote(const Args& a, const std::string&, ScenarioStep& step) {
  step.text = Join(a, 0, a.size());
  return "";
}

std::string ParsePower(const Args& a, const std::string&, ScenarioStep& step) {
  if (a.size() != 1 || (a[0] != "off" && a[0] != "on")) return "use: power off | power on";
  step.action = a[0] == "off" ? A::PowerOff : A::PowerOn;
  return "";
}

struct Verb {
  const char* name;
  A action;
  std::string (*parse)(const Args&, const std::string& baseDir, ScenarioStep&);  // null: none
};

constexpr Verb kVerbs[] = {
    {"ring", A::Ring, ParseRing},       {"caller", A::Caller, ParseCaller},
    {"key", A::Key, ParseKey},          {"event", A::Event, ParseEvent},
    {"hangup", A::HangUp, nullptr},     {"dial-result", A::DialResult, ParseDialResult},
    {"reply", A::Reply, ParseReply},    {"result", A::Result, ParseResult},
    {"noise", A::Noise, ParseNoise},    {"note", A::Note, ParseNote},
    {"power", A::PowerOff, ParsePower}, {"unplug", A::Unplug, nullptr},
    {"plug", A::Plug, nullptr},         {"repeat", A::Repeat, nullptr},
    {"exit", A::Exit, nullptr},
};

// "wait EVENT[|EVENT...] [TIME-OUT]"
std::string ParseWait(const Args& w, ScenarioStep& step) {
  if (w.size() < 2 || w.size() > 3) return "use: wait EVENT[|EVENT...] [TIME-OUT]";
  size_t from = 0;
  while (from <= w[1].size()) {
    size_t bar = w[1].find('|', from);
    std::string name = w[1].substr(from, bar == std::string::npos ? bar : bar - from);
    std::optional<SimSignal> signal = ParseSignal(name);
    if (!signal) return "unknown event \"" + name + "\"";
    step.signals.push_back(*signal);
    if (bar == std::string::npos) break;
    from = bar + 1;
  }
  step.timing = ScenarioStep::Timing::Wait;
  if (w.size() == 3) {
    std::optional<uint64_t> d = ParseDuration(w[2]);
    if (!d || *d == 0) return "bad time-out \"" + w[2] + "\"";
    step.delayMs = *d;
  }
  return "";
}

// Parses one line into a step: a wait, or "[after DURATION] VERB [ARGUMENTS]", or a
// plain pause. An error text, empty on success.
std::string ParseLine(const std::string& line, const std::string& baseDir, ScenarioStep& step) {
  std::vector<std::string> w = Words(line);
  if (w[0] == "wait") return ParseWait(w, step);
  size_t i = 0;
  if (w[0] == "after") {
    if (w.size() < 2) return "use: after DURATION [ACTION]";
    std::optional<uint64_t> d = ParseDuration(w[1]);
    if (!d) return "bad duration \"" + w[1] + "\"";
    step.timing = ScenarioStep::Timing::After;
    step.delayMs = *d;
    i = 2;
    if (i == w.size()) return "";  // a plain pause
  }
  for (const Verb& verb : kVerbs) {
    if (w[i] != verb.name) continue;
    step.action = verb.action;
    Args args(w.begin() + static_cast<long>(i) + 1, w.end());
    if (!verb.parse) return args.empty() ? "" : std::string("use: ") + verb.name;
    return verb.parse(args, baseDir, step);
  }
  return "unknown step \"" + w[i] + "\"";
}

}  // namespace

std::optional<SimSignal> ParseSignal(std::string_view name) {
  for (size_t i = 0; i < kSignalCount; ++i)
    if (name == kSignalNames[i]) return static_cast<SimSignal>(i);
  return std::nullopt;
}

std::optional<uint64_t> ParseDuration(std::string_view text) {
  size_t i = 0;
  uint64_t whole = 0;
  uint64_t frac = 0, fracScale = 1;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    whole = whole * 10 + static_cast<uint64_t>(text[i] - '0');
    if (whole > kLongestDuration) return std::nullopt;
    ++i;
  }
  if (i == 0) return std::nullopt;
  if (i < text.size() && text[i] == '.') {
    ++i;
    size_t start = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
      if (fracScale < 1000000) {
        frac = frac * 10 + static_cast<uint64_t>(text[i] - '0');
        fracScale *= 10;
      }
      ++i;
    }
    if (i == start) return std::nullopt;
  }
  std::string_view unit = text.substr(i);
  uint64_t scale;
  if (unit.empty() || unit == "s") {
    scale = 1000;
  } else if (unit == "ms") {
    scale = 1;
  } else if (unit == "m") {
    scale = 60000;
  } else if (unit == "h") {
    scale = 3600000;
  } else {
    return std::nullopt;
  }
  uint64_t ms = whole * scale + frac * scale / fracScale;
  if (ms > kLongestDuration) return std::nullopt;
  return ms;
}

ScenarioParse ParseScenario(std::string_view text, const std::string& baseDir) {
  ScenarioParse result;
  int number = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(pos, end - pos));
    pos = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> words = Words(line);
    if (words.empty() || words[0][0] == '#') {
      if (end == text.size()) break;
      continue;
    }
    if (line.size() > kMaxLineLength) {
      result.error = "line " + std::to_string(number) + ": too long";
      result.steps.clear();
      return result;
    }
    ScenarioStep step;
    std::string error = ParseLine(line, baseDir, step);
    if (!error.empty()) {
      result.error = "line " + std::to_string(number) + ": " + error;
      result.steps.clear();
      return result;
    }
    step.source = line.substr(line.find_first_not_of(" \t\r\v\f"));
    result.steps.push_back(std::move(step));
    if (end == text.size()) break;
  }
  return result;
}

ScenarioParse LoadScenarioFile(const std::string& path) {
  ScenarioParse result;
  std::ifstream in(path, std::ios::binary);
  struct stat st {};
  if (!in || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    result.error = "cannot read the scenario " + path;
    return result;
  }
  if (st.st_size > (1 << 20)) {
    result.error = "the scenario " + path + " is too large";
    return result;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  std::string dir = ".";
  if (size_t slash = path.rfind('/'); slash != std::string::npos) dir = path.substr(0, slash);
  result = ParseScenario(ss.str(), dir);
  if (!result.error.empty()) result.error = path + ": " + result.error;
  return result;
}

// ---------------------------------------------------------------- runner

ScenarioRunner::ScenarioRunner(std::string name, uint64_t now) : name_(std::move(name)), base_(now), passStart_(now) {}

void ScenarioRunner::Append(std::vector<ScenarioStep> steps, const SimModem& modem) {
  bool idle = index_ >= steps_.size();
  // Steps already run are kept only for a repeat; otherwise a long-lived control
  // socket would keep every line it was ever sent.
  bool repeats = std::any_of(steps_.begin(), steps_.end(),
                             [](const ScenarioStep& s) { return s.action == ScenarioStep::Action::Repeat; });
  if (idle && !repeats) {
    steps_.clear();
    index_ = 0;
  }
  for (ScenarioStep& s : steps) steps_.push_back(std::move(s));
  if (idle) {
    base_ = modem.Now();
    Arm(modem);
  }
}

void ScenarioRunner::Arm(const SimModem& modem) {
  waitCounts_.clear();
  if (index_ < steps_.size() && steps_[index_].timing == ScenarioStep::Timing::Wait)
    for (SimSignal s : steps_[index_].signals) waitCounts_.push_back(modem.SignalCount(s));
}

std::optional<uint64_t> ScenarioRunner::Met(const ScenarioStep& step, const SimModem& modem) const {
  std::optional<uint64_t> met;
  for (size_t i = 0; i < step.signals.size() && i < waitCounts_.size(); ++i) {
    std::optional<uint64_t> t;
    if (step.signals[i] == SimSignal::Idle) {
      if (std::optional<uint64_t> since = modem.IdleSince()) t = std::max(*since, base_);
    } else if (modem.SignalCount(step.signals[i]) > waitCounts_[i]) {
      t = modem.SignalTime(step.signals[i]);
    }
    if (t && (!met || *t < *met)) met = t;
  }
  return met;
}

std::optional<uint64_t> ScenarioRunner::NextTime(const SimModem& modem) const {
  if (index_ >= steps_.size()) return std::nullopt;
  const ScenarioStep& s = steps_[index_];
  switch (s.timing) {
    case ScenarioStep::Timing::Now: return base_;
    case ScenarioStep::Timing::After: return base_ + s.delayMs;
    case ScenarioStep::Timing::Wait:
      if (std::optional<uint64_t> met = Met(s, modem)) return met;
      if (s.delayMs > 0) return base_ + s.delayMs;
      return std::nullopt;
  }
  return std::nullopt;
}

void ScenarioRunner::RunDue(SimModem& modem) {
  for (int guard = 0; guard < 10000; ++guard) {
    std::optional<uint64_t> t = NextTime(modem);
    if (!t || *t > modem.Now()) return;
    const ScenarioStep& step = steps_[index_];
    base_ = std::max(*t, base_);
    if (step.timing == ScenarioStep::Timing::Wait) {
      bool seen = Met(step, modem).has_value();
      modem.GetTranscript().Add(modem.Now(), "scenario", step.source, {{"source", name_}, {"timedOut", !seen}});
    } else if (step.action != ScenarioStep::Action::None) {
      modem.GetTranscript().Add(modem.Now(), "scenario", step.source, {{"source", name_}});
    }
    ++index_;
    Execute(step, modem);
    Arm(modem);
  }
}

void ScenarioRunner::Execute(const ScenarioStep& step, SimModem& modem) {
  using A = ScenarioStep::Action;
  switch (step.action) {
    case A::None: break;
    case A::Ring: modem.Ring(step.count, step.periodMs, step.text, step.name); break;
    case A::Caller: modem.SetVoice(step.voice, step.text, step.voiceRate); break;
    case A::Key: modem.PressKeys(step.text); break;
    case A::Event: modem.SendEvent(step.text[0]); break;
    case A::HangUp: modem.FarEndHangUp(); break;
    case A::DialResult: modem.QueueDialOutcome(step.text, step.resultDelayMs); break;
    case A::Reply: modem.SetReply(step.text, step.reply); break;
    case A::Result: modem.SendResultLine(step.text); break;
    case A::Noise: modem.SendNoise(static_cast<size_t>(step.count)); break;
    case A::Note: modem.Note(step.text); break;
    case A::PowerOff: modem.PowerOff(); break;
    case A::PowerOn: modem.PowerOn(); break;
    case A::Unplug: modem.Unplug(); break;
    case A::Plug: modem.Plug(); break;
    case A::Repeat:
      index_ = 0;
      // A pass that took no time would repeat without end at one instant.
      if (base_ - passStart_ < kMinimumPass) base_ = passStart_ + kMinimumPass;
      passStart_ = base_;
      break;
    case A::Exit: modem.RequestExit(); break;
  }
}

}  // namespace telvara::sim
