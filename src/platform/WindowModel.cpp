#include "platform/WindowModel.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace telvara {

WindowModel::WindowModel() {
  // The rows' versions of each run are its own: a page that says which rows it has
  // never names those of an earlier run.
  state_.rowsVersion = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count());
  Publish();
}

WindowModel::Batch::~Batch() {
  if (--model_.batches_ == 0 && model_.held_) model_.Publish();
}

void WindowModel::Publish() {
  if (batches_ > 0) {
    held_ = true;
    return;
  }
  held_ = false;
  if (rowsChanged_) {
    state_.rows = RowList(rows_);
    ++state_.rowsVersion;
    rowsChanged_ = false;
  }
  ++state_.version;
  auto snapshot = std::make_shared<const WindowState>(state_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    published_ = std::move(snapshot);
    for (int fd : signals_) {
      uint64_t one = 1;
      [[maybe_unused]] ssize_t n = write(fd, &one, sizeof one);
    }
  }
  changed_.notify_all();
}

void WindowModel::SetTitle(const std::string& title) {
  state_.title = title;
  Publish();
}

void WindowModel::SetHeader(const std::string& header) {
  state_.header = header;
  Publish();
}

void WindowModel::ShowStartup(const std::string& title, const std::string& status) {
  state_.startupVisible = true;
  state_.startupTitle = title;
  state_.startupStatus = status;
  Publish();
}

void WindowModel::SetStartupStatus(const std::string& status) {
  state_.startupStatus = status;
  Publish();
}

void WindowModel::HideStartup() {
  state_.startupVisible = false;
  Publish();
}

void WindowModel::SetStatus(const std::string& text) {
  state_.status = text;
  Publish();
}

void WindowModel::InsertRow(std::size_t index, ListRow row) {
  index = std::min(index, rows_.size());
  rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(index), std::move(row));
  rowsChanged_ = true;
  Publish();
}

void WindowModel::SetRows(std::vector<ListRow> rows) {
  rows_ = std::move(rows);
  rowsChanged_ = true;
  Publish();
}

void WindowModel::DeleteRow(std::size_t index) {
  if (index >= rows_.size()) return;
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
  rowsChanged_ = true;
  Publish();
}

const ListRow* WindowModel::Row(std::size_t index) const { return index < rows_.size() ? &rows_[index] : nullptr; }

int WindowModel::OpenBox(const std::string& title, const std::string& text, std::vector<std::string> buttons,
                         bool modal) {
  auto informing = [](const MessageBoxState& b) { return !b.modal; };
  if (!modal) {
    for (const MessageBoxState& open : state_.boxes) {
      if (informing(open) && open.title == title && open.text == text) return open.id;
    }
    if (std::count_if(state_.boxes.begin(), state_.boxes.end(), informing) >= std::ptrdiff_t(kMaxInformingBoxes)) {
      state_.boxes.erase(std::find_if(state_.boxes.begin(), state_.boxes.end(), informing));
    }
  }
  MessageBoxState box;
  box.id = nextBoxId_++;
  box.title = title;
  box.text = text;
  box.buttons = std::move(buttons);
  box.modal = modal;
  state_.boxes.push_back(std::move(box));
  Publish();
  return state_.boxes.back().id;
}

bool WindowModel::CloseBox(int id) {
  auto it =
      std::find_if(state_.boxes.begin(), state_.boxes.end(), [id](const MessageBoxState& b) { return b.id == id; });
  if (it == state_.boxes.end()) return false;
  state_.boxes.erase(it);
  Publish();
  return true;
}

bool WindowModel::BoxOpen(int id) const {
  return std::any_of(state_.boxes.begin(), state_.boxes.end(), [id](const MessageBoxState& b) { return b.id == id; });
}

void WindowModel::SetLineBusy(bool busy) {
  if (state_.lineBusy == busy) return;
  state_.lineBusy = busy;
  Publish();
}

void WindowModel::SetSound(SoundRequest request) {
  state_.sound = std::move(request);
  Publish();
}

void WindowModel::SetClosing() {
  state_.closing = true;
  Publish();
}

void WindowModel::ShowSetupDialog(SetupDialogState dialog) {
  dialog.open = true;
  dialog.revision = state_.setup.revision + 1;
  state_.setup = std::move(dialog);
  Publish();
}

void WindowModel::CloseSetupDialog() {
  if (!state_.setup.open) return;
  SetupDialogState closed;
  closed.revision = state_.setup.revision + 1;
  state_.setup = std::move(closed);
  Publish();
}

void WindowModel::SetLogFiles(std::vector<std::string> names) {
  state_.logFiles = std::move(names);
  ++state_.logFilesListed;
  Publish();
}

std::shared_ptr<const WindowState> WindowModel::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return published_;
}

std::shared_ptr<const WindowState> WindowModel::WaitForChange(uint64_t seen, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return published_->version != seen; });
  return published_;
}

void WindowModel::AddChangeSignal(int fd) const {
  std::lock_guard<std::mutex> lock(mutex_);
  signals_.push_back(fd);
}

void WindowModel::RemoveChangeSignal(int fd) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase(signals_, fd);
}

}  // namespace telvara
