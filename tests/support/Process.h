#pragma once
// Runs a program with its standard output on a pipe, reads its lines in time, signals it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace telvara::testing {

class Process {
 public:
  explicit Process(const std::vector<std::string>& argv) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
  }
  ~Process() {
    if (pid_ > 0 && !exited_) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
    CloseOutput();
  }

  // The next line of output, or false when none came within the time.
  bool ReadLine(std::string& line, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (std::size_t nl; (nl = buffer_.find('\n')) == std::string::npos;) {
      pollfd p{out_, POLLIN, 0};
      char chunk[4096];
      if (Left(end) <= 0) return false;
      if (poll(&p, 1, Left(end)) <= 0) continue;
      ssize_t n = read(out_, chunk, sizeof chunk);
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
    line = buffer_.substr(0, buffer_.find('\n'));
    buffer_.erase(0, line.size() + 1);
    all_ += line + "\n";
    return true;
  }
  // Reads lines until one contains `text`; false when it did not come in time.
  bool WaitFor(const std::string& text, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (std::string line; line.find(text) == std::string::npos;)
      if (Left(end) <= 0 || !ReadLine(line, Left(end))) return false;
    return true;
  }
  void Signal(int sig) { kill(pid_, sig); }
  // Stops reading: the program's later writes meet a pipe without a reader.
  void CloseOutput() {
    if (out_ >= 0) close(out_);
    out_ = -1;
  }
  // The exit status, or -1 when it did not end in time (or ended by a signal).
  int Wait(int timeoutMs) {
    int status = 0;
    for (int waited = 0; waited <= timeoutMs; waited += 10, usleep(10000))
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
    return -1;
  }
  const std::string& Output() const { return all_; }

 private:
  static int Left(std::chrono::steady_clock::time_point end) {
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
  }
  pid_t pid_ = -1;
  int out_ = -1;
  bool exited_ = false;
  std::string buffer_;
  std::string all_;
};

}  // namespace telvara::testing
