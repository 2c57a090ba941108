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

// What cannot be used as written is told once per key: the key, the value and what is
// used instead; the settings are those read without notices.
TEST(LoadSettings, NoticesNameTheKeyTheValueAndWhatIsUsedInstead) {
  const std::string a70(70, 'A');
  // clang-format off
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"TYPE=42", {"TYPE=42", "0 (Rockwell) is used"}},
      {"SPEED=99", {"SPEED=99", "115200 baud is used"}},
      {"SPEED=-1", {"SPEED=-1", "115200 baud is used"}},
      {"DELAY=6", {"DELAY=6", "5 minutes"}},
      {"DEVICE=7", {"DEVICE=7", "kept", "Sound Card"}},
      {"ACTION=-3", {"ACTION=-3", "kept", "Do Nothing"}},
      {"PORT=abc", {"PORT=abc", "not a whole number", "read as 2"}},
      {"RINGS=4 rings", {"RINGS=4 rings", "read as 4"}},
      {"RINGS=99999999999", {"RINGS=99999999999", "read as 2147483647"}},
      {"INIT=" + a70, {"INIT is 70 characters", "first 63"}},
      {"PHONE=" + std::string(43, '5'), {"PHONE is 43 characters", "first 31"}},
      {"DEVICE=a\x01" "b", {"DEVICE=a?b", "read as 0"}},  // one readable line
  };
  // clang-format on
  std::string path = ::testing::TempDir() + "notices_" + std::to_string(getpid()) + ".ini";
  for (const auto& [line, parts] : cases) {
    std::ofstream(path) << "[MODEM]\n" << line << "\n";
    Profile profile(path);
    std::vector<std::string> notices;
    EXPECT_EQ(Show(LoadSettings(profile, &notices)), Show(LoadSettings(profile))) << line;
    ASSERT_EQ(notices.size(), 1u) << line;
    for (const std::string& part : parts) EXPECT_NE(notices[0].find(part), std::string::npos) << notices[0];
  }
  // "SPEED=zz" reads as 0, which is a speed: one notice; TYPE both not a number and off the list: two.
  std::ofstream(path) << "[MODEM]\nSPEED=zz\nTYPE=99999999999999\n";
  std::vector<std::string> notices;
  LoadSettings(Profile(path), &notices);
  EXPECT_EQ(notices.size(), 3u);
  // Every value as the dialog writes it, and empty texts: nothing to tell.
  std::ofstream(path) << "[MODEM]\nPORT=4\nSPEED=3\nTYPE=5\nDEVICE=2\nRINGS=-1\nDELAY=5\nACTION=2\nINIT=ATZ\n"
                         "PHONE=\nPAGER="
                      << std::string(31, '1') << "\nSECURITY=+0\n";
  notices.clear();
  LoadSettings(Profile(path), &notices);
  EXPECT_EQ(notices, std::vector<std::string>{});
  unlink(path.c_str());
}

TEST(LoadSettings, AProfileNotFoundOrNotReadIsToldOnce) {
  std::string path = ::testing::TempDir() + "absent_" + std::to_string(getpid()) + ".ini";
  std::vector<std::string> notices;
  LoadSettings(Profile(path), &notices);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find(path + " not found"), std::string::npos) << notices[0];
  std::ofstream(path) << "[MODEM]\nTYPE=42\n" << std::string(2 << 20, ';');  // too large: not read
  notices.clear();
  LoadSettings(Profile(path), &notices);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find(path + ": "), std::string::npos) << notices[0];
  unlink(path.c_str());
}

}  // namespace
