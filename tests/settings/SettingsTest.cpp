// The modem settings read from the profile, and the "Modem Set Up" dialog's work on it;
// its flow in the window is in the engine's tests.
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
    << " PHONE=" << m.phoneNumber << " PAGER=" << m.pagerNumber << " SECURITY=" << m.securityCode
    << " MAXLEN=" << m.maxLenSeconds << " ";
  return s.str();
}

struct ProfileFile : ::testing::Test {
  Profile Write(const std::string& text) {
    std::ofstream(path) << text;
    return Profile(path);
  }
  ScratchDir dir;
  std::string path = dir.Path() + "telvara.ini";
};

TEST_F(ProfileFile, EachValueAsStoredAndAnEmptyProfileGivesEveryDefault) {
  EXPECT_EQ(Show(LoadSettings(Profile())),
            "PORT=2 SPEED=1152 TYPE=0 DEVICE=0 RINGS=1 DELAY=300 ACTION=0 "
            "INIT=AT&F&C1&D2 PHONE= PAGER= SECURITY=857 MAXLEN=0 ");
  const std::string a100(100, 'A'), d40(40, '1');
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      {"SPEED=1", "SPEED=576"}, {"SPEED=-1", "SPEED=1152"}, {"DELAY=5", "DELAY=3600"}, {"DELAY=6", "DELAY=300"},
      {"TYPE=6", "TYPE=0"}, {"RINGS=-1", "RINGS=0"}, {"RINGS=3", "RINGS=4"},  // what a telephone change to 4 stores
      {"DEVICE=7", "DEVICE=7"},  // device: used as read; MAXLEN: all of it a number of seconds to 600
      {"MAXLEN=2", "MAXLEN=2"}, {"MAXLEN=-1", "MAXLEN=0"}, {"MAXLEN=2x", "MAXLEN=0"}, {"MAXLEN=99999999999", "MAXLEN=0"},
      {"INIT=" + a100, "INIT=" + a100.substr(0, 63)}, {"PHONE=" + d40, "PHONE=" + d40.substr(0, 31)},
  };
  // clang-format on
  for (const auto& [line, shown] : cases) {
    std::string all = " " + Show(LoadSettings(Write("[MODEM]\n" + line + "\n")));
    EXPECT_NE(all.find(" " + shown + " "), std::string::npos) << line << " gave " << all;
  }
}

// Told once per key: the key, the value and what is used instead.
TEST_F(ProfileFile, NoticesNameTheKeyTheValueAndWhatIsUsedInstead) {
  // clang-format off
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"TYPE=42", {"TYPE=42", "0 (Rockwell) is used"}},
      {"DEVICE=7", {"DEVICE=7", "kept", "Sound Card"}},
      {"PORT=abc", {"PORT=abc", "not a whole number", "read as 2"}},
      {"RINGS=99999999999", {"RINGS=99999999999", "read as 2147483647"}},
      {"INIT=" + std::string(70, 'A'), {"INIT is 70 characters", "first 63"}},
      {"DEVICE=a\x01" "b", {"DEVICE=a?b", "read as 0"}},  // one readable line
      {"MAXLEN=601", {"MAXLEN=601 is not a number of seconds from 0 to 600: messages end at the 10-minute bound"}},
  };
  // clang-format on
  for (const auto& [line, parts] : cases) {
    Profile profile = Write("[MODEM]\n" + line + "\n");
    std::vector<std::string> notices;
    EXPECT_EQ(Show(LoadSettings(profile, &notices)), Show(LoadSettings(profile))) << line;
    ASSERT_EQ(notices.size(), 1u) << line;
    for (const std::string& part : parts) EXPECT_NE(notices[0].find(part), std::string::npos) << notices[0];
  }
  // Every value as the dialog writes it, and empty texts: nothing to tell.
  std::vector<std::string> notices;
  LoadSettings(
      Write("[MODEM]\nPORT=4\nSPEED=3\nTYPE=5\nDEVICE=2\nRINGS=-1\nDELAY=5\nACTION=2\nINIT=ATZ\nPHONE=\nPAGER=" +
            std::string(31, '1') + "\nSECURITY=+0\n"),
      &notices);
  EXPECT_EQ(notices, std::vector<std::string>{});
  // Not found, or too large to read: told once.
  for (const std::string& text : {std::string(), "[MODEM]\nTYPE=42\n" + std::string(2 << 20, ';')}) {
    std::filesystem::remove(path);
    Profile profile = text.empty() ? Profile(path) : Write(text);
    LoadSettings(profile, &notices);
  }
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_NE(notices[0].find(path + " not found"), std::string::npos) << notices[0];
  EXPECT_NE(notices[1].find(path + ": "), std::string::npos) << notices[1];
}

