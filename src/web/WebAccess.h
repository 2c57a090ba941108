#pragma once
// Which requests the window's server accepts. Pure rules on a parsed request; any
// thread may call them.
//
// - On a loopback address the Host header must name the loopback too, so a page of
//   another site whose name was rebound to 127.0.0.1 cannot read or drive the window.
// - With a password, every request carries it by HTTP basic authentication (the user
//   name is not looked at).
// - A request that changes something must come from the page's own origin: its Origin
//   (or, without one, its Referer) names the host that the request was sent to.
// - A request a browser marks as made by another site (Sec-Fetch-Site) is refused.
#include <optional>
#include <string>
#include <string_view>

#include "web/HttpMessage.h"

namespace telvara {

enum class AccessVerdict { Allowed, BadHost, NeedPassword, CrossSite };

class WebAccess {
 public:
  WebAccess(std::string password, bool loopbackOnly);

  AccessVerdict Check(const HttpRequest& request, bool changesSomething) const;

  // The host name of a Host header value ("[::1]:7200" gives "::1"), lower case.
  static std::string HostName(std::string_view hostHeader);
  static bool IsLoopbackName(std::string_view name);
  // Standard base64; nullopt for anything malformed.
  static std::optional<std::string> DecodeBase64(std::string_view text);

 private:
  bool PasswordMatches(const HttpRequest& request) const;
  static bool SameOrigin(const HttpRequest& request);

  std::string password_;
  bool loopbackOnly_;
};

}  // namespace telvara
