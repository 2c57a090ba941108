#include "web/WebAccess.h"

#include <gtest/gtest.h>

namespace telvara {
namespace {

HttpRequest Request(std::vector<std::pair<std::string, std::string>> headers) {
  HttpRequest r;
  r.method = "POST";
  r.path = r.target = "/api/command";
  r.version = "HTTP/1.1";
  r.headers = std::move(headers);
  return r;
}

TEST(WebAccess, HostNamesAndLoopback) {
  EXPECT_EQ(WebAccess::HostName("[::1]:7200"), "::1");
  EXPECT_EQ(WebAccess::HostName("LocalHost:80"), "localhost");
  EXPECT_EQ(WebAccess::HostName("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(WebAccess::HostName("[::1"), "");
  EXPECT_TRUE(WebAccess::IsLoopbackName("127.1.2.3"));
  EXPECT_TRUE(WebAccess::IsLoopbackName("::1"));
  EXPECT_TRUE(WebAccess::IsLoopbackName("localhost"));
  EXPECT_FALSE(WebAccess::IsLoopbackName("127.0.0.1.evil.example"));
  EXPECT_FALSE(WebAccess::IsLoopbackName("evil.localhost.example"));
  EXPECT_FALSE(WebAccess::IsLoopbackName("128.0.0.1"));
  EXPECT_FALSE(WebAccess::IsLoopbackName(""));
}

TEST(WebAccess, Base64) {
  EXPECT_EQ(WebAccess::DecodeBase64("dXNlcjpzZXNhbWU="), "user:sesame");
  EXPECT_EQ(WebAccess::DecodeBase64("OmE6Yg=="), ":a:b");
  EXPECT_EQ(WebAccess::DecodeBase64(""), "");
  for (const char* bad : {"abc", "ab=c", "!!!!", "a===", "YQ==YQ=="}) {
    EXPECT_FALSE(WebAccess::DecodeBase64(bad).has_value()) << bad;
  }
}

TEST(WebAccess, RebindingHostIsRefusedOnLoopback) {
  WebAccess access("", true);
  HttpRequest get = Request({{"host", "evil.example:7200"}});
  EXPECT_EQ(access.Check(get, false), AccessVerdict::BadHost);
  get.headers = {{"host", "localhost:7200"}};
  EXPECT_EQ(access.Check(get, false), AccessVerdict::Allowed);
  // Listening on every interface with a password, any name the user types is fine.
  WebAccess open("pw", false);
  HttpRequest named = Request({{"host", "phone-pc:7200"}, {"authorization", "Basic eDpwdw=="}});
  EXPECT_EQ(open.Check(named, false), AccessVerdict::Allowed);
}

TEST(WebAccess, PasswordComparesAfterTheFirstColonOnly) {
  WebAccess access("a:b", true);
  // ":a:b" is an empty user name with the password "a:b".
  HttpRequest r = Request({{"host", "127.0.0.1"}, {"authorization", "basic OmE6Yg=="}});
  EXPECT_EQ(access.Check(r, false), AccessVerdict::Allowed);
  for (const char* bad : {"Basic YTpi", "Bearer OmE6Yg==", "Basic", "Basic OmE6YmM=", "Basic OmE="}) {
    r.headers = {{"host", "127.0.0.1"}, {"authorization", bad}};
    EXPECT_EQ(access.Check(r, false), AccessVerdict::NeedPassword) << bad;
  }
}

TEST(WebAccess, ChangesComeOnlyFromTheOwnOrigin) {
  WebAccess access("", true);
  auto check = [&](std::vector<std::pair<std::string, std::string>> headers) {
    headers.emplace_back("host", "127.0.0.1:7200");
    return access.Check(Request(std::move(headers)), true);
  };
  EXPECT_EQ(check({{"origin", "http://127.0.0.1:7200"}}), AccessVerdict::Allowed);
  EXPECT_EQ(check({{"origin", "HTTP://127.0.0.1:7200"}}), AccessVerdict::Allowed);
  EXPECT_EQ(check({{"referer", "http://127.0.0.1:7200/"}}), AccessVerdict::Allowed);
  EXPECT_EQ(check({}), AccessVerdict::CrossSite);
  EXPECT_EQ(check({{"origin", "null"}}), AccessVerdict::CrossSite);
  EXPECT_EQ(check({{"origin", "http://127.0.0.1:7201"}}), AccessVerdict::CrossSite);
  EXPECT_EQ(check({{"origin", "https://127.0.0.1:7200"}}), AccessVerdict::CrossSite);
  EXPECT_EQ(check({{"referer", "http://127.0.0.1:7200.evil.example/"}}), AccessVerdict::CrossSite);
  // An Origin that is wrong is not saved by a Referer that is right.
  EXPECT_EQ(check({{"origin", "http://evil.example"}, {"referer", "http://127.0.0.1:7200/"}}),
            AccessVerdict::CrossSite);
}

TEST(WebAccess, ReadsMarkedAsAnotherSitesAreRefused) {
  WebAccess access("", true);
  auto read = [&](const char* site) {
    return access.Check(Request({{"host", "127.0.0.1:7200"}, {"sec-fetch-site", site}}), false);
  };
  EXPECT_EQ(read("same-origin"), AccessVerdict::Allowed);
  EXPECT_EQ(read("none"), AccessVerdict::Allowed);
  EXPECT_EQ(read("cross-site"), AccessVerdict::CrossSite);
  EXPECT_EQ(read("same-site"), AccessVerdict::CrossSite);
  EXPECT_EQ(access.Check(Request({{"host", "127.0.0.1:7200"}}), false), AccessVerdict::Allowed);
}

}  // namespace
}  // namespace telvara
