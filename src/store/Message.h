#pragma once
// One recorded caller message: when the call came, how long the recording is, whether
// the owner has heard it, the caller identity and the name of its WAV file in the
// inbox. Also builds the fixed-width line of the message list. Engine thread only.
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "store/Archive.h"
#include "store/LogError.h"

namespace telvara {

enum class MessageStatus : std::uint16_t {
  StatusNew = 0,             // not yet heard: shown "NEW"
  StatusOld = 1,             // heard: shown "OLD"
  StatusPlayedThisCall = 2,  // played to the owner in the call still going on: "OLD"
};

class CMessage {
 public:
  // Longest texts the stored fields hold (their fixed arrays keep a terminator).
  static constexpr std::size_t kFileNameMax = 129;
  static constexpr std::size_t kCallerIdMax = 31;

  // Creation for loading: an empty record that Serialize fills.
  CMessage() = default;

  // Creation for a new call at `now`. The file name follows the time rule; when a
  // file of that name is already in inboxDir the name moves on (see UniqueFileName).
  // Null only when every name this second can move to is taken.
  [[nodiscard]] static std::unique_ptr<CMessage> NewForCall(std::time_t now, const std::string& inboxDir);

  // "P%c%c%c%02d%02d.WAV" from the local time of `when`.
  static std::string FileNameFor(std::time_t when);

  // The time-rule name, or when it is taken in inboxDir, the first free one of:
  // the same name with the seconds 60 to 99, then with minutes and seconds 6000 to
  // 9999. Those digits never come from a clock, so a moved-on name never takes the
  // name of a later call. Empty when all are taken.
  static std::string UniqueFileName(std::time_t when, const std::string& inboxDir);

  // A name that stays inside the inbox: not empty, not "." or "..", no '/' or NUL.
  static bool IsPlainFileName(const std::string& name);

  void BuildListLine();

  // Writes the five stored fields. Texts are cut as their fixed fields would cut them
  // (at a NUL, at the field length), so a log we write loads again.
  void Serialize(ArchiveWriter& archive) const;
  // Reads the five stored fields; LogError::None on success.
  LogError Serialize(ArchiveReader& archive);

  std::int32_t time = 0;  // seconds since 1970 UTC, broken down in local time
  std::uint32_t lengthSeconds = 0;
  MessageStatus status = MessageStatus::StatusNew;
  std::string callerId;
  std::string fileName;
  std::string listLine;
};

}  // namespace telvara
