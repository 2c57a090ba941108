// The call engine on the simulated line as the program wires it: start-up, rings, call-outs.
#include <gtest/gtest.h>

#include "Engine.h"

namespace telvara::testing {
namespace {

// The dialects' own commands for each step are the driver's (DialectTest).
TEST(Startup, SendsTheBringUpSequenceShowsItsTextsAndWatchesTheLine) {
  Engine e(Rockwell, "", false);
  std::string firstShown;  // each start-up text is published before the next blocking step
  e.line.At(e.line.Now() + 1, [&] { firstShown = e.window.Snapshot()->startupStatus; });
  e.line.Faults().openNotice = "Modem not locked";  // what the open went without is logged once
  e.view->OnCreate();
  EXPECT_EQ(firstShown, "Initializing modem");
  EXPECT_EQ(e.line.Commands(), (Strings{"AT&F&C1&D2", "ATE0V1", "AT#CLS=8", "AT&K3", "AT+FCLASS=0"}));
  Strings log;
  for (const auto& [t, text] : e.log) log.push_back(text);
  EXPECT_EQ(log, (Strings{"Checking directory", "Read in settings", "Open comm port", "Modem not locked",
                          "Initializing modem", "Trying to set modem to voice mode", "Modem Set to voice mode", "Ready",
                          "Stand by"}));
  EXPECT_TRUE(e.Boxes().empty() && !e.window.Current().startupVisible);
  EXPECT_EQ(e.State(), "watching 1, timer 1, busy 0, rings -1: Stand by");
}

TEST(Startup, AMissingInboxIsReportedAndCreated) {
  Engine e(Rockwell, "", false);
  std::filesystem::remove(e.line.Path("inbox"));
  e.view->OnCreate();
  EXPECT_EQ(e.Boxes(),
            Strings{"Directory \"" + e.line.Path("inbox") + "\" does not exist. Telvara will create a new directory."});
  EXPECT_TRUE(std::filesystem::is_directory(e.line.Path("inbox")) && e.view->inboxDir == e.line.Path("inbox/"));
}

// A port not there at start (a USB modem not plugged in yet) is tried again at 5 s, then doubling.
TEST(Startup, OpenComFailedIsTriedAgainUntilThePortOpensThenBroughtUp) {
  Engine e(Rockwell, "RINGS=-1\n", false);
  e.line.Faults().failOpen = true;
  e.view->OnCreate();
  EXPECT_EQ(e.Boxes(), Strings{"OpenCom Failed"});
  EXPECT_EQ(e.State(),
            "watching 0, timer 0, busy 0, rings 0: OpenCom Failed: COM2: cannot open COM2: No such file or directory; "
            "trying again");
  e.view->AnswerCall();  // refused at its first step: nothing sent, nothing shown
  e.line.RunFor(16000);  // tried at 5 and 15 s
  EXPECT_TRUE(e.line.Commands().empty());
  EXPECT_FALSE(e.window.Current().startupVisible);
  e.line.Faults().failOpen = false;
  e.line.RunFor(20000);  // the third try, 35 s after the start, opens it
  ASSERT_FALSE(e.line.Commands().empty());
  EXPECT_EQ(e.line.Commands().front(), "AT&F&C1&D2");
  EXPECT_EQ(e.State(), "watching 1, timer 1, busy 0, rings -1: Stand by");
  e.line.RunFor(13000);
  e.Ring(1, 3000);
  EXPECT_EQ(e.Answers(), 1u);
}

TEST(Startup, ACommandTheModemRefusesIsShownAndStartUpGoesOn) {
  struct Case {
    ModemType dialect;
    std::string profile, refused;
    uint32_t refusedFor;  // ms, 0: always
    Strings commands, boxes;
    int watching;
  };
  // clang-format off
  const Case cases[] = {
      {Rockwell, "", "AT&F&C1&D2", 0,  // refused twice: a hang-up between
       {"AT&F&C1&D2", "ATH0", "AT&F&C1&D2", "AT#CLS=8", "AT&K3", "AT+FCLASS=0"}, {"Modem Initialize Failed."}, 1},
      {IS_101, "INIT=ATZ\n", "ATZ", 20,  // refused once, then accepted: E0V1 follows
       {"ATZ", "ATH0", "ATZ", "ATE0V1", "AT+FCLASS=8", "AT+FLO=2", "AT+FCLASS=0"}, {}, 1},
      {Rockwell, "", "AT#CLS=8", 0,  // no voice mode: no ring watch
       {"AT&F&C1&D2", "ATE0V1", "AT#CLS=8", "AT+FCLASS=0"}, {"Set Voice Mode Failed"}, 0}};
  // clang-format on
  for (const Case& c : cases) {
    Engine e(c.dialect, c.profile, false);
    e.line.Modem().SetReply(c.refused, "ERROR");
    if (c.refusedFor) e.line.At(e.line.Now() + c.refusedFor, [&] { e.line.Modem().SetReply(c.refused, std::nullopt); });
    e.view->OnCreate();
    EXPECT_EQ(e.line.Commands(), c.commands);
    EXPECT_EQ(e.Boxes(), c.boxes);
    EXPECT_EQ(std::pair(e.view->watching, e.view->timerId), std::pair(c.watching, c.watching));
    e.Ring(3, 20000);
    EXPECT_EQ(e.TimesOf("Phone ringing.").empty(), !c.watching);
  }
}

TEST(Startup, AModemThatSendsGarbageDoesNotHangStartUpAndShutdownDropsDtr) {
  Engine e(Rockwell, "", false);
  e.line.Modem().SendNoise(3000);
  e.view->OnCreate();
  EXPECT_LT(e.line.Now(), 30000u);
  EXPECT_TRUE(e.State() == "watching 1, timer 1, busy 0, rings -1: Stand by" && e.line.Modem().Dtr()) << e.State();
  e.view->OnDestroy();
  EXPECT_FALSE(e.line.Modem().Dtr());
  EXPECT_EQ(e.line.Stream().OpenHandles() + e.view->timerId + e.line.Loop().HasTimer(TimerId::RingWatch), 0);
}

// Clicks still queued when the window closes start no work on the line.
TEST(Startup, CommandsQueuedAtCloseStartNothingOnTheClosedPort) {
  Engine e(Rockwell);
  std::size_t commands = e.line.Commands().size();
  e.Post(command::kRecordAnnouncement, "");
  e.Post(command::kPlayAnnouncement, "");
  e.view->OnDestroy();
  e.line.RunFor(1000);
  EXPECT_EQ(e.line.Commands(commands), Strings{});
  EXPECT_TRUE(e.TimesOf("Recording new announcement message").empty() && !e.window.Current().lineBusy);
}

// Idle, the watch sleeps until the modem speaks or a deadline: the first 12 s, then the probe.
TEST(RingWatch, AnIdleWatchWakesOnlyForItsDeadlinesAndProbesTheModemEveryTenMinutes) {
  Engine e(Rockwell);
  std::size_t commands = e.line.Commands().size();
  e.line.RunFor(60000);
  EXPECT_EQ(e.line.Commands().size(), commands);
  EXPECT_EQ(e.ticks.size(), 1u);
  EXPECT_EQ(e.State(), "watching 1, timer 1, busy 0, rings 0: Stand by");  // -1 turned to 0 after 12 s
  e.line.RunFor(600000);
  EXPECT_EQ(e.line.Commands(commands), Strings{"AT"});
  EXPECT_EQ(e.ticks.size(), 2u);
}

// The probe finds a modem that stops answering; a port that hangs up (a USB modem unplugged), at once.
TEST(RingWatch, AModemThatStopsAnsweringOrAPortThatHangsUpIsTakenBack) {
  Engine e(Rockwell, "RINGS=-1\n");
  ASSERT_EQ(e.line.Stream().AddScenario("after 1m reply AT silence\nafter 11m reply AT default"), "");
  e.line.RunFor(11 * 60000);
  EXPECT_EQ(e.TimesOf("Modem lost: the modem does not answer; trying again").size(), 1u);
  e.line.RunFor(60000);  // opened again 5 s later: the bring-up answers, the probe's "AT" did not
  EXPECT_EQ(e.State(), "watching 1, timer 1, busy 0, rings 0: Stand by");
  e.line.Faults().hungUp = true;
  e.line.RunFor(1000);
  EXPECT_EQ(e.State(), "watching 0, timer 0, busy 0, rings 0: Modem lost: the port hung up; trying again");
  e.line.RunFor(20000);  // tried at 5 and 15 s: still gone
  e.line.Faults().hungUp = false;
  e.line.RunFor(40000);
  EXPECT_EQ(e.view->watching, 1);
  e.line.RunFor(13000);
  e.Ring(1, 3000);
  EXPECT_EQ(e.Answers(), 1u);
}

TEST(RingWatch, TheFirstRingWithinTwelveSecondsOfStartOnlyReachesZeroAndZeroRingsAnswersAtOnce) {
  Engine e(Rockwell);  // RINGS absent: one ring
  e.Ring(2, 3000);
  EXPECT_TRUE(e.State() == "watching 1, timer 1, busy 0, rings 0: Phone ringing." && e.Answers() == 0) << e.State();
  e.line.RunFor(5000);  // the second ring, 6 s later, counts and answers
  EXPECT_EQ(e.Answers(), 1u);
  Engine f(Rockwell, "RINGS=-1\n");
  f.Ring(1, 3000);
  EXPECT_EQ(f.Answers(), 1u);
}

TEST(RingWatch, RingsElevenSecondsApartAccumulateThirteenRestartAndTheThirdAnswers) {
  Engine e(Rockwell, "RINGS=2\n");  // three rings
  e.line.RunFor(13000);
  for (uint32_t gap : {11000u, 2000u}) e.Ring(1, gap);
  EXPECT_EQ(e.view->ringCount, 2);
  e.line.RunFor(11000);  // 13 s after the second ring: dropped
  EXPECT_EQ(e.State(), "watching 1, timer 1, busy 0, rings 0: Stand by");
  e.Ring(1, 2000);
  for (const char* text : {"NO CARRIER", "OK", "CONNECT 9600"}) e.line.Modem().SendResultLine(text);
  e.line.RunFor(2000);  // other result lines neither count nor reset
  EXPECT_TRUE(e.State() == "watching 1, timer 1, busy 0, rings 1: Phone ringing." && e.Answers() == 0) << e.State();
  e.line.RunFor(3000);  // that caller gave up; the next one's second ring is the third
  e.Ring(2, 20000);
  EXPECT_TRUE(e.State() == "watching 1, timer 1, busy 0, rings 0: Stand by" && e.Answers() == 1) << e.State();
}

// A notification started at T: attempts at T + 10 s, T + the delay, twice more, then never.
TEST(CallOutSchedule, TenSecondsThenTheDelayThenTwiceMoreThenNeverAndAnAnsweredCallMovesTheBase) {
  Engine e(Rockwell, "RINGS=-1\nPHONE=5551234\n");  // DELAY absent: 300 s
  e.line.RunFor(13000);
  uint32_t t = e.line.Now();
  e.view->callOutBase = t;
  e.view->callOutPending = 1;
  e.view->StopLineWatch();  // watched again as after a call, by the new schedule
  e.view->StartLineWatch();
  e.line.RunFor(1000 * 1000);
  auto attemptsSince = [&](uint32_t since) {
    std::vector<uint32_t> at;
    for (uint32_t time : e.TimesOf("Hang up phone line"))
      if (time >= since) at.push_back(time - since);
    return at;
  };
  std::vector<uint32_t> at = attemptsSince(t);
  ASSERT_EQ(at.size(), 4u);
  EXPECT_NEAR(at[0], 10200, 200);
  EXPECT_NEAR(at[1], 300200, 200);
  EXPECT_GT(at[2], at[1]);           // as soon as the one before has ended
  EXPECT_LT(at[3] - at[1], 60000u);  // each answered and left without a code
  EXPECT_EQ(e.line.Times("command", "ATDT 5551234").size(), 4u);
  EXPECT_EQ(e.view->callOutPending + e.view->callOutAttempts, 0);
  e.view->callOutBase = t = e.line.Now();  // again, with the first attempt made
  e.view->callOutAttempts = e.view->callOutPending = 1;
  e.view->StopLineWatch();
  e.view->StartLineWatch();
  e.line.RunFor(200000);
  e.Ring(1, 10000);  // a call at T + 200 s moves the base to its end
  uint32_t callEnd = e.view->callOutBase;
  EXPECT_GT(callEnd - t, 200000u);
  e.line.RunFor(400000);
  at = attemptsSince(callEnd);
  ASSERT_EQ(at.size(), 3u);  // attempts 2, 3 and 4
  EXPECT_NEAR(at[0], 300200, 200);
}

TEST(CallOutSchedule, NoNumberNoCallOut) {
  Engine e(Rockwell);
  e.view->callOutBase = e.line.Now();
  e.view->callOutPending = 1;
  e.line.RunFor(20000);
  EXPECT_EQ(e.TimesOf("No telephone number to call the owner at").size(), 1u);
  EXPECT_EQ(e.view->callOutPending + e.view->callOutAttempts, 0);
  EXPECT_TRUE(e.line.Times("command", "ATH0").empty());
}

}  // namespace
}  // namespace telvara::testing
