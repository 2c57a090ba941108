#include <gtest/gtest.h>

#include "EngineHarness.h"
#include "platform/WindowModel.h"

using namespace telvara;
using telvara::testing::EngineHarness;
using Strings = std::vector<std::string>;

namespace {

struct DialectCase {
  ModemType dialect;
  const char* voiceMode;
  const char* flowControl;
};

class StartupInEachDialect : public ::testing::TestWithParam<DialectCase> {};

TEST_P(StartupInEachDialect, SendsTheExactBringUpSequenceAndWatchesTheLine) {
  const DialectCase& c = GetParam();
  EngineHarness h(c.dialect);
  h.Start();
  EXPECT_EQ(h.Commands(), (Strings{"AT&F&C1&D2", "ATE0V1", c.voiceMode, c.flowControl, "AT+FCLASS=0"}));
  EXPECT_EQ(h.Log(), (Strings{"Checking directory", "Read in settings", "Open comm port",
                              "Initializing modem", "Trying to set modem to voice mode",
                              "Modem Set to voice mode", "Ready", "Stand by"}));
  EXPECT_TRUE(h.Boxes().empty());
  EXPECT_EQ(h.View().watching, 1);
  EXPECT_EQ(h.View().timerId, 1);
  EXPECT_EQ(h.View().lineBusy, 0);
  EXPECT_EQ(h.View().ringCount, -1);
  EXPECT_EQ(h.Window().Current().status, "Stand by");
  EXPECT_FALSE(h.Window().Current().startupVisible);
}

INSTANTIATE_TEST_SUITE_P(
    AllSix, StartupInEachDialect,
    ::testing::Values(DialectCase{Rockwell, "AT#CLS=8", "AT&K3"},
                      DialectCase{IS_101, "AT+FCLASS=8", "AT+FLO=2"},
                      DialectCase{USRobotics, "AT#CLS=8", "AT&H1&R2&I0"},
                      DialectCase{Cirrus, "AT#VCL=1", "AT\\Q3"},
                      DialectCase{Sierra, "AT+FCLASS=8", "AT&K3"},
                      DialectCase{UMC, "AT#CLS=8", "AT\\Q3"}));

TEST(Startup, StartupWindowShowsItsTextsWhileTheModemComesUp) {
  EngineHarness h(Rockwell);
  std::vector<std::string> seen;
  // Each start-up text is published before the next blocking step begins.
  h.Window().SetTitle("t");
  uint64_t version = h.Window().Snapshot()->version;
  h.At(h.Clock().Now() + 1, [&] {
    auto s = h.Window().Snapshot();
    if (s->version != version && s->startupVisible) seen.push_back(s->startupStatus);
  });
  h.Start();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), "Initializing modem");  // the first wait is the init command's
}

TEST(Startup, MissingInboxIsReportedOnceAndCreated) {
  EngineHarness h(Rockwell);
  std::filesystem::remove(h.Dir() + "/inbox");
  h.Start();
  ASSERT_EQ(h.Boxes().size(), 1u);
  EXPECT_EQ(h.Boxes()[0], "Directory \"" + h.Dir() + "/inbox\" does not exist. Telvara will create a new directory.");
  EXPECT_TRUE(std::filesystem::is_directory(h.Dir() + "/inbox"));
  EXPECT_EQ(h.View().inboxDir, h.Dir() + "/inbox/");
  EXPECT_EQ(h.View().systemDir, h.Dir() + "/system/");
}

TEST(Startup, AnInboxThatIsAFileIsReportedNotIgnored) {
  EngineHarness h(Rockwell);
  std::filesystem::remove(h.Dir() + "/inbox");
  std::ofstream(h.Dir() + "/inbox") << "x";
  h.Start();
  ASSERT_EQ(h.Boxes().size(), 2u);
  EXPECT_NE(h.Boxes()[1].find("could not be created"), std::string::npos);
  EXPECT_EQ(h.Window().Current().boxes[0].title, "File Path Not Found");
}

