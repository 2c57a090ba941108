#include <gtest/gtest.h>

#include "app/Options.h"

using namespace telvara;

namespace {

TEST(Options, DefaultsAndEveryOption) {
  Options o;
  EXPECT_EQ(ParseOptions({}, o).outcome, ParseOutcome::Run);
  EXPECT_EQ(o.listenHost, "127.0.0.1");
  EXPECT_EQ(o.listenPort, 7200);
  EXPECT_TRUE(o.home.empty());
  EXPECT_TRUE(o.logFile.empty());
  Options p;
  EXPECT_EQ(ParseOptions({"--home", "/srv/t", "--listen", "0.0.0.0:0", "old.log"}, p).outcome, ParseOutcome::Run);
  EXPECT_EQ(p.home, "/srv/t");
  EXPECT_EQ(p.listenHost, "0.0.0.0");
  EXPECT_EQ(p.listenPort, 0);
  EXPECT_EQ(p.logFile, "old.log");
  Options v6;
  EXPECT_EQ(ParseOptions({"--listen", "[::1]:7300"}, v6).outcome, ParseOutcome::Run);
  EXPECT_EQ(v6.listenHost, "::1");
  EXPECT_EQ(v6.listenPort, 7300);
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
  for (const auto& args : std::vector<std::vector<std::string>>{{"--home"},
                                                                {"--listen", "nohost"},
                                                                {"--listen", ":80"},
                                                                {"--listen", "h:"},
                                                                {"--listen", "h:65536"},
                                                                {"--listen", "h:-1"},
                                                                {"--listen", "h:8x"},
                                                                {"--listen", "[]:7300"},
                                                                {"--bogus"},
                                                                {"a.log", "b.log"}}) {
    Options o;
    OptionsResult r = ParseOptions(args, o);
    EXPECT_EQ(r.outcome, ParseOutcome::Error) << args.back();
    EXPECT_FALSE(r.message.empty());
  }
}

}  // namespace
