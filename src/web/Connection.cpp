#include "web/Connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace telvara {

Connection::Connection(UniqueFileDescriptor socket, FileDescriptor stop) : socket_(std::move(socket)), stop_(stop) {}

IoResult Connection::Wait(short events, TimePoint until) const {
  for (;;) {
    auto now = std::chrono::steady_clock::now();
    if (now >= until) return IoResult::TimedOut;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
    // Round up, so that a wait never ends just short of its deadline and loops.
    int timeout = static_cast<int>(left) + 1;
    // A peer that shut its sending side makes a read return at once (0 bytes); for a
    // write it must not count as ready, or a full send buffer would loop here.
    short watch = events == POLLIN ? static_cast<short>(POLLIN | POLLRDHUP) : events;
    pollfd fds[2] = {{socket_.Get(), watch, 0}, {stop_.Get(), POLLIN, 0}};
    int r = poll(fds, 2, timeout);
    if (r < 0) {
      if (errno == EINTR) continue;
      return IoResult::Closed;
    }
    if (fds[1].revents & POLLIN) return IoResult::Stopped;
    if (fds[0].revents & (watch | POLLHUP | POLLERR | POLLNVAL)) return IoResult::Done;
  }
}

IoResult Connection::ReadSome(std::string& into, TimePoint until) {
  char chunk[4096];
  for (;;) {
    ssize_t n = recv(socket_.Get(), chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      into.append(chunk, static_cast<std::size_t>(n));
      return IoResult::Done;
    }
    if (n == 0) return IoResult::Closed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return IoResult::Closed;
    IoResult ready = Wait(POLLIN, until);
    if (ready != IoResult::Done) return ready;
  }
}

IoResult Connection::WriteAll(std::string_view data, std::chrono::milliseconds idle) {
  while (!data.empty()) {
    ssize_t n = send(socket_.Get(), data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return IoResult::Closed;
    IoResult ready = Wait(POLLOUT, std::chrono::steady_clock::now() + idle);
    if (ready != IoResult::Done) return ready;
  }
  return IoResult::Done;
}

void Connection::Linger() {
  shutdown(socket_.Get(), SHUT_WR);
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  std::string discard;
  for (std::size_t total = 0; total < 256 * 1024; total += discard.size()) {
    discard.clear();
    if (ReadSome(discard, until) != IoResult::Done) break;
  }
}

bool Connection::PeerGone() const {
  pollfd fd = {socket_.Get(), POLLRDHUP, 0};
  return poll(&fd, 1, 0) > 0 && (fd.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL));
}

}  // namespace telvara
