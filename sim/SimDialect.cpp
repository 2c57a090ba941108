#include "SimDialect.h"

#include <array>
#include <cctype>
#include <initializer_list>
#include <vector>

namespace telvara::sim {
namespace {

using A = VoiceAction;

// Commands every dialect accepts (the class switch is common to all of them).
const std::vector<DialectEntry> kCommon = {
    {"+FCLASS=0", A::LeaveVoice},
    {"+FCLASS=8", A::EnterVoice},
};

// Silence reporting of the dialects that spell it #VSD/#VSS/#VSP.
#define HASH_SILENCE \
  {"#VSD=0", A::SilenceOff}, {"#VSD=1", A::SilenceOn}, {"#VSS=%", A::SilenceSensitivity}, { "#VSP=%", A::SilencePeriod }

const std::vector<DialectEntry> kRockwell = {
    {"#CLS=0", A::LeaveVoice},
    {"#CLS=8", A::EnterVoice},
    {"&K3", A::FlowControl},
    {"#BDR=8", A::VoiceFormat},
    {"#BDR=16", A::VoiceFormat},
    {"#BDR=24", A::VoiceFormat},
    {"#BDR=48", A::VoiceFormat},
    {"#VBS=2", A::VoiceFormat},
    {"#VBS=4", A::VoiceFormat},
    {"#VBS=8", A::VoiceFormat},
    {"#VSR=7200", A::VoiceFormat},
    {"#VSR=11025", A::VoiceFormat},
    HASH_SILENCE,
    {"#VLS=0", A::SelectLine, "line"},
    {"#VLS=1", A::SelectLocal, "handset"},
    {"#VLS=2", A::SelectLocal, "speaker"},
    {"#VLS=3", A::SelectLocal, "line and handset"},
    {"#VTS={5,1}", A::Beep},
    {"#VTX", A::Transmit},
    {"#VRX", A::Receive},
    {"#CID=0", A::CallerIdOff},
    {"#CID=1", A::CallerIdOn},
};

const std::vector<DialectEntry> kUSRobotics = {
    {"#CLS=0", A::LeaveVoice},
    {"#CLS=8", A::EnterVoice},
    {"&H1", A::FlowControl},
    {"&R2", A::FlowControl},
    {"&I0", A::FlowControl},
    {"#VSM=128,8000", A::VoiceFormat},
    {"#VSM=129,8000", A::VoiceFormat},
    {"#VBS=2", A::VoiceFormat},
    {"#VBS=3", A::VoiceFormat},
    {"#VBS=4", A::VoiceFormat},
    HASH_SILENCE,
    {"#VLS=0", A::SelectLine, "line"},
    {"#VLS=1", A::SelectLocal, "handset"},
    {"#VLS=2", A::SelectLocal, "speaker"},
    {"#VLS=3", A::SelectLocal, "line and handset"},
    {"#VTS={5,1}", A::Beep},
    {"#VTX", A::Transmit},
    {"#VRX", A::Receive},
    {"#CID=0", A::CallerIdOff},
    {"#CID=1", A::CallerIdOn},
};

const std::vector<DialectEntry> kCirrus = {
    {"#VCL=0", A::LeaveVoice},
    {"#VCL=1", A::EnterVoice},
    {"\\Q3", A::FlowControl},
    {"#VSR=9600", A::VoiceFormat},
    {"#VSM=AD3", A::VoiceFormat},
    {"#VSM=AD4", A::VoiceFormat},
    {"#VSM=CL1", A::VoiceFormat},
    {"#VLN=1", A::SelectLine, "line"},
    {"#VLN=2", A::SelectLocal, "handset"},
    {"#VLN=32", A::SelectLocal, "line and handset"},
    {"#VLS=2", A::SelectLocal, "speaker"},
    {"#VIP=1", A::Answer},
    {"#VBP", A::Beep},
    {"#VPY", A::Transmit},
    {"#VRD", A::Receive},
};

const std::vector<DialectEntry> kSierra = {
    {"&K3", A::FlowControl},
    {"#VSM=2", A::VoiceFormat},
    {"#VLS=4", A::SelectLine, "line"},
    {"#VLS=1", A::SelectLocal, "handset"},
    {"#VLS=2", A::SelectLocal, "speaker"},
    {"+VTS=5", A::Beep},
    {"#VSV", A::Transmit},
    {"#VD1", A::Receive},
};

const std::vector<DialectEntry> kUMC = {
    {"#CLS=0", A::LeaveVoice},
    {"#CLS=8", A::EnterVoice},
    {"\\Q3", A::FlowControl},
    {"#VBS=2", A::VoiceFormat},
    {"#VBS=3", A::VoiceFormat},
    {"#VBS=4", A::VoiceFormat},
    HASH_SILENCE,
    {"#VLS=4", A::SelectLine, "line"},
    {"#VLS=1", A::SelectLocal, "handset"},
    {"#VLS=2", A::SelectLocal, "speaker"},
    {"#VTS=[900,0,1]", A::Beep},
    {"#VTX", A::Transmit},
    {"#VRX", A::Receive},
};

#undef HASH_SILENCE

std::vector<DialectEntry> MakeIS101() {
  std::vector<DialectEntry> t = {
      {"+FLO=2", A::FlowControl},
      {"+VSD=%,%", A::SilenceBoth},
      {"+VLS=1", A::LineOffHook, "line"},
      {"+VLS=2", A::SelectLocal, "handset"},
      {"+VLS=3", A::SelectLocal, "line and handset"},
      {"#VLS=1", A::SelectLocal, "handset"},
      {"#VLS=2", A::SelectLocal, "speaker"},
      {"+VTS=5", A::Beep},
      {"+VTX", A::Transmit},
      {"+VRX", A::Receive},
      {"+VCID=0", A::CallerIdOff},
      {"+VCID=1", A::CallerIdOn},
  };
  // +VSM=<compression>,<rate>: every row of the format table.
  static const std::vector<std::string> kFormats = [] {
    std::vector<std::string> f;
    for (const char* c : {"141", "2", "0", "1"})
      for (const char* r : {"4800", "7200", "8000", "9600", "11025"}) f.push_back(std::string("+VSM=") + c + "," + r);
    return f;
  }();
  for (const std::string& f : kFormats) t.push_back({f.c_str(), A::VoiceFormat});
  return t;
}

// What real modems of the family take beside Telvara's spellings (tones of any
// frequency, gains, tone detector and interface settings, ...): the simulator takes
// them too, so that other programs run against it.
const std::vector<DialectEntry> kRockwellReal = {
    {"#VLS=4", A::SelectLine, "line and speaker"},
    {"#VTS=[*", A::Beep},
    {"#TL=*", A::Setting},
    {"#RG=*", A::Setting},
    {"#VTS=%", A::Beep},
    {"#VTD=*", A::Setting},
    {"#VGT=%", A::Setting},
    {"#VGR=%", A::Setting},
    {"#BDR=%", A::VoiceFormat},
};

const std::vector<DialectEntry> kUSRoboticsReal = {
    {"#VTS=[*", A::Beep},   {"#VTS=%", A::Beep},    {"#VTD=*", A::Setting}, {"#VRA=%", A::Setting},
    {"#VRN=%", A::Setting}, {"#VGT=%", A::Setting}, {"#VGR=%", A::Setting},
};

const std::vector<DialectEntry> kIS101Real = {
    {"+IFC=%,%", A::FlowControl}, {"+VLS=0", A::SelectLine, "line (on hook)"},
    {"+VTS=*", A::Beep},          {"+VNH=%", A::Setting},
    {"+VIT=%", A::Setting},       {"+VGT=%", A::Setting},
    {"+VGR=%", A::Setting},       {"+VRA=%", A::Setting},
    {"+VRN=%", A::Setting},       {"+VDR=%,%", A::Setting},
};

const std::vector<DialectEntry>& Table(ModemType d) {
  static const std::vector<DialectEntry> kIS101 = MakeIS101();
  switch (d) {
    case Rockwell: return kRockwell;
    case IS_101: return kIS101;
    case USRobotics: return kUSRobotics;
    case Cirrus: return kCirrus;
    case Sierra: return kSierra;
    case UMC: return kUMC;
  }
  return kRockwell;
}

const std::vector<DialectEntry>& RealTable(ModemType d) {
  static const std::vector<DialectEntry> kNone;
  switch (d) {
    case Rockwell: return kRockwellReal;
    case IS_101: return kIS101Real;
    case USRobotics: return kUSRoboticsReal;
    default: return kNone;
  }
}

// Matches the token against a pattern; on success `value` holds the last number that
// a '%' matched (0 when none).
bool Match(std::string_view pattern, std::string_view token, int& value) {
  value = 0;
  size_t t = 0;
  for (size_t p = 0; p < pattern.size(); ++p) {
    if (pattern[p] == '*' && p + 1 == pattern.size()) return true;
    if (pattern[p] != '%') {
      if (t >= token.size() || token[t] != pattern[p]) return false;
      ++t;
      continue;
    }
    size_t start = t;
    int number = 0;
    while (t < token.size() && std::isdigit(static_cast<unsigned char>(token[t])) && t - start < 3) {
      number = number * 10 + (token[t] - '0');
      ++t;
    }
    if (t == start || number > 255) return false;
    value = number;
  }
  return t == token.size();
}

// The sample rate a format command names: "#VSR=9600", "+VSM=0,7200", "#VSM=128,8000";
// 0 for one that names none ("#VBS=4", Sierra's "#VSM=2").
int FormatRate(std::string_view token) {
  size_t at = token.find("VSR=");
  if (at != std::string_view::npos) {
    at += 4;
  } else if (token.find("VSM=") != std::string_view::npos && token.find(',') != std::string_view::npos) {
    at = token.find(',') + 1;
  } else {
    return 0;
  }
  int rate = 0;
  for (; at < token.size() && std::isdigit(static_cast<unsigned char>(token[at])) && rate < 100000; ++at)
    rate = rate * 10 + (token[at] - '0');
  return rate;
}

FormatEffect FormatOf(ModemType dialect, std::string_view token, int rate) {
  if (rate != 0 && rate != 7200 && rate != 8000 && rate != LineRate(dialect)) return FormatEffect::Refused;
  if (token.starts_with("#VSR=") || token.starts_with("#BDR=")) return FormatEffect::Keep;
  if (dialect == USRobotics) {
    // #VSM=129 is ADPCM whose bits #VBS sets: only the 4-bit one (G.721) is coded here.
    if (token == "#VBS=4") return FormatEffect::Keep;
    if (token.starts_with("#VSM=128,")) return FormatEffect::Linear8;
    if (token.starts_with("#VSM=129,")) return FormatEffect::G721;
    return FormatEffect::Refused;
  }
  // IS-101 lists both its 8-bit codings (+VSM=?); the line carries them alike.
  if (token == "#VBS=8" || token.starts_with("+VSM=0,") || token.starts_with("+VSM=1,") ||
      (dialect == Sierra && token == "#VSM=2"))
    return FormatEffect::Linear8;
  return FormatEffect::Refused;  // the ADPCM formats of Rockwell, IS-101, Cirrus and UMC
}

std::string Lower(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != '-' && c != '_' && c != ' ') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::optional<ModemType> ParseDialect(std::string_view text) {
  std::string s = Lower(text);
  if (s == "0" || s == "rockwell") return Rockwell;
  if (s == "1" || s == "is101") return IS_101;
  if (s == "2" || s == "usr" || s == "usrobotics") return USRobotics;
  if (s == "3" || s == "cirrus") return Cirrus;
  if (s == "4" || s == "sierra") return Sierra;
  if (s == "5" || s == "umc") return UMC;
  return std::nullopt;
}

const char* DialectName(ModemType dialect) {
  switch (dialect) {
    case Rockwell: return "Rockwell";
    case IS_101: return "IS_101";
    case USRobotics: return "US Robotics";
    case Cirrus: return "Cirrus";
    case Sierra: return "Sierra";
    case UMC: return "UMC";
  }
  return "?";
}

int LineRate(ModemType dialect) {
  switch (dialect) {
    case USRobotics: return 8000;
    case Cirrus:
    case Sierra: return 9600;
    default: return 7200;
  }
}

const char* VoiceConnectResult(ModemType dialect) { return dialect == IS_101 ? "OK" : "VCON"; }

std::string Identity(ModemType dialect, int n) {
  if (n == 0) {
    switch (dialect) {
      case Rockwell: return "56000";
      case USRobotics: return "5601";
      default: break;
    }
  }
  return std::string("Telvara simulated voice modem, ") + DialectName(dialect) + " voice commands";
}

std::optional<std::string> QueryAnswer(ModemType dialect, std::string_view token, int current) {
  bool range = token.size() > 2 && token.substr(token.size() - 2) == "=?";
  std::string_view name = token.substr(0, token.size() - (range ? 2 : 1));
  if (name == "+VSM" && dialect == IS_101) {
    if (!range) return "0,7200,0,0";
    return "0,\"8-BIT LINEAR\",8,0,(7200,8000),(0),(0)\r\n1,\"UNSIGNED PCM\",8,0,(7200,8000),(0),(0)";
  }
  std::string prefix = std::string(name) + "=";
  for (const std::vector<DialectEntry>* table : {&kCommon, &Table(dialect), &RealTable(dialect)})
    for (const DialectEntry& e : *table)
      if (std::string_view(e.pattern).substr(0, prefix.size()) == prefix || name == e.pattern)
        return range ? std::string("(0-255)") : std::to_string(current);
  return std::nullopt;
}

std::vector<DialectEntry> DialectCommands(ModemType dialect) {
  std::vector<DialectEntry> all = kCommon;
  all.insert(all.end(), Table(dialect).begin(), Table(dialect).end());
  return all;
}

namespace {
std::optional<DialectCommand> LookUp(ModemType dialect, std::initializer_list<const std::vector<DialectEntry>*> tables,
                                     std::string_view token) {
  int value = 0;
  for (const std::vector<DialectEntry>* table : tables) {
    for (const DialectEntry& e : *table) {
      if (!Match(e.pattern, token, value)) continue;
      if (e.action != VoiceAction::VoiceFormat) return DialectCommand{e.action, value, e.device};
      int rate = FormatRate(token);
      return DialectCommand{e.action, rate, e.device, FormatOf(dialect, token, rate)};
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<DialectCommand> LookUpDialectCommand(ModemType dialect, std::string_view token) {
  return LookUp(dialect, {&kCommon, &Table(dialect)}, token);
}

std::optional<DialectCommand> LookUpRealModemCommand(ModemType dialect, std::string_view token) {
  return LookUp(dialect, {&RealTable(dialect)}, token);
}

std::optional<DialectCommand> LookUpModemCommand(ModemType dialect, std::string_view token) {
  return LookUp(dialect, {&kCommon, &Table(dialect), &RealTable(dialect)}, token);
}

}  // namespace telvara::sim
