#include "platform/Wait.h"

#include <cassert>

namespace telvara {
namespace {
EventLoop* g_loop = nullptr;
uint32_t g_deadline = 0;
}  // namespace

void SetWaitLoop(EventLoop* loop) { g_loop = loop; }

EventLoop& WaitLoop() {
  assert(g_loop != nullptr);
  return *g_loop;
}

uint32_t GetTicks() { return WaitLoop().GetClock().Now(); }

void PumpMessage() { WaitLoop().PumpOne(); }

void SetDeadline(uint32_t units) { g_deadline = GetTicks() + UnitsToMs(units); }

bool DeadlinePassed() {
  if (TickReached(GetTicks(), g_deadline)) return true;
  PumpMessage();
  return false;
}

void Delay(uint32_t units) {
  SetDeadline(units);
  // A message dispatched here may start a wait of its own and move the deadline; the
  // loop follows the deadline as it stands, as the single shared deadline implies.
  while (!DeadlinePassed()) WaitLoop().WaitUntil(g_deadline, WaitFor::Messages);
}

void WaitUntil(uint32_t tick, WaitFor what) { WaitLoop().WaitUntil(tick, what); }

}  // namespace telvara
