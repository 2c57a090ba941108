#include "platform/HookRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include "platform/EventLoop.h"
#include "platform/FileDescriptor.h"

extern char** environ;

namespace telvara {
namespace {

uint64_t NowMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Cuts a hook's output into log lines: each at most lineMax bytes, control characters
// shown as '?', at most outputMax lines, then one line saying the rest was dropped. It
// holds at most one line, whatever the hook writes.
class OutputLines {
 public:
  OutputLines(const HookRunner::Output& output, const HookLimits& limits) : output_(output), limits_(limits) {}
  void Feed(const char* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      char c = data[i];
      if (c == '\n') {
        if (!cut_) Emit();  // a cut line was written when it reached its length
        cut_ = false;
      } else if (c != '\r' && !cut_) {
        line_ += (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f ? '?' : c;
        if (line_.size() >= limits_.lineMax) {
          Emit();
          cut_ = true;  // the rest of this line is dropped
        }
      }
    }
  }
  void Finish() {
    if (!line_.empty()) Emit();
  }

 private:
  void Emit() {
    if (lines_ < limits_.outputMax && output_) output_("Hook: " + line_);
    if (lines_ == limits_.outputMax && output_) output_("Hook: (further output dropped)");
    if (lines_ <= limits_.outputMax) ++lines_;
    line_.clear();
  }
  const HookRunner::Output& output_;
  const HookLimits& limits_;
  std::string line_;
  bool cut_ = false;
  std::size_t lines_ = 0;
};

// A process group, and the child at its head, as one signal target.
void SignalGroup(pid_t pid, int sig) {
  if (kill(-pid, sig) != 0) kill(pid, sig);
}

}  // namespace

std::string HookResult::Describe(uint32_t limitMs) const {
  switch (kind) {
    case Kind::Exited: return "exit status " + std::to_string(code);
    case Kind::Signalled: {
      const char* name = sigabbrev_np(code);
      return "killed by signal " + std::to_string(code) + (name ? std::string(" (SIG") + name + ")" : "");
    }
    case Kind::TimedOut:
      return "killed after " +
             (limitMs % 1000 == 0 ? std::to_string(limitMs / 1000) + " s" : std::to_string(limitMs) + " ms");
    case Kind::NotStarted: return error;
  }
  return error;
}

HookRunner::HookRunner(EventLoop& loop, Output output, Done done, HookLimits limits)
    : loop_(loop), output_(std::move(output)), done_(std::make_shared<Done>(std::move(done))), limits_(limits) {
  stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd_ < 0) return;  // Run() then refuses: a hook that could not be stopped is not started
  try {
    thread_ = std::thread([this] { Work(); });
  } catch (const std::system_error&) {
  }
}

HookRunner::~HookRunner() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    waiting_.clear();
  }
  wake_.notify_all();
  if (stopFd_ >= 0) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(stopFd_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  if (stopFd_ >= 0) close(stopFd_);
  done_.reset();
}

bool HookRunner::Run(const std::string& command, Environment variables) {
  loop_.CheckEngineThread();
  if (!thread_.joinable()) return false;
  // The program's environment, with the hook's variables in place of any of the same name.
  Environment all;
  for (char** e = environ; e && *e; ++e) {
    std::string entry(*e);
    std::size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    std::string name = entry.substr(0, eq);
    bool replaced = false;
    for (const auto& [key, value] : variables) replaced = replaced || key == name;
    if (!replaced) all.emplace_back(name, entry.substr(eq + 1));
  }
  for (auto& variable : variables) all.push_back(std::move(variable));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (waiting_.size() >= kMaxWaiting) return false;
    waiting_.push_back(Job{command, std::move(all)});
  }
  wake_.notify_one();
  return true;
}

void HookRunner::Work() {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
      if (stopping_) return;
      job = std::move(waiting_.front());
      waiting_.pop_front();
    }
    HookResult result = RunOne(job);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;  // the program is closing: nobody is told
    }
    Report(result);
  }
}

void HookRunner::Report(const HookResult& result) {
  LoopMessage m;
  m.kind = LoopMessage::Kind::Invoke;
  std::weak_ptr<Done> done = done_;
  m.invoke = [done, result] {
    if (auto d = done.lock())
      if (*d) (*d)(result);
  };
  loop_.Post(std::move(m));  // a full queue loses the report, never the reaping
}

