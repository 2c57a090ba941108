#pragma once
// The main view and the home of the call engine: it owns the modem driver, holds the
// settings, the directories and the line-state flags, shows status texts, and handles
// the messages that drive the machine (start-up, the ring-watch timer, shutdown, the
// window's commands).
//
// Engine thread only. It is re-entrant by design: every driver wait dispatches window
// messages, so a timer tick or a button can arrive in the middle of a call;
// `lineBusy` and `inTimer` turn such re-entries away.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/ByteStream.h"
#include "platform/EventLoop.h"
#include "settings/ModemSettings.h"

namespace telvara {

class CMessage;
class COrvanelDoc;
class CStartupWnd;
class FMODEM;
class Profile;
class WindowModel;

// What the view needs from the program around it.
struct ViewEnvironment {
  EventLoop* loop = nullptr;
  WindowModel* window = nullptr;
  Profile* profile = nullptr;
  PortOpener openPort;
  std::string programDir;  // ends in '/'
  // Sees every status text and message box as it is shown (the console log).
  std::function<void(const std::string&)> log;
};

class COrvanelView {
 public:
  static constexpr int kTimerPeriodMs = 200;
  static constexpr uint32_t kPollUnits = 20;  // 110 ms
  static constexpr uint32_t kRingWindowMs = 12000;
  static constexpr uint32_t kFirstCallOutDelayMs = 10000;
  static constexpr int kCallOutAttempts = 4;

  explicit COrvanelView(ViewEnvironment env);
  ~COrvanelView();
  COrvanelView(const COrvanelView&) = delete;
  COrvanelView& operator=(const COrvanelView&) = delete;

  // Start-up. It never refuses the view: what the design refuses it for (an object
  // that cannot be allocated) throws here, and every other failure is shown and lived
  // with.
  void OnCreate();
  void OnDestroy();
  void OnTimer(int timerId);
  // Buttons, menu commands and message-box answers from the window.
  void OnCommand(const LoopMessage& message);

  void ShowStatus(const std::string& text);
  // An OK-only box: shown without stopping the engine, since its answer changes nothing.
  // Without a title of its own it carries the application's title.
  void MessageBox(const std::string& text, const std::string& title = "Telvara for Win 95/NT");
  void StartLineWatch();
  void StopLineWatch();
  int ReturnToIdle();
  void AnswerCall();
  void TakeCall();
  void CallOwner();

  void SetDocument(COrvanelDoc* document) { document_ = document; }
  // Fills the window's list from the document, once at start.
  int FillMessageList();
  static std::string RowIdentity(const CMessage& message);

  // The view's state, as the design names it; read by tests and by the other parts of
  // the engine.
  int inTimer = 0;
  int watching = 0;
  int lineBusy = 0;
  int callOutPending = 0;
  int timerId = 0;
  int callOutAttempts = 0;
  int lastResult = 0;
  int ringCount = 0;
  uint32_t callOutDelay = 0;
  uint32_t callOutBase = 0;
  uint32_t lastRingTime = 0;
  ModemSettings settings;
  std::string programDir;
  std::string systemDir;
  std::string inboxDir;

 private:
  uint32_t Now() const;
  void PrepareDirectories();
  void InitializeModem();

  ViewEnvironment env_;
  LoopTimer ringTimer_;
  COrvanelDoc* document_ = nullptr;
  std::unique_ptr<FMODEM> modem_;
  std::unique_ptr<CStartupWnd> startupWindow_;
};

}  // namespace telvara
