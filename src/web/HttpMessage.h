#pragma once
// HTTP/1.1 requests as the window's server reads them, and the responses it writes.
// The parser takes the bytes of one connection as they arrive; every connection
// thread has its own parser. Only what the page needs is accepted: a request line,
// headers, and a body sized by Content-Length (no chunked request bodies).
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace telvara {

struct HttpRequest {
  std::string method;
  std::string target;  // as sent: path and query
  std::string path;    // the target without its query
  std::string version;
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
  std::string body;

  // The value of the first header of that (lower-case) name, or nullptr.
  const std::string* Header(std::string_view name) const;
  int HeaderCount(std::string_view name) const;
};

enum class ParseResult { Incomplete, Complete, Bad };

class HttpRequestParser {
 public:
  explicit HttpRequestParser(std::size_t maxHead = 16 * 1024, std::size_t maxBody = 64 * 1024);

  // Adds bytes and tries to complete the request. After Complete or Bad, further
  // bytes are ignored.
  ParseResult Feed(std::string_view bytes);
  const HttpRequest& Request() const { return request_; }
  // The status to answer a Bad request with (400, 413, 431, 501 or 505).
  int ErrorStatus() const { return errorStatus_; }

 private:
  ParseResult Fail(int status);
  bool Reject(int status);  // Fail, for the head's checks
  bool ParseHead(std::string_view head);

  std::size_t maxHead_;
  std::size_t maxBody_;
  std::string buffer_;
  bool headDone_ = false;
  std::size_t bodyLength_ = 0;
  ParseResult state_ = ParseResult::Incomplete;
  int errorStatus_ = 0;
  HttpRequest request_;
};

struct HttpResponse {
  int status = 200;
  std::string contentType;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // beside the standard ones
};

// The reason phrase of a status code ("Not Found").
std::string_view StatusText(int status);
// The status line and headers of a response whose body follows until the connection
// closes (event streams): no Content-Length.
std::string FormatHead(int status, std::string_view contentType,
                       const std::vector<std::pair<std::string, std::string>>& headers);
// A whole response with its Content-Length; the connection closes after it.
std::string FormatResponse(const HttpResponse& response);

}  // namespace telvara
