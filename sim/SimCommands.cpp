// The simulated modem's command interpreter: command lines as the host types them,
// the general commands and the dialect's voice commands, and scripted replies.
#include "SimCommands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string_view>

#include "SimModem.h"

namespace telvara::sim {
namespace {

constexpr uint8_t kBackspace = 0x08;

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

bool IsA(uint8_t b) { return b == 'A' || b == 'a'; }

}  // namespace

// ---------------------------------------------------------------- command lines

CommandLineReader::Line CommandLineReader::Feed(uint8_t b) {
  Line done;
  if (b == '\r') {
    if (line_.size() >= 2) {
      done.kind = tooLong_ ? Line::Kind::TooLong : Line::Kind::Command;
      done.text = line_;
    } else if (!noise_.empty() || !line_.empty()) {
      done.kind = Line::Kind::Ignored;
      done.text = noise_ + line_;
    }
    line_.clear();
    noise_.clear();
    tooLong_ = false;
    return done;
  }
  if (b == '\n') return done;
  if (b == kBackspace) {
    if (line_.size() > 2) line_.pop_back();
    return done;
  }
  if (line_.empty()) {
    if (IsA(b)) {
      line_ += static_cast<char>(b);
    } else if (noise_.size() < kLineLimit) {
      noise_ += static_cast<char>(b);
    }
    return done;
  }
  if (line_.size() == 1) {
    if (b == 'T' || b == 't') {
      line_ += static_cast<char>(b);
    } else {
      if (noise_.size() < kLineLimit) noise_ += line_;
      line_.clear();
      if (IsA(b)) line_ += static_cast<char>(b);
    }
    return done;
  }
  if (line_.size() >= kLineLimit) {
    tooLong_ = true;
    return done;
  }
  line_ += static_cast<char>(b);
  return done;
}

void SimModem::CommandByte(uint8_t b) {
  if (settings_.echo) Out(std::string(1, static_cast<char>(b)));
  CommandLineReader::Line line = reader_.Feed(b);
  switch (line.kind) {
    case CommandLineReader::Line::Kind::None: break;
    case CommandLineReader::Line::Kind::Command: ExecuteLine(line.text); break;
    case CommandLineReader::Line::Kind::TooLong:
      transcript_.Add(now_, "command", line.text, {{"truncated", true}});
      Result("ERROR");
      break;
    case CommandLineReader::Line::Kind::Ignored: transcript_.Add(now_, "ignored", line.text); break;
  }
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
      if (settings_.voiceClass) {
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
      } else if (j + 1 < body.size() && body[j] == '=' && body[j + 1] == '?') {
        j += 2;
      } else if (j < body.size() && body[j] == '=') {
        ++j;
        // A numeric value ends at its digits (AT#VLS=0A is #VLS=0, then A), as on real
        // modems; a value that starts with a letter (Cirrus' #VSM=AD4) or a hex one
        // (#VTD=3F,3F,3F) runs to the next command.
        bool numeric = j < body.size() && std::string_view("0123456789[{").find(body[j]) != std::string_view::npos;
        std::string_view name = std::string_view(body).substr(i + 1, j - 1 - (i + 1));
        bool hex = name == "VTD" || name == "TL" || name == "RG";
        auto inValue = [&](char v) {
          if (!numeric || hex) return v != '#' && v != '+' && v != ';';
          return std::isdigit(static_cast<unsigned char>(v)) ||
                 std::string_view(",[]{}").find(v) != std::string_view::npos;
        };
        while (j < body.size() && inValue(body[j])) ++j;
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
  if (!info.empty()) {
    transcript_.Add(now_ + kReplyDelayMs, "info", info.substr(2, info.size() - 4));
    Out(info, kReplyDelayMs);
  }
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
    settings_.echo = v == 1;
    return Outcome::Ok;
  }
  if (c == 'V' && digitsAfter(1, v) && v <= 1) {
    settings_.verbose = v == 1;
    return Outcome::Ok;
  }
  if (c == 'Q' && digitsAfter(1, v) && v <= 1) {
    settings_.quiet = v == 1;
    return Outcome::Ok;
  }
  if (c == 'H' && digitsAfter(1, v) && v <= 1) {
    if (v == 0) {
      GoOnHook(OnHook::Host);
    } else {
      GoOffHook();
    }
    return Outcome::Ok;
  }
  if (c == 'Z' && digitsAfter(1, v) && v <= 1) {
    GoOnHook(OnHook::Reset);
    settings_ = Settings{};
    Result("OK", kResetDelayMs);
    return Outcome::Done;
  }
  if (c == 'I' && digitsAfter(1, v) && v <= 9) {
    info += "\r\n" + Identity(dialect_, v) + "\r\n";
    return Outcome::Ok;
  }
  if (t == "+GMI" || t == "+GMM" || t == "+GMR") {
    info += "\r\n" + Identity(dialect_, t == "+GMI" ? 3 : t == "+GMM" ? 3 : 1) + "\r\n";
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
      std::snprintf(text, sizeof text, "%03d", settings_.sRegisters[static_cast<size_t>(reg)]);
      info += std::string("\r\n") + text + "\r\n";
      return Outcome::Ok;
    }
    std::string value = t.substr(q + 1);
    if (value.empty() || value.size() > 3 || !std::all_of(value.begin(), value.end(), ::isdigit)) return Outcome::Error;
    int x = std::stoi(value);
    if (x > 255) return Outcome::Error;
    settings_.sRegisters[static_cast<size_t>(reg)] = x;
    return Outcome::Ok;
  }
  if (t == "&F" || t == "&F0") {
    settings_ = Settings{};
    return Outcome::Ok;
  }
  if ((t == "&C0" || t == "&C1" || t == "&W" || t == "&W0")) return Outcome::Ok;
  if (t.size() == 3 && t[0] == '&' && t[1] == 'D' && t[2] >= '0' && t[2] <= '3') {
    settings_.dtrMode = t[2] - '0';
    return Outcome::Ok;
  }
  if (t == "+FCLASS?") {
    info += settings_.voiceClass ? "\r\n8\r\n" : "\r\n0\r\n";
    return Outcome::Ok;
  }
  if (t == "+FCLASS=?") {
    info += "\r\n0,8\r\n";
    return Outcome::Ok;
  }
  if ((c == '#' || c == '+') && t.back() == '?') {
    int current = 0;
    if (t.starts_with("#CLS") || t.starts_with("#VCL")) current = settings_.voiceClass ? 8 : 0;
    std::optional<std::string> answer = QueryAnswer(dialect_, t, current);
    if (!answer) return Outcome::Error;
    info += "\r\n" + *answer + "\r\n";
    return Outcome::Ok;
  }
  std::optional<DialectCommand> command = LookUpModemCommand(dialect_, t);
  if (!command) return Outcome::Error;
  return ExecuteDialect(*command);
}

