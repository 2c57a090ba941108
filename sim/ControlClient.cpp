#include "ControlClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>

#include "platform/FileDescriptor.h"

namespace telvara::sim {
namespace {

constexpr size_t kReadAhead = 64 * 1024;  // input taken ahead of what the socket took

int Fail(std::FILE* errors, const std::string& why) {
  std::fprintf(errors, "telvara-modemsim: %s\n", why.c_str());
  return 1;
}

// The steps on their way, and the ones not answered yet. The simulator skips empty
// lines and takes a trailing CR off; so does this, so that answers pair with steps.
struct Outbox {
  std::string bytes;
  std::deque<std::string> unanswered;

  // Queues the whole lines of `text` and leaves a partial last one there, unless `end`.
  void Take(std::string& text, bool end) {
    size_t from = 0;
    for (size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1)
      Queue(text.substr(from, nl - from));
    text.erase(0, from);
    if (end) {
      Queue(text);
      text.clear();
    }
  }
  void Queue(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) return;
    bytes += line + '\n';
    unanswered.push_back(std::move(line));
  }
};

}  // namespace

int SendSteps(const std::string& socket, const std::vector<std::string>& steps, int input, std::FILE* out,
              std::FILE* errors) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socket.empty() || socket.size() >= sizeof addr.sun_path)
    return Fail(errors, "the control socket path is empty or too long: " + socket);
  std::memcpy(addr.sun_path, socket.data(), socket.size());
  UniqueFileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.IsValid() || ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    std::string why = std::strerror(errno);
    return Fail(errors, "cannot reach the control socket " + socket + ": " + why +
                            " (is telvara-modemsim running with --control?)");
  }

  Outbox outbox;
  for (std::string step : steps) outbox.Take(step, true);
  // With standard input closed the socket may take its number: then there is no input.
  bool reading = steps.empty() && fd.Get() != input;
  bool shut = false;
  std::string typed;    // input short of a whole line
  std::string answers;  // socket bytes short of a whole line
  int refused = 0;
  for (;;) {
    if (!reading && outbox.bytes.empty() && !shut) {
      ::shutdown(fd.Get(), SHUT_WR);  // the simulator answers what it has, then closes
      shut = true;
    }
    pollfd fds[2] = {{fd.Get(), static_cast<short>(POLLIN | (outbox.bytes.empty() ? 0 : POLLOUT)), 0},
                     {input, POLLIN, 0}};
    nfds_t count = reading && outbox.bytes.size() < kReadAhead ? 2 : 1;
    if (::poll(fds, count, -1) < 0) {
      if (errno == EINTR) continue;
      return Fail(errors, std::string("poll: ") + std::strerror(errno));
    }
    if (fds[0].revents & POLLOUT) {
      ssize_t n = ::send(fd.Get(), outbox.bytes.data(), outbox.bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        outbox.bytes.erase(0, static_cast<size_t>(n));
      } else if (errno != EAGAIN && errno != EINTR) {
        // The simulator stopped listening: read what it answered, then say what is left.
        outbox.bytes.clear();
        reading = false;
        shut = true;
      }
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      char buffer[4096];
      ssize_t n = ::recv(fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
      if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) break;
      if (n > 0) answers.append(buffer, static_cast<size_t>(n));
      for (size_t nl; (nl = answers.find('\n')) != std::string::npos; answers.erase(0, nl + 1)) {
        std::string answer = answers.substr(0, nl);
        std::fprintf(out, "%s\n", answer.c_str());
        std::fflush(out);
        std::string step = outbox.unanswered.empty() ? "" : outbox.unanswered.front();
        if (!outbox.unanswered.empty()) outbox.unanswered.pop_front();
        if (answer.rfind("error", 0) == 0) {
          ++refused;
          std::string why = answer.rfind("error: ", 0) == 0 ? answer.substr(7) : answer;
          if (step.size() > 60) step = step.substr(0, 57) + "...";
          Fail(errors, "the simulator refused \"" + step + "\": " + why);
        }
      }
    }
    if (count == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) {
      char buffer[4096];
      ssize_t n = ::read(input, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n > 0) typed.append(buffer, static_cast<size_t>(n));
      reading = n > 0;
      outbox.Take(typed, !reading);
    }
  }
  if (!outbox.unanswered.empty())
    return Fail(errors, "the simulator closed the connection with " + std::to_string(outbox.unanswered.size()) +
                            " step(s) unanswered");
  return refused > 0 ? 1 : 0;
}

}  // namespace telvara::sim
