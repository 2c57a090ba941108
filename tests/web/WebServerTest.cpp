#include "web/WebServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>

namespace telvara {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A raw connection, for what a well-behaved client would never send.
class RawClient {
 public:
  explicit RawClient(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  bool Connected() const { return connected_; }
  void Send(std::string_view text) { ASSERT_EQ(send(fd_.Get(), text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size())); }
  // Everything until the server closes, or what came within the time limit.
  std::string ReadAll(std::chrono::milliseconds limit = 3000ms) {
    std::string out;
    auto end = std::chrono::steady_clock::now() + limit;
    char buf[4096];
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p = {fd_.Get(), POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      ssize_t n = recv(fd_.Get(), buf, sizeof buf, 0);
      if (n <= 0) {
        closed_ = true;
        break;
      }
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }
  bool Closed() const { return closed_; }

 private:
  UniqueFileDescriptor fd_;
  bool connected_ = false;
  bool closed_ = false;
};

class WebServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("telvara-web-" + std::to_string(getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(root_ / "web");
    Write(root_ / "web" / "index.html", "<title>page</title>");
    Write(root_ / "web" / "app.js", "var page = 1;");
    Write(root_ / "secret.txt", "TOPSECRET");
    options_.host = "127.0.0.1";
    options_.port = 0;
    options_.webDir = (root_ / "web").string();
    loop_.SetHandler([this](const LoopMessage& m) { taken_.push_back(m); });
  }
  void TearDown() override {
    server_.reset();
    fs::remove_all(root_);
  }
  static void Write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

  WebServer& Start() {
    server_ = std::make_unique<WebServer>(model_, loop_, options_);
    WebStartResult started = server_->Start();
    EXPECT_TRUE(started.ok) << started.error;
    EXPECT_GT(started.port, 0);
    port_ = started.port;
    return *server_;
  }
  httplib::Client Client() {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(5, 0);
    return client;
  }
  httplib::Headers Own() { return {{"Origin", "http://127.0.0.1:" + std::to_string(port_)}}; }
  // Waits (blocked in poll) for a posted command and dispatches it.
  bool TakeCommand() {
    auto end = loop_.GetClock().Now() + 2000;
    std::size_t before = taken_.size();
    while (taken_.size() == before && !TickReached(loop_.GetClock().Now(), end)) {
      if (!loop_.PumpOne()) loop_.WaitUntil(end, WaitFor::Messages);
    }
    return taken_.size() > before;
  }
  // Reads the event stream on a thread, handing each state to `onState` until it
  // says stop (false) or the stream ends.
  std::thread Follow(std::function<bool(const nlohmann::json&)> onState, std::promise<void>* ended) {
    return std::thread([this, onState, ended] {
      httplib::Client client = Client();
      std::string pending;
      client.Get("/api/events", [&](const char* data, size_t length) {
        pending.append(data, length);
        for (std::size_t end; (end = pending.find("\n\n")) != std::string::npos;) {
          std::string event = pending.substr(0, end);
          pending.erase(0, end + 2);
          std::size_t at = event.find("data: ");
          if (at != std::string::npos && !onState(nlohmann::json::parse(event.substr(at + 6)))) return false;
        }
        return true;
      });
      if (ended) ended->set_value();
    });
  }

  fs::path root_;
  RealClock clock_;
  EventLoop loop_{clock_, std::make_unique<PollWaiter>(clock_)};
  WindowModel model_;
  WebServerOptions options_;
  std::unique_ptr<WebServer> server_;
  std::vector<LoopMessage> taken_;
  int port_ = 0;
};

TEST_F(WebServerTest, ServesThePageAndItsFilesOnly) {
  Start();
  auto client = Client();
  auto page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->body, "<title>page</title>");
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(page->get_header_value("X-Frame-Options"), "DENY");
  auto script = client.Get("/app.js");
  ASSERT_TRUE(script);
  EXPECT_EQ(script->body, "var page = 1;");
  EXPECT_EQ(Client().Get("/style.css")->status, 404);  // on the list, but not there

  for (const char* target : {"/../secret.txt", "/..%2fsecret.txt", "/%2e%2e/secret.txt",
                             "/index.html/../../secret.txt", "//secret.txt", "/secret.txt",
                             "/web/../secret.txt", "/app.js%00.txt", "/./index.html"}) {
    RawClient raw(port_);
    raw.Send(std::string("GET ") + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    std::string answer = raw.ReadAll();
    EXPECT_EQ(answer.find("TOPSECRET"), std::string::npos) << target;
    EXPECT_EQ(answer.rfind("HTTP/1.1 404", 0), 0u) << target << ": " << answer;
  }
}

TEST_F(WebServerTest, StateIsTheModelsSnapshot) {
  model_.SetStatus("Stand by");
  model_.InsertRow(0, {" 2:05:09pm  03/12/1998  1:15  PGMO0509.WAV", "PGMO0509.WAV 889740309"});
  Start();
  auto r = Client().Get("/api/state");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->get_header_value("Content-Type"), "application/json");
  auto json = nlohmann::json::parse(r->body);
  EXPECT_EQ(json["version"], model_.Snapshot()->version);
  EXPECT_EQ(json["status"], "Stand by");
  EXPECT_EQ(json["rows"][0]["identity"], "PGMO0509.WAV 889740309");
}

TEST_F(WebServerTest, EventStreamDeliversChangesAndEndsWhenClosing) {
  Start();
  std::mutex m;
  std::condition_variable cv;
  std::vector<nlohmann::json> seen;
  std::promise<void> ended;
  auto endedFuture = ended.get_future();
  std::thread reader = Follow([&](const nlohmann::json& s) {
    std::lock_guard<std::mutex> lock(m);
    seen.push_back(s);
    cv.notify_all();
    return true;
  }, &ended);
  auto waitFor = [&](auto predicate) {
    std::unique_lock<std::mutex> lock(m);
    return cv.wait_for(lock, 3s, [&] { return predicate(); });
  };
  EXPECT_TRUE(waitFor([&] { return !seen.empty(); }));  // the state as it stands, at once
  model_.SetStatus("Phone ringing.");
  EXPECT_TRUE(waitFor([&] { return seen.back()["status"] == "Phone ringing."; }));
  model_.SetClosing();
  EXPECT_TRUE(waitFor([&] { return seen.back()["closing"] == true; }));
  // The program is going: the stream ends by itself.
  EXPECT_EQ(endedFuture.wait_for(2s), std::future_status::ready);
  reader.join();
}

TEST_F(WebServerTest, CommandsReachTheLoop) {
  Start();
  auto r = Client().Post("/api/command", Own(), R"({"id":1002,"data":"PGMO0509.WAV 889740309"})",
                         "application/json");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 204);
  ASSERT_TRUE(TakeCommand());
  EXPECT_EQ(taken_.back().kind, LoopMessage::Kind::Command);
  EXPECT_EQ(taken_.back().id, command::kPlayMessage);
  EXPECT_EQ(taken_.back().data, "PGMO0509.WAV 889740309");

