// Who may reach the window, and the server's guards that need no sockets.
#include "web/WebAccess.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "Files.h"
#include "web/AccessToken.h"
#include "web/ClientLimits.h"
#include "web/GuessDelay.h"

namespace telvara {
namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;
constexpr auto kAllowed = AccessVerdict::Allowed;
constexpr auto kBadHost = AccessVerdict::BadHost;
constexpr auto kNeedPassword = AccessVerdict::NeedCredentials;
constexpr auto kWrong = AccessVerdict::WrongPassword;
constexpr auto kCrossSite = AccessVerdict::CrossSite;

TEST(WebAccess, Verdicts) {
  const struct {
    const char* password;
    bool changes;
    Headers headers;
    AccessVerdict verdict;
  } cases[] = {
      // On loopback the Host must name the loopback: a name rebound to 127.0.0.1 by
      // another site reads nothing.
      {"", false, {{"host", "evil.example:7200"}}, kBadHost},
      {"", false, {{"host", "127.0.0.1.evil.example"}}, kBadHost},
      {"", false, {{"host", "[::ffff:128.0.0.1]:7200"}}, kBadHost},
      {"", false, {{"host", "[::1"}}, kBadHost},
      {"", false, {}, kBadHost},
      {"", false, {{"host", "LocalHost:7200"}}, kAllowed},
      {"", false, {{"host", "[::1]:7200"}}, kAllowed},
      // With a password any name the user types is fine; the password follows the
      // first colon (":a:b" is an empty user name with "a:b").
      {"a:b", false, {{"host", "phone-pc:7200"}, {"authorization", "Basic OmE6Yg=="}}, kAllowed},
      {"a:b", false, {{"host", "phone-pc"}}, kNeedPassword},
      {"a:b", false, {{"host", "phone-pc"}, {"authorization", "Basic YTpi"}}, kWrong},
      {"a:b", false, {{"host", "phone-pc"}, {"authorization", "Basic"}}, kWrong},
      {"a:b", false, {{"host", "phone-pc"}, {"authorization", "Bearer OmE6Yg=="}}, kWrong},
      {"a:b", false, {{"host", "phone-pc"}, {"authorization", "Basic OmE6YmM="}}, kWrong},
      {"a:b", false, {{"host", "phone-pc"}, {"authorization", "Basic OmE="}}, kWrong},
      {"a:b", false, {{"host", "phone-pc"}, {"authorization", "Basic OmE6Yg==OmE6Yg=="}}, kWrong},
      // A change comes only from the page's own origin (or, without one, referer).
      {"", true, {{"host", "127.0.0.1:7200"}, {"origin", "http://127.0.0.1:7200"}}, kAllowed},
      {"", true, {{"host", "127.0.0.1:7200"}, {"referer", "http://127.0.0.1:7200/"}}, kAllowed},
      {"", true, {{"host", "127.0.0.1:7200"}}, kCrossSite},
      {"", true, {{"host", "127.0.0.1:7200"}, {"origin", "null"}}, kCrossSite},
      {"", true, {{"host", "127.0.0.1:7200"}, {"origin", "http://127.0.0.1:7201"}}, kCrossSite},
      {"", true, {{"host", "127.0.0.1:7200"}, {"referer", "http://127.0.0.1:7200.evil.example/"}}, kCrossSite},
      {"",
       true,
       {{"host", "127.0.0.1:7200"}, {"origin", "http://evil.example"}, {"referer", "http://127.0.0.1:7200/"}},
       kCrossSite},
      // A read that the browser marks as another site's is refused.
      {"", false, {{"host", "127.0.0.1:7200"}, {"sec-fetch-site", "same-origin"}}, kAllowed},
      {"", false, {{"host", "127.0.0.1:7200"}, {"sec-fetch-site", "cross-site"}}, kCrossSite},
      {"", false, {{"host", "127.0.0.1:7200"}, {"sec-fetch-site", "same-site"}}, kCrossSite},  // another local port
  };
  for (const auto& c : cases) {
    WebAccess access({c.password, "", "", *c.password == '\0', false});
    EXPECT_EQ(access.Check({"GET", "/", c.headers, {}, {}, ""}, c.changes), c.verdict) << &c - cases;
  }
}

// The printed address trades the token for the cookie, and only by reading the page.
TEST(WebAccess, TokenAndCookie) {
  WebAccess access({"", "f00d", "telvara7200", true, false});
  auto check = [&](std::string method, const char* path, HeaderList query, HeaderList cookies) {
    const HeaderList headers = {{"host", "127.0.0.1:7200"}, {"origin", "http://127.0.0.1:7200"}};
    return access.Check({method, path, headers, query, cookies, ""}, method != "GET");
  };
  EXPECT_EQ(check("GET", "/", {}, {}), kNeedPassword);
  EXPECT_EQ(check("GET", "/", {{"token", "f00d"}}, {}), AccessVerdict::TradeToken);
  EXPECT_EQ(check("GET", "/", {{"token", "f00e"}}, {}), kNeedPassword);
  EXPECT_EQ(check("GET", "/api/state", {{"token", "f00d"}}, {}), kNeedPassword);
  EXPECT_EQ(check("POST", "/", {{"token", "f00d"}}, {}), kNeedPassword);
  EXPECT_EQ(check("POST", "/api/command", {}, {{"telvara7200", "f00d"}}), kAllowed);
  EXPECT_EQ(check("GET", "/api/state", {}, {{"telvara7201", "f00d"}}), kNeedPassword);
  EXPECT_EQ(check("GET", "/api/state", {}, {{"telvara7200", "f00"}}), kNeedPassword);
}

using namespace std::chrono_literals;

TEST(GuessDelay, FiveFreeThenOneStepMorePerFailureUpToThirty) {
  GuessDelay delay(1s);
  GuessDelay::TimePoint t0{};
  std::vector<long> waits;
  for (int i = 0; i < 40; ++i) {
    delay.Failed("192.0.2.7", t0);
    waits.push_back(std::chrono::duration_cast<std::chrono::seconds>(delay.NextCheck("192.0.2.7", t0) - t0).count());
  }
  EXPECT_EQ(std::vector<long>(waits.begin(), waits.begin() + 7), (std::vector<long>{0, 0, 0, 0, 1, 2, 3}));
  EXPECT_EQ(waits.back(), 30);
  EXPECT_EQ(delay.NextCheck("192.0.2.8", t0), t0);
  delay.Succeeded("192.0.2.7");
  EXPECT_EQ(delay.NextCheck("192.0.2.7", t0), t0);
}

TEST(ClientLimits, AnIpv6NetworkCountsAsOneAddress) {
  auto key = [](const char* text) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    inet_pton(AF_INET6, text, &a.sin6_addr);
    return ClientLimits::AddressKey(reinterpret_cast<sockaddr*>(&a));
  };
  EXPECT_EQ(key("2001:db8:1:2:aaaa:bbbb:cccc:dddd"), "2001:db8:1:2::/64");
  EXPECT_EQ(key("::ffff:192.0.2.7"), "192.0.2.7");
}

TEST(AccessToken, MadeOnceKeptPrivateAndReplacedWhenDamaged) {
  testing::ScratchDir dir;
  std::string path = dir.Path() + "telvara.token";
  AccessTokenResult made = LoadOrMakeAccessToken(path);
  ASSERT_TRUE(made.error.empty()) << made.error;
  EXPECT_EQ(made.token.size(), 64u);
  chmod(path.c_str(), 0644);
  AccessTokenResult again = LoadOrMakeAccessToken(path);
  EXPECT_TRUE(again.token == made.token && again.notice.empty());
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::ofstream(path) << "not a token\n";
  AccessTokenResult replaced = LoadOrMakeAccessToken(path);
  EXPECT_EQ(replaced.token.size(), 64u);
  EXPECT_NE(replaced.token, made.token);
  EXPECT_NE(replaced.notice.find("replaced"), std::string::npos);
}

}  // namespace
}  // namespace telvara
