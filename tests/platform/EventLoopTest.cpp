#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/VirtualWaiter.h"

using namespace telvara;

namespace {

struct VirtualLoop {
  VirtualClock clock;
  VirtualWaiter* waiter;
  EventLoop loop;
  VirtualLoop() : waiter(new VirtualWaiter(clock)), loop(clock, std::unique_ptr<Waiter>(waiter)) {}
};

TEST(WaitUnits, FiveAndAHalfMillisecondsEach) {
  EXPECT_EQ(UnitsToMs(2), 11u);
  EXPECT_EQ(UnitsToMs(5), 27u);
  EXPECT_EQ(UnitsToMs(20), 110u);
  EXPECT_EQ(UnitsToMs(400), 2200u);
  EXPECT_EQ(UnitsToMs(1500), 8250u);
  EXPECT_EQ(UnitsToMs(25000), 137500u);
}

TEST(TickReached, OrdersAcrossTheWrap) {
  EXPECT_TRUE(TickReached(5, 0xFFFFFFF0u));   // 21 ms after a wrap
  EXPECT_FALSE(TickReached(0xFFFFFFF0u, 5));
  EXPECT_TRUE(TickReached(100, 100));
}

TEST(Delay, WaitsExactlyAndDispatchesMessagesMeanwhile) {
  VirtualLoop v;
  std::vector<uint32_t> seen;
  v.waiter->At(v.clock.Now() + 20, [&] {
    LoopMessage m;
    m.kind = LoopMessage::Kind::Invoke;
    m.invoke = [&] { seen.push_back(v.clock.Now()); };
    v.loop.Post(std::move(m));
  });
  uint32_t start = v.clock.Now();
  v.loop.Delay(100);  // 550 ms
  EXPECT_EQ(v.clock.Now() - start, 550u);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0] - start, 20u);
}

TEST(Delay, ANestedWaitMovesTheSharedDeadline) {
  VirtualLoop v;
  uint32_t start = v.clock.Now();
  v.waiter->At(start + 10, [&] {
    LoopMessage m;
    m.kind = LoopMessage::Kind::Invoke;
    m.invoke = [&] { v.loop.SetDeadline(200); };  // 1100 ms from t+10
    v.loop.Post(std::move(m));
  });
  v.loop.Delay(20);
  EXPECT_EQ(v.clock.Now() - start, 1110u);
}

TEST(Timers, TickAtTheirPeriodAndStopWhenStoppedOrDestroyed) {
  VirtualLoop v;
  int ticks = 0;
  auto timer = std::make_unique<LoopTimer>(v.loop, TimerId::RingWatch);
  v.loop.SetHandler([&](const LoopMessage& m) {
    if (m.kind == LoopMessage::Kind::Timer && m.id == 1 && ++ticks == 5) timer->Stop();
  });
  uint32_t start = v.clock.Now();
  ASSERT_TRUE(timer->Start(200));
  while (timer->Running()) {
    if (!v.loop.PumpOne()) v.loop.WaitUntil(v.clock.Now() + 10000, WaitFor::Messages);
  }
  EXPECT_EQ(ticks, 5);
  EXPECT_EQ(v.clock.Now() - start, 1000u);
  EXPECT_FALSE(v.loop.HasTimer(TimerId::RingWatch));
  EXPECT_FALSE(timer->Start(0));
  ASSERT_TRUE(timer->Start(200));
  timer.reset();
  EXPECT_FALSE(v.loop.HasTimer(TimerId::RingWatch));
}

TEST(Timers, ATimerIsDispatchedInsideADelay) {
  VirtualLoop v;
  int ticks = 0;
  v.loop.SetHandler([&](const LoopMessage& m) {
    if (m.kind == LoopMessage::Kind::Timer) ++ticks;
  });
  v.loop.SetTimer(TimerId::RingWatch, 200);
  v.loop.Delay(200);  // 1100 ms: five ticks
  EXPECT_EQ(ticks, 5);
}

TEST(PostedMessages, ComeBeforeTimersAndInOrder) {
  VirtualLoop v;
  std::vector<int> order;
  v.loop.SetHandler([&](const LoopMessage& m) { order.push_back(m.kind == LoopMessage::Kind::Timer ? -1 : m.id); });
  v.loop.SetTimer(TimerId::RingWatch, 1);
  v.clock.Advance(5);
  for (int id : {7, 8}) {
    LoopMessage m;
    m.id = id;
    v.loop.Post(m);
  }
  while (v.loop.PumpOne()) {
    if (order.size() == 3) v.loop.KillTimer(TimerId::RingWatch);
  }
  EXPECT_EQ(order, (std::vector<int>{7, 8, -1}));
}

TEST(PostedMessages, AFloodIsRefusedButACloseIsAlwaysTaken) {
  VirtualLoop v;
  LoopMessage m;
  for (std::size_t i = 0; i < EventLoop::kMaxPosted; ++i) ASSERT_TRUE(v.loop.Post(m));
  EXPECT_FALSE(v.loop.Post(m));
  v.loop.PostClose();
  std::size_t taken = 0;
  while (v.loop.PumpOne()) ++taken;
  EXPECT_EQ(taken, EventLoop::kMaxPosted + 1);
  EXPECT_TRUE(v.loop.QuitRequested());
}

TEST(RealLoop, PostFromAnotherThreadWakesABlockedWait) {
  RealClock clock;
  EventLoop loop(clock, std::make_unique<PollWaiter>(clock));
  std::atomic<bool> handled{false};
  loop.SetHandler([&](const LoopMessage& m) {
    if (m.id == 42) handled = true;
  });
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    LoopMessage m;
    m.id = 42;
    loop.Post(m);
  });
  uint32_t start = clock.Now();
  loop.WaitUntil(start + 5000, WaitFor::Messages);  // must return on the post, not after 5 s
  uint32_t waited = clock.Now() - start;
  poster.join();
  EXPECT_LT(waited, 2000u);
  EXPECT_TRUE(loop.PumpOne());
  EXPECT_TRUE(handled);
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
