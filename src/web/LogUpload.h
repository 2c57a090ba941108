#pragma once
// A message log dropped on the window: checked to be a whole, readable log and stored
// in the program directory under its own name, with "-2", "-3", ... added before
// ".log" rather than replacing a file. Any thread (the window's server calls it).
#include <string>
#include <string_view>

namespace telvara {

enum class LogUploadOutcome {
  Stored,
  BadName,  // not a plain name ending in ".log"
  NotALog,  // the bytes are not a message log
  Failed,   // it could not be written
};

struct LogUploadResult {
  LogUploadOutcome outcome = LogUploadOutcome::Stored;
  std::string name;    // the stored file's name, when stored
  std::string detail;  // why not, for the page
};

// The largest log taken: a full log of 65535 messages of the usual size is under 2 MB.
constexpr std::size_t kMaxLogUpload = 4u << 20;

LogUploadResult StoreUploadedLog(const std::string& dir, const std::string& name, std::string_view bytes);

}  // namespace telvara
