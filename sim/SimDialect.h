#pragma once
// The six voice-command dialects as the simulated modem knows them: which dialect
// commands each one accepts, spelled exactly as that dialect's modems spell them, and
// what each does. Plain data and pure functions: any thread may call them.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "LineCoding.h"
#include "modem/VoiceProtocol.h"

namespace telvara::sim {

// "rockwell", "is-101", "usr", ... or the profile's TYPE number 0..5.
std::optional<ModemType> ParseDialect(std::string_view text);
const char* DialectName(ModemType dialect);
// Samples per second on the line until a format command sets another: the rate that
// Telvara's format selects in the dialect (US Robotics runs at 8000 only; Cirrus and
// Sierra at 9600).
int LineRate(ModemType dialect);
// The result that says "voice connection made" (answer, end of a voice phase):
// VCON in the '#' dialects, OK in IS-101.
const char* VoiceConnectResult(ModemType dialect);
// What ATI<n> answers: the product code of the family's modems for ATI/ATI0 (clients
// choose their driver by it), a description for the others.
std::string Identity(ModemType dialect, int n);
// The information line a query ("+VSM=?", "#VLS?", "#CLS=?") of a command the dialect
// knows answers; nullopt when it knows no such command.
std::optional<std::string> QueryAnswer(ModemType dialect, std::string_view token, int current);

enum class VoiceAction {
  EnterVoice,  // voice class
  LeaveVoice,  // data class 0
  FlowControl,
  VoiceFormat,
  SilenceOn,
  SilenceOff,
  SilenceSensitivity,
  SilencePeriod,  // value: tenths of a second
  SilenceBoth,    // IS-101 +VSD=<sensitivity>,<period>; value: period
  SelectLine,     // the telephone line, still on hook: OK
  LineOffHook,    // IS-101 +VLS=1: take the line (answers a ringing call): OK
  SelectLocal,    // handset, speaker or another local device: the connect result
  Answer,         // Cirrus #VIP=1: answer in voice
  Beep,
  Transmit,
  Receive,
  CallerIdOn,  // formatted caller ID: its lines follow the first ring
  CallerIdOff,
  Setting,  // a gain, a tone detector, a DTE interface setting: taken, changes nothing here
};

// One command a dialect accepts, as its modems spell it (without the "AT"). In a
// pattern, '%' stands for a decimal number 0..255 (the last such number becomes the
// command's value) and a final '*' for any rest.
struct DialectEntry {
  const char* pattern;
  VoiceAction action;
  const char* device = "";  // for line selections: "line", "handset", "speaker", ...
};
// Every command the dialect accepts: the class switch common to all, then its own.
std::vector<DialectEntry> DialectCommands(ModemType dialect);

// What a format command does to the line's coding. The simulator codes 8-bit linear
// samples and US Robotics' G.721 ADPCM, at 7200 or 8000 samples a second or the
// dialect's own rate; any other coding or rate it refuses, as a modem refuses what it
// cannot do, rather than send samples the host did not ask for.
enum class FormatEffect { Keep, Linear8, G721, Refused };

struct DialectCommand {
  VoiceAction action;
  int value = 0;       // the number the action needs (silence period; a format's rate, 0 for none)
  std::string device;  // for line selections: "line", "handset", "speaker", ...
  FormatEffect format = FormatEffect::Keep;  // for a format command
};

// Looks one command of a command line (e.g. "#VLS=0", "&K3", "+VSM=0,7200", "\Q3")
// up in the dialect's table. The token is upper case, without the "AT".
std::optional<DialectCommand> LookUpDialectCommand(ModemType dialect, std::string_view token);
// Only what real modems of the family take beside those spellings (Rockwell's
// "#VTS=[933,0,15]", IS-101's "+VGT=127", ...).
std::optional<DialectCommand> LookUpRealModemCommand(ModemType dialect, std::string_view token);
// What the simulated modem takes: the dialect's spellings, then the real modems' ones.
std::optional<DialectCommand> LookUpModemCommand(ModemType dialect, std::string_view token);

}  // namespace telvara::sim
