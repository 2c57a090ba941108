#pragma once
// Which requests the window's server accepts. Pure rules on a request; any thread may
// call them.
//
// - On a loopback address the Host header must name the loopback too, so a page of
//   another site whose name was rebound to 127.0.0.1 cannot read or drive the window.
// - Every request carries a credential: the access token's cookie (the page trades the
//   token of the printed address for it), or the password by HTTP basic authentication
//   (the user name is not looked at) when one is set.
// - A request that changes something must come from the page's own origin: its Origin
//   (or, without one, its Referer) names the host that the request was sent to.
// - A request a browser marks as made by another site (Sec-Fetch-Site) is refused.
#include <optional>
#include <string>
#include <string_view>

#include "web/HttpMessage.h"

namespace telvara {

enum class AccessVerdict {
  Allowed,
  TradeToken,       // the page's address with the right token: answer with the cookie
  BadHost,          // loopback asked for by another name
  NeedCredentials,  // no token cookie and no password
  WrongPassword,    // a password was offered and it is not the one
  CrossSite,
};

struct AccessRules {
  std::string password;    // empty: no password is taken
  std::string token;       // the access token; empty: every request is taken (tests)
  std::string cookieName;  // the cookie that carries the token
  bool loopbackOnly = true;
  bool tls = false;  // the page's origin is https
};

class WebAccess {
 public:
  explicit WebAccess(AccessRules rules);

  AccessVerdict Check(const HttpRequest& request, bool changesSomething) const;
  // True when Check would decide by the request's password (it carries one, and no
  // token cookie), so that the caller may hold guesses back.
  bool ReliesOnPassword(const HttpRequest& request) const;
  const AccessRules& Rules() const { return rules_; }

  // The host name of a Host header value ("[::1]:7200" gives "::1"), lower case.
  static std::string HostName(std::string_view hostHeader);
  // 127.0.0.0/8, ::1, the IPv4-mapped 127.0.0.0/8 and "localhost".
  static bool IsLoopbackName(std::string_view name);
  // Standard base64; nullopt for anything malformed.
  static std::optional<std::string> DecodeBase64(std::string_view text);

 private:
  bool CookieMatches(const HttpRequest& request) const;
  AccessVerdict Credentials(const HttpRequest& request, bool changesSomething) const;
  bool SameOrigin(const HttpRequest& request) const;

  AccessRules rules_;
};

}  // namespace telvara
