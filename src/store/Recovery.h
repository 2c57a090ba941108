#pragma once
// Start-up clean-up after a crash or a power loss: a recording cut short (its WAV header
// still counts no data) is repaired and becomes a message again, and the temp files of an
// interrupted save are removed. Nothing else is ever changed or deleted. Engine thread
// only (called before the window's server can write beside the log).
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "store/Message.h"

namespace telvara {

class COrvanelDoc;

enum class RecordingState {
  NotOurs,   // not a plain file, or not the recorder's own 44-byte header layout
  Finished,  // the header counts the data: nothing to do
  Cut,       // the recorder's provisional header (no data counted) with data after it
};

struct RecordingCheck {
  RecordingState state = RecordingState::NotOurs;
  std::uint32_t sampleRate = 0;
  std::uint32_t dataLength = 0;  // for Finished, as counted; for Cut, the bytes after the header
};

struct RepairResult {
  bool repaired = false;
  std::uint32_t sampleRate = 0;
  std::uint32_t dataLength = 0;
  std::int64_t modifiedTime = 0;  // before the repair; the file keeps it
  std::string error;              // why a cut recording could not be repaired
};

struct RecoveryResult {
  std::vector<std::unique_ptr<CMessage>> messages;  // NEW, oldest first
  std::vector<std::string> errors;                  // sentences for the window
};

class Recovery {
 public:
  static constexpr int kHeaderSize = 44;

  // Reads the file's header and size; changes nothing.
  static RecordingCheck Examine(const std::string& path);

  // For a cut recording only: writes its sizes from the file's length (data after the
  // header, plus a zero pad byte when that length is odd, as the recorder finishes a
  // file) and keeps its modification time. Any other file is left untouched.
  static RepairResult RepairCut(const std::string& path);

  // Repairs every cut recording of inboxDir whose name is not in `named`, and makes a
  // message of each: NEW, timed by the file's modification time, its length the data
  // over the sample rate.
  static RecoveryResult RecoverInbox(const std::string& inboxDir, const std::set<std::string>& named);

  // Appends to the document (and saves it) the cut recordings of its inbox that it does
  // not name, repaired.
  struct Listed {
    std::size_t count = 0;
    std::vector<std::string> errors;  // repairs that failed, a save that failed
  };
  static Listed RecoverInto(COrvanelDoc& document);

  // Removes from dir the regular files left by an interrupted save: "<log>.tmp-<pid>-<n>"
  // beside a log name (unless that process still runs), and "<file>.XXXXXX" (six letters
  // or digits) for a <file> of replacedFiles, the names the program replaces in dir.
  // Returns how many were removed.
  static int RemoveStaleTempFiles(const std::string& dir, const std::vector<std::string>& replacedFiles);

  // "Recovered 2 messages cut short"; empty for none.
  static std::string StatusText(std::size_t recovered);
};

}  // namespace telvara
