#include "web/GreetingUpload.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/BrowserSoundCard.h"
#include "platform/FileReplace.h"

namespace telvara {

GreetingUpload::GreetingUpload(std::string dir, int requestId, uint64_t maxBytes)
    : dir_(std::move(dir)), requestId_(requestId), maxBytes_(maxBytes) {}

GreetingUpload::~GreetingUpload() {
  file_.Reset();
  if (!temp_.empty()) ::unlink(temp_.c_str());
}

std::string GreetingUpload::Begin() {
  std::string temp = dir_ + ".greeting-XXXXXX";
  file_.Reset(::mkostemp(temp.data(), O_CLOEXEC));
  if (!file_.IsValid()) return dir_ + ": " + std::strerror(errno);
  temp_ = std::move(temp);
  ::fchmod(file_.Get(), 0644);
  return "";
}

void GreetingUpload::Append(const char* bytes, std::size_t count) {
  received_ += count;
  if (received_ > maxBytes_) tooLarge_ = true;
  if (tooLarge_ || !error_.empty()) return;
  while (count > 0) {
    ssize_t n = ::write(file_.Get(), bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = temp_ + ": " + std::strerror(n < 0 ? errno : ENOSPC);
      return;
    }
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
}

std::string GreetingUpload::Finish() {
  if (!error_.empty()) return error_;
  if (tooLarge_) return "the recording is too large";
  if (::fsync(file_.Get()) != 0 || ::close(file_.Release()) != 0) return temp_ + ": " + std::strerror(errno);
  std::string path = BrowserSoundCard::UploadPath(dir_, requestId_);
  if (::rename(temp_.c_str(), path.c_str()) != 0) return path + ": " + std::strerror(errno);
  temp_.clear();
  SyncDirectoryOf(path);
  return "";
}

}  // namespace telvara
