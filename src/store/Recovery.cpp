#include "store/Recovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/FileDescriptor.h"
#include "store/LogFile.h"
#include "store/OrvanelDoc.h"

namespace telvara {
namespace {

using Header = std::array<std::uint8_t, Recovery::kHeaderSize>;

constexpr std::uint32_t kProvisionalRiff = 36;  // the RIFF size of a header that counts no data

std::uint32_t Get32(const Header& h, int at) {
  return static_cast<std::uint32_t>(h[at]) | static_cast<std::uint32_t>(h[at + 1]) << 8 |
         static_cast<std::uint32_t>(h[at + 2]) << 16 | static_cast<std::uint32_t>(h[at + 3]) << 24;
}
std::uint32_t Get16(const Header& h, int at) { return static_cast<std::uint32_t>(h[at] | h[at + 1] << 8); }
void Put32(Header& h, int at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) h[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
bool HasTag(const Header& h, int at, const char* tag) { return std::memcmp(h.data() + at, tag, 4) == 0; }

// The recorder's layout apart from the two sizes: PCM, mono, block alignment 1 and a
// byte rate of rate / 8 * bits, as it writes them.
bool IsRecorderLayout(const Header& h) {
  std::uint32_t rate = Get32(h, 24), bits = Get16(h, 34);
  return HasTag(h, 0, "RIFF") && HasTag(h, 8, "WAVE") && HasTag(h, 12, "fmt ") && Get32(h, 16) == 16 &&
         Get16(h, 20) == 1 && Get16(h, 22) == 1 && rate > 0 && bits > 0 && Get16(h, 32) == 1 &&
         Get32(h, 28) == rate / 8 * bits && HasTag(h, 36, "data");
}

// Opens a plain file without following a link or waiting on a FIFO.
UniqueFileDescriptor OpenPlain(const std::string& path, int flags, struct stat& st) {
  UniqueFileDescriptor fd(::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.IsValid() && (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))) fd.Reset();
  return fd;
}

bool ReadHeader(int fd, Header& h) {
  std::size_t got = 0;
  while (got < h.size()) {
    ssize_t n = ::pread(fd, h.data() + got, h.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAt(int fd, const std::uint8_t* bytes, std::size_t count, off_t at) {
  while (count > 0) {
    ssize_t n = ::pwrite(fd, bytes, count, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    bytes += n, count -= static_cast<std::size_t>(n), at += n;
  }
  return true;
}

RecordingCheck Check(int fd, const struct stat& st) {
  RecordingCheck check;
  Header h{};
  if (st.st_size < Recovery::kHeaderSize || !ReadHeader(fd, h) || !IsRecorderLayout(h)) return check;
  check.sampleRate = Get32(h, 24);
  std::uint64_t after = static_cast<std::uint64_t>(st.st_size) - Recovery::kHeaderSize;
  std::uint32_t riff = Get32(h, 4), length = Get32(h, 40);
  if (riff == kProvisionalRiff && length == 0) {
    // The sizes must still fit their fields once the pad is added.
    if (after == 0 || after > std::numeric_limits<std::uint32_t>::max() - kProvisionalRiff - 1) return check;
    check.state = RecordingState::Cut;
    check.dataLength = static_cast<std::uint32_t>(after);
    return check;
  }
  std::uint64_t padded = length + (length % 2);
  if (riff == kProvisionalRiff + padded && padded <= after) {
    check.state = RecordingState::Finished;
    check.dataLength = length;
  }
  return check;
}

std::string SystemError(const std::string& path, const char* what) {
  return "The recording \"" + path + "\" cut short could not be repaired (" + what + ": " + std::strerror(errno) + ").";
}

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// "<log>.tmp-<pid>-<attempt>" of a save that is not running any more.
bool IsStaleLogTemp(const std::string& name) {
  std::size_t tmp = name.rfind(".tmp-");
  if (tmp == std::string::npos || !LogFile::IsLogName(name.substr(0, tmp))) return false;
  std::string rest = name.substr(tmp + 5);
  std::size_t dash = rest.find('-');
  if (dash == std::string::npos) return false;
  std::string pid = rest.substr(0, dash), attempt = rest.substr(dash + 1);
  if (!AllDigits(pid) || !AllDigits(attempt) || pid.size() > 9) return false;
  long id = std::stol(pid);
  // Another process saving right now keeps its file; so does a process we may not signal.
  if (id != ::getpid() && id > 0 && (::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM)) return false;
  return true;
}

// "<file>.XXXXXX" as mkostemp makes it, for one of the files the program replaces.
bool IsReplaceTemp(const std::string& name, const std::vector<std::string>& replaced) {
  if (name.size() < 8 || name[name.size() - 7] != '.') return false;
  std::string suffix = name.substr(name.size() - 6);
  if (!std::all_of(suffix.begin(), suffix.end(), [](unsigned char c) { return std::isalnum(c) != 0; })) return false;
  // Random letters and digits nearly always mix; a word ("backup", "BACKUP") is someone's copy.
  auto has = [&](int (*kind)(int)) {
    return std::any_of(suffix.begin(), suffix.end(), [&](unsigned char c) { return kind(c) != 0; });
  };
  if (has(::islower) + has(::isupper) + has(::isdigit) < 2) return false;
  return std::find(replaced.begin(), replaced.end(), name.substr(0, name.size() - 7)) != replaced.end();
}

std::vector<std::string> DirectoryNames(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

std::string WithSlash(std::string dir) {
  if (dir.empty()) dir = "./";
  if (dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

RecordingCheck Recovery::Examine(const std::string& path) {
  struct stat st {};
  UniqueFileDescriptor fd = OpenPlain(path, O_RDONLY, st);
  if (!fd.IsValid()) return {};
  return Check(fd.Get(), st);
}

RepairResult Recovery::RepairCut(const std::string& path) {
  RepairResult result;
  struct stat st {};
  UniqueFileDescriptor fd = OpenPlain(path, O_RDWR, st);
  if (!fd.IsValid()) return result;
  RecordingCheck check = Check(fd.Get(), st);
  if (check.state != RecordingState::Cut) return result;
  result.sampleRate = check.sampleRate;
  result.dataLength = check.dataLength;
  result.modifiedTime = st.st_mtim.tv_sec;

  Header h{};
  if (!ReadHeader(fd.Get(), h)) {
    result.error = SystemError(path, "read failed");
    return result;
  }
  std::uint32_t riff = kProvisionalRiff + check.dataLength;
  if (check.dataLength % 2 != 0) {
    static const std::uint8_t kPad = 0;
    // The pad goes first: a crash before the header is written leaves a cut recording
    // again, which the next start repairs the same way.
    if (!WriteAt(fd.Get(), &kPad, 1, st.st_size)) {
      result.error = SystemError(path, "cannot write the pad byte");
      (void)::ftruncate(fd.Get(), st.st_size);
      return result;
    }
    riff += 1;
  }
  Put32(h, 4, riff);
  Put32(h, 40, check.dataLength);
  if (!WriteAt(fd.Get(), h.data(), h.size(), 0) || ::fsync(fd.Get()) != 0) {
    result.error = SystemError(path, "cannot write the header");
    return result;
  }
  // The file keeps the time the recording stopped.
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  (void)::futimens(fd.Get(), times);
  result.repaired = true;
  return result;
}

RecoveryResult Recovery::RecoverInbox(const std::string& inboxDir, const std::set<std::string>& named) {
  RecoveryResult result;
  std::string dir = WithSlash(inboxDir);
  for (const std::string& name : DirectoryNames(dir)) {
    // A name the log could not hold whole would name another file once loaded.
    if (named.count(name) != 0 || !CMessage::IsPlainFileName(name) || name.size() > CMessage::kFileNameMax) continue;
    RepairResult repair = RepairCut(dir + name);
    if (!repair.error.empty()) result.errors.push_back(repair.error);
    if (!repair.repaired) continue;
    auto message = std::make_unique<CMessage>();
    // The stored time is 32 bits, as for a message recorded in a call.
    message->time = static_cast<std::int32_t>(repair.modifiedTime);
    message->lengthSeconds = repair.dataLength / repair.sampleRate;
    message->status = MessageStatus::StatusNew;
    message->fileName = name;
    message->BuildListLine();
    result.messages.push_back(std::move(message));
  }
  std::stable_sort(result.messages.begin(), result.messages.end(),
                   [](const auto& a, const auto& b) { return a->time < b->time; });
  return result;
}

Recovery::Listed Recovery::RecoverInto(COrvanelDoc& document) {
  std::set<std::string> named;
  for (int i = 0; i < document.GetMessageCount(); ++i) named.insert(document.GetMessageAt(i)->fileName);
  RecoveryResult found = RecoverInbox(document.GetInboxDir(), named);
  Listed listed;
  listed.count = found.messages.size();
  listed.errors = std::move(found.errors);
  std::string saveError;
  for (auto& message : found.messages) {
    // Each insert saves, the last one with them all; a failure keeps them listed.
    SaveResult saved = document.InsertMessage(document.GetMessageCount(), std::move(message));
    if (!saved.Ok() && saveError.empty()) saveError = saved.error;
  }
  if (!saveError.empty()) listed.errors.push_back(saveError);
  return listed;
}

int Recovery::RemoveStaleTempFiles(const std::string& dirName, const std::vector<std::string>& replacedFiles) {
  std::string dir = WithSlash(dirName);
  int removed = 0;
  for (const std::string& name : DirectoryNames(dir)) {
    if (!IsStaleLogTemp(name) && !IsReplaceTemp(name, replacedFiles)) continue;
    struct stat st {};
    if (::lstat((dir + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::unlink((dir + name).c_str()) == 0) ++removed;
  }
  return removed;
}

std::string Recovery::StatusText(std::size_t recovered) {
  if (recovered == 0) return "";
  return "Recovered " + std::to_string(recovered) + (recovered == 1 ? " message" : " messages") + " cut short";
}

}  // namespace telvara
