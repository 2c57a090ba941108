#pragma once
// The operating settings, read once at start-up from section "MODEM" of the profile,
// and the new-message command from section "NOTIFY". Engine thread only.
#include <string>
#include <vector>

namespace telvara {

class Profile;

enum OutputDevice { Handset = 0, ModemSpeaker = 1, SoundCard = 2 };
enum CallAction { CallTheMaster = 0, PageTheMaster = 1, DoNothing = 2 };

// Texts keep the limits of their stored fields: at most these many characters.
constexpr std::size_t kInitStringMax = 63;
constexpr std::size_t kNumberMax = 31;     // phone, pager and security code
constexpr std::size_t kCommandMax = 4096;  // the new-message command
constexpr int kMaxLenLimit = 600;          // seconds: the driver's own bound

struct ModemSettings {
  int port = 2;
  int speed = 1152;  // baud / 100
  int modemType = 0;
  int outputDevice = Handset;
  int rings = 1;
  int delaySeconds = 300;
  int action = CallTheMaster;
  std::string initString = "AT&F&C1&D2";
  std::string phoneNumber;
  std::string pagerNumber;
  std::string securityCode = "857";
  int maxLenSeconds = 0;      // MAXLEN: the longest message; 0: the driver's bound
  std::string notifyCommand;  // [NOTIFY] COMMAND: run for each new message; empty: none
  bool callerId = false;  // CALLERID=1: ask the modem for caller ID and keep it with the message
};

extern const char kProfileSection[];  // "MODEM"

// Speed and delay as stored (a position in the dialog's lists) to their values.
int SpeedFromIndex(int stored);
int DelayFromIndex(int stored);

// With `notices`, one line is added for each value that cannot be used as written (a
// profile not found or not read, an integer that is not a whole number, a position
// outside its list, a text longer than its field, a MAXLEN that is not 0 to 600): the key, the value and what is used
// instead. The settings are the same either way.
ModemSettings LoadSettings(const Profile& profile, std::vector<std::string>* notices = nullptr);

}  // namespace telvara
