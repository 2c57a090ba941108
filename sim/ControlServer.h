#pragma once
// The simulator's control socket: a Unix stream socket on which scenario steps arrive
// one a line; each line is answered "ok" or "error: <why>". A few clients at a time,
// lines and replies bounded, so a stuck or hostile client cannot grow memory or stall
// the simulator. Single-threaded: the simulator's poll loop calls it.
#include <poll.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/FileDescriptor.h"

namespace telvara::sim {

class ControlServer {
 public:
  static constexpr size_t kMaxClients = 8;
  static constexpr size_t kMaxLine = 4096;
  static constexpr size_t kMaxReplyBacklog = 64 * 1024;

  // Gives the reply for one line (without its newline).
  using LineHandler = std::function<std::string(const std::string& line)>;

  ~ControlServer();
  // Listens at `path`. A stale socket left there is replaced; anything else, or a
  // socket someone is still listening on, is refused.
  bool Listen(const std::string& path, std::string& error);
  void SetHandler(LineHandler handler) { handler_ = std::move(handler); }

  // Adds its descriptors to the poll set, and handles what poll reported for them.
  void AddPollFds(std::vector<pollfd>& fds) const;
  void HandlePoll(const std::vector<pollfd>& fds);

 private:
  struct Client {
    UniqueFileDescriptor fd;
    std::string in;
    std::string out;
    bool closing = false;  // close once the replies are out
  };
  void Accept();
  void ReadFrom(Client& c);
  void WriteTo(Client& c);

  UniqueFileDescriptor listen_;
  std::string path_;
  std::vector<Client> clients_;
  LineHandler handler_;
};

}  // namespace telvara::sim
