#include "PtyLine.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace telvara::sim {

bool PtyLine::Open(std::string& error) {
  Close();
  master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!master_.IsValid() || ::grantpt(master_.Get()) != 0 || ::unlockpt(master_.Get()) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  char name[128];
  if (::ptsname_r(master_.Get(), name, sizeof name) != 0) {
    error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  slavePath_ = name;
  termios tio{};
  if (::tcgetattr(master_.Get(), &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(master_.Get(), TCSANOW, &tio);
  }
  // Held open (and never read) before anyone else opens it: see the class comment.
  slave_.Reset(::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!slave_.IsValid()) {
    error = "cannot open " + slavePath_ + ": " + std::strerror(errno);
    return false;
  }
  notify_.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (notify_.IsValid() && ::inotify_add_watch(notify_.Get(), slavePath_.c_str(), IN_OPEN | IN_CLOSE) < 0) {
    notify_.Reset();
  }
  return true;
}

void PtyLine::Close() {
  notify_.Reset();
  slave_.Reset();
  master_.Reset();
  opens_ = 0;
}

PtyLine::HostChange PtyLine::TakeNotifications() {
  if (!notify_.IsValid()) return HostChange::None;
  bool before = opens_ > 0;
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t n = ::read(notify_.Get(), buffer.data(), buffer.size());
    if (n <= 0) break;
    for (ssize_t pos = 0; pos + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buffer.data() + pos);
      if (e->mask & IN_OPEN) ++opens_;
      if ((e->mask & IN_CLOSE) && opens_ > 0) --opens_;
      pos += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
  }
  bool after = opens_ > 0;
  if (after == before) return HostChange::None;
  return after ? HostChange::Opened : HostChange::Closed;
}

long PtyLine::Read(void* buffer, size_t max) {
  ssize_t n = ::read(master_.Get(), buffer, max);
  if (n >= 0) return n;
  return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
}

long PtyLine::Write(const void* data, size_t count) {
  ssize_t n = ::write(master_.Get(), data, count);
  if (n >= 0) return n;
  return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
}

void PtyLine::ResetForNextHost() {
  ::tcflush(slave_.Get(), TCIOFLUSH);
  ::ioctl(slave_.Get(), TIOCNXCL);
}

}  // namespace telvara::sim
