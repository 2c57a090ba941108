#pragma once
// The serial device's lock file in the UUCP convention that other serial programs
// (minicom, mgetty, cu) honour: <dir>/LCK..<device name> holding the owner's PID as
// "%10d\n". It keeps a second Telvara (even one run by root, whom the exclusive open
// does not stop) and those programs off a modem in use. Engine thread only.
#include <string>

namespace telvara {

// The folder of lock files: $TELVARA_LOCK_DIR when set, else /run/lock.
std::string DefaultLockDirectory();

struct SerialLockResult;

// A lock file this process holds; removed when released, if it still names us.
class SerialLock {
 public:
  SerialLock() = default;
  SerialLock(SerialLock&& o) noexcept;
  SerialLock& operator=(SerialLock&& o) noexcept;
  SerialLock(const SerialLock&) = delete;
  SerialLock& operator=(const SerialLock&) = delete;
  ~SerialLock() { Release(); }

  bool Held() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  void Release();

 private:
  friend SerialLockResult AcquireSerialLock(const std::string& device, const std::string& lockDir);
  explicit SerialLock(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

struct SerialLockResult {
  SerialLock lock;      // held, unless refused or no lock file could be written
  std::string refusal;  // set: the device is in use (or its lock cannot be judged); do not open it
  std::string notice;   // set: going on without a lock file, and why
};

// The lock file's name for a device: the base name of the real device, symbolic links
// resolved, so that two names of one device share one lock. Empty when the device's
// path does not resolve.
std::string SerialLockPath(const std::string& device, const std::string& lockDir);

// Takes the device's lock in lockDir. A lock of a live process refuses; a stale one (its
// process gone, or content that is no PID) is taken over. A folder that is missing or
// not writable gives a notice, not a refusal: the exclusive open still guards the port.
SerialLockResult AcquireSerialLock(const std::string& device, const std::string& lockDir);

}  // namespace telvara
