#include "web/ClientLimits.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace telvara {

ClientLimits::ClientLimits(int connectionsPerAddress, int streamsPerAddress)
    : connectionsPerAddress_(connectionsPerAddress), streamsPerAddress_(streamsPerAddress) {}

std::string ClientLimits::AddressKey(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address && address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    return text;
  }
  if (address && address->sa_family == AF_INET6) {
    in6_addr a = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a)) {
      inet_ntop(AF_INET, &a.s6_addr[12], text, sizeof text);
      return text;
    }
    std::memset(&a.s6_addr[8], 0, 8);
    inet_ntop(AF_INET6, &a, text, sizeof text);
    return std::string(text) + "/64";
  }
  return "unknown";
}

bool ClientLimits::MayConnect(const std::string& key) const { return For(key).connections < connectionsPerAddress_; }

void ClientLimits::Connected(const std::string& key) { counts_[key].connections += 1; }

bool ClientLimits::MayStream(const std::string& key) const { return For(key).streams < streamsPerAddress_; }

void ClientLimits::StreamStarted(const std::string& key) {
  LimitCounts& c = counts_[key];
  c.connections -= 1;
  c.streams += 1;
  streams_.fetch_add(1);
}

void ClientLimits::Closed(const std::string& key, bool stream) {
  auto it = counts_.find(key);
  if (it == counts_.end()) return;
  if (stream) {
    it->second.streams -= 1;
    streams_.fetch_sub(1);
  } else {
    it->second.connections -= 1;
  }
  if (it->second.connections <= 0 && it->second.streams <= 0) counts_.erase(it);
}

LimitCounts ClientLimits::For(const std::string& key) const {
  auto it = counts_.find(key);
  return it == counts_.end() ? LimitCounts{} : it->second;
}

}  // namespace telvara
