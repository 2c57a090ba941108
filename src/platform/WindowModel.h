#pragma once
// The main window as data. The engine thread changes it through the setters; each
// change publishes a new immutable WindowState with a higher version, which the web
// server's threads read (Snapshot) and follow (WaitForChange, or a descriptor that each
// change signals). The page only draws the state and posts back what the user did.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/RowList.h"

namespace telvara {

// Ids of the commands that the page posts to the engine (Message::Kind::Command).
namespace command {
constexpr int kBoxAnswer = 1;    // data: "<box id> <button text>"
constexpr int kSoundReport = 2;  // data: "<request id> <what the page reports>"
constexpr int kSetupAnswer = 3;  // data: the set-up dialog's values, or "cancel"
constexpr int kFileNew = 57600;
constexpr int kFileOpen = 57601;  // data: the log file's name in the program directory
constexpr int kFileSave = 57603;
constexpr int kDeleteMessage = 1001;  // data: the row's identity
constexpr int kPlayMessage = 1002;    // data: the row's identity
constexpr int kPlayAnnouncement = 1003;
constexpr int kRecordAnnouncement = 1004;
constexpr int kSetupModem = 32771;
constexpr int kAbout = 57664;
constexpr int kExit = 57665;
}  // namespace command

struct MessageBoxState {
  int id = 0;
  std::string title;
  std::string text;
  std::vector<std::string> buttons;  // "OK", or "Yes"/"No" for a question
  bool modal = false;                // the engine waits for the answer
};

// The "Modem Set Up" dialog while it is open: the profile's values as stored (a value
// outside its group shows as nothing chosen), and the serial devices beside them.
struct SetupDeviceState {
  int com = 0;
  std::string device;  // what COM<com> opens
  bool exists = false;
};

struct SetupDialogState {
  bool open = false;
  int revision = 0;  // changes whenever the engine sets the values the page must show
  int port = 2, speed = 0, type = 0, device = 0, rings = 0, delay = 0, action = 0;
  std::string init, phone, pager, security;
  std::string map;                         // the device the chosen Com number is to open; empty: as it is
  std::vector<SetupDeviceState> ports;     // Com1 to Com4
  std::vector<std::string> serialDevices;  // the serial devices found on the machine
};

// The sound card is the browser of the person who clicked: this asks the page that
// sent the command to play a file the server serves, or to record from its microphone.
struct SoundRequest {
  int id = 0;         // 0: no request
  std::string page;   // the id of the page that plays or records
  std::string kind;   // "play" or "record"
  std::string url;    // play: what to play, relative to the page
  bool stop = false;  // record: stop now and send the recording
};

struct WindowState {
  uint64_t version = 0;
  std::string title;
  bool startupVisible = false;
  std::string startupTitle;
  std::string startupStatus;
  std::string status;  // the status box
  std::string header;  // the column header over the list
  RowList rows;
  uint64_t rowsVersion = 0;            // changes only when the rows do; never the same in two runs
  std::vector<MessageBoxState> boxes;  // open message boxes, oldest first
  bool lineBusy = false;               // a line operation runs: the line buttons are unavailable
  SoundRequest sound;                  // what a page plays or records now
  bool closing = false;                // the program is shutting down
  SetupDialogState setup;
  std::vector<std::string> logFiles;  // the program directory's logs, as listed last
  uint64_t logFilesListed = 0;        // how many times they were listed
};

class WindowModel {
 public:
  WindowModel();

  // While a Batch lives, changes are published once, when it ends: 65,535 messages
  // listed at start are one change, not 65,535 copies of a growing list. Engine thread.
  class Batch {
   public:
    explicit Batch(WindowModel& model) : model_(model) { ++model_.batches_; }
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

   private:
    WindowModel& model_;
  };

  // Engine thread.
  void SetTitle(const std::string& title);
  void SetHeader(const std::string& header);
  void ShowStartup(const std::string& title, const std::string& status);
  void SetStartupStatus(const std::string& status);
  void HideStartup();
  void SetStatus(const std::string& text);
  const std::string& Status() const { return state_.status; }
  void InsertRow(std::size_t index, ListRow row);  // an index past the end appends
  void SetRows(std::vector<ListRow> rows);         // the whole list at once
  void DeleteRow(std::size_t index);               // an index past the end does nothing
  std::size_t RowCount() const { return rows_.size(); }
  const ListRow* Row(std::size_t index) const;
  // Opens a box and returns its id; CloseBox removes it (the user's answer). A box that
  // only informs (not modal) is not opened twice: the same title and text give the id
  // of the one already open. Beyond kMaxInformingBoxes the oldest of them goes, so no
  // storm of commands grows the state without bound.
  static constexpr std::size_t kMaxInformingBoxes = 16;
  int OpenBox(const std::string& title, const std::string& text, std::vector<std::string> buttons, bool modal);
  bool CloseBox(int id);
  bool BoxOpen(int id) const;
  void SetLineBusy(bool busy);
  void SetSound(SoundRequest request);  // an id of 0 ends the request
  void SetClosing();
  // Opens the set-up dialog or shows new values in it; closing it forgets them.
  void ShowSetupDialog(SetupDialogState dialog);
  void CloseSetupDialog();
  void SetLogFiles(std::vector<std::string> names);
  // The state as it stands, except that within a Batch its rows are those published
  // last (RowCount and Row are always current).
  const WindowState& Current() const { return state_; }

  // Any thread.
  std::shared_ptr<const WindowState> Snapshot() const;
  // Blocks until the version differs from `seen` or the time-out passes; gives the
  // snapshot as it then stands.
  std::shared_ptr<const WindowState> WaitForChange(uint64_t seen, int timeoutMs) const;
  // Each change adds 1 to the eventfd `fd` (until it is removed), so that a thread
  // waiting in poll() learns of it.
  void AddChangeSignal(int fd) const;
  void RemoveChangeSignal(int fd) const;

 private:
  void Publish();

  WindowState state_;          // engine thread's working copy, rows aside
  std::vector<ListRow> rows_;  // the rows as they stand; state_.rows is made from them
  bool rowsChanged_ = false;   // since state_.rows was made
  int batches_ = 0;            // Batches alive
  bool held_ = false;          // a change waits for the Batch to end
  int nextBoxId_ = 1;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::shared_ptr<const WindowState> published_;  // guarded by mutex_
  mutable std::vector<int> signals_;              // guarded by mutex_
};

}  // namespace telvara
