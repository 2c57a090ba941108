#include "platform/FileReplace.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/FileDescriptor.h"

namespace telvara {

std::string ReplaceFile(const std::string& path, std::string_view bytes, bool keepMode) {
  std::string temp = path + ".XXXXXX";
  UniqueFileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (!fd.IsValid()) return path + ": cannot write beside it: " + std::strerror(errno);
  auto fail = [&](const std::string& what) {
    std::string error = what + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return error;
  };
  struct stat old {};
  ::fchmod(fd.Get(), keepMode && ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0600);
  while (!bytes.empty()) {
    ssize_t n = ::write(fd.Get(), bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(temp);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  if (::fsync(fd.Get()) != 0 || ::close(fd.Release()) != 0) return fail(temp);
  if (::rename(temp.c_str(), path.c_str()) != 0) return fail(path);
  SyncDirectoryOf(path);
  return "";
}

void SyncDirectoryOf(const std::string& path) {
  // A rename is durable only once the directory is on disk.
  std::size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  UniqueFileDescriptor dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.IsValid()) ::fsync(dirFd.Get());
}

}  // namespace telvara
