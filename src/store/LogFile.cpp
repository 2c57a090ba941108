#include "store/LogFile.h"

#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "platform/FileDescriptor.h"
#include "store/TextFormat.h"

namespace telvara {

namespace {

std::string SystemError(int error) { return std::error_code(error, std::generic_category()).message(); }

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Renames without replacing; falls back to link and unlink where the file system has
// no such rename.
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (::link(from.c_str(), to.c_str()) != 0) return -1;
  return ::unlink(from.c_str());
}

}  // namespace

bool LogFile::Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

FileReadResult LogFile::ReadAll(const std::string& path, std::size_t maxBytes) {
  FileReadResult result;
  UniqueFileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.IsValid()) {
    result.status = errno == ENOENT ? FileReadStatus::Missing : FileReadStatus::Failed;
    result.error = SystemError(errno);
    return result;
  }
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) {
    result.status = FileReadStatus::Failed;
    result.error = SystemError(errno);
    return result;
  }
  if (!S_ISREG(st.st_mode)) {
    result.status = FileReadStatus::Failed;
    result.error = S_ISDIR(st.st_mode) ? SystemError(EISDIR) : "not a regular file";
    return result;
  }
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    result.status = FileReadStatus::Failed;
    result.error = SystemError(EFBIG);
    return result;
  }
  result.bytes.resize(static_cast<std::size_t>(st.st_size));
  std::size_t done = 0;
  for (;;) {
    // One byte beyond the size seen, to notice a file that grew meanwhile.
    if (done == result.bytes.size()) {
      if (result.bytes.size() >= maxBytes + 1) break;
      result.bytes.resize(std::min(maxBytes + 1, result.bytes.size() * 2 + 4096));
    }
    ssize_t n = ::read(fd.Get(), result.bytes.data() + done, result.bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result.status = FileReadStatus::Failed;
      result.error = SystemError(errno);
      result.bytes.clear();
      return result;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (done > maxBytes) {
    result.status = FileReadStatus::Failed;
    result.error = SystemError(EFBIG);
    result.bytes.clear();
    return result;
  }
  result.bytes.resize(done);
  return result;
}

FileWriteResult LogFile::ReplaceAtomically(const std::string& named, const std::vector<std::uint8_t>& bytes) {
  FileWriteResult result;
  // A log that is a symbolic link is saved where the link points, so the link stays.
  std::string path = named;
  if (char* real = ::realpath(named.c_str(), nullptr)) {
    struct stat link;
    if (::lstat(named.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) path = real;
    std::free(real);
  }
  auto fail = [&](int error, const std::string& temp) {
    result.ok = false;
    result.error = SystemError(error);
    if (!temp.empty()) ::unlink(temp.c_str());
    return result;
  };

  std::string temp;
  UniqueFileDescriptor fd;
  for (int attempt = 0; attempt < 100 && !fd.IsValid(); ++attempt) {
    temp = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    fd.Reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd.IsValid() && errno != EEXIST) return fail(errno, {});
  }
  if (!fd.IsValid()) return fail(EEXIST, {});

  struct stat old;
  if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) (void)::fchmod(fd.Get(), old.st_mode & 07777);
  if (!WriteAll(fd.Get(), bytes.data(), bytes.size()) || ::fsync(fd.Get()) != 0) return fail(errno, temp);
  if (::close(fd.Release()) != 0) return fail(errno, temp);
  if (::rename(temp.c_str(), path.c_str()) != 0) return fail(errno, temp);

  // Make the rename itself durable; a directory that cannot be synced is no failure.
  UniqueFileDescriptor dir(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.IsValid()) (void)::fsync(dir.Get());
  return result;
}

MoveAsideResult LogFile::MoveAside(const std::string& path, std::time_t now) {
  MoveAsideResult result;
  std::tm t{};
  if (::localtime_r(&now, &t) == nullptr) t = std::tm{};
  std::string base =
      path + ".unreadable-" +
      FormatText("%04d%02d%02d-%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  for (int n = 1; n <= 99; ++n) {
    std::string candidate = n == 1 ? base : base + "-" + std::to_string(n);
    if (RenameNoReplace(path, candidate) == 0) {
      result.newPath = candidate;
      return result;
    }
    if (errno != EEXIST) {
      result.error = SystemError(errno);
      return result;
    }
  }
  result.error = "every dated name is taken";
  return result;
}

NewFileResult LogFile::WriteNew(const std::string& dir, const std::function<std::string(int)>& nameFor, int tries,
                                const std::vector<std::uint8_t>& bytes) {
  NewFileResult result;
  std::string folder = dir.empty() || dir.back() != '/' ? dir + "/" : dir;
  // The whole file first, under a name of its own, then linked to its free name.
  static std::atomic<unsigned> serial{0};
  std::string temp;
  UniqueFileDescriptor fd;
  for (int attempt = 0; attempt < 100 && !fd.IsValid(); ++attempt) {
    temp = folder + ".telvara-new-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    fd.Reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd.IsValid() && errno != EEXIST) {
      result.error = SystemError(errno);
      return result;
    }
  }
  if (!fd.IsValid()) {
    result.error = SystemError(EEXIST);
    return result;
  }
  if (!WriteAll(fd.Get(), bytes.data(), bytes.size()) || ::fsync(fd.Get()) != 0 || ::close(fd.Release()) != 0) {
    result.error = SystemError(errno);
    ::unlink(temp.c_str());
    return result;
  }
  for (int n = 0; n < tries; ++n) {
    std::string name = nameFor(n);
    if (RenameNoReplace(temp, folder + name) == 0) {
      result.name = name;
      break;
    }
    if (errno != EEXIST) {
      result.error = SystemError(errno);
      break;
    }
  }
  if (result.name.empty()) {
    if (result.error.empty()) result.error = "every name is taken";
    ::unlink(temp.c_str());
    return result;
  }
  UniqueFileDescriptor dirFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.IsValid()) (void)::fsync(dirFd.Get());
  return result;
}

bool LogFile::IsLogName(const std::string& name) {
  if (name.size() < 5 || name.size() > 255 || name[0] == '.') return false;
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7f) return false;
  }
  std::string end = name.substr(name.size() - 4);
  std::transform(end.begin(), end.end(), end.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return end == ".log";
}

std::vector<std::string> LogFile::ListLogs(const std::string& dir, std::size_t max) {
  std::vector<std::string> names;
  std::string folder = dir.empty() || dir.back() != '/' ? dir + "/" : dir;
  DIR* d = ::opendir(folder.c_str());
  if (!d) return names;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    struct stat st;
    if (IsLogName(name) && ::stat((folder + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  if (names.size() > max) names.resize(max);
  return names;
}

}  // namespace telvara
