// Caller ID (CALLERID=1): the identity reported between the rings goes with the message.
#include <algorithm>

#include "Engine.h"

namespace telvara::testing {
namespace {

// Answers at the second ring, with caller ID asked for.
struct IdLine : Call {
  IdLine() : Call(Rockwell, "RINGS=1\nCALLERID=1\n") { line.RunFor(13000); }  // past the bring-up's ring window
  // `ringing` rings, and a message is left; its caller ID.
  std::string Message(const std::string& ringing) {
    int before = document.GetMessageCount();
    EXPECT_EQ(line.Stream().AddScenario(ringing + "\nwait answer 20s\nafter 3s key 1\nwait record\nafter 2s hangup\n"),
              "");
    line.RunFor(40000);
    EXPECT_EQ(document.GetMessageCount(), before + 1) << State();
    return document.GetMessageCount() > before ? document.GetMessageAt(before)->callerId : "?";
  }
};

TEST(CallerId, EachLineFormGivesTheMessageItsCallerShownInTheStatusAndTheList) {
  const std::string kLong = "Jane\x01 Doe\x7f and a very long name beyond the field";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"ring 2 from 5551234 JANE DOE", "5551234"},  // the modem's own spacing
      {"ring 2\nafter 1s result DATE=1206\nresult TIME=2134\nresult NMBR=5551234\nresult NAME=JANE", "5551234"},
      {"ring 2\nafter 1s result NAME = JANE DOE", "JANE DOE"},
      {"ring 2 from P", "Private"},
      {"ring 2 from P JANE", "JANE"},
      // Two identities in one window: the last one counts; other lines change nothing.
      {"ring 2\nafter 1s result NMBR=111\nresult NMBR=222\nresult MESG=0102\nresult HELLO", "222"},
      {"ring 2", ""},  // a modem that reports nothing
  };
  for (const auto& [ringing, shown] : cases) {
    IdLine e;
    EXPECT_EQ(e.Message(ringing), shown) << ringing;
    if (shown.empty()) {
      EXPECT_EQ(e.TimesOf("Phone ringing.").size(), 2u);
      continue;
    }
    EXPECT_EQ(e.TimesOf("Phone ringing.\n" + shown).size(), 2u) << ringing;  // as it came, and at the second ring
    ASSERT_EQ(e.window.Current().rows.size(), 1u);
    EXPECT_NE(e.window.Current().rows[0].text.find(" " + shown + "   NEW"), std::string::npos);
  }
  // Untrusted text: control characters dropped, cut to the log's field.
  IdLine e;
  e.line.At(e.line.Now() + 1000, [&] { e.line.Faults().injected = "\r\nNAME = " + kLong + "\r\n"; });
  EXPECT_EQ(e.Message("ring 2"), "Jane Doe and a very long name b");  // 31 characters
}

TEST(CallerId, AnIdentityEndsWithItsRingWindowAndWithItsCall) {
  IdLine e;
  ASSERT_EQ(e.line.Stream().AddScenario("ring 1 from 5550001"), "");  // the caller gives up
  e.line.RunFor(3000);
  EXPECT_EQ(e.window.Current().status, "Phone ringing.\n5550001");
  e.line.RunFor(12000);
  EXPECT_EQ(e.State(), "watching 1, timer 1, busy 0, rings 0: Stand by");
  EXPECT_EQ(e.Message("ring 2"), "");
  EXPECT_EQ(e.Message("ring 2 from 5550002"), "5550002");
  // A short call, and the next caller rings inside the window of the ring it answered.
  std::size_t ringing = e.TimesOf("Phone ringing.").size();
  ASSERT_EQ(
      e.line.Stream().AddScenario("ring 2 from 5550003\nwait answer\nafter 1s key 9\nwait idle 20s\nafter 3s ring 1"),
      "");
  e.line.RunFor(20000);
  EXPECT_LT(e.line.Times("ring").back() - e.line.Times("answer").back(), COrvanelView::kRingWindowMs);
  EXPECT_EQ(e.TimesOf("Phone ringing.\n5550003").size(), 2u);
  EXPECT_EQ(e.TimesOf("Phone ringing.").size(), ringing + 2);  // its first ring, and the next caller's
}

TEST(CallerId, TheDialectsCommandIsSentOnlyWhenAskedAndARefusalIsSaidWithCallsStillAnswered) {
  Engine plain(Rockwell);
  Strings sent = plain.line.Commands();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "AT#CID=1"), 0);
  Engine cirrus(Cirrus, "CALLERID=1\n");
  EXPECT_EQ(cirrus.window.Current().status, "Caller ID is not available on this modem");
  Engine refused(USRobotics, "RINGS=-1\nCALLERID=1\n", false);
  refused.line.Modem().SetReply("AT#CID=1", "ERROR");
  refused.view->OnCreate();
  EXPECT_EQ(refused.window.Current().status, "The modem refused caller ID (AT#CID=1)");
  refused.line.RunFor(13000);
  refused.Ring(1, 3000);
  EXPECT_EQ(refused.Answers(), 1u);
}

}  // namespace
}  // namespace telvara::testing
