// The modem settings read from the profile, and the "Modem Set Up" dialog's work on it:
// what it shows, what OK takes from the controls, what Yes writes. Its flow in the
// window is in the engine's tests.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Files.h"
#include "platform/Profile.h"
#include "settings/ModemSettings.h"
#include "settings/ModemSetupDlg.h"

namespace telvara {
namespace {

using testing::ScratchDir;

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

TEST(LoadSettings, EachValueAsStored) {
  const std::string a100(100, 'A'), d40(40, '1');
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      {"SPEED=1", "SPEED=576"}, {"SPEED=-1", "SPEED=1152"}, {"DELAY=5", "DELAY=3600"}, {"DELAY=6", "DELAY=300"},
      {"TYPE=6", "TYPE=0"}, {"RINGS=-1", "RINGS=0"},
      {"RINGS=3", "RINGS=4"},  // what a telephone change to 4 stores
      {"RINGS=99999999999", "RINGS=2147483647"},  // the largest, not overflowing
      {"DEVICE=7", "DEVICE=7"},  // port, device and action are used as read
      {"PORT=abc", "PORT=2"}, {"RINGS= 4 rings", "RINGS=5"},  // leading digits, or the default
      {"INIT=" + a100, "INIT=" + a100.substr(0, 63)}, {"PHONE=" + d40, "PHONE=" + d40.substr(0, 31)},
  };
  // clang-format on
  ScratchDir dir;
  std::string path = dir.Path() + "telvara.ini";
  for (const auto& [line, shown] : cases) {
    std::ofstream(path) << "[MODEM]\n" << line << "\n";
    std::string all = std::string(" ").append(Show(LoadSettings(Profile(path))));
    EXPECT_NE(all.find(std::string(" ").append(shown).append(" ")), std::string::npos) << line << " gave " << all;
  }
}

// What cannot be used as written is told once per key: the key, the value and what is
// used instead; the settings are those read without notices.
TEST(LoadSettings, NoticesNameTheKeyTheValueAndWhatIsUsedInstead) {
  const std::string a70(70, 'A');
  // clang-format off
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"TYPE=42", {"TYPE=42", "0 (Rockwell) is used"}},
      {"DEVICE=7", {"DEVICE=7", "kept", "Sound Card"}},
      {"PORT=abc", {"PORT=abc", "not a whole number", "read as 2"}},
      {"RINGS=99999999999", {"RINGS=99999999999", "read as 2147483647"}},
      {"INIT=" + a70, {"INIT is 70 characters", "first 63"}},
      {"DEVICE=a\x01" "b", {"DEVICE=a?b", "read as 0"}},  // one readable line
  };
  // clang-format on
  ScratchDir dir;
  std::string path = dir.Path() + "telvara.ini";
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
}

TEST(LoadSettings, AProfileNotFoundOrNotReadIsToldOnce) {
  ScratchDir dir;
  std::string path = dir.Path() + "telvara.ini";
  std::vector<std::string> notices;
  LoadSettings(Profile(path), &notices);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find(path + " not found"), std::string::npos) << notices[0];
  std::ofstream(path) << "[MODEM]\nTYPE=42\n" << std::string(2 << 20, ';');  // too large: not read
  notices.clear();
  LoadSettings(Profile(path), &notices);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find(path + ": "), std::string::npos) << notices[0];
}

// The dialog's values in profile order.
std::string Values(const CModemSetupDlg& d) {
  std::ostringstream s;
  s << d.port << " " << d.speed << " " << d.type << " " << d.device << " " << d.rings << " " << d.delay << " "
    << d.action << " [" << d.init << "] [" << d.phone << "] [" << d.pager << "] [" << d.security << "]";
  return s.str();
}

