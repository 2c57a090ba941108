// Only the kernel's termios2 can set a rate without a Bnnn constant.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace telvara {

bool SetCustomBaudRate(int fd, int baud) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~CBAUD;
  tio.c_cflag |= BOTHER;
  tio.c_ispeed = static_cast<speed_t>(baud);
  tio.c_ospeed = static_cast<speed_t>(baud);
  return ioctl(fd, TCSETS2, &tio) == 0;
}

}  // namespace telvara
