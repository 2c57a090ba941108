#pragma once
// Runs a user's shell command for each new message, off the engine thread.
//
// Construction, Run() and destruction belong to the engine thread. The runner has one
// thread of its own that starts the commands, reads their output, keeps their time
// limit and reaps them; it touches no engine object: it writes output lines through
// `output` (which must be callable from that thread) and hands each result to the
// engine thread by posting an Invoke message, so `done` runs where the engine runs,
// whenever the loop next dispatches (idle or in any wait that dispatches).
//
// Why a thread and not a descriptor in the engine's poll: the engine has waits that
// dispatch nothing for minutes (a recording), during which a hook's output must still
// be drained and its time limit kept.
//
// Hooks run one at a time, in order; at most kMaxWaiting more wait their turn, and a
// hook beyond that is refused. A command is run by /bin/sh -c in a process group of its
// own, with its values only in the environment, standard input from /dev/null, and
// standard output and error to `output`, line by line. At its limit the group is sent
// SIGTERM, then SIGKILL after a grace period. When the runner is destroyed (the program
// closes), a running hook is ended the same way with a short grace and waiting ones are
// dropped: closing never waits on a hook for long.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace telvara {

class EventLoop;

// How one hook ended.
struct HookResult {
  enum class Kind { Exited, Signalled, TimedOut, NotStarted };
  Kind kind = Kind::NotStarted;
  int code = 0;       // the exit status, or the signal
  std::string error;  // NotStarted: why
  bool Ok() const { return kind == Kind::Exited && code == 0; }
  // "exit status 3", "killed by signal 9", "killed after 60 s", "cannot start /bin/sh: ...".
  std::string Describe(uint32_t limitMs) const;
};

struct HookLimits {
  uint32_t runMs = 60000;      // then SIGTERM
  uint32_t graceMs = 2000;     // then SIGKILL
  uint32_t closingMs = 500;    // the grace when the runner is destroyed
  std::size_t lineMax = 500;   // longer lines are cut
  std::size_t outputMax = 64;  // lines of one hook written; the rest is read and dropped
};

class HookRunner {
 public:
  using Environment = std::vector<std::pair<std::string, std::string>>;
  // Called on the runner's thread; unset: the output is read and dropped.
  using Output = std::function<void(const std::string& line)>;
  using Done = std::function<void(const HookResult& result)>;  // the engine thread

  static constexpr std::size_t kMaxWaiting = 8;

  HookRunner(EventLoop& loop, Output output, Done done, HookLimits limits = {});
  ~HookRunner();
  HookRunner(const HookRunner&) = delete;
  HookRunner& operator=(const HookRunner&) = delete;

  // Queues the command with these variables added to the program's environment; false
  // when kMaxWaiting hooks already wait or the runner's thread could not start.
  bool Run(const std::string& command, Environment variables);
  const HookLimits& Limits() const { return limits_; }

 private:
  struct Job {
    std::string command;
    Environment variables;
  };
  void Work();
  HookResult RunOne(const Job& job);
  void Report(const HookResult& result);

  EventLoop& loop_;
  Output output_;
  // The posted reports hold it weakly: a report dispatched after the runner is gone does nothing.
  std::shared_ptr<Done> done_;
  HookLimits limits_;
  int stopFd_ = -1;  // an eventfd: the runner is closing
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> waiting_;  // guarded by mutex_
  bool stopping_ = false;    // guarded by mutex_
  std::thread thread_;
};

}  // namespace telvara
