#include "web/LogUpload.h"

#include <cstdint>
#include <vector>

#include "store/LogFile.h"
#include "store/MessageLog.h"

namespace telvara {

LogUploadResult StoreUploadedLog(const std::string& dir, const std::string& name, std::string_view bytes) {
  LogUploadResult result;
  if (!LogFile::IsLogName(name)) {
    result.outcome = LogUploadOutcome::BadName;
    result.detail = "Only a message log (a file named *.log) can be opened";
    return result;
  }
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  LogReadResult log = MessageLog::Read(data, bytes.size());
  if (!log.Ok()) {
    result.outcome = LogUploadOutcome::NotALog;
    result.detail = name + " is not a message log (" + log.detail + ")";
    return result;
  }
  std::string stem = name.substr(0, name.size() - 4), extension = name.substr(name.size() - 4);
  NewFileResult stored = LogFile::WriteNew(
      dir, [&](int n) { return n == 0 ? name : stem + "-" + std::to_string(n + 1) + extension; }, 1000,
      std::vector<std::uint8_t>(data, data + bytes.size()));
  if (!stored.Ok()) {
    result.outcome = LogUploadOutcome::Failed;
    result.detail = name + " could not be stored in the program directory: " + stored.error;
    return result;
  }
  result.name = stored.name;
  return result;
}

}  // namespace telvara
