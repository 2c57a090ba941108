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

// Each numeric key as stored, including values outside its table.
TEST_F(LoadSettingsTest, NumbersMapThroughTheirTables) {
  const struct {
    const char* line;
    int ModemSettings::*field;
    int value;
  } cases[] = {
      {"SPEED=0", &ModemSettings::speed, 1152},     {"SPEED=1", &ModemSettings::speed, 576},
      {"SPEED=2", &ModemSettings::speed, 384},      {"SPEED=3", &ModemSettings::speed, 192},
      {"SPEED=4", &ModemSettings::speed, 1152},     {"SPEED=-1", &ModemSettings::speed, 1152},
      {"DELAY=0", &ModemSettings::delaySeconds, 300},  {"DELAY=1", &ModemSettings::delaySeconds, 600},
      {"DELAY=2", &ModemSettings::delaySeconds, 900},  {"DELAY=3", &ModemSettings::delaySeconds, 1200},
      {"DELAY=4", &ModemSettings::delaySeconds, 1800}, {"DELAY=5", &ModemSettings::delaySeconds, 3600},
      {"DELAY=6", &ModemSettings::delaySeconds, 300},  {"DELAY=-1", &ModemSettings::delaySeconds, 300},
      {"TYPE=5", &ModemSettings::modemType, 5},     {"TYPE=6", &ModemSettings::modemType, 0},
      {"TYPE=-2", &ModemSettings::modemType, 0},    {"RINGS=0", &ModemSettings::rings, 1},
      {"RINGS=5", &ModemSettings::rings, 6},        {"RINGS=-1", &ModemSettings::rings, 0},
      {"RINGS=3", &ModemSettings::rings, 4},  // what a telephone change to 4 stores
  };
  for (const auto& c : cases) EXPECT_EQ(Load(std::string(c.line) + "\n").*c.field, c.value) << c.line;
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
