#pragma once
// The engine thread's message queue, window timers and blocking wait.
//
// Post() may be called from any thread (the web server's threads post button clicks
// and menu commands). Everything else belongs to the engine thread. PumpOne() takes at
// most one message, posted messages first, then one due timer, as a window message
// loop would. Waiting goes through a Waiter: poll() on descriptors in the program,
// a virtual clock in the tests.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Clock.h"

namespace telvara {

class ByteStream;

struct Message {
  enum class Kind { Timer, Command, Close, Invoke };
  Kind kind = Kind::Command;
  int id = 0;                   // timer id, or the control / menu command id
  std::string data;             // the command's argument (a message identity, an answer)
  std::function<void()> invoke; // Kind::Invoke: run on the engine thread
};

// What a blocking wait should also wake for, beside posted messages and its time limit.
enum class WaitFor { Messages, Input, OutputRoom };

// The operating-system edge of waiting. Block() returns when `until` is reached, when
// Wake() was called, or when the watched stream is ready for `what`; it may return early.
class Waiter {
 public:
  virtual ~Waiter() = default;
  virtual void Block(uint32_t until, WaitFor what) = 0;  // engine thread
  virtual void Wake() = 0;                                // any thread
  virtual void Watch(ByteStream* stream) = 0;             // engine thread; nullptr stops
};

// poll() on an eventfd (for Wake) and the watched stream's descriptor.
class PollWaiter final : public Waiter {
 public:
  explicit PollWaiter(const Clock& clock);
  ~PollWaiter() override;
  // False when the wake-up descriptor could not be made (posts would not wake a wait).
  bool Ok() const { return wakeFd_ >= 0; }
  void Block(uint32_t until, WaitFor what) override;
  void Wake() override;
  void Watch(ByteStream* stream) override;

 private:
  const Clock& clock_;
  int wakeFd_ = -1;
  int streamFd_ = -1;
};

class EventLoop {
 public:
  using Handler = std::function<void(const Message&)>;

  EventLoop(Clock& clock, std::unique_ptr<Waiter> waiter);
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Any thread. Post refuses a message (false) while kMaxPosted wait undispatched, so a
  // flood of commands during a long call cannot grow the queue without bound; a close
  // is always taken.
  static constexpr std::size_t kMaxPosted = 1024;
  bool Post(Message message);
  void PostClose();

  // Engine thread.
  void SetHandler(Handler handler) { handler_ = std::move(handler); }
  // Starts (or restarts) window timer `id` with the period; true on success.
  bool SetTimer(int id, uint32_t periodMs);
  void KillTimer(int id);
  bool HasTimer(int id) const { return timers_.count(id) != 0; }
  // Dispatches at most one message; false when there was none.
  bool PumpOne();
  // Blocks until `until`, a posted message, a due timer or (per `what`) the stream.
  void WaitUntil(uint32_t until, WaitFor what);
  // Dispatches messages until Quit() or a Close message has been handled.
  void Run();
  void Quit() { quit_ = true; }
  bool QuitRequested() const { return quit_; }
  bool HasPosted();

  Clock& GetClock() { return clock_; }
  Waiter& GetWaiter() { return *waiter_; }

 private:
  struct Timer {
    uint32_t period;
    uint32_t due;
  };
  bool TakePosted(Message& out);
  bool TakeDueTimer(Message& out);
  bool NextTimerDue(uint32_t& due) const;

  Clock& clock_;
  std::unique_ptr<Waiter> waiter_;
  Handler handler_;
  std::mutex mutex_;
  std::deque<Message> posted_;  // guarded by mutex_
  std::map<int, Timer> timers_;
  bool quit_ = false;
};

}  // namespace telvara
