#pragma once
// How many connections each client address may hold, so that one address cannot take
// the server from the others: connections (idle or with a request under way) and event
// streams are counted apart. An IPv6 address counts by its /64 network, which one
// machine commonly has whole. Only the server's thread calls it, except Streams().
#include <sys/socket.h>

#include <atomic>
#include <string>
#include <unordered_map>

namespace telvara {

struct LimitCounts {
  int connections = 0;
  int streams = 0;
};

class ClientLimits {
 public:
  ClientLimits(int connectionsPerAddress, int streamsPerAddress);

  // The key an address counts under: "192.0.2.7", "2001:db8:1:2::/64". An IPv4-mapped
  // IPv6 address counts as its IPv4 address.
  static std::string AddressKey(const sockaddr* address);

  bool MayConnect(const std::string& key) const;
  void Connected(const std::string& key);
  // A connection becomes an event stream; false when the address has all its streams
  // already (the caller ends one of them first).
  bool MayStream(const std::string& key) const;
  void StreamStarted(const std::string& key);
  // `stream`: the connection had become an event stream.
  void Closed(const std::string& key, bool stream);

  LimitCounts For(const std::string& key) const;
  // Any thread: event streams open in all.
  int Streams() const { return streams_.load(); }

 private:
  int connectionsPerAddress_;
  int streamsPerAddress_;
  std::unordered_map<std::string, LimitCounts> counts_;
  std::atomic<int> streams_{0};
};

}  // namespace telvara
