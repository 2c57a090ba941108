// The page's protocol: the state as JSON, the commands read from the page, and what
// the router answers to each request.
#include "web/WebRoutes.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "web/PageProtocol.h"

namespace telvara {
namespace {

namespace fs = std::filesystem;
constexpr AccessVerdict kAllowed = AccessVerdict::Allowed;
const char* const kPlay = R"({"id":1002,"data":"PGMO0509.WAV 889740309"})";

TEST(PageProtocol, StateSurvivesBytesThatAreNotUtf8) {
  WindowState state;
  state.version = 7;
  state.status = std::string("Unable to play P\xff\xfe.WAV");
  state.rows.push_back({" 2:05:09pm  03/12/1998  1:15  PGMO0509.WAV", "PGMO0509.WAV 889740309"});
  state.boxes.push_back({3, "Telvara", "Line one\nline two", {"OK"}, true});
  auto json = nlohmann::json::parse(StateToJson(state));
  EXPECT_EQ(json["version"], 7);
  EXPECT_EQ(json["status"], "Unable to play P\xEF\xBF\xBD\xEF\xBF\xBD.WAV");
  EXPECT_EQ(json["rows"][0]["identity"], "PGMO0509.WAV 889740309");
  EXPECT_EQ(json["boxes"][0]["text"], "Line one\nline two");
  // One line, so that it fits a single "data:" line of an event.
  EXPECT_EQ(StateToJson(state).find('\n'), std::string::npos);
}

// What is taken is seen posted in CommandsArePostedAsSentAndA503WhenTheLoopIsFull.
TEST(PageProtocol, ReadsCommands) {
  WindowState state;
  PageCommand c;
  ASSERT_EQ(ParsePageCommand(R"({"id":57665})", state, c), CommandCheck::Ok);
  EXPECT_EQ(c.data, "");  // no data: an empty text

  const char* malformed[] = {"",
                             "[]",
                             "{}",
                             R"({"id":"1002"})",
                             R"({"id":1002.5})",
                             R"({"id":1002,"data":5})",
                             R"({"id":1002,"data":"a\nb"})",
                             "{\"id\":1002,\"data\":\"\xff\"}"};
  for (const char* body : malformed) EXPECT_EQ(ParsePageCommand(body, state, c), CommandCheck::Malformed) << body;
  std::string tooLong = R"({"id":1002,"data":")" + std::string(1025, 'a') + "\"}";
  EXPECT_EQ(ParsePageCommand(tooLong, state, c), CommandCheck::Malformed);
  for (const char* body : {R"({"id":57667})", R"({"id":-1})", R"({"id":4294968298})", R"({"id":0})"}) {
    EXPECT_EQ(ParsePageCommand(body, state, c), CommandCheck::UnknownId) << body;
  }
}

TEST(PageProtocol, BoxAnswersMustFitAnOpenBox) {
  WindowState state;
  state.boxes.push_back({4, "Change Settings", "Save the changes?", {"Yes", "No", "Cancel"}, true});
  PageCommand c;
  EXPECT_EQ(ParsePageCommand(R"({"id":1,"data":"4 No"})", state, c), CommandCheck::Ok);
  for (const char* data : {"4 OK", "5 Yes", "4", "4No", " 4 No", "x No", "4 no", "04x No"}) {
    std::string body = std::string(R"({"id":1,"data":")") + data + "\"}";
    EXPECT_EQ(ParsePageCommand(body, state, c), CommandCheck::NoSuchBox) << data;
  }
}

// A web directory with two of the page's files, a secret beside it, a window with an
// open box (id 4, OK only), and a loop that takes what is posted unless it is full.
class RouteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "telvara-routes-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directory(root_ / "web");
    std::ofstream(root_ / "web" / "index.html") << "<title>page</title>";
    std::ofstream(root_ / "web" / "app.js") << "var page = 1;";
    std::ofstream(root_ / "secret.txt") << "TOPSECRET";
    state_.status = "Stand by";
    state_.boxes.push_back({4, "Telvara", "Modem Initialize Failed.", {"OK"}, false});
  }
  void TearDown() override { fs::remove_all(root_); }

  RouteResult Route(const char* method, const std::string& path, std::string body = "{}",
                    AccessVerdict access = kAllowed, const char* type = "application/json") {
    HttpRequest request;
    request.method = method;
    request.target = request.path = path;
    request.version = "HTTP/1.1";
    if (type) request.headers.emplace_back("content-type", type);
    request.body = std::move(body);
    WebRouter router((root_ / "web").string(), [this](LoopMessage m) {
      if (loopFull_) return false;
      posted_.push_back(std::move(m));
      return true;
    });
    return router.Route(request, access, state_);
  }

  fs::path root_;
  WindowState state_;
  std::vector<LoopMessage> posted_;
  bool loopFull_ = false;
};

struct RouteCase {
  const char* name;
  AccessVerdict access;
  const char* method;
  const char* path;
  std::vector<std::string> shows;  // in the response as written: status line, headers, body
  const char* body = "{}";
  const char* type = "application/json";  // of the body
};

void PrintTo(const RouteCase& c, std::ostream* out) { *out << c.name; }

class RouteAnswer : public RouteTest, public ::testing::WithParamInterface<RouteCase> {};

TEST_P(RouteAnswer, For) {
  const RouteCase& c = GetParam();
  RouteResult r = Route(c.method, c.path, c.body, c.access, c.type);
  EXPECT_FALSE(r.eventStream);
  std::string written = FormatResponse(r.response);
  for (const std::string& part : c.shows) {
    EXPECT_NE(written.find(part), std::string::npos) << part << " in\n" << written;
  }
  // Only an accepted command reaches the loop.
  EXPECT_EQ(posted_.size(), r.response.status == 204 ? 1u : 0u);
}

