#include "platform/SerialLock.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

#include "platform/FileDescriptor.h"

namespace telvara {
namespace {

// The lock files this process holds: a lock naming our own PID is ours only if listed
// here; otherwise an earlier run of this process image (before an exec) left it.
std::mutex heldMutex;
std::set<std::string>& HeldPaths() {
  static std::set<std::string> paths;
  return paths;
}

bool HeldHere(const std::string& path) {
  std::lock_guard<std::mutex> guard(heldMutex);
  return HeldPaths().count(path) != 0;
}

void SetHeldHere(const std::string& path, bool held) {
  std::lock_guard<std::mutex> guard(heldMutex);
  if (held)
    HeldPaths().insert(path);
  else
    HeldPaths().erase(path);
}

std::string Why() { return std::strerror(errno); }

// The PID of an ASCII lock ("%10d\n"; blanks around the digits allowed); 0 for
// anything else.
pid_t ParsePid(const char* text, std::size_t size) {
  std::size_t i = 0;
  while (i < size && (text[i] == ' ' || text[i] == '\t')) ++i;
  long long pid = 0;
  std::size_t digits = 0;
  for (; i < size && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    pid = pid * 10 + (text[i] - '0');
    if (pid > INT_MAX) return 0;
  }
  while (i < size && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
  if (digits == 0 || i != size) return 0;
  return static_cast<pid_t>(pid);
}

// The PID in an open lock file; 0 when it holds none (or cannot be read).
pid_t ReadPid(int fd) {
  char text[64];
  ssize_t n = pread(fd, text, sizeof text, 0);
  if (n <= 0 || n == static_cast<ssize_t>(sizeof text)) return 0;
  return ParsePid(text, static_cast<std::size_t>(n));
}

bool Alive(pid_t pid, const std::string& path) {
  if (pid <= 0) return false;
  if (pid == getpid()) return HeldHere(path);
  return kill(pid, 0) == 0 || errno == EPERM;
}

std::string InUse(pid_t pid, const std::string& path) {
  return "Modem in use by process " + std::to_string(pid) + " (lock file " + path + ")";
}

std::string WithoutSlash(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string NoLock(const std::string& why) {
  return "Modem not locked: " + why + "; only the exclusive open guards it";
}

enum class Made { Linked, Exists, Failed };

// Writes our PID into a fresh file of the lock folder and links it to the lock's
// name, so that no reader ever sees a half-written lock.
Made MakeLock(const std::string& dir, const std::string& path, std::string& why) {
  std::string temp = dir + "/LTMP.telvara.XXXXXX";
  UniqueFileDescriptor fd(mkostemp(temp.data(), O_CLOEXEC));
  if (!fd.IsValid()) {
    why = "cannot write in " + dir + " (" + Why() + ")";
    return Made::Failed;
  }
  char text[32];
  int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
  Made made = Made::Failed;
  if (fchmod(fd.Get(), 0644) != 0 || write(fd.Get(), text, length) != length) {
    why = "cannot write " + temp + " (" + Why() + ")";
  } else if (link(temp.c_str(), path.c_str()) == 0) {
    made = Made::Linked;
  } else if (errno == EEXIST) {
    made = Made::Exists;
  } else {
    why = "cannot create " + path + " (" + Why() + ")";
  }
  unlink(temp.c_str());
  return made;
}

}  // namespace

std::string DefaultLockDirectory() {
  const char* dir = getenv("TELVARA_LOCK_DIR");
  return dir && *dir ? dir : "/run/lock";
}

std::string SerialLockPath(const std::string& device, const std::string& lockDir) {
  char* real = realpath(device.c_str(), nullptr);
  if (!real) return "";
  std::string resolved(real);
  free(real);
  std::string name = resolved.substr(resolved.rfind('/') + 1);
  if (name.empty()) return "";
  return WithoutSlash(lockDir) + "/LCK.." + name;
}

SerialLockResult AcquireSerialLock(const std::string& device, const std::string& lockDir) {
  SerialLockResult result;
  std::string path = SerialLockPath(device, lockDir);
  if (path.empty()) {
    result.notice = NoLock("no lock file name for " + device);
    return result;
  }
  // A few rounds: each change by another program since the last look starts one anew.
  for (int round = 0; round < 5; ++round) {
    UniqueFileDescriptor fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.IsValid()) {
      if (errno != ENOENT && errno != ENOTDIR) {
        result.refusal = "Modem lock file " + path + " cannot be read (" + Why() + ")";
        return result;
      }
      std::string why;
      switch (MakeLock(WithoutSlash(lockDir), path, why)) {
        case Made::Linked:
          SetHeldHere(path, true);
          result.lock = SerialLock(path);
          return result;
        case Made::Exists: continue;
        case Made::Failed: result.notice = NoLock(why); return result;
      }
    }
    struct stat opened {};
    if (fstat(fd.Get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
      result.refusal = "Modem lock file " + path + " is not a plain file";
      return result;
    }
    pid_t pid = ReadPid(fd.Get());
    if (Alive(pid, path)) {
      result.refusal = InUse(pid, path);
      return result;
    }
    // Stale. Another Telvara may be taking it over too: whoever holds the file's flock
    // checks that the name still means this file and the content is still stale, then
    // removes it; everyone then starts over and only one link succeeds.
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
      result.refusal = "Modem lock file " + path + " is being taken over by another program";
      return result;
    }
    struct stat named {};
    if (stat(path.c_str(), &named) != 0 || named.st_dev != opened.st_dev || named.st_ino != opened.st_ino) continue;
    pid = ReadPid(fd.Get());
    if (Alive(pid, path)) {
      result.refusal = InUse(pid, path);
      return result;
    }
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
      result.notice = NoLock("cannot remove the stale lock file " + path + " (" + Why() + ")");
      return result;
    }
  }
  result.refusal = "Modem lock file " + path + " keeps changing";
  return result;
}

SerialLock::SerialLock(SerialLock&& o) noexcept : path_(std::exchange(o.path_, {})) {}

SerialLock& SerialLock::operator=(SerialLock&& o) noexcept {
  if (this != &o) {
    Release();
    path_ = std::exchange(o.path_, {});
  }
  return *this;
}

void SerialLock::Release() {
  if (path_.empty()) return;
  UniqueFileDescriptor fd(open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.IsValid() && ReadPid(fd.Get()) == getpid()) unlink(path_.c_str());
  SetHeldHere(path_, false);
  path_.clear();
}

}  // namespace telvara
