#include "platform/WindowModel.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace telvara {

WindowModel::WindowModel() { Publish(); }

void WindowModel::Publish() {
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
  index = std::min(index, state_.rows.size());
  state_.rows.insert(state_.rows.begin() + static_cast<std::ptrdiff_t>(index), std::move(row));
  Publish();
}

void WindowModel::SetRows(std::vector<ListRow> rows) {
  state_.rows = std::move(rows);
  Publish();
}

void WindowModel::DeleteRow(std::size_t index) {
  if (index >= state_.rows.size()) return;
  state_.rows.erase(state_.rows.begin() + static_cast<std::ptrdiff_t>(index));
  Publish();
}

const ListRow* WindowModel::Row(std::size_t index) const {
  return index < state_.rows.size() ? &state_.rows[index] : nullptr;
}

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
