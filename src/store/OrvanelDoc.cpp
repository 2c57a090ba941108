#include "store/OrvanelDoc.h"

#include <algorithm>

#include <unistd.h>

#include "store/LogFile.h"

namespace telvara {

namespace {

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

void AddSentence(std::string& notice, const std::string& sentence) {
  if (!notice.empty()) notice += ' ';
  notice += sentence;
}

}  // namespace

COrvanelDoc::COrvanelDoc(std::string programDir) : programDir_(std::move(programDir)) {
  if (programDir_.empty()) programDir_ = "./";
  if (programDir_.back() != '/') programDir_ += '/';
  inboxDir_ = programDir_ + "inbox/";
}

CMessage* COrvanelDoc::GetMessageAt(int index) const {
  if (index < 0 || index >= GetMessageCount()) return nullptr;
  return messages_[static_cast<std::size_t>(index)].get();
}

SaveResult COrvanelDoc::InsertMessage(int index, std::unique_ptr<CMessage> message) {
  if (!message) return {};
  if (index >= GetMessageCount()) {
    messages_.push_back(std::move(message));
  } else {
    auto at = messages_.begin() + (index < 0 ? 0 : index);
    messages_.insert(at, std::move(message));
  }
  return MarkModified();
}

SaveResult COrvanelDoc::RemoveMessage(int index) {
  if (GetMessageAt(index) == nullptr) return MarkModified();
  std::unique_ptr<CMessage> message = std::move(messages_[static_cast<std::size_t>(index)]);
  messages_.erase(messages_.begin() + index);
  // The log goes first: a crash in between leaves a stray WAV file, not an entry
  // without its file.
  SaveResult saved = MarkModified();
  // A name from outside (a log, a caller) never makes us delete beyond the inbox, and a
  // file another entry still names (an old log may hold two calls of the same second)
  // stays for that entry.
  bool shared =
      std::any_of(messages_.begin(), messages_.end(), [&](const auto& m) { return m->fileName == message->fileName; });
  if (!shared && CMessage::IsPlainFileName(message->fileName)) ::unlink((inboxDir_ + message->fileName).c_str());
  return saved;
}

SaveResult COrvanelDoc::MarkModified() {
  modified_ = true;
  return OnSaveDocument();
}

OpenResult COrvanelDoc::OnOpenDocument(const std::string& path) {
  OpenResult result;
  FileReadResult file = LogFile::ReadAll(path, kLargestLog);
  if (file.status == FileReadStatus::Missing) {
    result.status = OpenStatus::Missing;
    result.error = "The log " + Quoted(path) + " does not exist.";
    return result;
  }
  if (file.status == FileReadStatus::Failed) {
    result.status = OpenStatus::Unreadable;
    result.error = "The log " + Quoted(path) + " could not be read: " + file.error + ".";
    return result;
  }
  LogReadResult log = MessageLog::Read(file.bytes.data(), file.bytes.size());
  if (!log.Ok()) {
    result.status = OpenStatus::Malformed;
    result.logError = log.error;
    result.error = "The log " + Quoted(path) + " is damaged (" + log.detail + ").";
    return result;
  }
  messages_ = std::move(log.messages);
  pathName_ = path;
  modified_ = false;
  return result;
}

SaveResult COrvanelDoc::OnNewDocument() {
  DeleteContents();
  pathName_ = GetStandardLogPath();
  return MarkModified();
}

OpenResult COrvanelDoc::OnNewNumberedDocument() {
  NewFileResult made = LogFile::WriteNew(
      programDir_, [](int n) { return kNewLogStem + std::to_string(n + 1) + ".log"; }, 9999, MessageLog::Write({}));
  if (!made.Ok()) {
    OpenResult result;
    result.status = OpenStatus::Unreadable;
    result.error = "A new log could not be made in " + Quoted(programDir_) + ": " + made.error + ".";
    return result;
  }
  return OnOpenDocument(programDir_ + made.name);
}

SaveResult COrvanelDoc::OnSaveDocument() {
  SaveResult result;
  if (pathName_.empty()) {
    result.ok = false;
    result.error = "The messages have no log file to be saved in.";
    return result;
  }
  if (!protectedPath_.empty() && protectedPath_ == pathName_) {
    if (LogFile::Exists(pathName_)) {
      result.ok = false;
      result.error = "The messages are not saved: the unreadable log " + Quoted(pathName_) +
                     " is still in the way and is not overwritten.";
      return result;
    }
    protectedPath_.clear();
  }
  FileWriteResult written = LogFile::ReplaceAtomically(pathName_, MessageLog::Write(messages_));
  if (!written.ok) {
    result.ok = false;
    result.error = "Could not save the log " + Quoted(pathName_) + ": " + written.error + ".";
    return result;
  }
  modified_ = false;
  return result;
}

SaveResult COrvanelDoc::SaveIfModified() {
  if (!modified_) return {};
  return OnSaveDocument();
}

void COrvanelDoc::DeleteContents() { messages_.clear(); }

StartupResult COrvanelDoc::OpenAtStartup(const std::string& commandLinePath, std::time_t now) {
  StartupResult result;
  const std::string standard = GetStandardLogPath();
  if (!commandLinePath.empty()) {
    OpenResult opened = OnOpenDocument(commandLinePath);
    if (opened.Ok()) return result;
    // Left where it is: nothing is ever written to it (the standard log is used), and
    // it may be any file someone named, not a log of ours.
    AddSentence(result.notice, opened.error);
    AddSentence(result.notice, "Using " + Quoted(standard) + " instead.");
  }

  OpenResult opened = OnOpenDocument(standard);
  if (opened.Ok()) return result;
  if (opened.status != OpenStatus::Missing) {
    AddSentence(result.notice, opened.error);
    if (!MoveAside(standard, now, result)) protectedPath_ = standard;
    AddSentence(result.notice, "Starting with an empty log.");
  }
  SaveResult saved = OnNewDocument();
  result.outcome = saved.Ok() ? StartupOutcome::Created : StartupOutcome::Unsaved;
  if (!saved.Ok()) AddSentence(result.notice, saved.error);
  return result;
}

bool COrvanelDoc::MoveAside(const std::string& path, std::time_t now, StartupResult& result) {
  MoveAsideResult moved = LogFile::MoveAside(path, now);
  if (!moved.Ok()) {
    AddSentence(result.notice, "It could not be moved aside (" + moved.error + ") and is left as it is.");
    return false;
  }
  result.movedAsideTo.push_back(moved.newPath);
  AddSentence(result.notice, "It was moved aside to " + Quoted(moved.newPath) + ".");
  return true;
}

}  // namespace telvara
