#pragma once
// The simulator's end of a pseudo-terminal: the master in raw mode, plus a descriptor
// of the slave that the simulator holds itself, so that the master never reports a
// hang-up while no host has the device open (poll would otherwise wake for ever).
// Whether a host has the device open is followed with inotify on the slave; a host
// closing the device stands for DTR dropping. On each close the line is made ready for
// the next host: data left in it is flushed and exclusive mode (which a host's
// TIOCEXCL leaves set) is cleared. Single-threaded: the simulator's loop.
#include <string>

#include "platform/FileDescriptor.h"

namespace telvara::sim {

class PtyLine {
 public:
  // Creates the pseudo-terminal; false and a reason on failure.
  bool Open(std::string& error);
  // Closes it: a host that still has the device open sees it hang up (as a USB modem
  // pulled out). Open makes a new one.
  void Close();
  bool IsOpen() const { return master_.IsValid(); }
  const std::string& SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_.Get(); }
  // -1 when inotify is not available: hosts are then taken as always present.
  int NotifyFd() const { return notify_.Get(); }

  enum class HostChange { None, Opened, Closed };
  // Reads the open/close notifications; says whether the host came or went.
  HostChange TakeNotifications();
  bool HostPresent() const { return IsOpen() && (opens_ > 0 || !notify_.IsValid()); }

  // Non-blocking; 0 when nothing can be moved now, -1 on an error.
  long Read(void* buffer, size_t max);
  long Write(const void* data, size_t count);
  // After a host closed the device: drop what is left in the line both ways and clear
  // exclusive mode.
  void ResetForNextHost();

 private:
  UniqueFileDescriptor master_;
  UniqueFileDescriptor slave_;
  UniqueFileDescriptor notify_;
  std::string slavePath_;
  int opens_ = 0;
};

}  // namespace telvara::sim