  int box = model_.OpenBox("Telvara", "Modem Initialize Failed.", {"OK"}, false);
  std::string answer = R"({"id":1,"data":")" + std::to_string(box) + " OK\"}";
  EXPECT_EQ(Client().Post("/api/command", Own(), answer, "application/json")->status, 204);
  ASSERT_TRUE(TakeCommand());
  EXPECT_EQ(taken_.back().id, command::kBoxAnswer);
  EXPECT_EQ(taken_.back().data, std::to_string(box) + " OK");
  model_.CloseBox(box);
  // A second answer to the same box (a double click) is not passed on.
  EXPECT_EQ(Client().Post("/api/command", Own(), answer, "application/json")->status, 409);
  EXPECT_FALSE(loop_.HasPosted());
}

TEST_F(WebServerTest, RefusesCommandsItShouldNotTake) {
  Start();
  std::string play = R"({"id":1001,"data":"PGMO0509.WAV 889740309"})";
  auto client = Client();
  // Another site's page, and a request that does not say where it comes from.
  EXPECT_EQ(client.Post("/api/command", {{"Origin", "http://evil.example"}}, play, "application/json")->status, 403);
  EXPECT_EQ(client.Post("/api/command", play, "application/json")->status, 403);
  // A form post (no preflight) is refused even from the right origin.
  EXPECT_EQ(client.Post("/api/command", Own(), play, "text/plain")->status, 415);
  EXPECT_EQ(client.Post("/api/command", Own(), R"({"id":4242})", "application/json")->status, 400);
  EXPECT_EQ(client.Post("/api/command", Own(), "not json", "application/json")->status, 400);
  EXPECT_EQ(client.Get("/api/command")->status, 405);
  EXPECT_EQ(client.Post("/", Own(), "{}", "application/json")->status, 405);
  // A name rebound to 127.0.0.1 by another site reads nothing.
  EXPECT_EQ(client.Get("/api/state", {{"Host", "evil.example"}})->status, 403);
  EXPECT_FALSE(loop_.HasPosted());
}

