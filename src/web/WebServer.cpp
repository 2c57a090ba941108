#include "web/WebServer.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "web/PageProtocol.h"

namespace telvara {

namespace {

using SteadyClock = std::chrono::steady_clock;
using Headers = std::vector<std::pair<std::string, std::string>>;

// How long an event stream waits on the model before it looks at the stop flag and
// the peer again.
constexpr std::chrono::milliseconds kStreamSlice{250};

bool IsLoopback(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    auto* in = reinterpret_cast<const sockaddr_in*>(address);
    return (ntohl(in->sin_addr.s_addr) >> 24) == 127;
  }
  if (address->sa_family == AF_INET6) {
    auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
    if (IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr)) return true;
    if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) return in6->sin6_addr.s6_addr[12] == 127;
  }
  return false;
}

std::string ErrorText(int error) { return std::strerror(error); }

}  // namespace

WebServer::WebServer(const WindowModel& model, EventLoop& loop, WebServerOptions options)
    : model_(model),
      loop_(loop),
      options_(std::move(options)),
      router_(options_.webDir, [&loop](LoopMessage message) { return loop.Post(std::move(message)); }) {}

WebServer::~WebServer() { Stop(); }

std::string WebServer::Url() const {
  const std::string& host = options_.host;
  bool v6 = host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port_.load()) + "/";
}

WebStartResult WebServer::Start() {
  WebStartResult result;
  if (running_) {
    result.error = "The window's server is already running";
    return result;
  }
  if (options_.port < 0 || options_.port > 65535) {
    result.error = "Port " + std::to_string(options_.port) + " is not a port number";
    return result;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  std::string port = std::to_string(options_.port);
  int gai = getaddrinfo(options_.host.c_str(), port.c_str(), &hints, &found);
  if (gai != 0) {
    result.error = "Cannot listen on \"" + options_.host + "\": " + gai_strerror(gai);
    return result;
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);

  bool loopback = true;
  for (addrinfo* a = found; a; a = a->ai_next) loopback = loopback && IsLoopback(a->ai_addr);
  if (!loopback && options_.password.empty()) {
    result.error = "Listening on " + options_.host + " is refused without a password: set one, or listen on 127.0.0.1";
    return result;
  }

  int lastError = 0;
  for (addrinfo* a = found; a && !listen_.IsValid(); a = a->ai_next) {
    UniqueFileDescriptor fd(socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
    if (!fd.IsValid()) {
      lastError = errno;
      continue;
    }
    int one = 1;
    setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd.Get(), a->ai_addr, a->ai_addrlen) != 0 || listen(fd.Get(), 16) != 0) {
      lastError = errno;
      continue;
    }
    listen_ = std::move(fd);
  }
  if (!listen_.IsValid()) {
    result.error = "Cannot listen on " + options_.host + ":" + port + ": " + ErrorText(lastError);
    return result;
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  getsockname(listen_.Get(), reinterpret_cast<sockaddr*>(&bound), &length);
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);

  stopFd_.Reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!stopFd_.IsValid()) {
    result.error = "Cannot start the window's server: " + ErrorText(errno);
    listen_.Reset();
    return result;
  }
  access_.emplace(options_.password, loopback);
  stopping_ = false;
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  running_ = true;
  result.ok = true;
  result.port = port_;
  return result;
}

void WebServer::Stop() {
  if (!running_) return;
  stopping_ = true;
  uint64_t one = 1;
  // The stop descriptor stays readable from now on, so every wait of every thread
  // returns at once.
  [[maybe_unused]] ssize_t n = write(stopFd_.Get(), &one, sizeof one);
  acceptThread_.join();
  ReapWorkers(true);
  listen_.Reset();
  stopFd_.Reset();
  running_ = false;
}

