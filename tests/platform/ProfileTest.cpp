#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "Files.h"
#include "platform/Profile.h"

using namespace telvara;
namespace fs = std::filesystem;

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) { std::ofstream(path_) << text; }
  unsigned Mode() const { return unsigned(fs::status(path_).permissions() & fs::perms::mask); }
  // No temporary file of a write is left behind.
  int FilesBeside() const { return int(std::distance(fs::directory_iterator(dir_), {})); }

  telvara::testing::ScratchDir scratch_;
  std::string dir_ = scratch_.Path(), path_ = dir_ + "telvara.ini";
};

TEST(ParseLeadingInt, ReadsTheLeadingNumberClampedToInt) {
  const std::pair<const char*, int> read[] = {
      {"12abc", 12}, {"  -1", -1}, {"99999999999999999999", 2147483647}, {"-99999999999999999999", -2147483647 - 1}};
  int v = 0;
  for (auto [text, value] : read) EXPECT_TRUE(Profile::ParseLeadingInt(text, v) && v == value) << text;
  for (const char* text : {"", "x1", "-"}) EXPECT_FALSE(Profile::ParseLeadingInt(text, v)) << text;
}

TEST_F(ProfileTest, SectionsAndKeysIgnoreCaseAndSpaces) {
  Write("; comment\n[modem]\n  Port = 3 \r\nINIT=AT&F\n[PORTS]\nCOM3=/dev/pts/9\n");
  Profile p(path_);
  EXPECT_EQ(
      std::tuple(p.GetInt("MODEM", "PORT", 2), p.GetString("MODEM", "init", ""), p.GetString("PORTS", "COM3", "")),
      std::tuple(3, "AT&F", "/dev/pts/9"));
  EXPECT_EQ(p.GetString("PORTS", "PORT", "none"), "none");  // keys belong to their section
}

TEST_F(ProfileTest, WritingKeepsEveryOtherLineAndReplacesInPlace) {
  Write("# mine\n[PORTS]\nCOM2=/dev/ttyUSB0\n\n[MODEM]\nRINGS=2\nPHONE=123\n[OTHER]\nx=y\n");
  Profile p(path_);
  ASSERT_TRUE(p.WriteInt("MODEM", "RINGS", 3));
  ASSERT_TRUE(p.WriteString("MODEM", "SECURITY", "4711"));
  ASSERT_TRUE(p.WriteString("NEW", "KEY", "v"));
  ASSERT_TRUE(p.WriteString("MODEM", "PHONE", "1\n[MODEM]\nSECURITY=0"));  // cannot inject a line
  EXPECT_EQ(telvara::testing::ReadFileText(path_),
            "# mine\n[PORTS]\nCOM2=/dev/ttyUSB0\n\n[MODEM]\nRINGS=3\nPHONE=1[MODEM]SECURITY=0\n"
            "SECURITY=4711\n[OTHER]\nx=y\n\n[NEW]\nKEY=v\n");
  EXPECT_EQ(Profile(path_).GetString("MODEM", "SECURITY", ""), "4711");
  EXPECT_EQ(FilesBeside(), 1);
}

TEST_F(ProfileTest, WritingKeepsTheFileModeAndANewProfileIsPrivate) {
  ASSERT_TRUE(Profile(path_).WriteString("WEB", "PASSWORD", "secret"));
  EXPECT_EQ(Mode(), 0600u);
  fs::permissions(path_, fs::perms(0640));
  ASSERT_TRUE(Profile(path_).WriteInt("MODEM", "RINGS", 2));
  EXPECT_EQ(Mode(), 0640u);
}

// Seeded junk of the profile's own characters (and controls).
TEST_F(ProfileTest, JunkIsReadAndWrittenToWithoutHarm) {
  const std::string alphabet("[]=;#\r\n \t\0\x01\xffMODEMTYPE", 21);
  std::mt19937 rng(7200);
  for (int round = 0; round < 300; ++round) {
    std::string junk;
    for (int i = 0; i < 300; ++i) junk += alphabet[rng() % alphabet.size()];
    Write(junk);
    Profile p(path_);
    p.GetInt("MODEM", "TYPE", 0);
    p.GetString("MODEM", "", "");
    ASSERT_TRUE(p.WriteInt("MODEM", "RINGS", round)) << p.WriteError();
    ASSERT_EQ(Profile(path_).GetInt("MODEM", "RINGS", -1), round) << junk;
  }
}

TEST_F(ProfileTest, AFailedWriteIsReportedAndLeavesNothingBehind) {
  // The profile's path is a directory that holds a file: the final rename must fail.
  fs::create_directory(path_);
  std::ofstream(path_ + "/keep") << "x";
  Profile p(path_);
  EXPECT_TRUE(!p.WriteInt("MODEM", "RINGS", 5) && !p.WriteError().empty());
  EXPECT_EQ(p.GetInt("MODEM", "RINGS", 0), 5);  // kept in memory
  EXPECT_EQ(FilesBeside(), 1);
  EXPECT_FALSE(Profile("/nonexistent-telvara-dir/t.ini").WriteInt("MODEM", "RINGS", 5));
}

}  // namespace
