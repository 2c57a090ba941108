// The view's life: start-up with the modem bring-up, line watching, status texts,
// and shutdown.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "engine/COrvanelView.h"
#include "engine/StartupWindow.h"
#include "modem/FMODEM.h"
#include "platform/BrowserSoundCard.h"
#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "platform/HookRunner.h"
#include "platform/Profile.h"
#include "platform/WindowModel.h"
#include "prompts/VoicePrompts.h"
#include "settings/ModemSetupDlg.h"

namespace telvara {

COrvanelView::COrvanelView(ViewEnvironment env)
    : env_(std::move(env)),
      ringTimer_(*env_.loop, TimerId::RingWatch),
      retryTimer_(*env_.loop, TimerId::ModemRetry),
      soundCard_(std::make_unique<BrowserSoundCard>(*env_.loop, *env_.window)),
      questions_(*env_.window) {}

COrvanelView::~COrvanelView() {
  hooks_.reset();
  prompts_.reset();
  if (modem_) modem_->CloseComm();
}

uint32_t COrvanelView::Now() const { return env_.loop->Ticks(); }

void COrvanelView::ShowStatus(const std::string& text) {
  env_.window->SetStatus(text);
  if (env_.log) env_.log(text);
}

void COrvanelView::MessageBox(const std::string& text, const std::string& title) {
  env_.window->OpenBox(title, text, {"OK"}, false);
  if (env_.log) env_.log("[" + title + "] " + text);
}

void COrvanelView::StartLineWatch() {
  if (timerId != 0) return;
  if (ringTimer_.Start(kTimerPeriodMs, TimerWakes::OnTimeOrInput)) {
    timerId = static_cast<int>(ringTimer_.Id());
    watching = 1;
    ArmRingWatch();
  }
}

void COrvanelView::StopLineWatch() {
  if (timerId == 0) return;
  watching = 0;
  ringTimer_.Stop();
  timerId = 0;
}

int COrvanelView::ReturnToIdle() {
  int result = modem_->SendCommand("AT+FCLASS=0");
  ShowStatus("Stand by");
  return result;
}

void COrvanelView::PrepareDirectories() {
  programDir = env_.programDir;
  if (!programDir.empty() && programDir.back() != '/') programDir += '/';
  inboxDir = programDir + "inbox/";
  systemDir = programDir + "system/";
  soundCard_->SetUploadDir(systemDir);  // where the window's server puts a recording
  std::string inbox = programDir + "inbox";
  struct stat st {};
  if (stat(inbox.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
  MessageBox("Directory \"" + inbox + "\" does not exist. Telvara will create a new directory.", "File Path Not Found");
  // Recordings would fail one by one later; say now why.
  if (mkdir(inbox.c_str(), 0755) != 0 && !(stat(inbox.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
    MessageBox("Directory \"" + inbox + "\" could not be created: " + std::strerror(errno), "File Path Not Found");
}

void COrvanelView::OnCreate() {
  startupWindow_ = std::make_unique<CStartupWnd>(*env_.window);
  if (!startupWindow_->Create()) MessageBox("WindowCreation Failed");
  auto text = [this](const std::string& t) {
    startupWindow_->SetStatus(t);
    if (env_.log) env_.log(t);
  };

  text("Checking directory");
  PrepareDirectories();

  text("Read in settings");
  // What the profile holds that cannot be used as written is told once, here.
  std::vector<std::string> notices;
  settings = LoadSettings(*env_.profile, &notices);
  for (const std::string& notice : notices)
    if (env_.log) env_.log(notice);
  StartHooks();

  modem_ = std::make_unique<FMODEM>(*env_.loop, env_.openPort);
  modem_->SetFaultReporter([this](const std::string& fault) { ShowStatus(fault); });
  modem_->SetOtherLineSink([this](const std::string& line) { TakeCallerIdLine(line); });
  prompts_ = std::make_unique<VoicePrompts>(*modem_, *env_.loop, [this](const std::string& t) { ShowStatus(t); });
  prompts_->SetDirectories(systemDir, inboxDir);

  text("Open comm port");
  if (!modem_->OpenComm(settings.port, settings.speed)) {
    MessageBox("OpenCom Failed");
    watching = 0;
    // A USB modem not plugged in yet: the port is tried again until it opens.
    ShowStatus("OpenCom Failed: COM" + std::to_string(settings.port) + ": " + modem_->OpenError() + "; trying again");
    RetryModemLater(false);
    startupWindow_.reset();
    return;
  }
  // A stop during the bring-up makes it look silent; that is no lost modem.
  if (BringUpModem(text) == BringUp::Silent && !env_.loop->Closing()) ModemLost(SilentModemReason());
  startupWindow_.reset();
}

void COrvanelView::OnDestroy() {
  // Closing the port pumps messages (the short wait below): clicks still queued then
  // are dropped, never run on a closing or closed port.
  closed_ = true;
  hooks_.reset();  // a running hook is ended (see HookRunner), so closing never waits on one
  StopLineWatch();
  retryTimer_.Stop();
  startupWindow_.reset();
  prompts_.reset();
  if (modem_) {
    modem_->ReleaseWave();
    modem_->CloseComm();  // drops DTR: a modem set up with &D2 goes on hook
    env_.loop->Delay(10);
    modem_.reset();
  }
}

}  // namespace telvara
