#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/VirtualWaiter.h"

using namespace telvara;

namespace {

LoopMessage Command(int id) { return {LoopMessage::Kind::Command, id, {}, {}, {}}; }

TEST(EventLoop, WaitUnitsAreFiveAndAHalfMillisecondsAndTicksOrderAcrossTheWrap) {
  EXPECT_EQ(UnitsToMs(5) + UnitsToMs(25000), 27u + 137500u);
  EXPECT_TRUE(TickReached(5, 0xFFFFFFF0u) && !TickReached(0xFFFFFFF0u, 5));  // 21 ms after a wrap
  EXPECT_TRUE(TickReached(100, 100));
}

TEST(EventLoop, AFloodIsRefusedButACloseIsAlwaysTaken) {
  VirtualClock clock;
  EventLoop loop(clock, std::make_unique<VirtualWaiter>(clock));
  for (std::size_t i = 0; i < EventLoop::kMaxPosted; ++i) ASSERT_TRUE(loop.Post(Command(0)));
  EXPECT_FALSE(loop.Post(Command(0)));
  loop.PostClose();
  std::size_t taken = 0;
  while (loop.PumpOne()) ++taken;
  EXPECT_TRUE(taken == EventLoop::kMaxPosted + 1 && loop.QuitRequested());
}

TEST(RealLoop, PostFromAnotherThreadWakesABlockedWait) {
  RealClock clock;
  EventLoop loop(clock, std::make_unique<PollWaiter>(clock));
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    loop.Post(Command(42));
  });
  uint32_t start = clock.Now();
  loop.WaitUntil(start + 5000, WaitFor::Messages);  // must return on the post, not after 5 s
  EXPECT_TRUE(clock.Now() - start < 2000u && loop.HasPosted());
  poster.join();
}

TEST(RealLoop, RunEndsOnCloseAndSleepsBetweenTimers) {
  RealClock clock;
  EventLoop loop(clock, std::make_unique<PollWaiter>(clock));
  int ticks = 0;
  loop.SetHandler([&](const LoopMessage& m) {
    if (m.kind == LoopMessage::Kind::Timer && ++ticks == 3) loop.PostClose();
  });
  loop.SetTimer(TimerId::RingWatch, 20);
  std::clock_t cpu0 = std::clock();
  uint32_t start = clock.Now();
  loop.Run();
  EXPECT_EQ(ticks, 3);
  EXPECT_GE(clock.Now() - start, 55u);
  // A spinning wait would burn the whole 60 ms of CPU.
  EXPECT_LT(double(std::clock() - cpu0) / CLOCKS_PER_SEC, 0.03);
}

}  // namespace