SimModem::Outcome SimModem::ExecuteDialect(const DialectCommand& command) {
  switch (command.action) {
    case VoiceAction::EnterVoice: settings_.voiceClass = true; return Outcome::Ok;
    case VoiceAction::LeaveVoice: settings_.voiceClass = false; return Outcome::Ok;
    case VoiceAction::FlowControl: return Outcome::Ok;
    // Silence detection settings are global on these modems, taken in any class.
    case VoiceAction::SilenceSensitivity: return Outcome::Ok;
    case VoiceAction::SilenceOn: settings_.silenceOn = true; return Outcome::Ok;
    case VoiceAction::SilenceOff: settings_.silenceOn = false; return Outcome::Ok;
    case VoiceAction::SilencePeriod: settings_.silencePeriod = command.value; return Outcome::Ok;
    default: break;
  }
  // Everything else is a voice command: refused outside the voice class.
  if (!settings_.voiceClass) return Outcome::Error;
  switch (command.action) {
    case VoiceAction::VoiceFormat:
      if (command.format == FormatEffect::Refused) return Outcome::Error;
      if (command.format == FormatEffect::Linear8) settings_.coding = VoiceCoding::Linear8;
      if (command.format == FormatEffect::G721) settings_.coding = VoiceCoding::G721;
      if (command.value > 0) settings_.rate = command.value;
      return Outcome::Ok;
    case VoiceAction::Setting: return Outcome::Ok;
    case VoiceAction::SilenceBoth:
      settings_.silenceOn = command.value > 0;
      settings_.silencePeriod = command.value;
      return Outcome::Ok;
    case VoiceAction::SelectLine: settings_.device = command.device; return Outcome::Ok;
    case VoiceAction::CallerIdOn: settings_.callerId = true; return Outcome::Ok;
    case VoiceAction::CallerIdOff: settings_.callerId = false; return Outcome::Ok;
    case VoiceAction::LineOffHook:
      settings_.device = command.device;
      Answer();
      return Outcome::Ok;
    case VoiceAction::SelectLocal:
      settings_.device = command.device;
      Result(VoiceConnectResult(dialect_));
      return Outcome::Done;
    case VoiceAction::Answer:
      Answer();
      Result(VoiceConnectResult(dialect_));
      return Outcome::Done;
    case VoiceAction::Beep:
      transcript_.Add(now_, "beep", "", {{"device", settings_.device}});
      Result("OK", kBeepMs);
      return Outcome::Done;
    case VoiceAction::Transmit: StartTransmit(); return Outcome::Done;
    case VoiceAction::Receive: StartReceive(); return Outcome::Done;
    default: return Outcome::Error;
  }
}

std::array<int, 256> SimModem::Settings::DefaultRegisters() {
  std::array<int, 256> r{};
  r[2] = 43;  // escape character '+'
  r[3] = 13;  // CR
  r[4] = 10;  // LF
  r[5] = 8;   // backspace
  return r;
}

void SimModem::SetReply(const std::string& command, std::optional<std::string> result) {
  std::string key = Upper(WithoutSpaces(command));
  if (result) {
    replies_[key] = *result;
  } else {
    replies_.erase(key);
  }
}

}  // namespace telvara::sim