void WebServer::ReapWorkers(bool all) {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (all || it->done->load()) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void WebServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listen_.Get(), POLLIN, 0}, {stopFd_.Get(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (fds[1].revents & POLLIN) break;
    if (!(fds[0].revents & POLLIN)) continue;
    UniqueFileDescriptor socket(accept4(listen_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!socket.IsValid()) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // Out of descriptors: the pending connection keeps the socket readable, so
        // wait a little (or for Stop) instead of going round at once.
        pollfd stop = {stopFd_.Get(), POLLIN, 0};
        poll(&stop, 1, 200);
      }
      continue;
    }
    ReapWorkers(false);
    if (static_cast<int>(workers_.size()) >= options_.maxConnections) {
      Connection refused(std::move(socket), stopFd_.Borrow());
      Send(refused, PlainText(503, "Too many connections"));
      continue;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    // Shared, so that the descriptor is closed here if no thread could be made.
    auto held = std::make_shared<UniqueFileDescriptor>(std::move(socket));
    try {
      std::thread thread([this, done, held] {
        Serve(std::move(*held));
        done->store(true);
      });
      workers_.push_back(Worker{std::move(thread), done});
    } catch (const std::system_error&) {
      // No thread to be had: the connection is dropped (closed with `held`).
    }
  }
}

void WebServer::Serve(UniqueFileDescriptor socket) {
  try {
    Connection connection(std::move(socket), stopFd_.Borrow());
    HttpRequestParser parser;
    auto deadline = SteadyClock::now() + options_.idleTimeout;
    ParseResult parsed = ParseResult::Incomplete;
    std::string chunk;
    while (parsed == ParseResult::Incomplete) {
      chunk.clear();
      IoResult io = connection.ReadSome(chunk, deadline);
      if (io == IoResult::TimedOut) return Send(connection, PlainText(408, "Request timed out"));
      if (io != IoResult::Done) return;
      parsed = parser.Feed(chunk);
    }
    if (parsed == ParseResult::Bad) {
      Send(connection, PlainText(parser.ErrorStatus(), std::string(StatusText(parser.ErrorStatus()))));
      return connection.Linger();
    }
    const HttpRequest& request = parser.Request();
    RouteResult routed = router_.Route(request, access_->Check(request, request.method != "GET"), *model_.Snapshot());
    if (routed.eventStream) return StreamEvents(connection);
    Send(connection, std::move(routed.response));
  } catch (const std::exception&) {
    // Out of memory or a failed system call: this connection ends, the server goes on.
  }
}

void WebServer::Send(Connection& connection, HttpResponse response) const {
  Headers headers = StandardHeaders();
  headers.insert(headers.end(), response.headers.begin(), response.headers.end());
  response.headers = std::move(headers);
  connection.WriteAll(FormatResponse(response), options_.idleTimeout);
}

void WebServer::StreamEvents(Connection& connection) {
  streams_.fetch_add(1);
  struct Count {
    std::atomic<int>& streams;
    ~Count() { streams.fetch_sub(1); }
  } count{streams_};

  std::string head = FormatHead(200, "text/event-stream; charset=utf-8", StandardHeaders());
  head += "\r\nretry: 1000\n\n";
  if (connection.WriteAll(head, options_.idleTimeout) != IoResult::Done) return;
  auto lastWrite = SteadyClock::now();
  std::shared_ptr<const WindowState> state = model_.Snapshot();
  uint64_t sent = 0;
  while (!stopping_.load()) {
    if (state->version != sent) {
      std::string event = "event: state\ndata: " + StateToJson(*state) + "\n\n";
      if (connection.WriteAll(event, options_.idleTimeout) != IoResult::Done) return;
      sent = state->version;
      lastWrite = SteadyClock::now();
      // The program is going: the page shows that, and nothing more will come.
      if (state->closing) return;
    } else if (SteadyClock::now() - lastWrite >= options_.keepAliveInterval) {
      if (connection.WriteAll(": keep-alive\n\n", options_.idleTimeout) != IoResult::Done) return;
      lastWrite = SteadyClock::now();
    }
    if (connection.PeerGone()) return;
    state = model_.WaitForChange(sent, static_cast<int>(kStreamSlice.count()));
  }
}

}  // namespace telvara