// The dialog's values in profile order.
std::string Values(const CModemSetupDlg& d) {
  std::ostringstream s;
  s << d.port << " " << d.speed << " " << d.type << " " << d.device << " " << d.rings << " " << d.delay << " "
    << d.action << " [" << d.init << "] [" << d.phone << "] [" << d.pager << "] [" << d.security << "]";
  return s.str();
}

TEST_F(ProfileFile, AnEmptyProfileShowsTheDefaultsAndYesWritesTheElevenKeysInOrder) {
  Profile profile(path);
  CModemSetupDlg dialog(profile);
  dialog.OnInitDialog({});
  EXPECT_EQ(Values(dialog), "2 0 0 0 0 0 0 [AT&F&C1&D2] [] [] [857]");
  dialog.TakeControls({2, 0, 0, 0, 0, 0, 0, "AT&F&C1&D2", "", "", "857", ""});  // OK as shown
  EXPECT_EQ(dialog.Save(), "");
  EXPECT_EQ(testing::ReadFileText(path),
            "[MODEM]\nPORT=2\nSPEED=0\nTYPE=0\nDEVICE=0\nRINGS=0\nDELAY=0\nACTION=0\nINIT=AT&F&C1&D2\nPHONE=\nPAGER=\n"
            "SECURITY=857\n");
}

// A value outside its group shows as stored; unchosen, OK takes its default (a list -1).
TEST_F(ProfileFile, OkTakesDefaultsForWhatIsNotChosenAndCutsTheTexts) {
  Profile profile = Write("[MODEM]\nSPEED=9\nRINGS=7\nTYPE=-3\n");
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
  for (const char* bad : {"", "[]", "cancel", R"({"port":"2"})", R"({"rings":1.5})", R"({"init":5})"})
    EXPECT_FALSE(SetupControls::FromJson(bad, none)) << bad;
}

TEST_F(ProfileFile, ShowsEachComDeviceAndMapsTheChosenNumberOnlyToAnOfferedDevice) {
  std::string modem = dir.Path() + "modem";
  std::ofstream(modem) << "";
  Profile profile = Write("[PORTS]\nCOM3=" + modem + "\n");
  CModemSetupDlg dialog(profile);
  dialog.OnInitDialog({"/dev/ttyACM0"});
  SetupDialogState shown = dialog.State();
  ASSERT_EQ(shown.ports.size(), 4u);
  EXPECT_TRUE(shown.ports[2].device == modem && shown.ports[2].exists && shown.ports[3].device == "/dev/ttyS3");
  dialog.TakeControls({3, 0, 0, 0, 0, 0, 0, "", "", "", "", "/etc/passwd"});
  EXPECT_EQ(dialog.Save(), "");
  EXPECT_EQ(profile.GetString("PORTS", "COM3", ""), modem);
  dialog.TakeControls({3, 0, 0, 0, 0, 0, 0, "", "", "", "", "/dev/ttyACM0"});
  EXPECT_EQ(dialog.Save(), "");
  EXPECT_EQ(Profile(path).GetString("PORTS", "COM3", ""), "/dev/ttyACM0");
}

}  // namespace
}  // namespace telvara