const std::string k200 = "HTTP/1.1 200 OK\r\n", k204 = "HTTP/1.1 204 No Content\r\n",
                  k400 = "HTTP/1.1 400 Bad Request\r\n", k403 = "HTTP/1.1 403 Forbidden\r\n",
                  k404 = "HTTP/1.1 404 Not Found\r\n", k405 = "HTTP/1.1 405 Method Not Allowed\r\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(WebRouter, RouteAnswer, ::testing::Values(
    RouteCase{"PageAtRoot", kAllowed, "GET", "/", {k200, "Content-Type: text/html; charset=utf-8\r\n",
              "Connection: close\r\n", "Content-Length: 19\r\n\r\n<title>page</title>"}},
    RouteCase{"PageByName", kAllowed, "GET", "/index.html", {k200, "<title>page</title>"}},
    RouteCase{"Script", kAllowed, "GET", "/app.js", {"Content-Type: text/javascript; charset=utf-8\r\n", "var page = 1;"}},
    RouteCase{"ListedButMissing", kAllowed, "GET", "/style.css", {k404, "Not found\n"}},
    RouteCase{"State", kAllowed, "GET", "/api/state", {k200, "Content-Type: application/json\r\n", R"("status":"Stand by")"}},
    RouteCase{"StatePosted", kAllowed, "POST", "/api/state", {k405, "Allow: GET\r\n"}},
    RouteCase{"EventsPosted", kAllowed, "POST", "/api/events", {k405, "Allow: GET\r\n"}},
    RouteCase{"PagePosted", kAllowed, "POST", "/", {k405, "Allow: GET\r\n"}},
    RouteCase{"CommandFetched", kAllowed, "GET", "/api/command", {k405, "Allow: POST\r\n"}},
    RouteCase{"ForeignHost", AccessVerdict::BadHost, "GET", "/", {k403, "This window answers only to its own address\n"}},
    RouteCase{"NoPasswordNoStream", AccessVerdict::NeedPassword, "GET", "/api/events",
              {"HTTP/1.1 401 Unauthorized\r\n", "WWW-Authenticate: Basic realm=\"Telvara\", charset=\"UTF-8\"\r\n"}},
    RouteCase{"CrossSite", AccessVerdict::CrossSite, "POST", "/api/command",
              {k403, "Commands are taken only from the window's own page\n"}, kPlay},
    RouteCase{"CommandAsAForm", kAllowed, "POST", "/api/command",
              {"HTTP/1.1 415 Unsupported Media Type\r\n", "Commands are JSON\n"}, kPlay, "text/plain"},
    RouteCase{"CommandWithoutType", kAllowed, "POST", "/api/command", {"HTTP/1.1 415 "}, kPlay, nullptr},
    RouteCase{"CommandNotJson", kAllowed, "POST", "/api/command", {k400, "Malformed command\n"}, "not json"},
    RouteCase{"CommandUnknown", kAllowed, "POST", "/api/command", {k400, "Unknown command\n"}, R"({"id":4242})"},
    RouteCase{"AnswerToAClosedBox", kAllowed, "POST", "/api/command",
              {"HTTP/1.1 409 Conflict\r\n", "That message box is not open\n"}, R"({"id":1,"data":"5 OK"})"},
    RouteCase{"Command", kAllowed, "POST", "/api/command", {k204}, kPlay},
    RouteCase{"CommandJsonWithCharset", kAllowed, "POST", "/api/command", {k204}, kPlay, "application/json; charset=utf-8"}),
    [](const ::testing::TestParamInfo<RouteCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(RouteTest, ServesOnlyTheListedFilesNeverAPathFromTheRequest) {
  for (const char* path : {"/../secret.txt", "/..%2fsecret.txt", "/%2e%2e/secret.txt", "/index.html/../../secret.txt",
                           "//secret.txt", "/secret.txt", "/web/../secret.txt", "/app.js%00.txt", "/./index.html"}) {
    std::string written = FormatResponse(Route("GET", path).response);
    EXPECT_EQ(written.rfind("HTTP/1.1 404 ", 0), 0u) << path << ": " << written;
    EXPECT_EQ(written.find("TOPSECRET"), std::string::npos) << path;
  }
}

TEST_F(RouteTest, EventsAreLeftToTheServersStream) { EXPECT_TRUE(Route("GET", "/api/events").eventStream); }

TEST_F(RouteTest, CommandsArePostedAsSentAndA503WhenTheLoopIsFull) {
  ASSERT_EQ(Route("POST", "/api/command", kPlay).response.status, 204);
  ASSERT_EQ(Route("POST", "/api/command", R"({"id":1,"data":"4 OK"})").response.status, 204);
  ASSERT_EQ(posted_.size(), 2u);
  EXPECT_EQ(posted_[0].kind, LoopMessage::Kind::Command);
  EXPECT_EQ(posted_[0].id, command::kPlayMessage);
  EXPECT_EQ(posted_[0].data, "PGMO0509.WAV 889740309");
  EXPECT_EQ(posted_[1].id, command::kBoxAnswer);
  EXPECT_EQ(posted_[1].data, "4 OK");
  loopFull_ = true;
  HttpResponse busy = Route("POST", "/api/command", kPlay).response;
  EXPECT_EQ(busy.status, 503);
  EXPECT_EQ(busy.body, "Telvara is busy; try again\n");
}

}  // namespace
}  // namespace telvara
