#include "web/WebAccess.h"

#include <arpa/inet.h>

#include <algorithm>

namespace telvara {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

// Compares without stopping at the first difference, so the time taken does not tell
// how much of a guessed password was right.
bool EqualConstantTime(std::string_view a, std::string_view b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
  }
  return diff == 0;
}

}  // namespace

WebAccess::WebAccess(AccessRules rules) : rules_(std::move(rules)) {}

std::string WebAccess::HostName(std::string_view host) {
  if (!host.empty() && host.front() == '[') {
    std::size_t close = host.find(']');
    if (close == std::string_view::npos) return {};
    return Lower(host.substr(1, close - 1));
  }
  return Lower(host.substr(0, host.find(':')));
}

bool WebAccess::IsLoopbackName(std::string_view name) {
  if (name == "localhost") return true;
  in_addr v4;
  std::string text(name);
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
    return (ntohl(v4.s_addr) >> 24) == 127;
  }
  in6_addr v6;
  if (inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
    return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
  }
  return false;
}

std::optional<std::string> WebAccess::DecodeBase64(std::string_view text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    bool last = i + 4 == text.size();
    int pad = 0;
    if (last && text[i + 3] == '=') pad = text[i + 2] == '=' ? 2 : 1;
    unsigned bits = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      int v = k >= 4u - static_cast<unsigned>(pad) ? 0 : value(text[i + k]);
      if (v < 0) return std::nullopt;
      bits = (bits << 6) | static_cast<unsigned>(v);
    }
    out.push_back(static_cast<char>((bits >> 16) & 0xff));
    if (pad < 2) out.push_back(static_cast<char>((bits >> 8) & 0xff));
    if (pad < 1) out.push_back(static_cast<char>(bits & 0xff));
  }
  return out;
}

bool WebAccess::CookieMatches(const HttpRequest& request) const {
  const std::string* cookie = request.Cookie(rules_.cookieName);
  return !rules_.token.empty() && cookie && EqualConstantTime(*cookie, rules_.token);
}

bool WebAccess::ReliesOnPassword(const HttpRequest& request) const {
  return !rules_.password.empty() && request.Header("authorization") && !CookieMatches(request);
}

AccessVerdict WebAccess::Credentials(const HttpRequest& request, bool changesSomething) const {
  if (!rules_.token.empty()) {
    if (CookieMatches(request)) return AccessVerdict::Allowed;
    const std::string* token = request.Query("token");
    if (token && !changesSomething && request.path == "/" && EqualConstantTime(*token, rules_.token)) {
      return AccessVerdict::TradeToken;
    }
  }
  if (rules_.password.empty()) return rules_.token.empty() ? AccessVerdict::Allowed : AccessVerdict::NeedCredentials;
  const std::string* auth = request.Header("authorization");
  if (!auth) return AccessVerdict::NeedCredentials;
  std::string_view value = *auth;
  std::size_t space = value.find(' ');
  if (space == std::string_view::npos || Lower(value.substr(0, space)) != "basic") return AccessVerdict::WrongPassword;
  std::string_view encoded = value.substr(space + 1);
  while (!encoded.empty() && encoded.front() == ' ') encoded.remove_prefix(1);
  std::optional<std::string> decoded = DecodeBase64(encoded);
  std::size_t colon = decoded ? decoded->find(':') : std::string::npos;
  if (colon == std::string::npos) return AccessVerdict::WrongPassword;
  return EqualConstantTime(std::string_view(*decoded).substr(colon + 1), rules_.password)
             ? AccessVerdict::Allowed
             : AccessVerdict::WrongPassword;
}

bool WebAccess::SameOrigin(const HttpRequest& request) const {
  const std::string* host = request.Header("host");
  if (!host || host->empty()) return false;
  std::string own = (rules_.tls ? "https://" : "http://") + Lower(*host);
  if (const std::string* origin = request.Header("origin")) return Lower(*origin) == own;
  if (const std::string* referer = request.Header("referer")) {
    std::string ref = Lower(*referer);
    return ref == own || ref.rfind(own + "/", 0) == 0;
  }
  return false;
}

AccessVerdict WebAccess::Check(const HttpRequest& request, bool changesSomething) const {
  if (rules_.loopbackOnly) {
    const std::string* host = request.Header("host");
    if (!host || !IsLoopbackName(HostName(*host))) return AccessVerdict::BadHost;
  }
  AccessVerdict credentials = Credentials(request, changesSomething);
  if (credentials != AccessVerdict::Allowed && credentials != AccessVerdict::TradeToken) return credentials;
  if (changesSomething && !SameOrigin(request)) return AccessVerdict::CrossSite;
  // A browser says when another site makes the request (an event stream opened from a
  // foreign page could hold the window's connections); only the page itself, or the
  // user typing or clicking the address, may read.
  const std::string* site = request.Header("sec-fetch-site");
  if (site && *site != "same-origin" && *site != "none") return AccessVerdict::CrossSite;
  return credentials;
}

}  // namespace telvara
