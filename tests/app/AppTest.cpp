// The command line, and the shipped data found beside the executable or in the data
// directory, with the prompts copied into a program directory without replacing any
// file there.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Files.h"
#include "app/Options.h"
#include "app/ShippedData.h"

namespace fs = std::filesystem;
using namespace telvara;

namespace {

TEST(Options, DefaultsAndEveryOption) {
  Options o;
  EXPECT_EQ(ParseOptions({}, o).outcome, ParseOutcome::Run);
  EXPECT_EQ(std::tuple(o.listenHost, o.listenPort, o.home, o.logFile), std::tuple("127.0.0.1", 7200, "", ""));
  EXPECT_EQ(ParseOptions({"--home", "/srv/t", "--listen", "0.0.0.0:0", "old.log"}, o).outcome, ParseOutcome::Run);
  EXPECT_EQ(std::tuple(o.listenHost, o.listenPort, o.home, o.logFile), std::tuple("0.0.0.0", 0, "/srv/t", "old.log"));
  EXPECT_EQ(ParseOptions({"--listen", "[::1]:7300"}, o).outcome, ParseOutcome::Run);
  EXPECT_EQ(std::pair(o.listenHost, o.listenPort), std::pair(std::string("::1"), 7300));
}

TEST(Options, HelpAndVersionWinOverTheRestOfTheLine) {
  Options o;
  OptionsResult help = ParseOptions({"--home", "/x", "--help", "--bogus"}, o);
  EXPECT_EQ(help.outcome, ParseOutcome::Help);
  EXPECT_NE(help.message.find("--version"), std::string::npos);
  OptionsResult version = ParseOptions({"--version", "--bogus"}, o);
  EXPECT_EQ(version.outcome, ParseOutcome::Version);
  EXPECT_EQ(version.message, std::string("telvara ") + kVersion + "\n");
  EXPECT_EQ(ParseOptions({"--bogus", "--version"}, o).outcome, ParseOutcome::Error);
}

TEST(Options, BadCommandLinesAreRefusedWithAReason) {
  // clang-format off
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--home"}, {"--listen", "nohost"}, {"--listen", ":80"}, {"--listen", "h:65536"}, {"--listen", "h:-1"},
           {"--listen", "h:8x"}, {"--listen", "[]:7300"}, {"--bogus"}, {"a.log", "b.log"}}) {
    // clang-format on
    Options o;
    OptionsResult r = ParseOptions(args, o);
    EXPECT_EQ(r.outcome, ParseOutcome::Error) << args.back();
    EXPECT_FALSE(r.message.empty());
  }
}

class ShippedData : public ::testing::Test {
 protected:
  static void Write(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }
  std::string Dir(const std::string& sub) const { return (root_ / sub).string() + "/"; }
  telvara::testing::ScratchDir scratch_;
  fs::path root_ = scratch_.Path();
};

// Beside the executable first, then the data directory relative to it, then the
// installed one; the first that holds the folder wins.
TEST_F(ShippedData, TheFirstCandidateHoldingTheFolderIsFound) {
  std::vector<std::string> c = ShippedDataCandidates("/opt/x/bin");
  ASSERT_GE(c.size(), 2u);
  EXPECT_EQ(c[0], "/opt/x/bin/");
  EXPECT_EQ(c[1], "/opt/x/bin/" TELVARA_DATA_FROM_BIN "/");
  EXPECT_EQ(c.back(), TELVARA_DATA_DIR "/");
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
  EXPECT_TRUE(first.errors.size() == 1 && !fs::exists(root_ / "home"));
  fs::create_directories(root_ / "home");
  first = CopyMissingPrompts(Dir("shipped"), Dir("home/system"));
  EXPECT_TRUE(first.errors.empty() && first.copied == 2);
  EXPECT_EQ(telvara::testing::ReadFileText(root_ / "home" / "system" / "sys001.wav"), "prompt one");

  Write(root_ / "home" / "system" / "announce.wav", "the owner's greeting");
  fs::remove(root_ / "home" / "system" / "sys001.wav");
  PromptCopy again = CopyMissingPrompts(Dir("shipped"), Dir("home/system"));
  EXPECT_EQ(again.copied, 1);
  EXPECT_EQ(telvara::testing::ReadFileText(root_ / "home" / "system" / "announce.wav"), "the owner's greeting");
  EXPECT_EQ(telvara::testing::ReadFileText(root_ / "home" / "system" / "sys001.wav"), "prompt one");
  int files = 0;
  for (auto& e : fs::directory_iterator(root_ / "home" / "system")) files += e.is_regular_file();
  EXPECT_EQ(files, 2);  // no temp file left
  EXPECT_EQ(CopyMissingPrompts(Dir("shipped"), Dir("home/system")).copied, 0);
  // Shipped and program folder the same (named another way): nothing to do, no error.
  PromptCopy same = CopyMissingPrompts(Dir("shipped"), (root_ / "shipped").string());
  EXPECT_TRUE(same.copied == 0 && same.errors.empty());
}

}  // namespace