HookResult HookRunner::RunOne(const Job& job) {
  HookResult result;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    result.error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return result;
  }
  UniqueFileDescriptor readEnd(ends[0]), writeEnd(ends[1]);
  fcntl(readEnd.Get(), F_SETFL, O_NONBLOCK);

  std::vector<std::string> entries;
  for (const auto& [key, value] : job.variables) entries.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string shell = "sh", dashC = "-c", command = job.command;
  char* argv[] = {shell.data(), dashC.data(), command.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), 1);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), 2);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);  // the port, the window's sockets
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // The program blocks its stop signals in every thread; the hook must not inherit that.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGQUIT, SIGHUP, SIGUSR1, SIGCHLD}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setpgroup(&attr, 0);  // its own group: a time-out ends what it started too
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  pid_t pid = -1;
  int error = posix_spawn(&pid, "/bin/sh", &actions, &attr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  writeEnd.Reset();
  if (error != 0) {
    result.error = std::string("cannot start /bin/sh: ") + std::strerror(error);
    return result;
  }

  // The child's end is told by its pidfd (its output may stay open in something it
  // left behind); without one (an old kernel), by a look every 100 ms.
  UniqueFileDescriptor pidFd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  OutputLines lines(output_, limits_);
  enum class Stage { Running, Terminated, Killed } stage = Stage::Running;
  bool timedOut = false, stopSeen = false;
  uint64_t deadline = NowMs() + limits_.runMs;
  int status = 0;
  char buffer[4096];
  for (;;) {
    if (waitpid(pid, &status, WNOHANG) == pid) break;
    uint64_t now = NowMs();
    if (now >= deadline && stage != Stage::Killed) {
      timedOut = timedOut || (stage == Stage::Running && !stopSeen);
      SignalGroup(pid, stage == Stage::Running ? SIGTERM : SIGKILL);
      stage = stage == Stage::Running ? Stage::Terminated : Stage::Killed;
      deadline = now + (stopSeen ? limits_.closingMs : limits_.graceMs);
      continue;
    }
    pollfd fds[3];
    nfds_t count = 0;
    int pipeAt = -1, stopAt = -1;
    if (readEnd.Get() >= 0) {
      pipeAt = static_cast<int>(count);
      fds[count++] = {readEnd.Get(), POLLIN, 0};
    }
    if (pidFd.Get() >= 0) fds[count++] = {pidFd.Get(), POLLIN, 0};
    if (!stopSeen) {
      stopAt = static_cast<int>(count);
      fds[count++] = {stopFd_, POLLIN, 0};
    }
    int timeout = stage == Stage::Killed ? -1 : static_cast<int>(std::min<uint64_t>(deadline - now, 3600000));
    if (pidFd.Get() < 0 && (timeout < 0 || timeout > 100)) timeout = 100;
    if (poll(fds, count, timeout) < 0 && errno != EINTR) usleep(100000);  // never spin on a failing poll
    if (pipeAt >= 0 && fds[pipeAt].revents != 0) {
      ssize_t n = read(readEnd.Get(), buffer, sizeof buffer);
      if (n > 0)
        lines.Feed(buffer, static_cast<std::size_t>(n));
      else if (n == 0 || (errno != EAGAIN && errno != EINTR))
        readEnd.Reset();
    }
    if (stopAt >= 0 && fds[stopAt].revents != 0) {
      // The program is closing: the hook gets the short grace, then is killed.
      stopSeen = true;
      if (stage == Stage::Running) {
        SignalGroup(pid, SIGTERM);
        stage = Stage::Terminated;
      }
      deadline = std::min(deadline, NowMs() + limits_.closingMs);
    }
  }
  // What the hook wrote before it ended; what its leftovers write later is not waited for.
  for (int reads = 0; readEnd.Get() >= 0 && reads < 16; ++reads) {
    ssize_t n = read(readEnd.Get(), buffer, sizeof buffer);
    if (n <= 0) break;
    lines.Feed(buffer, static_cast<std::size_t>(n));
  }
  lines.Finish();
  if (timedOut) {
    result.kind = HookResult::Kind::TimedOut;
  } else if (WIFEXITED(status)) {
    result.kind = HookResult::Kind::Exited;
    result.code = WEXITSTATUS(status);
  } else {
    result.kind = HookResult::Kind::Signalled;
    result.code = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  return result;
}

}  // namespace telvara
