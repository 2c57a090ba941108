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
#include <utility>
#include <vector>

#include "engine/CallerId.h"
#include "engine/WindowQuestions.h"
#include "platform/ByteStream.h"
#include "platform/EventLoop.h"
#include "settings/ModemSettings.h"

namespace telvara {

class CMessage;
class CModemSetupDlg;
class COrvanelDoc;
struct SaveResult;
class CStartupWnd;
class FMODEM;
class HookRunner;
class Profile;
class BrowserSoundCard;
class VoicePrompts;
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
  // The serial devices the set-up dialog offers; unset: those of the machine.
  std::function<std::vector<std::string>()> findSerialDevices;
  // Each output line of a new-message hook, called on the hook runner's thread; unset:
  // standard output.
  std::function<void(const std::string&)> hookOutput = {};
};

class COrvanelView {
 public:
  static constexpr int kTimerPeriodMs = 200;
  static constexpr uint32_t kPollUnits = 20;  // 110 ms
  static constexpr uint32_t kRingWindowMs = 12000;
  static constexpr uint32_t kFirstCallOutDelayMs = 10000;
  static constexpr int kCallOutAttempts = 4;
  // The modem's health: an idle modem that has said nothing for kProbeMs is sent "AT";
  // kProbeTries without "OK" count as lost. A lost modem is tried again after
  // kFirstRetryMs, the interval doubling up to kLastRetryMs.
  static constexpr uint32_t kProbeMs = 10 * 60 * 1000;
  static constexpr int kProbeTries = 3;
  static constexpr uint32_t kFirstRetryMs = 5000;
  static constexpr uint32_t kLastRetryMs = 60000;
  static constexpr uint32_t kCallerSilenceMs = 6000;  // the menu is offered again
  static constexpr uint32_t kOwnerSilenceMs = 8000;   // in the owner's menu
  static constexpr uint32_t kCodeDeadlineMs = 20000;  // the whole security code
  static constexpr int kCodeChecksPerCall = 3;        // then a call checks no more codes

  // The settings dialogues by telephone.
  static constexpr uint32_t kAnswerWaitMs = 8000;      // for a key, from the end of the question
  static constexpr uint32_t kEntryDeadlineMs = 20000;  // a whole digit string entered by phone
  static constexpr int kQuestionTimeouts = 3;          // more and a telephone dialogue ends

  explicit COrvanelView(ViewEnvironment env);
  ~COrvanelView();
  COrvanelView(const COrvanelView&) = delete;
  COrvanelView& operator=(const COrvanelView&) = delete;

  // Start-up. It never refuses the view: what the design refuses it for (an object
  // that cannot be allocated) throws here, and every other failure is shown and lived
  // with.
  void OnCreate();
  void OnDestroy();
  // The ring watch's and the modem retry's timers.
  void OnTimer(int id);
  // Buttons, menu commands and message-box answers from the window; dropped once
  // OnDestroy has begun.
  void OnCommand(const LoopMessage& message);
  // The four buttons. A message is named by its row's identity; `page` is the page
  // that clicked, which is the sound card.
  void OnPlayMessage(const std::string& identity, const std::string& page);
  void OnDeleteMessage(const std::string& identity);
  void OnPlayAnnouncement(const std::string& page);
  void OnRecordAnnouncement(const std::string& page);

  // The "Modem Set Up" dialog: opened in the window; the page's answer (its values as
  // JSON, or "cancel") is confirmed in a question and written to the profile only.
  void OnSetupModem();
  void OnSetupAnswer(const std::string& data);
  // After a confirmed set-up the owner may restart the program at once: the loop is
  // closed as for Exit and the program starts itself again.
  bool RestartRequested() const { return restartRequested_; }

  // The File commands on the message log of the program directory. Open with an empty
  // name lists the logs in the window; a name must be one of them. The list is filled
  // again from the new document, so row i stays message i.
  void OnFileNew();
  void OnFileOpen(const std::string& name);
  void OnFileSave();

  void ShowStatus(const std::string& text);
  // An OK-only box: shown without stopping the engine, since its answer changes nothing.
  // Without a title of its own it carries the application's title.
  void MessageBox(const std::string& text, const std::string& title = "Telvara for Win 95/NT");
  void StartLineWatch();
  void StopLineWatch();
  int ReturnToIdle();
  // The line bracket every operation on the line runs in: refused (false) while the
  // line is busy or the port is not open; else takes the line, stops the watch, runs the work, shows the
  // hang-up text (if any), hangs up, returns the modem to idle and watches the line
  // again.
  bool RunOnLine(const std::function<void()>& work, const std::string& hangUpText);
  void AnswerCall();
  void TakeCall();
  // True when the digits that follow match the rest of the security code; the first
  // character has just been taken. On a mismatch the events are put back.
  bool VerifySecurityCode();
  // After a correct code: the owner's welcome and menu.
  void EnterOwnerMenu();
  void OwnerMenu();
  void NotificationCall();
  void CallOwner();
  // Settings and the security code by telephone (owner menu keys 8 and 7), and the
  // touch-tone entry of up to `maximum` digits they use.
  void ChangeSettingsByPhone();
  void ChangeSecurityCodeByPhone();
  std::string ReadDigits(int maximum);

