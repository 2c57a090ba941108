#include "settings/ModemSettings.h"

#include <climits>

#include "platform/Profile.h"

namespace telvara {

const char kProfileSection[] = "MODEM";
const char kNotifySection[] = "NOTIFY";

namespace {

std::string Cut(std::string text, std::size_t max) {
  if (text.size() > max) text.resize(max);
  return text;
}

// An optional sign and digits only, within the int range.
bool WholeNumber(const std::string& text) {
  std::size_t digits = text.find_first_not_of("+-") == 1 ? 1 : 0;
  if (text.size() == digits || text.find_first_not_of("0123456789", digits) != std::string::npos) return false;
  std::size_t first = text.find_first_not_of('0', digits);
  if (first == std::string::npos) return true;  // zero
  long long limit = text[0] == '-' ? -static_cast<long long>(INT_MIN) : INT_MAX;
  return text.size() - first <= 10 && std::stoll(text.substr(first)) <= limit;
}

// A shown value: long texts are cut, control characters shown as '?', so a notice stays
// one readable line.
std::string Shown(const std::string& text) {
  std::string out;
  for (char c : text.substr(0, 40)) out += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
  return text.size() > 40 ? out + "..." : out;
}

// Collects the notices of one load.
class Notices {
 public:
  Notices(const Profile& profile, std::vector<std::string>* out) : profile_(profile), out_(out) {}
  // An integer key that is not a whole number: what it reads as.
  void Number(const char* key, int read) {
    std::string text;
    if (!Written(key, text) || WholeNumber(text)) return;
    Add(std::string(key) + "=" + Shown(text) + " is not a whole number: read as " + std::to_string(read));
  }
  // A position outside 0..last: what is used instead.
  void Position(const char* key, int read, int last, const std::string& used) {
    std::string text;
    if (!Written(key, text) || (read >= 0 && read <= last)) return;
    Add(std::string(key) + "=" + Shown(text) + " is not one of 0 to " + std::to_string(last) + ": " + used);
  }
  void Text(const char* key, const std::string& read, std::size_t max) {
    if (read.size() <= max || !profile_.Has(kProfileSection, key)) return;
    Add(std::string(key) + " is " + std::to_string(read.size()) + " characters long: the first " + std::to_string(max) +
        " are used");
  }
  void Add(const std::string& text) {
    if (out_) out_->push_back("Profile: " + text);
  }

 private:
  bool Written(const char* key, std::string& text) const {
    if (!out_ || !profile_.Has(kProfileSection, key)) return false;
    text = profile_.GetString(kProfileSection, key, "");
    return true;
  }
  const Profile& profile_;
  std::vector<std::string>* out_;
};

}  // namespace

// The stored values are compared as unsigned, so a negative one takes the last row.
int SpeedFromIndex(int stored) {
  static const int kSpeeds[] = {1152, 576, 384, 192};
  unsigned i = static_cast<unsigned>(stored);
  return i < 4 ? kSpeeds[i] : 1152;
}

int DelayFromIndex(int stored) {
  static const int kDelays[] = {300, 600, 900, 1200, 1800, 3600};
  unsigned i = static_cast<unsigned>(stored);
  return i < 6 ? kDelays[i] : 300;
}

ModemSettings LoadSettings(const Profile& profile, std::vector<std::string>* notices) {
  const std::string s = kProfileSection;
  ModemSettings m;
  Notices note(profile, notices);
  if (profile.Missing()) note.Add(profile.Path() + " not found: every setting takes its default");
  if (!profile.LoadError().empty()) note.Add(profile.LoadError() + ": every setting takes its default");
  m.port = profile.GetInt(s, "PORT", 2);
  int speed = profile.GetInt(s, "SPEED", 0);
  int type = profile.GetInt(s, "TYPE", 0);
  m.outputDevice = profile.GetInt(s, "DEVICE", 0);
  int rings = profile.GetInt(s, "RINGS", 0);
  int delay = profile.GetInt(s, "DELAY", 0);
  m.action = profile.GetInt(s, "ACTION", 0);
  int callerId = profile.GetInt(s, "CALLERID", 0);
  m.callerId = callerId == 1;
  m.initString = Cut(profile.GetString(s, "INIT", "AT&F&C1&D2"), kInitStringMax);
  m.phoneNumber = Cut(profile.GetString(s, "PHONE", ""), kNumberMax);
  m.pagerNumber = Cut(profile.GetString(s, "PAGER", ""), kNumberMax);
  m.securityCode = Cut(profile.GetString(s, "SECURITY", "857"), kNumberMax);
  // The ring count is stored less one; the largest int would overflow, so it stays.
  m.rings = rings == INT_MAX ? INT_MAX : rings + 1;
  m.speed = SpeedFromIndex(speed);
  m.delaySeconds = DelayFromIndex(delay);
  m.modemType = static_cast<unsigned>(type) <= 5 ? type : 0;

  for (auto [key, read] : {std::pair{"PORT", m.port},
                           {"SPEED", speed},
                           {"TYPE", type},
                           {"DEVICE", m.outputDevice},
                           {"RINGS", rings},
                           {"DELAY", delay},
                           {"ACTION", m.action},
                           {"CALLERID", callerId}})
    note.Number(key, read);
  note.Position("SPEED", speed, 3, std::to_string(m.speed * 100) + " baud is used");
  note.Position("TYPE", type, 5, "modem type 0 (Rockwell) is used");
  note.Position("CALLERID", callerId, 1, "caller ID stays off");
  note.Position("DELAY", delay, 5, std::to_string(m.delaySeconds / 60) + " minutes between call-outs are used");
  // Kept as read; what the machine does with them.
  note.Position("DEVICE", m.outputDevice, 2, "kept, and played through as 2 (Sound Card)");
  note.Position("ACTION", m.action, 2, "kept, and no prompt follows the greeting, as with 2 (Do Nothing)");
  // The longest message: a whole number of seconds within the driver's bound, else the bound.
  std::string maxLen = profile.GetString(s, "MAXLEN", "0");
  m.maxLenSeconds = WholeNumber(maxLen) ? profile.GetInt(s, "MAXLEN", 0) : -1;
  if (m.maxLenSeconds < 0 || m.maxLenSeconds > kMaxLenLimit) {
    m.maxLenSeconds = 0;
    note.Add("MAXLEN=" + Shown(maxLen) + " is not a number of seconds from 0 to " + std::to_string(kMaxLenLimit) +
             ": messages end at the 10-minute bound");
  }
  std::string command = profile.GetString(kNotifySection, "COMMAND", "");
  // A command cut short could do anything: a long one is not run at all.
  m.notifyCommand = command.size() <= kCommandMax ? command : "";
  if (command.size() > kCommandMax)
    note.Add("[NOTIFY] COMMAND is " + std::to_string(command.size()) + " characters long (at most " +
             std::to_string(kCommandMax) + "): no command runs for new messages");
  for (auto [key, max] :
       {std::pair{"INIT", kInitStringMax}, {"PHONE", kNumberMax}, {"PAGER", kNumberMax}, {"SECURITY", kNumberMax}})
    note.Text(key, profile.GetString(s, key, ""), max);
  return m;
}

}  // namespace telvara
