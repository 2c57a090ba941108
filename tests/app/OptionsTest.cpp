#include <gtest/gtest.h>

#include "app/Options.h"

using namespace telvara;

namespace {

OptionsResult Parse(std::vector<std::string> args, Options& o) { return ParseOptions(args, o); }

TEST(Options, DefaultsAndEveryOption) {
  Options o;
  EXPECT_EQ(Parse({}, o).outcome, ParseOutcome::Run);
  EXPECT_EQ(o.listenHost, "127.0.0.1");
  EXPECT_EQ(o.listenPort, 7200);
  EXPECT_TRUE(o.home.empty());
  EXPECT_TRUE(o.logFile.empty());
  Options p;
  EXPECT_EQ(Parse({"--home", "/srv/t", "--listen", "0.0.0.0:0", "old.log"}, p).outcome, ParseOutcome::Run);
  EXPECT_EQ(p.home, "/srv/t");
  EXPECT_EQ(p.listenHost, "0.0.0.0");
  EXPECT_EQ(p.listenPort, 0);
  EXPECT_EQ(p.logFile, "old.log");
}

TEST(Options, BadCommandLinesAreRefusedWithAReason) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--home"}, {"--listen", "nohost"}, {"--listen", ":80"}, {"--listen", "h:"},
           {"--listen", "h:65536"}, {"--listen", "h:-1"}, {"--listen", "h:8x"},
           {"--bogus"}, {"a.log", "b.log"}}) {
    Options o;
    OptionsResult r = Parse(args, o);
    EXPECT_EQ(r.outcome, ParseOutcome::Error) << args[0];
    EXPECT_FALSE(r.message.empty());
  }
  Options o;
  EXPECT_EQ(Parse({"--help"}, o).outcome, ParseOutcome::Help);
}

TEST(Options, ListenTakesBracketedIPv6) {
  std::string host;
  int port = 0;
  EXPECT_TRUE(ParseListen("[::1]:7300", host, port));
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(port, 7300);
  EXPECT_FALSE(ParseListen("[]:7300", host, port));
}

}  // namespace
