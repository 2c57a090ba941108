#include "platform/BrowserSoundCard.h"

#include <stdio.h>
#include <unistd.h>

#include <charconv>

#include "platform/EventLoop.h"
#include "platform/FileReplace.h"
#include "platform/WavInfo.h"
#include "platform/WindowModel.h"

namespace telvara {

namespace {

// Reports kept unread at most: a page that floods them loses the newest.
constexpr std::size_t kMaxReports = 16;

}  // namespace

std::string BrowserSoundCard::UploadPath(const std::string& dir, int id) {
  return dir + "greeting-" + std::to_string(id) + ".wav";
}

BrowserSoundCard::BrowserSoundCard(EventLoop& loop, WindowModel& window) : loop_(loop), window_(window) {}

BrowserSoundCard::~BrowserSoundCard() { Close(); }

void BrowserSoundCard::Publish(const std::string& page, const std::string& kind, const std::string& url, bool stop) {
  SoundRequest request;
  request.id = current_;
  request.page = page;
  request.kind = kind;
  request.url = url;
  request.stop = stop;
  window_.SetSound(std::move(request));
}

void BrowserSoundCard::OnReport(const std::string& data) {
  int id = 0;
  auto [end, ec] = std::from_chars(data.data(), data.data() + data.size(), id);
  if (ec != std::errc() || id == 0 || id != current_ || end == data.data() + data.size() || *end != ' ') return;
  lastHeard_ = loop_.Ticks();
  std::string report(end + 1, data.data() + data.size());
  if (report != "alive" && reports_.size() < kMaxReports) reports_.push_back(std::move(report));
}

bool BrowserSoundCard::WaitFor(const std::function<bool()>& done, uint32_t deadline) {
  for (;;) {
    if (done()) return true;
    uint32_t now = loop_.Ticks();
    uint32_t gone = lastHeard_ + kPageGoneMs;
    if (loop_.QuitRequested() || TickReached(now, deadline) || TickReached(now, gone)) return false;
    if (loop_.PumpOne()) continue;
    loop_.WaitUntil(static_cast<int32_t>(deadline - gone) < 0 ? deadline : gone, WaitFor::Messages);
  }
}

std::string BrowserSoundCard::NextReport(uint32_t deadline) {
  if (!WaitFor([this] { return !reports_.empty(); }, deadline)) return "";
  std::string report = std::move(reports_.front());
  reports_.pop_front();
  return report;
}

bool BrowserSoundCard::Play(const std::string& page, const std::string& path, const std::string& url) {
  WavInfo info = InspectWav(path);
  if (!info.Playable() || page.empty()) return false;
  Close();
  current_ = nextId_++;
  page_ = page;
  lastHeard_ = loop_.Ticks();
  Publish(page, "play", url, false);
  // A length beyond any real file must not wrap the tick arithmetic.
  uint64_t length = std::min<uint64_t>(info.DurationMs(), 24u * 3600u * 1000u);
  std::string report = NextReport(loop_.Ticks() + static_cast<uint32_t>(length) + kPlaySlackMs);
  Close();
  return report == "ended";
}

BrowserSoundCard::Opened BrowserSoundCard::OpenRecorder(const std::string& page) {
  Close();
  if (page.empty()) return Opened::OpenFailed;
  current_ = nextId_++;
  page_ = page;
  lastHeard_ = loop_.Ticks();
  Publish(page, "record", "", false);
  std::string report = NextReport(loop_.Ticks() + kOpenMs);
  if (report == "recording") return Opened::Recording;
  if (report == "open-error insecure") return Opened::InsecurePage;
  if (report == "start-error") return Opened::StartFailed;
  return Opened::OpenFailed;
}

void BrowserSoundCard::WaitWhileRecording(int boxId) {
  WaitFor([&] { return !window_.BoxOpen(boxId) || !reports_.empty(); }, loop_.Ticks() + kMaxRecordingMs);
  window_.CloseBox(boxId);
}

bool BrowserSoundCard::StopRecorder() {
  if (current_ == 0) return false;
  Publish(page_, "record", "", true);
  std::string report = NextReport(loop_.Ticks() + kSendMs);
  // The page says "stopped" before it sends; an upload seen first has stopped too.
  if (report == "uploaded") reports_.push_front(report);
  return report == "stopped" || report == "uploaded";
}

bool BrowserSoundCard::SaveRecording(const std::string& path) {
  if (current_ == 0 || uploadDir_.empty() || NextReport(loop_.Ticks() + kSendMs) != "uploaded") return false;
  std::string upload = UploadPath(uploadDir_, current_);
  WavInfo info = InspectWav(upload);
  bool saved = info.WellFormed() && info.DurationMs() <= kMaxRecordingMs && ::rename(upload.c_str(), path.c_str()) == 0;
  if (saved) SyncDirectoryOf(path);
  return saved;
}

void BrowserSoundCard::Close() {
  if (current_ == 0) return;
  if (!uploadDir_.empty()) ::unlink(UploadPath(uploadDir_, current_).c_str());
  current_ = 0;
  page_.clear();
  reports_.clear();
  window_.SetSound(SoundRequest{});
}

}  // namespace telvara
