// The page's protocol and what the router answers to each request.
#include "web/WebRoutes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "Files.h"
#include "web/PageProtocol.h"

namespace telvara {
namespace {

namespace fs = std::filesystem;
constexpr AccessVerdict kAllowed = AccessVerdict::Allowed;
const char* const kPlay = R"({"id":1002,"data":"PGMO0509.WAV 889740309"})";

// One line of JSON (an event's "data:" line); what is not UTF-8 becomes U+FFFD, a byte at a time.
TEST(PageProtocol, StateIsOneLineOfValidJsonWithRowsLeftOutOnRequest) {
  const std::string fffd = "\xEF\xBF\xBD", valid = "say \"hi\" \\ \x01\t \xC3\xA9 \xE2\x82\xAC \xF0\x9D\x84\x9E";
  WindowState state;
  state.rowsVersion = 3;
  state.boxes.push_back({3, "Telvara", "Line one\nline two", {"OK"}, true});
  for (const char* text : {valid.c_str(), "\x80|\xC0\xAF|\xED\xA0\x80|\xE2\x82|\xF5"})
    state.rows.push_back({text, "A"});
  EXPECT_EQ(StateToJson(state).find('\n'), std::string::npos);
  auto json = nlohmann::json::parse(StateToJson(state));
  EXPECT_EQ(json["boxes"][0]["text"], "Line one\nline two");
  EXPECT_EQ(json["rows"][0]["text"], valid);
  EXPECT_EQ(json["rows"][1]["text"],
            fffd + "|" + fffd + fffd + "|" + fffd + fffd + fffd + "|" + fffd + fffd + "|" + fffd);
  auto without = nlohmann::json::parse(StateToJson(state, StateRows::LeftOut));
  EXPECT_TRUE(!without.contains("rows") && without["rowsVersion"] == 3);
}

TEST(PageProtocol, ReadsCommands) {
  WindowState state;
  PageCommand c;
  ASSERT_EQ(ParsePageCommand(R"({"id":1002,"page":"a1-B2"})", state, c), CommandCheck::Ok);
  EXPECT_TRUE(c.data.empty() && c.page == "a1-B2");  // no data: an empty text

  const std::string tooLong = R"({"id":1002,"data":")" + std::string(1025, 'a') + "\"}";
  for (const std::string& body :
       {std::string("[]"), std::string(R"({"id":"1002"})"), std::string(R"({"id":1002.5})"),
        std::string(R"({"id":1002,"data":5})"), std::string(R"({"id":1002,"data":"a\nb"})"),
        std::string(R"({"id":1002,"page":"a b"})"), std::string("{\"id\":1002,\"data\":\"\xff\"}"), tooLong})
    EXPECT_EQ(ParsePageCommand(body, state, c), CommandCheck::Malformed) << body;
  for (const char* body : {R"({"id":57667})", R"({"id":4294968298})"})
    EXPECT_EQ(ParsePageCommand(body, state, c), CommandCheck::UnknownId) << body;
}

TEST(PageProtocol, BoxAnswersMustFitAnOpenBox) {
  WindowState state;
  state.boxes.push_back({4, "Change Settings", "Save the changes?", {"Yes", "No", "Cancel"}, true});
  PageCommand c;
  EXPECT_EQ(ParsePageCommand(R"({"id":1,"data":"4 No"})", state, c), CommandCheck::Ok);
  for (const char* data : {"4 OK", "5 Yes", "4", "4No", "04x No"}) {
    std::string body = std::string(R"({"id":1,"data":")") + data + "\"}";
    EXPECT_EQ(ParsePageCommand(body, state, c), CommandCheck::NoSuchBox) << data;
  }
}

// The page's files with a secret beside them, an open box (id 4, OK only), and a loop that may be full.
class RouteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* dir : {"web", "inbox", "system"}) fs::create_directory(root_ / dir);
    std::ofstream(root_ / "web" / "index.html") << "<title>page</title>";
    std::ofstream(root_ / "web" / "app.js") << "var page = 1;";
    std::ofstream(root_ / "secret.txt") << "TOPSECRET";
    for (const char* name : {"PGMO0509.WAV", "A", "A B.WAV"}) std::ofstream(root_ / "inbox" / name) << "RIFF";
    state_.status = "Stand by";
    state_.boxes.push_back({4, "Telvara", "Modem Initialize Failed.", {"OK"}, false});
    state_.rows.push_back({" 2:05:09pm  03/12/1998  1:15  PGMO0509.WAV", "PGMO0509.WAV 889740309"});
    state_.rows.push_back({"11:59:59pm  12/31/1998  0:42  A B.WAV", "A B.WAV 915148799"});
  }

  RouteResult Route(const char* method, const std::string& path, std::string body = "{}",
                    AccessVerdict access = kAllowed, const char* type = "application/json", HeaderList query = {}) {
    HttpRequest request{method, path, {}, std::move(query), {}, std::move(body)};
    if (type) request.headers.emplace_back("content-type", type);
    WebRouter router((root_ / "web").string(), rules_,
                     [this](LoopMessage m) {
                       if (loopFull_) return false;
                       posted_.push_back(std::move(m));
                       return true;
                     },
                     {(root_ / "inbox/").string(), (root_ / "system/").string()});
    return router.Route(request, access, state_);
  }

  testing::ScratchDir scratch_;
  fs::path root_ = scratch_.Path();
  AccessRules rules_{"", "f00d", "telvara7200", true, false};
  WindowState state_;
  std::vector<LoopMessage> posted_;
  bool loopFull_ = false;
};

