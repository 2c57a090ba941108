#include "ControlServer.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace telvara::sim {
namespace {

bool MakeAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size());
  return true;
}

// True when something is listening at the socket path.
bool SomeoneListens(const sockaddr_un& addr) {
  UniqueFileDescriptor probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!probe.IsValid()) return false;
  return ::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
}

}  // namespace

ControlServer::~ControlServer() {
  if (listen_.IsValid() && !path_.empty()) ::unlink(path_.c_str());
}

bool ControlServer::Listen(const std::string& path, std::string& error) {
  sockaddr_un addr;
  if (!MakeAddress(path, addr)) {
    error = "the control socket path is empty or too long: " + path;
    return false;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      error = path + " exists and is not a socket; not replacing it";
      return false;
    }
    if (SomeoneListens(addr)) {
      error = "another program is listening on " + path;
      return false;
    }
    ::unlink(path.c_str());  // left behind by a simulator that did not exit cleanly
  }
  listen_.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!listen_.IsValid() || ::bind(listen_.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_.Get(), 8) != 0) {
    error = "cannot listen on " + path + ": " + std::strerror(errno);
    listen_.Reset();
    return false;
  }
  path_ = path;
  return true;
}

void ControlServer::AddPollFds(std::vector<pollfd>& fds) const {
  if (!listen_.IsValid()) return;
  fds.push_back({listen_.Get(), POLLIN, 0});
  for (const Client& c : clients_) {
    short events = c.closing ? 0 : POLLIN;
    if (!c.out.empty()) events |= POLLOUT;
    fds.push_back({c.fd.Get(), events, 0});
  }
}

void ControlServer::HandlePoll(const std::vector<pollfd>& fds) {
  for (const pollfd& p : fds) {
    if (p.revents == 0) continue;
    if (p.fd == listen_.Get()) {
      Accept();
      continue;
    }
    for (Client& c : clients_) {
      if (c.fd.Get() != p.fd) continue;
      if (p.revents & (POLLIN | POLLHUP | POLLERR)) ReadFrom(c);
      if (p.revents & POLLOUT) WriteTo(c);
    }
  }
  std::erase_if(clients_, [](const Client& c) { return !c.fd.IsValid() || (c.closing && c.out.empty()); });
}

void ControlServer::Accept() {
  for (;;) {
    int fd = ::accept4(listen_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    if (clients_.size() >= kMaxClients) {
      ::close(fd);
      continue;
    }
    Client c;
    c.fd.Reset(fd);
    clients_.push_back(std::move(c));
  }
}

void ControlServer::ReadFrom(Client& c) {
  char buffer[4096];
  // A fast client gets one buffer a round, so the line is served in between.
  for (int round = 0; round < 16 && c.out.size() <= kMaxReplyBacklog; ++round) {
    ssize_t n = ::read(c.fd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    if (n <= 0) {
      // The client is gone (or failed): answer what it sent, then close.
      c.closing = true;
      break;
    }
    c.in.append(buffer, static_cast<size_t>(n));
    size_t nl;
    while ((nl = c.in.find('\n')) != std::string::npos) {
      std::string line = c.in.substr(0, nl);
      c.in.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      std::string reply = handler_ ? handler_(line) : "error: not ready";
      c.out += reply + "\n";
    }
    if (c.in.size() > kMaxLine) {
      c.out += "error: line too long\n";
      c.in.clear();
      c.closing = true;
      break;
    }
  }
  if (c.out.size() > kMaxReplyBacklog) c.fd.Reset();  // it does not read its replies
  if (c.fd.IsValid()) WriteTo(c);
}

void ControlServer::WriteTo(Client& c) {
  while (!c.out.empty() && c.fd.IsValid()) {
    ssize_t n = ::send(c.fd.Get(), c.out.data(), c.out.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    if (n <= 0) {
      c.fd.Reset();
      return;
    }
    c.out.erase(0, static_cast<size_t>(n));
  }
}

}  // namespace telvara::sim