TEST(ModemSetupDlg, AnEmptyProfileShowsTheDefaultsAndYesWritesTheElevenKeysInOrder) {
  ScratchDir dir;
  Profile profile(dir.Path() + "telvara.ini");
  CModemSetupDlg dialog(profile);
  dialog.OnInitDialog({});
  EXPECT_EQ(Values(dialog), "2 0 0 0 0 0 0 [AT&F&C1&D2] [] [] [857]");
  // OK with every control as shown.
  SetupControls shown{2, 0, 0, 0, 0, 0, 0, "AT&F&C1&D2", "", "", "857", ""};
  dialog.TakeControls(shown);
  EXPECT_EQ(dialog.Save(), "");
  EXPECT_EQ(testing::ReadFileText(dir.Path() + "telvara.ini"),
            "[MODEM]\nPORT=2\nSPEED=0\nTYPE=0\nDEVICE=0\nRINGS=0\nDELAY=0\nACTION=0\nINIT=AT&F&C1&D2\nPHONE=\nPAGER=\n"
            "SECURITY=857\n");
}

// A profile value outside its group shows as stored (the page checks nothing); a group
// left so takes OK's default, a list -1; texts are cut to their limits.
TEST(ModemSetupDlg, OkTakesDefaultsForWhatIsNotChosenAndCutsTheTexts) {
  ScratchDir dir;
  std::ofstream(dir.Path() + "telvara.ini") << "[MODEM]\nSPEED=9\nRINGS=7\nTYPE=-3\n";
  Profile profile(dir.Path() + "telvara.ini");
  CModemSetupDlg dialog(profile);
  dialog.OnInitDialog({});
  EXPECT_EQ(Values(dialog), "2 9 -3 0 7 0 0 [AT&F&C1&D2] [] [] [857]");

  SetupControls none;
  ASSERT_TRUE(SetupControls::FromJson(R"({"port":null,"speed":7,"init":"AT\tZ\u0001"})", none));
  none.phone = std::string(40, '5');
  none.pager = std::string(28, '6') + "\xC3\xA9";  // a two-byte letter across the limit goes whole
  none.security = "8" + std::string(20, '7');
  dialog.TakeControls(none);
  EXPECT_EQ(Values(dialog), "2 4 0 0 -1 -1 0 [ATZ] [" + std::string(29, '5') + "] [" + std::string(28, '6') + "] [8" +
                                std::string(14, '7') + "]");
  none.init = std::string(70, 'A');
  dialog.TakeControls(none);
  EXPECT_EQ(dialog.init, std::string(59, 'A'));

  SetupControls ignored;
  for (const char* bad : {"", "[]", "cancel", R"({"port":"2"})", R"({"rings":1.5})", R"({"init":5})"})
    EXPECT_FALSE(SetupControls::FromJson(bad, ignored)) << bad;
}

TEST(ModemSetupDlg, ShowsEachComDeviceAndMapsTheChosenNumberOnlyToAnOfferedDevice) {
  ScratchDir dir;
  std::string modem = dir.Path() + "modem";
  std::ofstream(modem) << "";
  std::ofstream(dir.Path() + "telvara.ini") << "[PORTS]\nCOM3=" << modem << "\n";
  Profile profile(dir.Path() + "telvara.ini");
  CModemSetupDlg dialog(profile);
  dialog.OnInitDialog({"/dev/ttyACM0"});
  SetupDialogState shown = dialog.State();
  ASSERT_EQ(shown.ports.size(), 4u);
  EXPECT_EQ(shown.ports[2].device, modem);
  EXPECT_TRUE(shown.ports[2].exists);
  EXPECT_EQ(shown.ports[3].device, "/dev/ttyS3");
  EXPECT_EQ(shown.serialDevices, std::vector<std::string>{"/dev/ttyACM0"});

  SetupControls controls{3, 0, 0, 0, 0, 0, 0, "", "", "", "", "/etc/passwd"};
  dialog.TakeControls(controls);
  EXPECT_EQ(dialog.map, "");
  EXPECT_EQ(dialog.Save(), "");
  EXPECT_EQ(profile.GetString("PORTS", "COM3", ""), modem);
  controls.map = "/dev/ttyACM0";
  dialog.TakeControls(controls);
  EXPECT_EQ(dialog.Save(), "");
  EXPECT_EQ(Profile(dir.Path() + "telvara.ini").GetString("PORTS", "COM3", ""), "/dev/ttyACM0");
}

}  // namespace
}  // namespace telvara