// The answer as one text: status, headers and body.
std::string Written(const HttpResponse& r) {
  std::string out = std::to_string(r.status) + "\n";
  if (!r.contentType.empty()) out += "Content-Type: " + r.contentType + "\n";
  for (const auto& [name, value] : r.headers) out += name + ": " + value + "\n";
  return out + "\n" + r.body;
}

// Only an accepted command reaches the loop.
TEST_F(RouteTest, AnswersByMethodPathAccessAndBody) {
  const struct {
    AccessVerdict access;
    const char* method;
    const char* path;
    std::vector<std::string> shows;
    const char* body = "{}";
    const char* type = "application/json";
  } cases[] = {
      {kAllowed, "GET", "/", {"200\n", "Content-Type: text/html; charset=utf-8\n", "\n\n<title>page</title>"}},
      {kAllowed, "GET", "/style.css", {"404\n", "Not found\n"}},  // listed but missing
      {kAllowed, "GET", "/api/state", {"200\n", "Content-Type: application/json\n", R"("status":"Stand by")"}},
      {kAllowed, "POST", "/", {"405\n", "Allow: GET\n"}},
      {kAllowed, "HEAD", "/", {"200\n", "<title>page</title>"}},
      {AccessVerdict::BadHost, "GET", "/", {"403\n", "This window answers only to its own address\n"}},
      {AccessVerdict::NeedCredentials, "GET", "/api/events", {"401\n", "telvara --home DIR --url"}},
      {AccessVerdict::TradeToken,
       "GET",
       "/",
       {"303\n", "Location: /\n",
        "Set-Cookie: telvara7200=f00d; Path=/; Max-Age=31536000; HttpOnly; SameSite=Strict\n"}},
      {AccessVerdict::CrossSite, "POST", "/api/command", {"403\n", "only from the window's own page\n"}, kPlay},
      {kAllowed, "POST", "/api/command", {"415\n", "Commands are JSON\n"}, kPlay, "text/plain"},
      {kAllowed, "POST", "/api/command", {"400\n", "Malformed command\n"}, "not json"},
      {kAllowed, "POST", "/api/command", {"400\n", "Unknown command\n"}, R"({"id":4242})"},
      {kAllowed, "POST", "/api/command", {"409\n", "That message box is not open\n"}, R"({"id":1,"data":"5 OK"})"},
      {kAllowed, "POST", "/api/command", {"204\n"}, kPlay, "application/json; charset=utf-8"},
  };
  for (const auto& c : cases) {
    posted_.clear();
    RouteResult r = Route(c.method, c.path, c.body, c.access, c.type);
    EXPECT_FALSE(r.eventStream);
    std::string written = Written(r.response);
    for (const std::string& part : c.shows)
      EXPECT_NE(written.find(part), std::string::npos) << part << " in\n" << written;
    EXPECT_EQ(posted_.size(), r.response.status == 204 ? 1u : 0u) << written;
  }
  EXPECT_TRUE(Route("GET", "/api/events").eventStream);
}

