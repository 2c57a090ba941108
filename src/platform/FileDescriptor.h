#pragma once
// FileDescriptor borrows a descriptor; UniqueFileDescriptor owns one and closes it.
#include <unistd.h>

#include <utility>

namespace telvara {

class FileDescriptor {
 public:
  constexpr FileDescriptor() = default;
  constexpr explicit FileDescriptor(int fd) : fd_(fd) {}
  constexpr int Get() const { return fd_; }
  constexpr bool IsValid() const { return fd_ >= 0; }

 protected:
  int fd_ = -1;
};

class UniqueFileDescriptor : public FileDescriptor {
 public:
  UniqueFileDescriptor() = default;
  explicit UniqueFileDescriptor(int fd) : FileDescriptor(fd) {}
  UniqueFileDescriptor(UniqueFileDescriptor&& o) noexcept : FileDescriptor(o.Release()) {}
  UniqueFileDescriptor& operator=(UniqueFileDescriptor&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  UniqueFileDescriptor(const UniqueFileDescriptor&) = delete;
  UniqueFileDescriptor& operator=(const UniqueFileDescriptor&) = delete;
  ~UniqueFileDescriptor() { Reset(); }

  FileDescriptor Borrow() const { return FileDescriptor(fd_); }
  int Release() { return std::exchange(fd_, -1); }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
};

}  // namespace telvara
