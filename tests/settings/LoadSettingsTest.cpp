#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "platform/Profile.h"
#include "settings/ModemSettings.h"

using namespace telvara;

namespace {

// Writes an INI text to a scratch file and loads the settings from it.
class LoadSettingsTest : public ::testing::Test {
 protected:
  ModemSettings Load(const std::string& modemLines) {
    path_ = ::testing::TempDir() + "settings_" + std::to_string(getpid()) + ".ini";
    std::ofstream(path_) << "[MODEM]\n" << modemLines;
    return LoadSettings(Profile(path_));
  }
  void TearDown() override { unlink(path_.c_str()); }
  std::string path_;
};

TEST_F(LoadSettingsTest, EmptyProfileGivesEveryDefault) {
  ModemSettings m = LoadSettings(Profile());
  EXPECT_EQ(m.port, 2);
  EXPECT_EQ(m.speed, 1152);
  EXPECT_EQ(m.modemType, 0);
  EXPECT_EQ(m.outputDevice, 0);
  EXPECT_EQ(m.rings, 1);
  EXPECT_EQ(m.delaySeconds, 300);
  EXPECT_EQ(m.action, 0);
  EXPECT_EQ(m.initString, "AT&F&C1&D2");
  EXPECT_EQ(m.phoneNumber, "");
  EXPECT_EQ(m.pagerNumber, "");
  EXPECT_EQ(m.securityCode, "857");
}

TEST_F(LoadSettingsTest, SpeedTable) {
  EXPECT_EQ(Load("SPEED=0\n").speed, 1152);
  EXPECT_EQ(Load("SPEED=1\n").speed, 576);
  EXPECT_EQ(Load("SPEED=2\n").speed, 384);
  EXPECT_EQ(Load("SPEED=3\n").speed, 192);
  EXPECT_EQ(Load("SPEED=4\n").speed, 1152);
  EXPECT_EQ(Load("SPEED=7\n").speed, 1152);
  EXPECT_EQ(Load("SPEED=-1\n").speed, 1152);
}

TEST_F(LoadSettingsTest, DelayTable) {
  const int expected[] = {300, 600, 900, 1200, 1800, 3600};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Load("DELAY=" + std::to_string(i) + "\n").delaySeconds, expected[i]);
  EXPECT_EQ(Load("DELAY=6\n").delaySeconds, 300);
  EXPECT_EQ(Load("DELAY=-1\n").delaySeconds, 300);
}

TEST_F(LoadSettingsTest, TypeOutsideTheSixDialectsIsRockwell) {
  EXPECT_EQ(Load("TYPE=5\n").modemType, 5);
  EXPECT_EQ(Load("TYPE=6\n").modemType, 0);
  EXPECT_EQ(Load("TYPE=-2\n").modemType, 0);
}

TEST_F(LoadSettingsTest, RingsAreStoredLessOne) {
  EXPECT_EQ(Load("RINGS=0\n").rings, 1);
  EXPECT_EQ(Load("RINGS=5\n").rings, 6);
  EXPECT_EQ(Load("RINGS=-1\n").rings, 0);
  EXPECT_EQ(Load("RINGS=3\n").rings, 4);  // what a telephone change to 4 stores
  // The largest value must not overflow into a negative count.
  EXPECT_GT(Load("RINGS=99999999999\n").rings, 0);
}

TEST_F(LoadSettingsTest, PortDeviceAndActionAreUsedAsRead) {
  ModemSettings m = Load("PORT=5\nDEVICE=7\nACTION=9\n");
  EXPECT_EQ(m.port, 5);
  EXPECT_EQ(m.outputDevice, 7);
  EXPECT_EQ(m.action, 9);
}

TEST_F(LoadSettingsTest, TextsLongerThanTheirFieldsAreCut) {
  ModemSettings m = Load("INIT=" + std::string(100, 'A') + "\nPHONE=" + std::string(40, '1') +
                         "\nPAGER=" + std::string(32, '2') + "\nSECURITY=" + std::string(50, '3') + "\n");
  EXPECT_EQ(m.initString, std::string(63, 'A'));
  EXPECT_EQ(m.phoneNumber, std::string(31, '1'));
  EXPECT_EQ(m.pagerNumber, std::string(31, '2'));
  EXPECT_EQ(m.securityCode, std::string(31, '3'));
}

TEST_F(LoadSettingsTest, NonsenseValuesReadAsLeadingDigitsOrDefault) {
  ModemSettings m = Load("PORT=abc\nSPEED=2x\nRINGS= 4 rings\nTYPE=\n");
  EXPECT_EQ(m.port, 2);        // no digits: the default
  EXPECT_EQ(m.speed, 384);     // "2x" reads 2
  EXPECT_EQ(m.rings, 5);       // " 4 rings" reads 4
  EXPECT_EQ(m.modemType, 0);
}

TEST_F(LoadSettingsTest, AbsentPhoneIsEmptyAndPresentTextsAreKept) {
  ModemSettings m = Load("PAGER=5551234\nSECURITY=*12#\nINIT=ATZ\n");
  EXPECT_EQ(m.phoneNumber, "");
  EXPECT_EQ(m.pagerNumber, "5551234");
  EXPECT_EQ(m.securityCode, "*12#");
  EXPECT_EQ(m.initString, "ATZ");
}

}  // namespace
