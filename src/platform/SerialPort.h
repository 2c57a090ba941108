#pragma once
// A serial device (or pseudo-terminal) as the modem's ByteStream: raw 8N1, RTS/CTS
// flow control, exclusive open under the device's lock file, non-blocking reads and writes, queue counts by
// TIOCINQ/TIOCOUTQ and DTR by TIOCMBIS/TIOCMBIC. Engine thread only.
#include <string>

#include "platform/ByteStream.h"
#include "platform/FileDescriptor.h"
#include "platform/SerialLock.h"

namespace telvara {

class Profile;

class SerialPort final : public ByteStream {
 public:
  // Takes the device's lock file in lockDir, then opens and configures the device; on
  // failure the result holds no stream and says why.
  static PortOpenResult Open(const std::string& path, int baud, const std::string& lockDir = DefaultLockDirectory());
  ~SerialPort() override;

  long Read(void* buffer, std::size_t max) override;
  long Write(const void* data, std::size_t count) override;
  int InputQueued() override;
  int OutputQueued() override;
  bool SetDtr(bool raised) override;
  int PollFd() const override { return fd_.Get(); }

 private:
  SerialPort(UniqueFileDescriptor fd, SerialLock lock) : lock_(std::move(lock)), fd_(std::move(fd)) {}
  SerialLock lock_;  // declared first: released after the device is closed
  UniqueFileDescriptor fd_;
};

// "COM<n>" names the device of key COM<n> in section [PORTS] of the profile, else
// /dev/ttyS<n-1>. An empty string when n cannot name a device.
std::string SerialDevicePath(const Profile& profile, int port);

// The opener the program gives the driver: the [PORTS] mapping, then SerialPort::Open.
PortOpener MakeSerialPortOpener(const Profile& profile);

// Sets a rate that has no Bnnn constant (56000, 128000, 256000); in its own file
// because the kernel header it needs clashes with <termios.h>.
bool SetCustomBaudRate(int fd, int baud);

}  // namespace telvara
