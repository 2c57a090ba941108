#include "web/HttpMessage.h"

#include <algorithm>

namespace telvara {

namespace {

bool IsTokenChar(char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view s) { return !s.empty() && std::all_of(s.begin(), s.end(), IsTokenChar); }

bool HasControl(std::string_view s, bool tabAllowed) {
  return std::any_of(s.begin(), s.end(), [tabAllowed](char c) {
    auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && !(tabAllowed && c == '\t')) || u == 0x7f;
  });
}

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Where the head ends (the index just past its blank line), or npos.
std::size_t HeadEnd(const std::string& buffer, std::size_t& blankLength) {
  std::size_t crlf = buffer.find("\r\n\r\n");
  std::size_t lf = buffer.find("\n\n");
  if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) {
    blankLength = 4;
    return crlf;
  }
  blankLength = 2;
  return lf;
}

}  // namespace

const std::string* HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key == name) return &value;
  }
  return nullptr;
}

int HttpRequest::HeaderCount(std::string_view name) const {
  return static_cast<int>(
      std::count_if(headers.begin(), headers.end(), [name](const auto& h) { return h.first == name; }));
}

HttpRequestParser::HttpRequestParser(std::size_t maxHead, std::size_t maxBody) : maxHead_(maxHead), maxBody_(maxBody) {}

ParseResult HttpRequestParser::Fail(int status) {
  errorStatus_ = status;
  state_ = ParseResult::Bad;
  return state_;
}

bool HttpRequestParser::Reject(int status) {
  Fail(status);
  return false;
}

ParseResult HttpRequestParser::Feed(std::string_view bytes) {
  if (state_ != ParseResult::Incomplete) return state_;
  buffer_.append(bytes);
  if (!headDone_) {
    std::size_t blank = 0;
    std::size_t end = HeadEnd(buffer_, blank);
    if (end == std::string::npos) {
      return buffer_.size() > maxHead_ ? Fail(431) : ParseResult::Incomplete;
    }
    if (end > maxHead_) return Fail(431);
    if (!ParseHead(std::string_view(buffer_).substr(0, end))) return state_;
    buffer_.erase(0, end + blank);
    headDone_ = true;
  }
  if (buffer_.size() < bodyLength_) return ParseResult::Incomplete;
  request_.body = buffer_.substr(0, bodyLength_);
  buffer_.clear();
  state_ = ParseResult::Complete;
  return state_;
}

bool HttpRequestParser::ParseHead(std::string_view head) {
  std::vector<std::string_view> lines;
  while (!head.empty()) {
    std::size_t nl = head.find('\n');
    std::string_view line = head.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (nl == std::string_view::npos) break;
    head.remove_prefix(nl + 1);
  }
  if (lines.empty()) return Reject(400);

  // Request line: method SP target SP version, nothing else.
  std::string_view first = lines[0];
  std::size_t sp1 = first.find(' ');
  std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : first.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || first.find(' ', sp2 + 1) != std::string_view::npos) {
    return Reject(400);
  }
  std::string_view method = first.substr(0, sp1);
  std::string_view target = first.substr(sp1 + 1, sp2 - sp1 - 1);
  std::string_view version = first.substr(sp2 + 1);
  if (!IsToken(method) || target.empty() || target.front() != '/' || HasControl(target, false)) {
    return Reject(400);
  }
  if (version != "HTTP/1.1" && version != "HTTP/1.0") {
    return Reject(version.substr(0, 5) == "HTTP/" ? 505 : 400);
  }
  request_.method = method;
  request_.target = target;
  request_.path = target.substr(0, target.find('?'));
  request_.version = version;

  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    // A folded continuation line is obsolete and a known smuggling trick.
    if (line.empty() || line.front() == ' ' || line.front() == '\t') return Reject(400);
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) return Reject(400);
    std::string_view value = Trim(line.substr(colon + 1));
    if (HasControl(value, true)) return Reject(400);
    request_.headers.emplace_back(Lower(line.substr(0, colon)), std::string(value));
  }

  int hosts = request_.HeaderCount("host");
  if (hosts > 1 || (hosts == 0 && version == "HTTP/1.1")) return Reject(400);
  if (request_.Header("transfer-encoding")) return Reject(501);
  int lengths = request_.HeaderCount("content-length");
  if (lengths > 1) return Reject(400);
  if (const std::string* length = request_.Header("content-length")) {
    if (length->empty() || !std::all_of(length->begin(), length->end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return Reject(400);
    }
    // More digits than any allowed size has are too large without overflowing.
    if (length->size() > 12) return Reject(413);
    bodyLength_ = std::stoull(*length);
    if (bodyLength_ > maxBody_) return Reject(413);
  }
  return true;
}

std::string_view StatusText(int status) {
  switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 413: return "Payload Too Large";
    case 415: return "Unsupported Media Type";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Unknown";
  }
}

std::string FormatHead(int status, std::string_view contentType,
                       const std::vector<std::pair<std::string, std::string>>& headers) {
  std::string out = "HTTP/1.1 " + std::to_string(status) + " ";
  out += StatusText(status);
  out += "\r\n";
  if (!contentType.empty()) {
    out += "Content-Type: ";
    out += contentType;
    out += "\r\n";
  }
  for (const auto& [name, value] : headers) out += name + ": " + value + "\r\n";
  out += "Connection: close\r\n";
  return out;
}

std::string FormatResponse(const HttpResponse& response) {
  std::string out = FormatHead(response.status, response.contentType, response.headers);
  out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n\r\n";
  out += response.body;
  return out;
}

}  // namespace telvara
