#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/Profile.h"
#include "settings/ModemSettings.h"

using namespace telvara;

namespace {

// The settings as "KEY=value" by their profile keys, one space apart.
std::string Show(const ModemSettings& m) {
  std::ostringstream s;
  s << "PORT=" << m.port << " SPEED=" << m.speed << " TYPE=" << m.modemType << " DEVICE=" << m.outputDevice
    << " RINGS=" << m.rings << " DELAY=" << m.delaySeconds << " ACTION=" << m.action << " INIT=" << m.initString
    << " PHONE=" << m.phoneNumber << " PAGER=" << m.pagerNumber << " SECURITY=" << m.securityCode << " ";
  return s.str();
}

TEST(LoadSettings, AnEmptyProfileGivesEveryDefault) {
  EXPECT_EQ(Show(LoadSettings(Profile())),
            "PORT=2 SPEED=1152 TYPE=0 DEVICE=0 RINGS=1 DELAY=300 ACTION=0 "
            "INIT=AT&F&C1&D2 PHONE= PAGER= SECURITY=857 ");
}

// Each key as stored, read through its table, its limit or the leading-number rule.
TEST(LoadSettings, EachValueAsStored) {
  const std::string a100(100, 'A'), d40(40, '1'), d32(32, '2'), d50(50, '3');
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      {"SPEED=0", "SPEED=1152"}, {"SPEED=1", "SPEED=576"},  {"SPEED=2", "SPEED=384"},  {"SPEED=3", "SPEED=192"},
      {"SPEED=4", "SPEED=1152"}, {"SPEED=-1", "SPEED=1152"}, {"DELAY=0", "DELAY=300"},  {"DELAY=1", "DELAY=600"},
      {"DELAY=2", "DELAY=900"},  {"DELAY=3", "DELAY=1200"}, {"DELAY=4", "DELAY=1800"}, {"DELAY=5", "DELAY=3600"},
      {"DELAY=6", "DELAY=300"},  {"DELAY=-1", "DELAY=300"}, {"TYPE=5", "TYPE=5"},      {"TYPE=6", "TYPE=0"},
      {"TYPE=-2", "TYPE=0"},     {"RINGS=0", "RINGS=1"},    {"RINGS=5", "RINGS=6"},    {"RINGS=-1", "RINGS=0"},
      {"RINGS=3", "RINGS=4"},  // what a telephone change to 4 stores
      {"RINGS=99999999999", "RINGS=2147483647"},  // the largest, not overflowing
      // Port, device and action are used as read.
      {"PORT=5", "PORT=5"}, {"DEVICE=7", "DEVICE=7"}, {"ACTION=9", "ACTION=9"},
      // Leading digits, or the default.
      {"PORT=abc", "PORT=2"}, {"SPEED=2x", "SPEED=384"}, {"RINGS= 4 rings", "RINGS=5"}, {"TYPE=", "TYPE=0"},
      // Texts are kept, cut to their fields.
      {"INIT=ATZ", "INIT=ATZ"}, {"INIT=" + a100, "INIT=" + a100.substr(0, 63)},
      {"PHONE=" + d40, "PHONE=" + d40.substr(0, 31)}, {"PAGER=5551234", "PAGER=5551234"},
      {"PAGER=" + d32, "PAGER=" + d32.substr(0, 31)}, {"SECURITY=*12#", "SECURITY=*12#"},
      {"SECURITY=" + d50, "SECURITY=" + d50.substr(0, 31)},
  };
  // clang-format on
  std::string path = ::testing::TempDir() + "settings_" + std::to_string(getpid()) + ".ini";
  for (const auto& [line, shown] : cases) {
    std::ofstream(path) << "[MODEM]\n" << line << "\n";
    std::string all = std::string(" ").append(Show(LoadSettings(Profile(path))));
    EXPECT_NE(all.find(std::string(" ").append(shown).append(" ")), std::string::npos) << line << " gave " << all;
  }
  unlink(path.c_str());
}

}  // namespace
