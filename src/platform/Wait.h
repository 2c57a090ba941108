#pragma once
// The program-wide wait helpers of the driver and the engine. Time is counted in units
// of 5.5 ms (u units last 5u + u/2 ms); there is one deadline for the whole program, and
// a new wait replaces it. Engine thread only.
#include <cstdint>

#include "platform/EventLoop.h"

namespace telvara {

// The loop whose messages the helpers dispatch; set once by the program or a test.
void SetWaitLoop(EventLoop* loop);
EventLoop& WaitLoop();

constexpr uint32_t UnitsToMs(uint32_t units) { return 5u * units + units / 2u; }

uint32_t GetTicks();
// Dispatches at most one pending message; never blocks.
void PumpMessage();
void SetDeadline(uint32_t units);
// True at or past the deadline; otherwise pumps one message and returns false.
bool DeadlinePassed();
// Waits the units, dispatching messages, blocked in poll() between them.
void Delay(uint32_t units);
// Blocks until the tick, a posted message, a due timer, or (per `what`) the modem.
void WaitUntil(uint32_t tick, WaitFor what);

}  // namespace telvara
