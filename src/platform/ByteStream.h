#pragma once
// The modem transport as the driver sees it: a byte stream with queue counts and DTR.
// A real serial port, a pseudo-terminal and the in-process simulated modem all fit.
// Called only from the engine thread.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace telvara {

class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Never blocks: the bytes already waiting, up to max; 0 when none; -1 on an error.
  virtual long Read(void* buffer, std::size_t max) = 0;
  // Never blocks: how many bytes were taken (0 when the output is full); -1 on an error.
  virtual long Write(const void* data, std::size_t count) = 0;
  // Bytes waiting to be read / still queued for output; -1 when the query fails.
  virtual int InputQueued() = 0;
  virtual int OutputQueued() = 0;
  virtual bool SetDtr(bool raised) = 0;
  // A descriptor that poll() can watch, or -1 for a stream that lives in-process.
  virtual int PollFd() const = 0;
};

// Opens the modem for "COM<port>" at a baud rate; the error text says why it failed,
// the notice what was missed on the way to an open port (no lock file, say).
struct PortOpenResult {
  std::unique_ptr<ByteStream> stream;
  std::string error;
  std::string notice;
};
using PortOpener = std::function<PortOpenResult(int port, int baud)>;

}  // namespace telvara
