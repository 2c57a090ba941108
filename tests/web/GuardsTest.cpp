// The server's guards that need no sockets: the guessing delay, how addresses are
// counted, and the access token's file.
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
  EXPECT_EQ(key("2001:db8:1:2::7"), "2001:db8:1:2::/64");
  EXPECT_EQ(key("2001:db8:1:2:aaaa:bbbb:cccc:dddd"), "2001:db8:1:2::/64");
  EXPECT_EQ(key("::ffff:192.0.2.7"), "192.0.2.7");
  ClientLimits limits(2, 1);
  limits.Connected("a");
  limits.Connected("a");
  EXPECT_FALSE(limits.MayConnect("a"));
  EXPECT_TRUE(limits.MayConnect("b"));
  limits.StreamStarted("a");  // a connection becomes a stream: counted apart
  EXPECT_TRUE(limits.MayConnect("a"));
  EXPECT_FALSE(limits.MayStream("a"));
  limits.Closed("a", true);
  EXPECT_TRUE(limits.MayStream("a"));
}

TEST(AccessToken, MadeOnceKeptPrivateAndReplacedWhenDamaged) {
  testing::ScratchDir dir;
  std::string path = dir.Path() + "telvara.token";
  AccessTokenResult made = LoadOrMakeAccessToken(path);
  ASSERT_TRUE(made.error.empty()) << made.error;
  EXPECT_EQ(made.token.size(), 64u);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  chmod(path.c_str(), 0644);
  AccessTokenResult again = LoadOrMakeAccessToken(path);
  EXPECT_EQ(again.token, made.token);
  EXPECT_TRUE(again.notice.empty());
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