TEST_F(RouteTest, ServesOnlyTheListedFilesNeverAPathFromTheRequest) {
  for (const char* path : {"/../secret.txt", "/..%2fsecret.txt", "/%2e%2e/secret.txt", "/index.html/../../secret.txt",
                           "//secret.txt", "/secret.txt", "/app.js%00.txt"}) {
    std::string written = Written(Route("GET", path).response);
    EXPECT_EQ(written.rfind("404\n", 0), 0u) << path << ": " << written;
    EXPECT_EQ(written.find("TOPSECRET"), std::string::npos) << path;
  }
}

TEST_F(RouteTest, CredentialsAskedAsTheRulesSay) {
  rules_.password = "sesame";
  HttpResponse asked = Route("GET", "/", "", AccessVerdict::WrongPassword).response;
  EXPECT_EQ(asked.status, 401);
  EXPECT_NE(Written(asked).find("WWW-Authenticate: Basic realm=\"Telvara\", charset=\"UTF-8\"\n"), std::string::npos);
}

// A message's WAV only by the file name of a listed row; the greeting only once recorded.
TEST_F(RouteTest, SoundFilesOnlyByListedName) {
  auto get = [&](const char* path, HeaderList query) {
    return Route("GET", path, "", kAllowed, nullptr, std::move(query)).response;
  };
  HttpResponse played = get("/api/message", {{"file", "PGMO0509.WAV"}});
  EXPECT_TRUE(played.status == 200 && played.contentType == "audio/wav" && played.file.IsValid());
  EXPECT_EQ(Written(played).find("Content-Disposition"), std::string::npos);
  EXPECT_NE(Written(get("/api/message", {{"file", "A B.WAV"}, {"download", "1"}}))
                .find("Content-Disposition: attachment; filename=\"A_B.WAV\"\n"),
            std::string::npos);

  // "A" begins a row's identity but is not its file.
  for (const char* name : {"A", "PGMO0509.WAV 889740309", "../secret.txt", ""})
    EXPECT_EQ(get("/api/message", {{"file", name}}).status, 404) << name;

  EXPECT_EQ(get("/api/greeting", {}).status, 404);  // not recorded yet
  std::ofstream(root_ / "system" / "announc2.wav") << "RIFF....";
  HttpResponse greeting = get("/api/greeting", {{"download", "1"}});
  EXPECT_TRUE(greeting.status == 200 && greeting.fileSize == 8u);
  EXPECT_NE(Written(greeting).find("filename=\"announc2.wav\""), std::string::npos);
}

TEST_F(RouteTest, CommandsArePostedAsSentAndA503WhenTheLoopIsFull) {
  ASSERT_EQ(Route("POST", "/api/command", kPlay).response.status, 204);
  ASSERT_EQ(Route("POST", "/api/command", R"({"id":1,"data":"4 OK"})").response.status, 204);
  ASSERT_EQ(posted_.size(), 2u);
  EXPECT_EQ(std::pair(posted_[0].id, posted_[0].data),
            std::pair(command::kPlayMessage, std::string("PGMO0509.WAV 889740309")));
  EXPECT_EQ(std::pair(posted_[1].id, posted_[1].data), std::pair(command::kBoxAnswer, std::string("4 OK")));
  loopFull_ = true;
  EXPECT_EQ(Route("POST", "/api/command", kPlay).response.status, 503);
}

}  // namespace
}  // namespace telvara
