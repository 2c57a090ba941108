#pragma once
// The message log document: the ordered list of messages shown in the main window,
// the program and inbox directories, and the log file that stores the list. Every
// change is written to the log at once, atomically. Engine thread only.
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "store/LogError.h"
#include "store/Message.h"
#include "store/MessageLog.h"

namespace telvara {

struct [[nodiscard]] SaveResult {
  bool ok = true;
  std::string error;  // a sentence for the window, when not ok
  bool Ok() const { return ok; }
};

enum class OpenStatus {
  Opened,
  Missing,     // no such file
  Unreadable,  // the file exists but cannot be read
  Malformed,   // the file was read but is not a message log
};

struct [[nodiscard]] OpenResult {
  OpenStatus status = OpenStatus::Opened;
  std::string error;                   // a sentence for the window, when not opened
  LogError logError = LogError::None;  // for Malformed: what is wrong
  bool Ok() const { return status == OpenStatus::Opened; }
};

enum class StartupOutcome {
  Opened,   // a log was read: the named one, or the standard one when that failed
  Created,  // the document starts empty and was written to the standard log path
  Unsaved,  // the document starts empty at the standard path but could not be written
};

struct [[nodiscard]] StartupResult {
  StartupOutcome outcome = StartupOutcome::Opened;
  std::string notice;                     // sentences for the window; empty when all went well
  std::vector<std::string> movedAsideTo;  // where unreadable logs were moved
};

class COrvanelDoc {
 public:
  static constexpr const char* kLogName = "orvanel.log";
  // A log larger than this is not read into memory (a full 16-bit log is under 2 MB).
  static constexpr std::size_t kLargestLog = 256u << 20;

  // programDir gets a trailing '/' when it has none.
  explicit COrvanelDoc(std::string programDir);

  const std::string& GetInboxDir() const { return inboxDir_; }
  std::string GetStandardLogPath() const { return programDir_ + kLogName; }
  const std::string& GetPathName() const { return pathName_; }
  bool IsModified() const { return modified_; }

  int GetMessageCount() const { return static_cast<int>(messages_.size()); }
  // Null when index is outside the list.
  CMessage* GetMessageAt(int index) const;

  // Appends when index is at least the count, else inserts before the message at index
  // (a negative index inserts at the top). The document owns the message; the log is
  // saved.
  SaveResult InsertMessage(int index, std::unique_ptr<CMessage> message);
  // Removes and destroys the message at index and saves the log, then deletes its WAV
  // file from the inbox (a failure to delete is ignored). An index outside the list
  // changes nothing but the log is saved all the same.
  SaveResult RemoveMessage(int index);
  // For status changes made by the caller: saves the log.
  SaveResult MarkModified();

  // Start-up: opens the log named on the command line, or when there is none or it
  // fails, the standard log "orvanel.log" in the program directory (written as an
  // empty log when missing). A log that exists but cannot be read is moved aside
  // under a dated name and the document starts empty at the standard path; nothing
  // is overwritten. `now` dates the moved files.
  StartupResult OpenAtStartup(const std::string& commandLinePath, std::time_t now);

  // Reads the log at path; on success the document holds its messages and belongs to
  // path, otherwise the document is left as it was.
  OpenResult OnOpenDocument(const std::string& path);
  // Empties the document, points it at the standard log path and saves it there.
  SaveResult OnNewDocument();
  // The File command New: an empty log in the program directory under the first free
  // name of "Orvanel1.log", "Orvanel2.log", ..., never over a file, and opened. On
  // failure the document is left as it was.
  static constexpr const char* kNewLogStem = "Orvanel";
  OpenResult OnNewNumberedDocument();
  // Writes the whole list to the document's path atomically; clears the modified flag
  // on success.
  SaveResult OnSaveDocument();
  SaveResult SaveIfModified();
  // Destroys every message; WAV files are not touched.
  void DeleteContents();

 private:
  // Moves an unreadable file aside, adding to the notice and the result.
  bool MoveAside(const std::string& path, std::time_t now, StartupResult& result);

  std::string programDir_;
  std::string inboxDir_;
  std::string pathName_;
  bool modified_ = false;
  // An unreadable file that could not be moved aside from the standard path: saves
  // are refused while it is still there, so it is never replaced.
  std::string protectedPath_;
  MessageList messages_;
};

}  // namespace telvara
