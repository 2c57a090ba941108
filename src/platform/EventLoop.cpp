#include "platform/EventLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>

#include "platform/ByteStream.h"

namespace telvara {

PollWaiter::PollWaiter(const Clock& clock) : clock_(clock) { wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

PollWaiter::~PollWaiter() {
  if (wakeFd_ >= 0) close(wakeFd_);
}

void PollWaiter::Watch(ByteStream* stream) {
  streamFd_ = stream ? stream->PollFd() : -1;
  failed_ = false;
}

void PollWaiter::Wake() {
  uint64_t one = 1;
  // A full counter still leaves the descriptor readable, so a failed write loses nothing.
  [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
}

bool PollWaiter::Block(uint32_t until, WaitFor what) {
  uint32_t now = clock_.Now();
  if (TickReached(now, until)) return false;
  int timeout = static_cast<int>(until - now);
  pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}};
  nfds_t count = 1;
  if (what != WaitFor::Messages && streamFd_ >= 0 && !failed_) {
    fds[1].fd = streamFd_;
    fds[1].events = what == WaitFor::Input ? POLLIN : POLLOUT;
    count = 2;
  }
  int r = poll(fds, count, timeout);
  if (r > 0 && (fds[0].revents & POLLIN)) {
    uint64_t value;
    [[maybe_unused]] ssize_t n = read(wakeFd_, &value, sizeof value);
  }
  if (r <= 0 || count < 2 || fds[1].revents == 0) return false;
  // A hung-up or failed descriptor (a USB modem unplugged, the far side of a
  // pseudo-terminal gone) would stay "ready" for ever while reads give nothing.
  if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) failed_ = true;
  return true;
}

EventLoop::EventLoop(Clock& clock, std::unique_ptr<Waiter> waiter)
    : clock_(clock), waiter_(std::move(waiter)), engineThread_(std::this_thread::get_id()) {}

void EventLoop::CheckEngineThread() const {
  assert(std::this_thread::get_id() == engineThread_ && "engine-only call from another thread");
}

EventLoop::~EventLoop() = default;

bool EventLoop::Post(LoopMessage message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (posted_.size() >= kMaxPosted && message.kind != LoopMessage::Kind::Close) return false;
    if (message.kind == LoopMessage::Kind::Close) closing_ = true;
    posted_.push_back(std::move(message));
  }
  waiter_->Wake();
  return true;
}

void EventLoop::PostClose() {
  LoopMessage m;
  m.kind = LoopMessage::Kind::Close;
  Post(std::move(m));
}

bool EventLoop::HasPosted() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !posted_.empty();
}

bool EventLoop::SetTimer(TimerId id, uint32_t periodMs, TimerWakes wakes) {
  CheckEngineThread();
  if (periodMs == 0) return false;
  timers_[id] = Timer{periodMs, clock_.Now() + periodMs, wakes};
  return true;
}

void EventLoop::KillTimer(TimerId id) {
  CheckEngineThread();
  timers_.erase(id);
}

bool EventLoop::TakePosted(LoopMessage& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (posted_.empty()) return false;
  out = std::move(posted_.front());
  posted_.pop_front();
  return true;
}

bool EventLoop::TakeDueTimer(LoopMessage& out) {
  uint32_t now = clock_.Now();
  for (auto& [id, timer] : timers_) {
    if (TickReached(now, timer.due)) {
      // The next tick counts from now: a late timer is not made up for, as a window
      // timer would not be.
      timer.due = now + timer.period;
      out.kind = LoopMessage::Kind::Timer;
      out.id = static_cast<int>(id);
      return true;
    }
  }
  return false;
}

bool EventLoop::NextTimerDue(uint32_t& due) const {
  bool any = false;
  for (const auto& [id, timer] : timers_) {
    if (!any || static_cast<int32_t>(timer.due - due) < 0) due = timer.due;
    any = true;
  }
  return any;
}

bool EventLoop::PumpOne() {
  CheckEngineThread();
  LoopMessage m;
  if (!TakePosted(m) && !TakeDueTimer(m)) return false;
  if (m.kind == LoopMessage::Kind::Invoke) {
    if (m.invoke) m.invoke();
  } else if (handler_) {
    handler_(m);
  }
  if (m.kind == LoopMessage::Kind::Close) quit_ = true;
  return true;
}

void EventLoop::WaitUntil(uint32_t until, WaitFor what) {
  CheckEngineThread();
  if (HasPosted()) return;
  uint32_t due;
  bool onInput = false;
  if (NextTimerDue(due)) {
    if (TickReached(clock_.Now(), due)) return;
    if (static_cast<int32_t>(due - until) < 0) until = due;
    for (const auto& [id, timer] : timers_) onInput = onInput || timer.wakes == TimerWakes::OnTimeOrInput;
  }
  bool watchInput = onInput && what == WaitFor::Messages;
  bool ready = waiter_->Block(until, watchInput ? WaitFor::Input : what);
  if (!ready || !watchInput) return;
  uint32_t now = clock_.Now();
  for (auto& [id, timer] : timers_)
    if (timer.wakes == TimerWakes::OnTimeOrInput) timer.due = now;
}

void EventLoop::BlockUntil(uint32_t until, WaitFor what) {
  CheckEngineThread();
  waiter_->Block(until, what);
}

void EventLoop::SetDeadline(uint32_t units) { deadline_ = clock_.Now() + UnitsToMs(units); }

bool EventLoop::DeadlinePassed() {
  if (TickReached(clock_.Now(), deadline_)) return true;
  PumpOne();
  return false;
}

void EventLoop::Delay(uint32_t units) {
  SetDeadline(units);
  // A message dispatched here may start a wait of its own and move the deadline; the
  // loop follows the deadline as it stands, as the single shared deadline implies.
  while (!DeadlinePassed()) WaitUntil(deadline_, WaitFor::Messages);
}

void EventLoop::Run() {
  while (!quit_) {
    if (PumpOne()) continue;
    // Nothing to do: sleep until the next timer or a posted message (an hour at most).
    WaitUntil(clock_.Now() + 3600u * 1000u, WaitFor::Messages);
  }
}

}  // namespace telvara
