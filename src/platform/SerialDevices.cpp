#include "platform/SerialDevices.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/FileDescriptor.h"

namespace telvara {

namespace {

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return names;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] != '.') names.emplace_back(e->d_name);
  }
  ::closedir(d);
  return names;
}

// "ttyS10" after "ttyS9": the prefix, then the number.
bool NumberedBefore(const std::string& a, const std::string& b) {
  std::size_t da = a.find_first_of("0123456789"), db = b.find_first_of("0123456789");
  if (a.substr(0, da) != b.substr(0, db)) return a < b;
  long na = da == std::string::npos ? -1 : std::strtol(a.c_str() + da, nullptr, 10);
  long nb = db == std::string::npos ? -1 : std::strtol(b.c_str() + db, nullptr, 10);
  return na != nb ? na < nb : a < b;
}

bool HasPrefixAndNumber(const std::string& name, const char* prefix) {
  std::size_t n = std::strlen(prefix);
  return name.size() > n && name.compare(0, n, prefix) == 0 &&
         name.find_first_not_of("0123456789", n) == std::string::npos;
}

// A ttyS port with a UART: one in use (held exclusively, by us say) counts too.
bool IsRealPort(const std::string& path) {
  UniqueFileDescriptor fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.IsValid()) return errno == EBUSY;
  serial_struct info{};
  return ::ioctl(fd.Get(), TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
}

}  // namespace

std::vector<std::string> FindSerialDevices(const std::string& devDir) {
  std::string dev = devDir.empty() || devDir.back() != '/' ? devDir + "/" : devDir;
  std::vector<std::string> found;
  std::vector<std::string> byId = Entries(dev + "serial/by-id");
  std::sort(byId.begin(), byId.end());
  for (const std::string& name : byId) found.push_back(dev + "serial/by-id/" + name);

  std::vector<std::string> ttys = Entries(dev);
  std::sort(ttys.begin(), ttys.end(), NumberedBefore);
  for (const char* prefix : {"ttyACM", "ttyUSB", "ttyS"}) {
    for (const std::string& name : ttys) {
      if (!HasPrefixAndNumber(name, prefix)) continue;
      if (std::strcmp(prefix, "ttyS") == 0 && !IsRealPort(dev + name)) continue;
      found.push_back(dev + name);
    }
  }
  if (found.size() > kMaxSerialDevices) found.resize(kMaxSerialDevices);
  return found;
}

}  // namespace telvara
