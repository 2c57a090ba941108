#include "web/OwnAddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace telvara {

std::vector<std::string> OwnAddresses(bool withIpv6) {
  std::vector<std::string> found;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return found;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || !(a->ifa_flags & IFF_UP) || (a->ifa_flags & IFF_LOOPBACK)) continue;
    char text[INET6_ADDRSTRLEN] = "";
    if (a->ifa_addr->sa_family == AF_INET) {
      inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text);
    } else if (withIpv6 && a->ifa_addr->sa_family == AF_INET6) {
      auto* in6 = reinterpret_cast<sockaddr_in6*>(a->ifa_addr);
      if (IN6_IS_ADDR_LINKLOCAL(&in6->sin6_addr)) continue;
      inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    }
    if (*text) found.emplace_back(text);
  }
  freeifaddrs(list);
  return found;
}

}  // namespace telvara
