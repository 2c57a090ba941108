// The "Modem Set Up" dialog's work on the profile: what it shows, what OK takes from
// the controls, what Yes writes. Its flow in the window is in the engine's tests.
#include "settings/ModemSetupDlg.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Files.h"
#include "platform/Profile.h"

namespace telvara {
namespace {

using testing::ScratchDir;

std::string ReadFile(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path).rdbuf();
  return s.str();
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
  EXPECT_EQ(ReadFile(dir.Path() + "telvara.ini"),
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
