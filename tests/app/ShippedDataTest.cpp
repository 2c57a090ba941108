// The shipped data found beside the executable or in the data directory, and the
// prompts copied into a program directory without replacing any file there.
#include "app/ShippedData.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using namespace telvara;

namespace {

class ShippedData : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("telvara-shipped-" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }
  static void Write(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }
  static std::string Read(const fs::path& p) {
    std::stringstream s;
    s << std::ifstream(p, std::ios::binary).rdbuf();
    return s.str();
  }
  std::string Dir(const std::string& sub) const { return (root_ / sub).string() + "/"; }
  fs::path root_;
};

TEST_F(ShippedData, TheExecutablesDirectoryComesFirst) {
  std::vector<std::string> c = ShippedDataCandidates("/opt/x/bin");
  ASSERT_GE(c.size(), 2u);
  EXPECT_EQ(c[0], "/opt/x/bin/");
  EXPECT_EQ(c[1], "/opt/x/bin/" TELVARA_DATA_FROM_BIN "/");
  EXPECT_EQ(c.back(), TELVARA_DATA_DIR "/");
}

TEST_F(ShippedData, TheFirstCandidateHoldingTheFolderIsFound) {
  fs::create_directories(root_ / "share" / "web");
  EXPECT_EQ(FindShippedDir({Dir("bin"), Dir("share")}, "web"), Dir("share") + "web/");
  fs::create_directories(root_ / "bin" / "web");
  EXPECT_EQ(FindShippedDir({Dir("bin"), Dir("share")}, "web"), Dir("bin") + "web/");
  EXPECT_EQ(FindShippedDir({Dir("bin"), Dir("share")}, "system"), "");
}

TEST_F(ShippedData, MissingPromptsAreCopiedAndTheOwnersFilesKept) {
  fs::create_directories(root_ / "shipped");
  Write(root_ / "shipped" / "sys001.wav", "prompt one");
  Write(root_ / "shipped" / "announce.wav", "shipped greeting");
  PromptCopy first = CopyMissingPrompts(Dir("shipped"), Dir("home/system"));  // no home/: told, nothing made
  EXPECT_EQ(first.errors.size(), 1u);
  EXPECT_FALSE(fs::exists(root_ / "home"));
  fs::create_directories(root_ / "home");
  first = CopyMissingPrompts(Dir("shipped"), Dir("home/system"));
  EXPECT_TRUE(first.errors.empty());
  EXPECT_EQ(first.copied, 2);
  EXPECT_EQ(Read(root_ / "home" / "system" / "sys001.wav"), "prompt one");

  Write(root_ / "home" / "system" / "announce.wav", "the owner's greeting");
  fs::remove(root_ / "home" / "system" / "sys001.wav");
  PromptCopy again = CopyMissingPrompts(Dir("shipped"), Dir("home/system"));
  EXPECT_EQ(again.copied, 1);
  EXPECT_EQ(Read(root_ / "home" / "system" / "announce.wav"), "the owner's greeting");
  EXPECT_EQ(Read(root_ / "home" / "system" / "sys001.wav"), "prompt one");
  int files = 0;
  for (auto& e : fs::directory_iterator(root_ / "home" / "system")) files += e.is_regular_file();
  EXPECT_EQ(files, 2);  // no temp file left
  EXPECT_EQ(CopyMissingPrompts(Dir("shipped"), Dir("home/system")).copied, 0);
}

TEST_F(ShippedData, TheSameDirectoryIsLeftAlone) {
  fs::create_directories(root_ / "system");
  Write(root_ / "system" / "sys001.wav", "x");
  PromptCopy same = CopyMissingPrompts(Dir("system"), (root_ / "system").string());
  EXPECT_EQ(same.copied, 0);
  EXPECT_TRUE(same.errors.empty());
}

}  // namespace
