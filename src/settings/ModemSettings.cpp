#include "settings/ModemSettings.h"

#include <climits>

#include "platform/Profile.h"

namespace telvara {

const char kProfileSection[] = "MODEM";

namespace {

std::string Cut(std::string text, std::size_t max) {
  if (text.size() > max) text.resize(max);
  return text;
}

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

ModemSettings LoadSettings(const Profile& profile) {
  const std::string s = kProfileSection;
  ModemSettings m;
  m.port = profile.GetInt(s, "PORT", 2);
  int speed = profile.GetInt(s, "SPEED", 0);
  int type = profile.GetInt(s, "TYPE", 0);
  m.outputDevice = profile.GetInt(s, "DEVICE", 0);
  int rings = profile.GetInt(s, "RINGS", 0);
  int delay = profile.GetInt(s, "DELAY", 0);
  m.action = profile.GetInt(s, "ACTION", 0);
  m.initString = Cut(profile.GetString(s, "INIT", "AT&F&C1&D2"), kInitStringMax);
  m.phoneNumber = Cut(profile.GetString(s, "PHONE", ""), kNumberMax);
  m.pagerNumber = Cut(profile.GetString(s, "PAGER", ""), kNumberMax);
  m.securityCode = Cut(profile.GetString(s, "SECURITY", "857"), kNumberMax);
  // The ring count is stored less one; the largest int would overflow, so it stays.
  m.rings = rings == INT_MAX ? INT_MAX : rings + 1;
  m.speed = SpeedFromIndex(speed);
  m.delaySeconds = DelayFromIndex(delay);
  m.modemType = static_cast<unsigned>(type) <= 5 ? type : 0;
  return m;
}

}  // namespace telvara
