// What follows a new message: the owner's command, and the longest message allowed.
#include <stdlib.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "Engine.h"

namespace telvara::testing {
namespace {

// The hook runs in real time: the loop is pumped until the status comes (10 s at most).
bool WaitForStatus(Call& c, const std::string& text) {
  for (int i = 0; i < 1000 && c.window.Current().status != text; ++i) {
    c.line.Loop().PumpOne();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return c.window.Current().status == text;
}

TEST(NewMessage, TheCommandGetsTheMessageInItsEnvironmentAndItsFailureIsOnlyShown) {
  setenv("TZ", "TST-2", 1);  // two hours east of UTC, no summer time
  tzset();
  ScratchDir out;
  Call c(Rockwell, "RINGS=-1\n[NOTIFY]\nCOMMAND=env | grep -E '^TELVARA_(FILE|CALLER|LENGTH|TIME|LOG)=' | sort > '" +
                       out.Path() + "env'; exit 3\n");
  c.Run("after 3s key 1\nwait record\nafter 3s hangup\n");
  ASSERT_EQ(c.document.GetMessageCount(), 1);
  ASSERT_TRUE(WaitForStatus(c, "New-message hook failed: exit status 3")) << c.State();
  const CMessage& m = *c.document.GetMessageAt(0);
  std::time_t shifted = m.time + 7200;
  std::tm utc{};
  gmtime_r(&shifted, &utc);
  char time[32];
  std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%S+02:00", &utc);
  EXPECT_EQ(ReadFileText(out.Path() + "env"), "TELVARA_CALLER=\nTELVARA_FILE=" + c.line.Path("inbox/") + m.fileName +
                                                  "\nTELVARA_LENGTH=" + std::to_string(m.lengthSeconds) +
                                                  "\nTELVARA_LOG=" + c.document.GetPathName() +
                                                  "\nTELVARA_TIME=" + time + "\n");
  EXPECT_GE(m.lengthSeconds, 3u);
  // Nothing else changed: the message is listed, kept, and the owner is still to be called.
  EXPECT_EQ(c.window.Current().rows.size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(c.line.Path("inbox/") + m.fileName));
  EXPECT_EQ(c.view->callOutPending, 1);
  unsetenv("TZ");
  tzset();
}

TEST(NewMessage, MaxLenStopsALongerCallerAsAKeyWouldAndKeepsWhatCame) {
  Call c(Rockwell, "RINGS=-1\nMAXLEN=2\n");
  c.Run("after 3s key 1\nwait record\nafter 8s hangup\n");
  ASSERT_EQ(c.document.GetMessageCount(), 1);
  const CMessage& m = *c.document.GetMessageAt(0);
  EXPECT_EQ(m.lengthSeconds, 2u);  // 2 s and what was on its way
  EXPECT_TRUE(c.line.Port().Wire().find(char(kCAN)) != std::string::npos);
  EXPECT_TRUE(c.line.Reported().empty());
  for (const auto& [t, text] : c.log) EXPECT_EQ(text.find("limit"), std::string::npos) << text;
}

}  // namespace
}  // namespace telvara::testing
