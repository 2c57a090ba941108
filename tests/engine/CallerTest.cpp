// A caller's dialogue: the greeting, the menu and its silences, a message, the security code.
#include "Engine.h"

namespace telvara::testing {
namespace {

TEST(Caller, ASilentCallerHearsTheMenuAfterSixSecondsAndTheCallEndsSixLaterWithNothingKept) {
  Call c("");
  EXPECT_EQ(c.Prompts(), (Strings{"sys001.wav", "sys002.wav", "sys005.wav"}));
  EXPECT_NEAR(c.TimesOf("Hang up modem")[0] - c.TimesOf("Playing " + c.line.Path("system/sys005.wav"))[0], 6000, 300);
  EXPECT_TRUE(c.InboxEmpty() && c.document.GetMessageCount() == 0 && c.view->callOutPending == 0);
  EXPECT_EQ(c.State(), "watching 1, timer 1, busy 0, rings 0: Stand by");
}

TEST(Caller, OneThenSpeakingAndHangingUpLeavesANewMessageListedLast) {
  Call c("after 5s key 1\nwait record\nafter 3s hangup\n");
  ASSERT_EQ(c.document.GetMessageCount(), 1);
  const CMessage& m = *c.document.GetMessageAt(0);
  EXPECT_TRUE(m.status == MessageStatus::StatusNew && m.lengthSeconds >= 3) << m.lengthSeconds;
  EXPECT_TRUE(std::filesystem::exists(c.line.Path("inbox/" + m.fileName)));
  EXPECT_TRUE(c.window.Current().rows.size() == 1 && c.window.Current().rows[0].text.ends_with("NEW"));
  EXPECT_EQ(std::pair(c.view->callOutPending, c.view->callOutAttempts), std::pair(1, 0));
}

TEST(Caller, ThreeAfterARecordingDeletesItAndARecordingAfterThreeIsKept) {
  // Keys during the recording end it and are not menu keys.
  Call deleted("after 5s key 1\nwait record\nafter 2s key 3\nwait record-end\nafter 1s key 3\nafter 1s key 9\n");
  EXPECT_TRUE(deleted.document.GetMessageCount() == 0 && deleted.InboxEmpty());
  Call kept("after 5s key 3\nafter 1s key 1\nwait record\nafter 2s key 9\nafter 1s key 9\n");
  EXPECT_EQ(kept.document.GetMessageCount(), 1);
}

TEST(Caller, KeysActOnTheMenuAndAKeyCutsThePromptsOfItsStep) {
  Call c("after 1s key 4\nafter 1s key 0\nafter 1s key #\n");
  // 4 cut the greeting and sys002 was skipped; the owner's greeting played, then the menu.
  EXPECT_EQ(c.Prompts(), (Strings{"sys001.wav", "announce.wav", "sys005.wav", "sys007.wav", "sys028.wav"}));
  EXPECT_LT(c.TimesOf("Playing " + c.line.Path("system/announce.wav"))[0] - c.line.Times("event", "4")[0], 500u);
}

TEST(Caller, TheSecurityCodeLeadsToTheOwnerAndEndsThePendingNotification) {
  Call c("after 5s key 857\n");
  EXPECT_TRUE(c.Shown("Security Code Verified") && c.Shown("Processing Owner Request"));
  Strings p = c.Prompts();
  EXPECT_EQ(Strings(p.begin() + 2, p.begin() + 5), (Strings{"sys006.wav", "sys008.wav", "sys009.wav"}));
}

TEST(Caller, AWrongSecondDigitIsAMenuKeyAndAFirstDigitAloneWaitsTwentySeconds) {
  Call wrong("after 5s key 86\n");  // 6: the time
  EXPECT_FALSE(wrong.Shown("Security Code Verified"));
  EXPECT_EQ(wrong.Prompts()[2], "its.wav");
  Call alone("after 5s key 8\n");  // 8: the menu again, once the code has waited 20 s
  EXPECT_NEAR(alone.TimesOf("Playing " + alone.line.Path("system/sys005.wav"))[0] - alone.line.Times("event", "8")[0],
              20000, 300);
}

TEST(Caller, AnEmptyCodeNeverMatchesAndThreeWrongCodesEndTheChecksOfACall) {
  Call open;
  open.view->settings.securityCode.clear();
  open.Run("after 5s key 857\nafter 2s key 9\n");
  EXPECT_TRUE(!open.Shown("Security Code Verified") && open.Prompts()[2] == "sys005.wav");  // 8 is a menu key
  Call guessing("after 5s key 80\nafter 2s key 80\nafter 2s key 80\nafter 2s key 857\nafter 2s key 9\n");
  EXPECT_TRUE(!guessing.Shown("Security Code Verified") &&
              guessing.TimesOf("A wrong security code was keyed (3 in this call)").size() == 1);
}

}  // namespace
}  // namespace telvara::testing
