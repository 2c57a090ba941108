#include "web/HttpMessage.h"

#include <gtest/gtest.h>

namespace telvara {
namespace {

TEST(HttpRequestParser, CompletesARequestFedByteByByte) {
  std::string text =
      "POST /api/command?x=1 HTTP/1.1\r\nHost: 127.0.0.1:7200\r\nContent-Type: application/json\r\n"
      "Content-Length: 11\r\n\r\n{\"id\":1002}";
  HttpRequestParser parser;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    ASSERT_EQ(parser.Feed(text.substr(i, 1)), ParseResult::Incomplete) << "at byte " << i;
  }
  ASSERT_EQ(parser.Feed(text.substr(text.size() - 1)), ParseResult::Complete);
  const HttpRequest& r = parser.Request();
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.path, "/api/command");
  EXPECT_EQ(r.target, "/api/command?x=1");
  EXPECT_EQ(r.body, "{\"id\":1002}");
  ASSERT_NE(r.Header("content-type"), nullptr);
  EXPECT_EQ(*r.Header("content-type"), "application/json");
  HttpRequestParser bare;  // lines may end in a bare line feed
  ASSERT_EQ(bare.Feed("GET / HTTP/1.1\nHost: localhost\n\n"), ParseResult::Complete);
  EXPECT_EQ(*bare.Request().Header("host"), "localhost");
}

struct BadCase {
  const char* text;
  int status;
};

TEST(HttpRequestParser, RefusesWhatItCannotTrust) {
  const BadCase cases[] = {
      {"GET / HTTP/1.1\r\n\r\n", 400},                        // no Host
      {"GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", 400},  // two Hosts
      {"GET / HTTP/1.1\r\nHost: a\r\n folded\r\n\r\n", 400},  // folding
      {"GET / HTTP/1.1\r\nHost: a\r\nNo colon here\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nHost: a\r\nX: a\x01z\r\n\r\n", 400},  // control byte
      {"GET http://evil/ HTTP/1.1\r\nHost: a\r\n\r\n", 400},    // absolute form
      {"GET  / HTTP/1.1\r\nHost: a\r\n\r\n", 400},              // double space
      {"GET / HTTP/2.0\r\nHost: a\r\n\r\n", 505},
      {"GET / FOO\r\nHost: a\r\n\r\n", 400},
      {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: -1\r\n\r\n", 400},
      {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 1e3\r\n\r\n", 400},
      {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 2\r\nContent-Length: 2\r\n\r\nab", 400},
      {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 99999999999999999999\r\n\r\n", 413},
      {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 65537\r\n\r\n", 413},
      {"POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n", 501},
  };
  for (const BadCase& c : cases) {
    HttpRequestParser parser;
    EXPECT_EQ(parser.Feed(c.text), ParseResult::Bad) << c.text;
    EXPECT_EQ(parser.ErrorStatus(), c.status) << c.text;
  }
}

TEST(HttpRequestParser, StopsAHeadThatNeverEnds) {
  HttpRequestParser parser(1024, 1024);
  ASSERT_EQ(parser.Feed("GET / HTTP/1.1\r\nHost: a\r\n"), ParseResult::Incomplete);
  std::string filler = "X-Filler: " + std::string(200, 'x') + "\r\n";
  ParseResult result = ParseResult::Incomplete;
  for (int i = 0; i < 10 && result == ParseResult::Incomplete; ++i) result = parser.Feed(filler);
  EXPECT_EQ(result, ParseResult::Bad);
  EXPECT_EQ(parser.ErrorStatus(), 431);
  // Once refused it stays refused, whatever follows.
  EXPECT_EQ(parser.Feed("\r\n\r\n"), ParseResult::Bad);
}

}  // namespace
}  // namespace telvara
