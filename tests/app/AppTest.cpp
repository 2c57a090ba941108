// The command line, and the shipped data found and copied without replacing the owner's files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Files.h"
#include "app/Options.h"
#include "app/ShippedData.h"

namespace fs = std::filesystem;
using namespace telvara;

namespace {

TEST(Options, EveryOptionHelpAndVersionFirstAndBadLinesRefusedWithAReason) {
  Options o;
  EXPECT_EQ(ParseOptions({"--home", "/srv/t", "--listen", "[::1]:0", "old.log"}, o).outcome, ParseOutcome::Run);
  EXPECT_EQ(std::tuple(o.listenHost, o.listenPort, o.home, o.logFile), std::tuple("::1", 0, "/srv/t", "old.log"));
  EXPECT_EQ(ParseOptions({"--home", "/x", "--help", "--bogus"}, o).outcome, ParseOutcome::Help);
  OptionsResult version = ParseOptions({"--version", "--bogus"}, o);
  EXPECT_EQ(version.message, std::string("telvara ") + kVersion + "\n");
  using Args = std::vector<std::string>;
  for (const Args& args : {Args{"--bogus", "--version"}, Args{"--home"}, Args{"--listen", "nohost"},
                           Args{"--listen", "h:65536"}, Args{"--listen", "h:8x"}, Args{"a.log", "b.log"}}) {
    OptionsResult r = ParseOptions(args, o);
    EXPECT_TRUE(r.outcome == ParseOutcome::Error && !r.message.empty()) << args.back();
  }
}

class ShippedData : public ::testing::Test {
 protected:
  static void Write(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }
  std::string Dir(const std::string& sub) const { return (root_ / sub).string() + "/"; }
  telvara::testing::ScratchDir scratch_;
  fs::path root_ = scratch_.Path();
};

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
  EXPECT_TRUE(first.errors.size() == 1 && !fs::exists(root_ / "home"));
  fs::create_directories(root_ / "home");
  first = CopyMissingPrompts(Dir("shipped"), Dir("home/system"));
  EXPECT_TRUE(first.errors.empty() && first.copied == 2);
  EXPECT_EQ(telvara::testing::ReadFileText(root_ / "home" / "system" / "sys001.wav"), "prompt one");

  Write(root_ / "home" / "system" / "announce.wav", "the owner's greeting");
  fs::remove(root_ / "home" / "system" / "sys001.wav");
  EXPECT_EQ(CopyMissingPrompts(Dir("shipped"), Dir("home/system")).copied, 1);
  EXPECT_EQ(telvara::testing::ReadFileText(root_ / "home" / "system" / "announce.wav"), "the owner's greeting");
  EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "home" / "system"), {}), 2);  // no temp file left
  // Shipped and program folder the same (named another way): nothing to do, no error.
  PromptCopy same = CopyMissingPrompts(Dir("shipped"), (root_ / "shipped").string());
  EXPECT_TRUE(same.copied == 0 && same.errors.empty());
}

}  // namespace
