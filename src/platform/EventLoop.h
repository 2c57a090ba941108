#pragma once
// The engine thread's message queue, window timers, the shared deadline and the
// blocking waits.
//
// Post() may be called from any thread (the web server's threads post button clicks
// and menu commands). Everything else belongs to the engine thread, the thread that
// made the loop (checked in debug builds). PumpOne() takes at most one message, posted
// messages first, then one due timer, as a window message loop would. Waiting goes
// through a Waiter: poll() on descriptors in the program, a virtual clock in the tests.
//
// The driver's and the engine's waits count in units of 5.5 ms (u units last
// 5u + u/2 ms) against one deadline per loop; a new wait replaces it.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Clock.h"

namespace telvara {

class ByteStream;

// One entry of the engine's queue (not a recorded telephone message).
struct LoopMessage {
  enum class Kind { Timer, Command, Close, Invoke };
  Kind kind = Kind::Command;
  int id = 0;                    // timer id, or the control / menu command id
  std::string data;              // the command's argument (a message identity, an answer)
  std::function<void()> invoke;  // Kind::Invoke: run on the engine thread
  std::string page;              // the page that sent the command (its own random id), if any
};

// What a blocking wait should also wake for, beside posted messages and its time limit.
enum class WaitFor { Messages, Input, OutputRoom };

// The operating-system edge of waiting. Block() returns when `until` is reached, when
// Wake() was called, or when the watched stream is ready for `what`; it may return early.
// It says whether the stream was ready (or failed). A stream that hangs up or fails (a
// USB modem unplugged) is reported once and then no longer watched, so that no wait
// spins on it; Watch() of a stream starts afresh.
class Waiter {
 public:
  virtual ~Waiter() = default;
  virtual bool Block(uint32_t until, WaitFor what) = 0;  // engine thread
  virtual void Wake() = 0;                               // any thread
  virtual void Watch(ByteStream* stream) = 0;            // engine thread; nullptr stops
  virtual bool StreamFailed() const = 0;                 // engine thread
};

// poll() on an eventfd (for Wake) and the watched stream's descriptor.
class PollWaiter final : public Waiter {
 public:
  explicit PollWaiter(const Clock& clock);
  ~PollWaiter() override;
  // False when the wake-up descriptor could not be made (posts would not wake a wait).
  bool Ok() const { return wakeFd_ >= 0; }
  bool Block(uint32_t until, WaitFor what) override;
  void Wake() override;
  void Watch(ByteStream* stream) override;
  bool StreamFailed() const override { return failed_; }

 private:
  const Clock& clock_;
  int wakeFd_ = -1;
  int streamFd_ = -1;
  bool failed_ = false;
};

// The window timers' ids.
enum class TimerId : int { RingWatch = 1, ModemRetry = 2 };

// When a timer falls due: after its period only, or also as soon as the watched stream
// has input (the ring watch sleeps until the modem speaks or its next deadline).
enum class TimerWakes { OnTime, OnTimeOrInput };

constexpr uint32_t UnitsToMs(uint32_t units) { return 5u * units + units / 2u; }

class EventLoop {
 public:
  using Handler = std::function<void(const LoopMessage&)>;

  EventLoop(Clock& clock, std::unique_ptr<Waiter> waiter);
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Any thread. Post refuses a message (false) while kMaxPosted wait undispatched, so a
  // flood of commands during a long call cannot grow the queue without bound; a close
  // is always taken.
  static constexpr std::size_t kMaxPosted = 1024;
  bool Post(LoopMessage message);
  void PostClose();
  // Any thread. True once a close has been posted: long line operations end early
  // (even the waits that dispatch nothing), so that stopping never waits on a call.
  bool Closing() const { return closing_; }

  // Engine thread.
  void SetHandler(Handler handler) { handler_ = std::move(handler); }
  // Starts (or restarts) window timer `id` with the period; true on success. LoopTimer
  // is the owning way to use them.
  bool SetTimer(TimerId id, uint32_t periodMs, TimerWakes wakes = TimerWakes::OnTime);
  void KillTimer(TimerId id);
  bool HasTimer(TimerId id) const { return timers_.count(id) != 0; }
  // Dispatches at most one message; false when there was none.
  bool PumpOne();
  // Blocks until `until`, a posted message, a due timer or (per `what`) the stream; a
  // timer that wakes on input makes any wait watch the stream's input too.
  void WaitUntil(uint32_t until, WaitFor what);
  // Blocks like WaitUntil but does not end early for messages or timers (the loops
  // that must not dispatch).
  void BlockUntil(uint32_t until, WaitFor what);

  // The shared deadline, in 5.5 ms units from now.
  uint32_t Ticks() const { return clock_.Now(); }
  void SetDeadline(uint32_t units);
  // True at or past the deadline; otherwise pumps one message and returns false.
  bool DeadlinePassed();
  // Waits the units, dispatching messages, blocked in poll() between them.
  void Delay(uint32_t units);
  // Dispatches messages until Quit() or a Close message has been handled.
  void Run();
  void Quit() { quit_ = true; }
  bool QuitRequested() const { return quit_; }
  bool HasPosted();

  Clock& GetClock() { return clock_; }
  Waiter& GetWaiter() { return *waiter_; }
  // Debug builds stop when an engine-only call comes from another thread.
  void CheckEngineThread() const;

 private:
  struct Timer {
    uint32_t period;
    uint32_t due;
    TimerWakes wakes;
  };
  bool TakePosted(LoopMessage& out);
  bool TakeDueTimer(LoopMessage& out);
  bool NextTimerDue(uint32_t& due) const;

  Clock& clock_;
  std::unique_ptr<Waiter> waiter_;
  Handler handler_;
  std::mutex mutex_;
  std::deque<LoopMessage> posted_;  // guarded by mutex_
  std::map<TimerId, Timer> timers_;
  bool quit_ = false;
  std::atomic<bool> closing_{false};
  uint32_t deadline_ = 0;
  std::thread::id engineThread_;
};

// A window timer that stops when it is destroyed. Engine thread only.
class LoopTimer {
 public:
  LoopTimer(EventLoop& loop, TimerId id) : loop_(loop), id_(id) {}
  ~LoopTimer() { Stop(); }
  LoopTimer(const LoopTimer&) = delete;
  LoopTimer& operator=(const LoopTimer&) = delete;
  bool Start(uint32_t periodMs, TimerWakes wakes = TimerWakes::OnTime) {
    return running_ = loop_.SetTimer(id_, periodMs, wakes);
  }
  void Stop() {
    if (running_) loop_.KillTimer(id_);
    running_ = false;
  }
  bool Running() const { return running_; }
  TimerId Id() const { return id_; }

 private:
  EventLoop& loop_;
  TimerId id_;
  bool running_ = false;
};

}  // namespace telvara
