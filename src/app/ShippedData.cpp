#include "app/ShippedData.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace telvara {

namespace fs = std::filesystem;

namespace {

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

bool IsDir(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::vector<std::string> ShippedDataCandidates(const std::string& executableDir) {
  std::vector<std::string> dirs{WithSlash(executableDir)};
#ifdef TELVARA_DATA_FROM_BIN
  dirs.push_back(WithSlash(WithSlash(executableDir) + TELVARA_DATA_FROM_BIN));
#endif
#ifdef TELVARA_DATA_DIR
  dirs.push_back(WithSlash(TELVARA_DATA_DIR));
#endif
  return dirs;
}

std::string FindShippedDir(const std::vector<std::string>& candidates, const std::string& sub) {
  for (const std::string& dir : candidates) {
    std::string path = WithSlash(dir + sub);
    if (IsDir(path)) return path;
  }
  return "";
}

PromptCopy CopyMissingPrompts(const std::string& from, const std::string& to) {
  PromptCopy result;
  std::error_code ec;
  if (from.empty() || to.empty() || !IsDir(from)) return result;
  if (IsDir(to) && fs::equivalent(from, to, ec)) return result;
  if (mkdir(to.c_str(), 0755) != 0 && errno != EEXIST) {
    result.errors.push_back("Cannot make " + to + ": " + std::strerror(errno));
    return result;
  }
  fs::directory_iterator it(from, ec);
  if (ec) {
    result.errors.push_back("Cannot read " + from + ": " + ec.message());
    return result;
  }
  for (const fs::directory_entry& entry : it) {
    if (!entry.is_regular_file(ec)) continue;
    std::string name = entry.path().filename().string();
    std::string target = WithSlash(to) + name;
    struct stat st {};
    if (lstat(target.c_str(), &st) == 0) continue;  // the owner's, or copied before
    // Copied whole under a temp name, then linked in: a file of that name made meanwhile
    // is kept, and a copy cut short never takes the prompt's name.
    std::string part = WithSlash(to) + "." + name + ".part";
    if (!fs::copy_file(entry.path(), part, fs::copy_options::overwrite_existing, ec)) {
      result.errors.push_back("Cannot copy " + entry.path().string() + " to " + to + ": " + ec.message());
      continue;
    }
    int linked = ::link(part.c_str(), target.c_str());
    int linkError = errno;
    if (linked != 0 && linkError != EEXIST) {
      // A file system without hard links: copy without replacing.
      if (fs::copy_file(entry.path(), target, fs::copy_options::skip_existing, ec)) {
        linked = 0;
      } else if (ec) {
        result.errors.push_back("Cannot copy " + entry.path().string() + " to " + to + ": " + ec.message());
      }
    }
    ::unlink(part.c_str());
    if (linked == 0) ++result.copied;
  }
  return result;
}

}  // namespace telvara
