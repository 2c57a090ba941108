#include <gtest/gtest.h>

#include "EngineHarness.h"

using namespace telvara;
using telvara::testing::EngineHarness;
using Strings = std::vector<std::string>;

namespace {

// Answers show as the answer command in the transcript.
size_t Answers(EngineHarness& h) {
  size_t n = 0;
  for (const std::string& c : h.Commands()) n += c == "ATA";
  return n;
}

TEST(RingWatch, FirstRingWithinTwelveSecondsOfStartIsNotCounted) {
  EngineHarness h(Rockwell);  // RINGS absent: one ring
  h.Start();
  h.Modem().Ring(2);
  h.RunFor(3000);
  EXPECT_EQ(h.TimesOf("Phone ringing.").size(), 1u);
  EXPECT_EQ(h.View().ringCount, 0);
  EXPECT_EQ(Answers(h), 0u);
  h.RunFor(5000);  // the second ring, 6 s later, counts and answers
  EXPECT_EQ(h.TimesOf("Phone ringing.").size(), 2u);
  EXPECT_EQ(Answers(h), 1u);
}

TEST(RingWatch, ZeroRingsAnswersTheFirstRing) {
  EngineHarness h(Rockwell, "RINGS=-1\n");
  h.Start();
  h.Modem().Ring(1);
  h.RunFor(3000);
  EXPECT_EQ(Answers(h), 1u);
}

TEST(RingWatch, AnswersAtTheConfiguredCountAndReturnsToStandBy) {
  EngineHarness h(Rockwell, "RINGS=2\n");  // three rings
  h.Start();
  h.RunFor(13000);  // past the start-up window
  h.Modem().Ring(3);
  h.RunFor(20000);
  EXPECT_EQ(h.TimesOf("Phone ringing.").size(), 3u);
  EXPECT_EQ(Answers(h), 1u);
  // The answer bracket: voice mode, flow control, the answer, hang-up, class 0.
  Strings c = h.Commands();
  auto ata = std::find(c.begin(), c.end(), "ATA");
  ASSERT_NE(ata, c.end());
  EXPECT_EQ(Strings(ata - 5, ata + 1),
            (Strings{"AT#CLS=8", "AT&K3", "AT#CLS=8", "AT#BDR=48#VBS=8#VSR=7200", "AT#VLS=0", "ATA"}));
  Strings tail(ata + 1, c.end());
  EXPECT_EQ(tail, (Strings{"ATH0", "AT+FCLASS=0"}));
  EXPECT_EQ(h.Window().Current().status, "Stand by");
  EXPECT_EQ(h.View().lineBusy, 0);
  EXPECT_EQ(h.View().timerId, 1);
  EXPECT_EQ(h.View().ringCount, 0);
}

TEST(RingWatch, RingsElevenSecondsApartAccumulateThirteenRestart) {
  EngineHarness h(Rockwell, "RINGS=2\n");
  h.Start();
  h.RunFor(13000);
  h.Modem().Ring(1);
  h.RunFor(11000);
  h.Modem().Ring(1);
  h.RunFor(2000);
  EXPECT_EQ(h.View().ringCount, 2);
  h.RunFor(11000);  // 13 s after the second ring
  EXPECT_EQ(h.View().ringCount, 0);  // dropped after 12 s without a ring
  EXPECT_EQ(h.Window().Current().status, "Stand by");
  h.Modem().Ring(1);
  h.RunFor(2000);
  EXPECT_EQ(h.View().ringCount, 1);
  EXPECT_EQ(Answers(h), 0u);
}

TEST(RingWatch, OtherResultLinesNeitherCountNorReset) {
  EngineHarness h(Rockwell, "RINGS=2\n");
  h.Start();
  h.RunFor(13000);
  h.Modem().Ring(1);
  h.RunFor(2000);
  ASSERT_EQ(h.View().ringCount, 1);
  h.Line().Inject("\r\nNO CARRIER\r\n\r\nOK\r\n\r\nCONNECT 9600\r\n");
  h.RunFor(2000);
  EXPECT_EQ(h.View().ringCount, 1);
  EXPECT_EQ(h.View().lastResult, 0);
  EXPECT_EQ(h.Window().Current().status, "Phone ringing.");
}

TEST(RingWatch, IdleTickPollsForAboutOneHundredTenMilliseconds) {
  EngineHarness h(Rockwell);
  h.Start();
  size_t before = h.Commands().size();
  h.RunFor(60000);
  EXPECT_EQ(h.Commands().size(), before);  // watching sends nothing
  EXPECT_EQ(h.View().ringCount, 0);        // -1 turned to 0 after 12 s
  EXPECT_EQ(h.TimesOf("Stand by").size(), 2u);
}

// The call-out schedule, in virtual time, for a notification started at T.
TEST(CallOutSchedule, TenSecondsThenTheDelayThenTwiceMoreThenNever) {
  EngineHarness h(Rockwell);  // DELAY absent: 300 s
  h.Start();
  h.RunFor(1000);
  uint32_t t = h.Clock().Now();
  h.View().callOutBase = t;
  h.View().callOutAttempts = 0;
  h.View().callOutPending = 1;
  h.RunFor(1200 * 1000);
  std::vector<uint32_t> attempts;
  for (const auto& [text, n] : std::vector<std::pair<std::string, int>>{{"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}}) {
    auto times = h.TimesOf("Call-out attempt " + text + " to the owner: calling out is not built yet");
    ASSERT_EQ(times.size(), 1u) << n;
    attempts.push_back(times[0] - t);
  }
  EXPECT_GT(attempts[0], 10000u);
  EXPECT_LT(attempts[0], 10400u);
  EXPECT_GT(attempts[1], 300000u);
  EXPECT_LT(attempts[1], 300400u);
  EXPECT_LT(attempts[2] - attempts[1], 400u);  // right after the previous one
  EXPECT_LT(attempts[3] - attempts[2], 400u);
  EXPECT_EQ(h.View().callOutPending, 0);
  EXPECT_EQ(h.View().callOutAttempts, 0);
}

TEST(CallOutSchedule, AnAnsweredCallMovesTheBase) {
  EngineHarness h(Rockwell, "RINGS=-1\nDELAY=1\n");  // 600 s
  h.Start();
  h.RunFor(13000);
  uint32_t t = h.Clock().Now();
  h.View().callOutBase = t;
  h.View().callOutAttempts = 1;  // the first attempt was made
  h.View().callOutPending = 1;
  h.RunFor(300000);
  h.Modem().Ring(1);  // a call at T + 300 s moves the base to its end
  h.RunFor(10000);
  uint32_t callEnd = h.View().callOutBase;
  EXPECT_GT(callEnd - t, 300000u);
  h.RunFor(700000);
  auto times = h.TimesOf("Call-out attempt 2 to the owner: calling out is not built yet");
  ASSERT_EQ(times.size(), 1u);
  EXPECT_GT(times[0] - callEnd, 600000u);
  EXPECT_LT(times[0] - callEnd, 600400u);
}

}  // namespace
