// The new-message hook runner on real processes.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "Files.h"
#include "platform/EventLoop.h"
#include "platform/HookRunner.h"

using namespace telvara;
using telvara::testing::ReadFileText;
using telvara::testing::ScratchDir;

namespace {

struct Hooks {
  explicit Hooks(HookLimits limits = {})
      : runner(std::make_unique<HookRunner>(
            loop,
            [this](const std::string& line) {
              std::lock_guard<std::mutex> lock(mutex);
              lines.push_back(line);
            },
            [this](const HookResult& r) { results.push_back(r); }, limits)) {}
  // Dispatches, blocked in poll(), until n results came (20 s at most).
  void WaitResults(std::size_t n) {
    uint32_t until = clock.Now() + 20000;
    while (results.size() < n && !TickReached(clock.Now(), until))
      if (!loop.PumpOne()) loop.WaitUntil(until, WaitFor::Messages);
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex);
    return lines;
  }

  RealClock clock;
  EventLoop loop{clock, std::make_unique<PollWaiter>(clock)};
  std::mutex mutex;
  std::vector<std::string> lines;
  std::vector<HookResult> results;
  std::unique_ptr<HookRunner> runner;
};

TEST(HookRunner, ACallerTextReachesTheCommandAsTextAndRunsNothing) {
  ScratchDir dir;
  std::string hostile = "$(touch " + dir.Path() + "a) `touch " + dir.Path() + "b`'\"; touch " + dir.Path() + "c #\\";
  Hooks h;
  ASSERT_TRUE(h.runner->Run("printf '%s' \"$TELVARA_CALLER\" > " + dir.Path() + "caller; echo \"$TELVARA_CALLER\"",
                            {{"TELVARA_CALLER", hostile}}));
  h.WaitResults(1);
  EXPECT_TRUE(h.results.size() == 1 && h.results[0].Ok());
  EXPECT_EQ(ReadFileText(dir.Path() + "caller"), hostile);
  EXPECT_EQ(h.Lines(), std::vector<std::string>{"Hook: " + hostile});
  for (const char* name : {"a", "b", "c"}) EXPECT_FALSE(std::filesystem::exists(dir.Path() + name)) << name;
}

TEST(HookRunner, OutputComesOutInBoundedLinesAndAChattyHookIsNotHeldUp) {
  HookLimits limits;
  limits.lineMax = 20;
  limits.outputMax = 4;
  Hooks h(limits);
  // A long line, a line with control characters on stderr, then 5 MB of lines.
  ASSERT_TRUE(
      h.runner->Run("head -c 3000 /dev/zero | tr '\\0' a; echo; printf 'x\\033[1m\\ty\\r\\n' >&2; "
                    "yes 0123456789 | head -c 5000000",
                    {}));
  h.WaitResults(1);
  EXPECT_TRUE(h.results.size() == 1 && h.results[0].Ok());
  EXPECT_EQ(h.Lines(), (std::vector<std::string>{"Hook: " + std::string(20, 'a'), "Hook: x?[1m\ty", "Hook: 0123456789",
                                                 "Hook: 0123456789", "Hook: (further output dropped)"}));
}

TEST(HookRunner, FailuresAreReportedInOrderAndALongHookIsEndedAtItsLimit) {
  HookLimits limits;
  limits.runMs = 300;
  limits.graceMs = 300;
  Hooks h(limits);
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(h.runner->Run("exit 3", {}));
  ASSERT_TRUE(h.runner->Run("kill -9 $$", {}));
  ASSERT_TRUE(h.runner->Run("sleep 30", {}));
  ASSERT_TRUE(h.runner->Run("trap '' TERM; sleep 30", {}));  // SIGTERM ignored: SIGKILL after the grace
  h.WaitResults(4);
  std::vector<std::string> said;
  for (const HookResult& r : h.results) said.push_back(r.Describe(300));
  EXPECT_EQ(said, (std::vector<std::string>{"exit status 3", "killed by signal 9 (SIGKILL)", "killed after 300 ms",
                                            "killed after 300 ms"}));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(HookRunner, ClosingEndsARunningHookAtOnceAndDropsTheWaitingOnes) {
  ScratchDir dir;
  Hooks h;
  ASSERT_TRUE(h.runner->Run(
      "echo $$ > " + dir.Path() + "pid.tmp; mv " + dir.Path() + "pid.tmp " + dir.Path() + "pid; sleep 30", {}));
  ASSERT_TRUE(h.runner->Run("touch " + dir.Path() + "second", {}));
  for (int i = 0; i < 500 && !std::filesystem::exists(dir.Path() + "pid"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  pid_t pid = std::stoi(ReadFileText(dir.Path() + "pid"));
  auto start = std::chrono::steady_clock::now();
  h.runner.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_NE(kill(pid, 0), 0);  // ended and reaped
  EXPECT_FALSE(std::filesystem::exists(dir.Path() + "second"));
  EXPECT_TRUE(h.results.empty());
}

}  // namespace
