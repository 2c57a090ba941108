#pragma once
// Disk operations of the message log: reading a whole file, replacing a file atomically
// (temp file, fsync, rename), moving a file aside under a dated name and making a new
// file under a free name without replacing anything, and listing the logs of a
// folder. Static and stateless: any thread (the window's server stores dropped logs).
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
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

struct [[nodiscard]] NewFileResult {
  std::string name;  // the name the file got; empty when it could not be written
  std::string error;
  bool Ok() const { return !name.empty(); }
};

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

  // Writes bytes to a new file in `dir` under the first free name of nameFor(0),
  // nameFor(1), ... (`tries` of them): the file appears whole under its name or not at
  // all, and never replaces one.
  static NewFileResult WriteNew(const std::string& dir, const std::function<std::string(int)>& nameFor, int tries,
                                const std::vector<std::uint8_t>& bytes);

  // A plain file name (no folder, no leading dot, no control characters) that ends in
  // ".log" in any case.
  static bool IsLogName(const std::string& name);
  // The names of the regular files of `dir` that IsLogName takes, sorted; at most `max`.
  static std::vector<std::string> ListLogs(const std::string& dir, std::size_t max);
};

}  // namespace telvara
