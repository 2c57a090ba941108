#pragma once
// The addresses of this machine that a browser elsewhere can open. Any thread.
#include <string>
#include <vector>

namespace telvara {

// IPv4 addresses of the interfaces that are up, loopback left out; with `withIpv6`
// the global IPv6 ones too (a link-local one needs a zone that no URL carries).
std::vector<std::string> OwnAddresses(bool withIpv6);

}  // namespace telvara
