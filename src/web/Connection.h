#pragma once
// One accepted socket of the window's server. Only the thread that serves the
// connection calls it. Every wait blocks in poll() on the socket and the server's stop
// descriptor (readable once the server stops) up to a deadline, so a stalled client
// cannot hold the thread and Stop() reaches every connection at once.
#include <chrono>
#include <string>
#include <string_view>

#include "platform/FileDescriptor.h"

namespace telvara {

enum class IoResult { Done, TimedOut, Stopped, Closed };

class Connection {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  Connection(UniqueFileDescriptor socket, FileDescriptor stop);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Appends what has arrived (at least one byte) to `into`, waiting until `until`.
  // Closed: the peer closed or the socket failed.
  IoResult ReadSome(std::string& into, TimePoint until);
  // Writes everything; gives up when no byte could be written for `idle`.
  IoResult WriteAll(std::string_view data, std::chrono::milliseconds idle);
  // Ends an answered connection whose request was not read to its end: stops sending
  // and drains what the peer still sends for a moment, so that closing with unread
  // input does not reset the connection before the peer has read the answer.
  void Linger();
  // True when the peer has gone (hung up or reset); does not block.
  bool PeerGone() const;

 private:
  // Waits for `events` on the socket; Done when ready.
  IoResult Wait(short events, TimePoint until) const;

  UniqueFileDescriptor socket_;
  FileDescriptor stop_;
};

}  // namespace telvara
