#include "web/ParkedConnections.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <algorithm>

namespace telvara {

ParkedConnections::ParkedConnections(const WindowModel& model) : model_(model) {}

ParkedConnections::~ParkedConnections() { Stop(); }

bool ParkedConnections::Start() {
  wake_.Reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake_.IsValid()) return false;
  model_.AddChangeSignal(wake_.Get());
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    model_.RemoveChangeSignal(wake_.Get());
    return false;
  }
  return true;
}

void ParkedConnections::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  Wake();
  thread_.join();
  model_.RemoveChangeSignal(wake_.Get());
}

void ParkedConnections::Wake() {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wake_.Get(), &one, sizeof one);
}

bool ParkedConnections::Park(Entry entry) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return false;
    // Under the lock, so that Stop() either sees this connection or was seen here.
    MHD_suspend_connection(entry.connection);
    entries_.push_back(std::move(entry));
  }
  Wake();
  return true;
}

bool ParkedConnections::ParkStream(MHD_Connection* connection, const Stream& stream) {
  return Park(Entry{connection, true, stream, stream.keepAliveDue});
}

bool ParkedConnections::ParkUntil(MHD_Connection* connection, TimePoint due) {
  return Park(Entry{connection, false, Stream{}, due});
}

bool ParkedConnections::EndOldestStream(const std::string& key) {
  MHD_Connection* connection = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto oldest = entries_.end();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->isStream && it->stream.key == key &&
          (oldest == entries_.end() || it->stream.started < oldest->stream.started)) {
        oldest = it;
      }
    }
    if (oldest == entries_.end()) return false;
    oldest->stream.end->store(true);
    connection = oldest->connection;
    entries_.erase(oldest);
  }
  MHD_resume_connection(connection);
  return true;
}

void ParkedConnections::Run() {
  std::vector<pollfd> fds;
  std::vector<MHD_Connection*> resume;
  for (;;) {
    // What to watch, and until when.
    int timeout = -1;
    fds.assign(1, pollfd{wake_.Get(), POLLIN, 0});
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto now = std::chrono::steady_clock::now();
      for (const Entry& e : entries_) {
        if (e.isStream) fds.push_back(pollfd{e.stream.socket, POLLRDHUP, 0});
        auto left = std::chrono::ceil<std::chrono::milliseconds>(e.due - now).count();
        int ms = static_cast<int>(std::clamp<long long>(left, 0, 24 * 3600 * 1000));
        if (timeout < 0 || ms < timeout) timeout = ms;
      }
    }
    poll(fds.data(), fds.size(), timeout);
    std::vector<int> hungUp;
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) hungUp.push_back(fds[i].fd);
    }
    uint64_t count;
    [[maybe_unused]] ssize_t n = read(wake_.Get(), &count, sizeof count);

    bool stopping;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping = stopping_;
      uint64_t version = model_.Snapshot()->version;
      auto now = std::chrono::steady_clock::now();
      for (auto it = entries_.begin(); it != entries_.end();) {
        bool gone = it->isStream && std::find(hungUp.begin(), hungUp.end(), it->stream.socket) != hungUp.end();
        bool due = stopping || gone || now >= it->due || (it->isStream && it->stream.seen != version);
        if (!due) {
          ++it;
          continue;
        }
        if (it->isStream && (gone || stopping)) it->stream.end->store(true);
        resume.push_back(it->connection);
        it = entries_.erase(it);
      }
    }
    for (MHD_Connection* c : resume) MHD_resume_connection(c);
    resume.clear();
    if (stopping) return;
  }
}

}  // namespace telvara
