#pragma once
// Disk operations of the message log: reading a whole file, replacing a file atomically
// (temp file, fsync, rename), and moving a file aside under a dated name without
// replacing anything. Engine thread only.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace telvara {

enum class FileReadStatus {
  Ok,
  Missing,  // no file of that name
  Failed,   // it exists but cannot be read in full
};

struct FileReadResult {
  FileReadStatus status = FileReadStatus::Ok;
  std::vector<std::uint8_t> bytes;
  std::string error;  // the system's reason, when not Ok
};

struct [[nodiscard]] FileWriteResult {
  bool ok = true;
  std::string error;  // the system's reason, when not ok
};

struct [[nodiscard]] MoveAsideResult {
  std::string newPath;  // where the file is now; empty when it could not be moved
  std::string error;
  bool Ok() const { return !newPath.empty(); }
};

// Engine thread only; static operations on paths.
class LogFile {
 public:
  // Files larger than maxBytes are refused rather than read into memory.
  static FileReadResult ReadAll(const std::string& path, std::size_t maxBytes);

  // Writes bytes to a new file beside `path`, syncs it and renames it over `path`, so
  // the file holds either the old or the new contents whatever happens. An existing
  // file's permissions are kept.
  static FileWriteResult ReplaceAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes);

  // Renames `path` to "<path>.unreadable-YYYYMMDD-HHMMSS" (local time of `now`), with
  // "-2", "-3", ... appended when that name is taken; never replaces a file.
  static MoveAsideResult MoveAside(const std::string& path, std::time_t now);

  static bool Exists(const std::string& path);
};

}  // namespace telvara
