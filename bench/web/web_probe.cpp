// The window's server probed as an attacker on the network, or another user of the
// machine, would: prints how many of the owner's requests are served while one other
// address holds 200 idle connections and 32 event streams, whether the owner's page
// still follows the window, how many passwords one client can try per second, what a
// request without the token gets, and how large a storm of boxes makes the state.
// Runs the real server on loopback (127.0.0.2 plays the other address).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <list>
#include <string>
#include <thread>

#include "platform/EventLoop.h"
#include "platform/WindowModel.h"
#include "web/PageProtocol.h"
#include "web/WebServer.h"

using namespace telvara;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

namespace {

int g_port = 0;

// A connection from `from`; sends `text` if any.
int Open(const char* from, const std::string& text) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in self{AF_INET, 0, {}, {}};
  inet_pton(AF_INET, from, &self.sin_addr);
  bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self);
  sockaddr_in to{AF_INET, htons(static_cast<uint16_t>(g_port)), {htonl(INADDR_LOOPBACK)}, {}};
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return -1;
  }
  if (!text.empty()) send(fd, text.data(), text.size(), MSG_NOSIGNAL);
  return fd;
}

// Reads until `what` is seen, the peer closes, or the time is up.
std::string ReadUntil(int fd, const std::string& what, std::chrono::milliseconds limit) {
  std::string got;
  for (auto end = SteadyClock::now() + limit; SteadyClock::now() < end;) {
    if (!what.empty() && got.find(what) != std::string::npos) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char buf[8192];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

std::string Request(const std::string& line, const std::string& headers) {
  return line + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(g_port) + "\r\nConnection: close\r\n" + headers +
         "\r\n";
}

// One whole exchange; the status code, or 0 when none came.
int Ask(const char* from, const std::string& text, std::chrono::milliseconds limit = 5000ms) {
  int fd = Open(from, text);
  if (fd < 0) return 0;
  std::string answer = ReadUntil(fd, "\r\n\r\n", limit);
  close(fd);
  return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(answer.c_str() + 9) : 0;
}

}  // namespace

int main() {
  RealClock clock;
  EventLoop loop(clock, std::make_unique<PollWaiter>(clock));
  WindowModel window;
  window.SetStatus("Stand by");
  WebServerOptions options;
  options.port = 0;
  options.webDir = TELVARA_SOURCE_DIR "/web";
  options.token = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
  options.password = "the-right-one";
  WebServer server(window, loop, options);
  WebStartResult started = server.Start();
  if (!started.ok) {
    std::fprintf(stderr, "web_probe: %s\n", started.error.c_str());
    return 1;
  }
  g_port = started.port;
  std::string cookie = "Cookie: telvara" + std::to_string(g_port) + "=" + options.token + "\r\n";

  // 1. Another address holds 200 idle connections and 32 event streams.
  std::list<int> held;
  for (int i = 0; i < 32; ++i) held.push_back(Open("127.0.0.2", Request("GET /api/events", cookie)));
  for (int i = 0; i < 200; ++i) held.push_back(Open("127.0.0.2", ""));
  std::this_thread::sleep_for(300ms);
  int served = 0, asked = 0;
  int page = Open("127.0.0.1", Request("GET /api/events", cookie));
  bool pageOpened = ReadUntil(page, "event: state", 3000ms).find("event: state") != std::string::npos;
  int followed = 0;
  auto until = SteadyClock::now() + 10s;
  for (int round = 0; SteadyClock::now() < until; ++round) {
    ++asked;
    if (Ask("127.0.0.1", Request("GET /api/state", cookie)) == 200) ++served;
    if (round % 10 == 0) {
      std::string status = "Status " + std::to_string(round);
      window.SetStatus(status);
      if (ReadUntil(page, status, 2000ms).find(status) != std::string::npos) ++followed;
    }
  }
  std::printf("owner from another address, beside 200 idle connections and 32 streams of one address:\n");
  std::printf("  normal requests served: %d of %d in 10 s; page opened: %s; state changes followed: %d\n", served,
              asked, pageOpened ? "yes" : "no", followed);
  std::printf("  streams open in all: %d (the address's newest 8, and the owner's page)\n", server.EventStreams());
  for (int fd : held) close(fd);
  close(page);
  std::this_thread::sleep_for(500ms);

  // 2. Password guesses from one client for 20 s, one after another and 32 at once.
  auto guess = [&](int parallel) {
    std::string wrong = "Authorization: Basic d2hvOndyb25n\r\n";  // who:wrong
    std::atomic<int> tried{0};
    auto end = SteadyClock::now() + 20s;
    std::vector<std::thread> threads;
    for (int t = 0; t < parallel; ++t) {
      threads.emplace_back([&] {
        while (SteadyClock::now() < end) {
          if (Ask("127.0.0.3", Request("GET /api/state", wrong), 31000ms) == 401) ++tried;
        }
      });
    }
    for (std::thread& t : threads) t.join();
    return tried.load() / 20.0;
  };
  double one = guess(1);
  std::printf("password guesses per second from one client over 20 s: %.2f one at a time", one);
  std::fflush(stdout);
  options.port = 0;
  double many = 0;
  {
    // A fresh server, so that the second probe starts from an address with no failures.
    WebServer fresh(window, loop, options);
    g_port = fresh.Start().port;
    many = guess(32);
  }
  std::printf(", %.2f with 32 at once\n", many);

  // 3. Another local user without the token.
  g_port = started.port;
  int exitStatus =
      Ask("127.0.0.1", Request("POST /api/command", "Content-Type: application/json\r\nOrigin: http://127.0.0.1:" +
                                                        std::to_string(g_port) + "\r\nContent-Length: 12\r\n") +
                           R"({"id":57665})");
  std::printf("Exit posted without the token: HTTP %d, posted to the engine: %s\n", exitStatus,
              loop.HasPosted() ? "yes" : "no");

  // 4. A storm of boxes.
  for (int i = 0; i < 20000; ++i) window.OpenBox("About Telvara", "Telvara for Win95/NT\nVersion 1.0", {"OK"}, false);
  for (int i = 0; i < 20000; ++i) window.OpenBox("Telvara", "Box " + std::to_string(i), {"OK"}, false);
  std::printf("after 20,000 About boxes and 20,000 different boxes: %zu boxes open, state %zu bytes\n",
              window.Current().boxes.size(), StateToJson(window.Current()).size());
  server.Stop();
  return 0;
}