TEST(Startup, OpenComFailedLeavesThePortClosedAndRefusesLineWork) {
  EngineHarness h(Rockwell, "", /*portMissing=*/true);
  h.Start();
  EXPECT_EQ(h.Boxes(), (Strings{"OpenCom Failed"}));
  EXPECT_EQ(h.Window().Current().boxes[0].title, "Telvara for Win 95/NT");
  EXPECT_EQ(h.View().lineBusy, 1);
  EXPECT_EQ(h.View().watching, 0);
  EXPECT_EQ(h.View().timerId, 0);
  EXPECT_NE(h.Window().Current().status.find("no such device"), std::string::npos);
  h.View().AnswerCall();  // refused at its first step: nothing sent, nothing shown
  h.RunFor(30000);
  EXPECT_TRUE(h.Commands().empty());
  EXPECT_EQ(h.TimesOf("Phone ringing.").size(), 0u);
  EXPECT_FALSE(h.Window().Current().startupVisible);
}

TEST(Startup, InitStringRefusedTwiceHangsUpBetweenAndGoesOn) {
  EngineHarness h(Rockwell);
  h.Modem().SetReply("AT&F&C1&D2", std::string("ERROR"));
  h.Start();
  // The hang-up between the two tries stops at its first OK.
  EXPECT_EQ(h.Commands(), (Strings{"AT&F&C1&D2", "ATH0", "AT&F&C1&D2", "AT#CLS=8", "AT&K3", "AT+FCLASS=0"}));
  EXPECT_EQ(h.Boxes(), (Strings{"Modem Initialize Failed."}));
  EXPECT_EQ(h.View().watching, 1);
}

TEST(Startup, InitStringRefusedOnceThenAcceptedSendsE0V1) {
  EngineHarness h(IS_101, "INIT=ATZ\n");
  h.Modem().SetReply("ATZ", std::string("ERROR"));
  h.At(h.Clock().Now() + 20, [&] { h.Modem().SetReply("ATZ", std::nullopt); });
  h.Start();
  EXPECT_EQ(h.Commands(), (Strings{"ATZ", "ATH0", "ATZ", "ATE0V1", "AT+FCLASS=8", "AT+FLO=2", "AT+FCLASS=0"}));
  EXPECT_TRUE(h.Boxes().empty());
}

TEST(Startup, VoiceModeRefusedMeansNoRingWatchUntilALineBracketEnds) {
  EngineHarness h(Rockwell);
  h.Modem().SetReply("AT#CLS=8", std::string("ERROR"));
  h.Start();
  EXPECT_EQ(h.Boxes(), (Strings{"Set Voice Mode Failed"}));
  EXPECT_EQ(h.Commands(), (Strings{"AT&F&C1&D2", "ATE0V1", "AT#CLS=8", "AT+FCLASS=0"}));
  EXPECT_EQ(h.View().watching, 0);
  EXPECT_EQ(h.View().timerId, 0);
  h.Modem().Ring(3);
  h.RunFor(20000);
  EXPECT_TRUE(h.TimesOf("Phone ringing.").empty());
}

TEST(Startup, FlowControlRefusedIsShownAndStartUpGoesOn) {
  EngineHarness h(Cirrus);
  h.Modem().SetReply("AT\\Q3", std::string("ERROR"));
  h.Start();
  Strings log = h.Log();
  EXPECT_NE(std::find(log.begin(), log.end(), "Set hardware flow control failed"), log.end());
  EXPECT_EQ(h.View().watching, 1);
  EXPECT_TRUE(h.Boxes().empty());
}

TEST(Startup, ModemThatSendsGarbageDoesNotHangStartUp) {
  EngineHarness h(Rockwell);
  std::string junk;
  for (int i = 0; i < 3000; ++i) junk += static_cast<char>((i * 131 + 7) & 0xFF);
  h.Line().Inject(junk);
  uint32_t start = h.Clock().Now();
  h.Start();
  EXPECT_LT(h.Clock().Now() - start, 30000u);
  EXPECT_EQ(h.Window().Current().status, "Stand by");
}

TEST(Shutdown, DropsDtrAndClosesThePort) {
  EngineHarness h(Rockwell);
  h.Start();
  EXPECT_TRUE(h.Modem().Dtr());
  h.View().OnDestroy();
  EXPECT_FALSE(h.Modem().Dtr());
  EXPECT_EQ(h.View().timerId, 0);
  EXPECT_FALSE(h.Loop().HasTimer(TimerId::RingWatch));
}

}  // namespace
