#include "platform/SerialPort.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Profile.h"

namespace telvara {
namespace {

speed_t StandardSpeed(int baud) {
  switch (baud) {
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return 0;
  }
}

std::string Errno(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

PortOpenResult SerialPort::Open(const std::string& path, int baud, const std::string& lockDir) {
  PortOpenResult result;
  if (path.empty()) {
    result.error = "no device for this port";
    return result;
  }
  // The lock first: opening a device in use would already disturb its DTR line.
  SerialLockResult locked = AcquireSerialLock(path, lockDir);
  if (!locked.refusal.empty()) {
    result.error = locked.refusal;
    return result;
  }
  UniqueFileDescriptor fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.IsValid()) {
    result.error = Errno("cannot open", path);
    return result;
  }
  if (!isatty(fd.Get())) {
    result.error = path + " is not a serial device";
    return result;
  }
  // Exclusive: a second open of the device by anyone but root fails.
  if (ioctl(fd.Get(), TIOCEXCL) != 0) {
    result.error = Errno("cannot lock", path);
    return result;
  }
  // Any failure from here on gives the device up again.
  struct Unlock {
    int fd;
    bool armed = true;
    ~Unlock() {
      if (armed) ioctl(fd, TIOCNXCL);
    }
  } unlock{fd.Get()};
  termios tio{};
  if (tcgetattr(fd.Get(), &tio) != 0) {
    result.error = Errno("cannot read the line settings of", path);
    return result;
  }
  cfmakeraw(&tio);
  // No software flow control: XON/XOFF bytes would be taken out of, or put into, voice.
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
  // HUPCL: should the program die, the last close drops DTR and the modem hangs up.
  tio.c_cflag |= CS8 | CREAD | CLOCAL | CRTSCTS | HUPCL;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  speed_t speed = StandardSpeed(baud);
  if (speed != 0) {
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
  }
  if (tcsetattr(fd.Get(), TCSANOW, &tio) != 0) {
    result.error = Errno("the device refused the line settings:", path);
    return result;
  }
  if (speed == 0 && !SetCustomBaudRate(fd.Get(), baud)) {
    result.error = Errno("the device refused the baud rate " + std::to_string(baud) + ":", path);
    return result;
  }
  unlock.armed = false;
  auto port = std::unique_ptr<SerialPort>(new SerialPort(std::move(fd), std::move(locked.lock)));
  port->SetDtr(true);  // a pseudo-terminal has no DTR; that is no failure
  result.stream = std::move(port);
  result.notice = locked.notice;
  return result;
}

// A pseudo-terminal keeps exclusive mode after its last close; clear it so that the
// device can be opened again (by us after a restart, or by another program).
SerialPort::~SerialPort() { ioctl(fd_.Get(), TIOCNXCL); }

long SerialPort::Read(void* buffer, std::size_t max) {
  if (max == 0) return 0;
  ssize_t n = ::read(fd_.Get(), buffer, max);
  // With VMIN and VTIME 0 a terminal with nothing waiting reads 0 (or EAGAIN); a
  // hung-up line reads 0 too, and PollWaiter reports the hang-up (POLLHUP) instead.
  if (n >= 0) return n;
  if (errno == EAGAIN || errno == EINTR) return 0;
  // The slave side of a closed pseudo-terminal reads EIO: no data, and an error.
  return -1;
}

long SerialPort::Write(const void* data, std::size_t count) {
  if (count == 0) return 0;
  ssize_t n = ::write(fd_.Get(), data, count);
  if (n >= 0) return n;
  if (errno == EAGAIN || errno == EINTR) return 0;
  return -1;
}

int SerialPort::InputQueued() {
  int n = 0;
  return ioctl(fd_.Get(), TIOCINQ, &n) == 0 ? n : -1;
}

int SerialPort::OutputQueued() {
  int n = 0;
  return ioctl(fd_.Get(), TIOCOUTQ, &n) == 0 ? n : -1;
}

bool SerialPort::SetDtr(bool raised) {
  int bits = TIOCM_DTR;
  return ioctl(fd_.Get(), raised ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

std::string SerialDevicePath(const Profile& profile, int port) {
  std::string mapped = profile.GetString("PORTS", "COM" + std::to_string(port), "");
  if (!mapped.empty()) return mapped;
  if (port < 1) return "";
  return "/dev/ttyS" + std::to_string(port - 1);
}

PortOpener MakeSerialPortOpener(const Profile& profile) {
  return [&profile](int port, int baud) {
    std::string path = SerialDevicePath(profile, port);
    PortOpenResult r = SerialPort::Open(path, baud);
    if (!r.stream && path.empty()) r.error = "COM" + std::to_string(port) + " names no device";
    return r;
  };
}

}  // namespace telvara