TEST_F(WebServerTest, PasswordIsAskedOnEveryRequest) {
  options_.password = "sesame";
  Start();
  auto none = Client().Get("/");
  EXPECT_EQ(none->status, 401);
  EXPECT_NE(none->get_header_value("WWW-Authenticate").find("Basic"), std::string::npos);
  auto wrong = Client();
  wrong.set_basic_auth("owner", "sesam");
  EXPECT_EQ(wrong.Get("/api/state")->status, 401);
  EXPECT_EQ(wrong.Get("/api/events")->status, 401);
  EXPECT_EQ(wrong.Post("/api/command", Own(), R"({"id":57664})", "application/json")->status, 401);
  auto right = Client();
  right.set_basic_auth("anyone", "sesame");
  EXPECT_EQ(right.Get("/")->status, 200);
  EXPECT_EQ(right.Post("/api/command", Own(), R"({"id":57664})", "application/json")->status, 204);
  ASSERT_TRUE(TakeCommand());
  EXPECT_EQ(taken_.back().id, command::kAbout);
}

TEST_F(WebServerTest, ElsewhereThanLoopbackNeedsAPassword) {
  options_.host = "0.0.0.0";
  WebServer server(model_, loop_, options_);
  WebStartResult started = server.Start();
  EXPECT_FALSE(started.ok);
  EXPECT_NE(started.error.find("password"), std::string::npos) << started.error;
  options_.host = "127.0.0.1";
  options_.port = 70000;
  EXPECT_FALSE(WebServer(model_, loop_, options_).Start().ok);
}

TEST_F(WebServerTest, StopEndsAnOpenEventStreamAtOnce) {
  WebServer& server = Start();
  std::promise<void> ended;
  auto endedFuture = ended.get_future();
  std::thread reader = Follow([](const nlohmann::json&) { return true; }, &ended);
  RawClient stalled(port_);  // has said nothing, and has 10 s to do so
  stalled.Send("GET / HTTP/1.1\r\n");
  for (int i = 0; i < 300 && server.EventStreams() == 0; ++i) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(server.EventStreams(), 1);
  auto begin = std::chrono::steady_clock::now();
  server.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
  EXPECT_EQ(endedFuture.wait_for(2s), std::future_status::ready);
  reader.join();
  EXPECT_EQ(server.EventStreams(), 0);
  stalled.ReadAll(1000ms);
  EXPECT_TRUE(stalled.Closed());
}

TEST_F(WebServerTest, AStreamWhosePageWentIsFreedSoon) {
  WebServer& server = Start();
  {
    RawClient page(port_);
    page.Send("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_NE(page.ReadAll(300ms).find("event: state"), std::string::npos);
    EXPECT_EQ(server.EventStreams(), 1);
  }
  // Nothing changes in the window, yet the thread learns that the page has gone.
  for (int i = 0; i < 100 && server.EventStreams() != 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(server.EventStreams(), 0);
}

TEST_F(WebServerTest, StalledClientsDoNotHoldTheServer) {
  options_.idleTimeout = 300ms;
  options_.maxConnections = 2;
  WebServer& server = Start();
  RawClient slow(port_);
  slow.Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n");  // and never the blank line
  RawClient silent(port_);
  ASSERT_TRUE(silent.Connected());
  std::this_thread::sleep_for(50ms);
  // Both places are taken: a third client is told so at once instead of waiting.
  RawClient third(port_);
  EXPECT_EQ(third.ReadAll(1000ms).rfind("HTTP/1.1 503", 0), 0u);
  // The stalled ones are answered and dropped after the idle time.
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(slow.ReadAll(2000ms).rfind("HTTP/1.1 408", 0), 0u);
  EXPECT_TRUE(slow.Closed());
  silent.ReadAll(2000ms);
  EXPECT_TRUE(silent.Closed());
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 1500ms);
  EXPECT_EQ(Client().Get("/")->status, 200);
  server.Stop();
}

TEST_F(WebServerTest, MalformedRequestsGetAnError) {
  Start();
  struct Case {
    std::string request;
    const char* status;
  } cases[] = {
      {"GARBAGE\r\n\r\n", "400"},
      {"POST /api/command HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", "501"},
      {"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX: " + std::string(20000, 'x') + "\r\n\r\n", "431"},
  };
  for (const Case& c : cases) {
    RawClient raw(port_);
    raw.Send(c.request);
    std::string answer = raw.ReadAll();
    EXPECT_EQ(answer.substr(0, 12), std::string("HTTP/1.1 ") + c.status) << answer;
  }
  EXPECT_EQ(Client().Get("/")->status, 200);
}

}  // namespace
}  // namespace telvara
