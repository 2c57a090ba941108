#include "web/AccessToken.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/FileDescriptor.h"
#include "platform/FileReplace.h"

namespace telvara {

namespace {

constexpr std::size_t kTokenBytes = 32;

bool IsToken(const std::string& text) {
  return text.size() == 2 * kTokenBytes &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

std::string MakeAccessToken() {
  unsigned char bytes[kTokenBytes];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return "";
    got += static_cast<std::size_t>(n);
  }
  static const char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) {
    token += kHex[b >> 4];
    token += kHex[b & 15];
  }
  return token;
}

AccessTokenResult LoadOrMakeAccessToken(const std::string& path) {
  AccessTokenResult result;
  UniqueFileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (fd.IsValid()) {
    struct stat st {};
    if (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
      result.error = path + " is not a file; remove it";
      return result;
    }
    if (st.st_uid != geteuid()) {
      result.error = path + " belongs to another user; remove it";
      return result;
    }
    if ((st.st_mode & 077) != 0) fchmod(fd.Get(), 0600);
    char text[2 * kTokenBytes + 2];
    ssize_t n = read(fd.Get(), text, sizeof text);
    std::string token(text, n > 0 ? static_cast<std::size_t>(n) : 0);
    if (!token.empty() && token.back() == '\n') token.pop_back();
    if (IsToken(token)) {
      result.token = token;
      return result;
    }
    result.notice = "replaced a damaged access token in " + path;
  } else if (errno != ENOENT) {
    result.error = path + ": " + std::strerror(errno);
    return result;
  } else {
    result.notice = "made the window's access token in " + path;
  }
  std::string token = MakeAccessToken();
  if (token.empty()) {
    result.error = std::string("no random bytes for the access token: ") + std::strerror(errno);
    return result;
  }
  std::string error = ReplaceFile(path, token + "\n", false);
  if (!error.empty()) {
    result.error = "cannot keep the access token: " + error;
    return result;
  }
  result.token = token;
  return result;
}

}  // namespace telvara