  // The speech operations, on the view's directories, reporting through ShowStatus.
  int PlayPrompt(const std::string& name);
  int PlayInboxFile(const std::string& name);
  int RecordPrompt(const std::string& name);
  int RecordInboxFile(const std::string& name);
  // Records the modem's greeting; it replaces the old one only when the recording
  // ended normally. 1 then.
  int RecordAnnounceFile();
  int SpeakNumber(uint32_t value);
  int SpeakTime();
  void SpeakDigits(const std::string& text);

  void SetDocument(COrvanelDoc* document) { document_ = document; }
  // The view's modem driver, for tests that take the line themselves.
  FMODEM& Modem();
  // Fills the window's list from the document, at start and whenever the document is
  // replaced; rows already shown are dropped.
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
  // The modem's bring-up after an open. Silent: nobody answers (or the port failed),
  // and the modem is to be tried again; Refused: a command was answered with ERROR,
  // which is shown and lived with.
  enum class BringUp { Ready, Refused, Silent };
  BringUp InitializeModem();
  BringUp BringUpModem(const std::function<void(const std::string&)>& text);
  // The port is closed and opened again later (after kFirstRetryMs, or after twice the
  // last wait when a retry found the modem still silent); the status says why.
  void ModemLost(const std::string& reason, bool backOff = false);
  void RetryModemLater(bool backOff);
  // Why a bring-up or probe found nobody: the port's failure, else the modem's silence.
  std::string SilentModemReason() const;
  void TryModemAgain();
  // The ring watch's parts: a ring counted, the next deadline armed, the health probe.
  void CountRing(uint32_t now);
  // Caller ID: turned on at each bring-up when the profile asks (the refusal, if any, is
  // returned); the ring window's lines taken; the identity forgotten with its window.
  std::string EnableCallerId();
  void TakeCallerIdLine(const std::string& line);
  void ForgetCaller();
  uint32_t CallOutDelayMs() const;
  void ArmRingWatch();
  void ProbeModem();
  // The line is gone or the program is stopping: a dialogue ends at once.
  bool LineAborted();
  // Waits for the modem's next event, a window message, or the tick.
  void WaitForEvent(uint32_t until);
  // Whether a key starts a security-code check in this call.
  bool CodeCheckStartsWith(int key);
  // The questions of the telephone dialogues. WaitForKey plays the question and gives
  // the next event, 0 after kAnswerWaitMs without one. Ask also counts the time-outs
  // (a report of the line, such as a busy tone, counts as one) and gives -1 when there
  // have been too many.
  enum class Reply { Accept, Change, Keep, AskAgain, End };
  int WaitForKey(int prompt);
  int Ask(int prompt, int& timeouts);
  // Prompt 27 after a read-back; a '*' or '#' is put back for the owner's menu (End).
  Reply AskToConfirm(int& timeouts);
  void SpeakActionNumber(int action);
  // A profile write that failed: the value runs on, the status says why it was not kept.
  void CheckSaved(bool written);
  // The owner's walk: the ordinal-th message of all, or of those not yet heard.
  CMessage* WalkMessage(bool allMessages, int ordinal) const;
  int PositionOf(const CMessage* message) const;
  void ShowIfNotSaved(const SaveResult& saved);
  // The new-message command, when the profile has one: its runner; a message just
  // listed is noted, and its command started once the call has hung up (so that a
  // failure's status is not replaced at once by the hang-up's).
  void StartHooks();
  void NotifyNewMessage(const CMessage& message);
  void RunPendingHook();
  // The set-up dialog's confirmation and the restart offer that follows a save.
  void ConfirmSetup(const std::string& button);
  void OfferRestart();
  // A File command may change the document: not while a line operation holds its
  // messages, and not before what is unsaved has been saved. False, with `refusal`
  // or the failed save shown, when it may not.
  bool MayReplaceDocument(const std::string& refusal);
  // The buttons' share: the position of the message with that identity, or -1; the
  // modem's preparation for the handset or the speaker (false: skip the work); any
  // device but those two is the sound card.
  int FindMessage(const std::string& identity) const;
  bool PrepareLocalLine(const char* flowControlFailed);
  bool UsesSoundCard() const;
  void RecordWithSoundCard(const std::string& page);

  ViewEnvironment env_;
  LoopTimer ringTimer_;
  LoopTimer retryTimer_;
  uint32_t retryDelayMs_ = kFirstRetryMs;
  uint32_t lastContact_ = 0;  // when the modem last said something
  COrvanelDoc* document_ = nullptr;
  std::unique_ptr<FMODEM> modem_;
  std::unique_ptr<VoicePrompts> prompts_;
  std::unique_ptr<CStartupWnd> startupWindow_;
  std::unique_ptr<BrowserSoundCard> soundCard_;
  std::unique_ptr<HookRunner> hooks_;
  std::vector<std::pair<std::string, std::string>> pendingHook_;  // the new message's variables
  int failedCodeChecks_ = 0;                                      // in the call going on

  bool callerIdOn_ = false;     // the modem took the caller-ID command
  bool ringWindow_ = false;     // caller ID on, and a ring's window is open
  CallerId caller_;             // reported in the open ring window
  std::string callerIdNotice_;  // why caller ID is off, as last shown
  WindowQuestions questions_;
  std::unique_ptr<CModemSetupDlg> setupDialog_;  // while the dialog is open
  int setupQuestion_ = 0;                        // the open confirmation's box
  bool restartRequested_ = false;
  bool closed_ = false;  // OnDestroy has begun: the port is closing or closed
};

}  // namespace telvara
