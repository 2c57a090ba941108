#pragma once
// The machine's sound card is the browser of the person who clicked. A request in the
// window state (SoundRequest) asks the page that sent the command, by its id, to play
// a file that the server serves, or to record from its microphone and send the
// recording back (POST /api/greeting). The page reports how it goes with
// command::kSoundReport, "<request id> <report>", and says "alive" every few seconds
// while it holds a request; the server reports "uploaded" when a recording has
// arrived whole.
//
// Each operation waits as a modal box does, dispatching the engine's messages, and
// every wait is bounded: by its own limit, by kPageGoneMs without a word from the
// page, and by the program closing.
//
// Engine thread only.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace telvara {

class EventLoop;
class WindowModel;

class BrowserSoundCard {
 public:
  static constexpr uint32_t kPlaySlackMs = 5000;       // beyond the file's length
  static constexpr uint32_t kPageGoneMs = 30000;       // without a report: the page has gone
  static constexpr uint32_t kOpenMs = 60000;           // for the microphone to be given
  static constexpr uint32_t kMaxRecordingMs = 600000;  // 10 minutes
  static constexpr uint32_t kSendMs = 300000;          // for the recording to arrive
  // The largest recording the server takes: 10 minutes of 16-bit mono at 48 kHz, and
  // some room.
  static constexpr uint64_t kMaxRecordingBytes = 64u << 20;

  // Where the server puts a recording that has arrived whole, in the upload directory
  // (ending in '/'), for request `id`.
  static std::string UploadPath(const std::string& dir, int id);

  enum class Opened {
    Recording,
    OpenFailed,    // no microphone, the permission refused, or no answer from the page
    InsecurePage,  // the browser gives the microphone only to HTTPS or loopback pages
    StartFailed,
  };

  BrowserSoundCard(EventLoop& loop, WindowModel& window);
  ~BrowserSoundCard();
  BrowserSoundCard(const BrowserSoundCard&) = delete;
  BrowserSoundCard& operator=(const BrowserSoundCard&) = delete;

  void SetUploadDir(std::string dir) { uploadDir_ = std::move(dir); }
  // A kSoundReport's data; reports for any other request than the current one are
  // dropped.
  void OnReport(const std::string& data);

  // Plays the file at `path` (served to the page at `url`) in page `page`; true once
  // the page has played it to its end. False at once when the file cannot be played
  // or no page is named; else after an error from the page or when the file's length
  // and kPlaySlackMs have passed.
  bool Play(const std::string& page, const std::string& path, const std::string& url);

  // The recording, as the steps of a recording device.
  Opened OpenRecorder(const std::string& page);
  // Returns when the box `boxId` is answered, the recording has run kMaxRecordingMs,
  // the page reports a failure or has gone, or the program closes; the box is closed.
  void WaitWhileRecording(int boxId);
  // Asks the page to stop; true when it did.
  bool StopRecorder();
  // Takes the recording the page sends: a well-formed WAV of at most kMaxRecordingMs
  // replaces the file at `path` by a rename, so a failed save keeps the file as it was.
  bool SaveRecording(const std::string& path);
  // Ends the request; what was sent and not saved is removed.
  void Close();

 private:
  void Publish(const std::string& page, const std::string& kind, const std::string& url, bool stop);
  // The next report other than "alive"; "" when `deadline` comes first, the page has
  // gone or the program closes.
  std::string NextReport(uint32_t deadline);
  // Dispatches messages until `done` or the same ends as NextReport; true on `done`.
  bool WaitFor(const std::function<bool()>& done, uint32_t deadline);

  EventLoop& loop_;
  WindowModel& window_;
  std::string uploadDir_;
  int nextId_ = 1;
  int current_ = 0;  // the request going on, 0 when none
  std::string page_;
  uint32_t lastHeard_ = 0;  // the page's last report, or the request's start
  std::deque<std::string> reports_;
};

}  // namespace telvara
