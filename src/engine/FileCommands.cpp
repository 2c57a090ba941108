// The File commands New, Open and Save on the message log, and the list of the
// program directory's logs that Open offers. A dropped log reaches Open too, once the
// window's server has stored it in the program directory.
#include <algorithm>
#include <cstdint>

#include "engine/COrvanelView.h"
#include "platform/WindowModel.h"
#include "store/LogFile.h"
#include "store/OrvanelDoc.h"

namespace telvara {

namespace {

const char kLogTitle[] = "Message Log";
constexpr std::size_t kMaxListedLogs = 1000;  // the window's list stays small

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

bool COrvanelView::MayReplaceDocument(const std::string& refusal) {
  if (!document_) return false;
  // A call or the owner's menu holds the document's messages while it runs.
  if (env_.window->Current().lineBusy) {
    ShowStatus(refusal + " while the line is in use; try again when it is free");
    return false;
  }
  // As at close, what is unsaved is saved first; when that fails the log stays open,
  // so that nothing is lost.
  SaveResult saved = document_->SaveIfModified();
  if (!saved.Ok()) {
    MessageBox(saved.error + " The open log stays open.", kLogTitle);
    return false;
  }
  return true;
}

void COrvanelView::OnFileNew() {
  if (!MayReplaceDocument("A new message log is not started")) return;
  OpenResult made = document_->OnNewNumberedDocument();
  if (!made.Ok()) {
    MessageBox(made.error, kLogTitle);
    return;
  }
  FillMessageList();
  ShowStatus("New message log " + BaseName(document_->GetPathName()));
}

void COrvanelView::OnFileOpen(const std::string& name) {
  std::vector<std::string> logs = LogFile::ListLogs(programDir, SIZE_MAX);
  if (name.empty()) {
    if (logs.size() > kMaxListedLogs) logs.resize(kMaxListedLogs);
    env_.window->SetLogFiles(std::move(logs));
    return;
  }
  // Only a log of the program directory, by its plain name: never a path from outside.
  if (!std::binary_search(logs.begin(), logs.end(), name)) {
    ShowStatus("\"" + name + "\" is not a message log of the program directory");
    return;
  }
  if (!MayReplaceDocument("The log " + name + " is kept in the program directory but not opened")) return;
  OpenResult opened = document_->OnOpenDocument(programDir + name);
  if (!opened.Ok()) {
    MessageBox(opened.error + " The open log stays open.", kLogTitle);
    return;
  }
  FillMessageList();
  ShowStatus("Message log " + name);
}

void COrvanelView::OnFileSave() {
  if (!document_) return;
  SaveResult saved = document_->OnSaveDocument();
  if (!saved.Ok()) {
    MessageBox(saved.error, kLogTitle);
    return;
  }
  ShowStatus("Message log saved: " + BaseName(document_->GetPathName()));
}

}  // namespace telvara
