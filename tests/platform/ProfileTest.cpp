#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Profile.h"

using namespace telvara;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A temporary file of a profile write ("<path>.<something>") still beside it.
bool TempLeftBeside(const std::string& path) {
  std::filesystem::path p(path);
  std::string prefix = p.filename().string() + ".";
  for (const auto& e : std::filesystem::directory_iterator(p.parent_path()))
    if (e.path().filename().string().rfind(prefix, 0) == 0) return true;
  return false;
}

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = ::testing::TempDir() + "profile_" + std::to_string(getpid()) + ".ini"; }
  void TearDown() override { unlink(path_.c_str()); }
  void Write(const std::string& text) { std::ofstream(path_) << text; }
  std::string path_;
};

TEST(ParseLeadingInt, ReadsTheLeadingNumberClampedToInt) {
  const std::pair<const char*, int> read[] = {{"12abc", 12}, {"  -1", -1}, {"+7", 7},
                                              {"99999999999999999999", 2147483647},
                                              {"-99999999999999999999", -2147483647 - 1}};
  for (auto [text, value] : read) {
    int v = 0;
    EXPECT_TRUE(Profile::ParseLeadingInt(text, v)) << text;
    EXPECT_EQ(v, value) << text;
  }
  int v = 0;
  for (const char* text : {"", "x1", "-"}) EXPECT_FALSE(Profile::ParseLeadingInt(text, v)) << text;
}

TEST_F(ProfileTest, SectionsAndKeysIgnoreCaseAndSpaces) {
  Write("; comment\n[modem]\n  Port = 3 \r\nINIT=AT&F\n[PORTS]\nCOM3=/dev/pts/9\n");
  Profile p(path_);
  EXPECT_EQ(p.GetInt("MODEM", "PORT", 2), 3);
  EXPECT_EQ(p.GetString("MODEM", "init", ""), "AT&F");
  EXPECT_EQ(p.GetString("PORTS", "COM3", ""), "/dev/pts/9");
  EXPECT_EQ(p.GetString("PORTS", "PORT", "none"), "none");  // keys belong to their section
}

TEST_F(ProfileTest, WritingKeepsEveryOtherLineAndReplacesInPlace) {
  Write("# mine\n[PORTS]\nCOM2=/dev/ttyUSB0\n\n[MODEM]\nRINGS=2\nPHONE=123\n[OTHER]\nx=y\n");
  Profile p(path_);
  ASSERT_TRUE(p.WriteInt("MODEM", "RINGS", 3));
  ASSERT_TRUE(p.WriteString("MODEM", "SECURITY", "4711"));
  ASSERT_TRUE(p.WriteString("NEW", "KEY", "v"));
  EXPECT_EQ(ReadAll(path_),
            "# mine\n[PORTS]\nCOM2=/dev/ttyUSB0\n\n[MODEM]\nRINGS=3\nPHONE=123\nSECURITY=4711\n"
            "[OTHER]\nx=y\n\n[NEW]\nKEY=v\n");
  Profile again(path_);
  EXPECT_EQ(again.GetInt("MODEM", "RINGS", 0), 3);
  EXPECT_EQ(again.GetString("NEW", "KEY", ""), "v");
  EXPECT_FALSE(TempLeftBeside(path_));
}

TEST_F(ProfileTest, WritingKeepsTheFileModeAndANewProfileIsPrivate) {
  Profile fresh(path_);
  ASSERT_TRUE(fresh.WriteString("WEB", "PASSWORD", "secret"));
  struct stat st {};
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  chmod(path_.c_str(), 0640);
  Profile again(path_);
  ASSERT_TRUE(again.WriteInt("MODEM", "RINGS", 2));
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(ProfileTest, AValueCannotInjectALine) {
  Profile p(path_);
  ASSERT_TRUE(p.WriteString("MODEM", "PHONE", "1\n[MODEM]\nSECURITY=0"));
  Profile again(path_);
  EXPECT_EQ(again.GetString("MODEM", "SECURITY", "857"), "857");
}

TEST_F(ProfileTest, AFailedWriteIsReportedAndLeavesNothingBehind) {
  // The profile's path is a directory that holds a file: the final rename must fail.
  std::string dir = ::testing::TempDir() + "profdir_" + std::to_string(getpid());
  mkdir(dir.c_str(), 0755);
  std::ofstream(dir + "/keep") << "x";
  Profile p(dir);
  EXPECT_FALSE(p.WriteInt("MODEM", "RINGS", 5));
  EXPECT_FALSE(p.WriteError().empty());
  EXPECT_EQ(p.GetInt("MODEM", "RINGS", 0), 5);  // kept in memory
  EXPECT_EQ(ReadAll(dir + "/keep"), "x");
  EXPECT_FALSE(TempLeftBeside(dir));
  Profile nowhere("/nonexistent-telvara-dir/t.ini");
  EXPECT_FALSE(nowhere.WriteInt("MODEM", "RINGS", 5));
  unlink((dir + "/keep").c_str());
  rmdir(dir.c_str());
}

TEST_F(ProfileTest, BinaryGarbageReadsAsDefaults) {
  std::string junk;
  for (int i = 0; i < 5000; ++i) junk += static_cast<char>((i * 7919) & 0xFF);
  Write(junk);
  Profile p(path_);
  EXPECT_EQ(p.GetInt("MODEM", "PORT", 2), 2);
}

}  // namespace
