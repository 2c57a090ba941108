// The owner's menu by telephone, reached by the code in a call or in a notification call.
#include "Engine.h"

namespace telvara::testing {
namespace {

bool Has(const Strings& all, const std::string& one) { return std::find(all.begin(), all.end(), one) != all.end(); }

TEST(Owner, KeyOnePlaysTheNewMessagesWhichShowOldAtOnceAndAreStoredOld) {
  Call c;
  std::string heard = c.AddMessage(MessageStatus::StatusOld, 2), fresh = c.AddMessage(MessageStatus::StatusNew, 2);
  c.Run("after 5s key 857\nafter 3s key 1\nafter 6s key #\n");
  Strings p = c.Prompts();
  EXPECT_TRUE(Has(p, fresh) && !Has(p, heard) && p.back() == "sys028.wav");
  EXPECT_NE(c.window.Current().rows[1].text.find("OLD"), std::string::npos);
  COrvanelDoc stored(c.line.Path());
  ASSERT_TRUE(stored.OnOpenDocument(c.document.GetPathName()).Ok());
  EXPECT_EQ(stored.GetMessageAt(1)->status, MessageStatus::StatusOld);
}

TEST(Owner, SixDeletesTheMessageJustPlayedItsRowAndItsFile) {
  Call c;
  std::string first = c.AddMessage(MessageStatus::StatusNew, 10), second = c.AddMessage(MessageStatus::StatusNew, 10);
  c.Run("after 5s key 857\nafter 3s key 2\nafter 16s key 6\nafter 2s key #\n");  // 6 during the second
  ASSERT_EQ(c.document.GetMessageCount(), 1);
  EXPECT_TRUE(c.document.GetMessageAt(0)->fileName == first && c.window.Current().rows.size() == 1);
  EXPECT_FALSE(std::filesystem::exists(c.line.Path("inbox/" + second)));
  EXPECT_TRUE(Has(c.Prompts(), "sys037.wav"));
}

TEST(Owner, TheMenuIsOfferedAfterEightSilentSecondsAndEndsAfterEightMore) {
  Call c("after 5s key 857\n");
  EXPECT_NEAR(c.TimesOf("Hang up modem")[0] - c.TimesOf("Playing " + c.line.Path("system/sys012.wav"))[0], 8000, 300);
  EXPECT_EQ(c.view->callOutPending, 0);
}

TEST(Owner, AFailedGreetingRecordingKeepsTheOldGreeting) {
  Call c;
  std::string error, greeting = c.line.Path("system/announce.wav");
  ASSERT_TRUE(sim::WriteWavFile(greeting, std::vector<uint8_t>(7200, 0x50), 7200, error));
  std::vector<uint8_t> before = ReadFileBytes(greeting);
  c.line.Modem().SetReply("AT#VRX", "ERROR");
  c.Run("after 5s key 857\nafter 3s key 3\nafter 3s key #\n");
  EXPECT_TRUE(c.Shown("Recording " + c.line.Path("system/announce-new.wav")) && ReadFileBytes(greeting) == before);
  EXPECT_FALSE(std::filesystem::exists(c.line.Path("system/announce-new.wav")));
}

TEST(Owner, ANotificationCallLeadsToTheMenuAndAWrongCodeOffersItsPromptAgain) {
  Call c;
  c.view->settings.phoneNumber = "5551234";
  c.view->callOutBase = c.line.Now();
  c.view->callOutPending = 1;
  EXPECT_EQ(c.line.Stream().AddScenario("wait dial\nafter 5s key 80\nafter 2s key 857\nafter 3s key #\n"), "");
  c.line.RunFor(60000);
  EXPECT_TRUE(c.Shown("Connected with Remote Phone") && c.Shown("Processing Owner Request"));
  Strings p = c.Prompts();
  EXPECT_EQ(Strings(p.begin(), p.begin() + 3), (Strings{"sys032.wav", "sys033.wav", "sys006.wav"}));
  EXPECT_EQ(c.view->callOutPending + c.view->callOutAttempts, 0);
}

}  // namespace
}  // namespace telvara::testing
