// The line bracket, and the speech operations on the view's directories.
#include "engine/COrvanelView.h"
#include "modem/FMODEM.h"
#include "platform/ScreenSaver.h"
#include "platform/WindowModel.h"
#include "prompts/VoicePrompts.h"

namespace telvara {

bool COrvanelView::RunOnLine(const std::function<void()>& work, const std::string& hangUpText) {
  // Never on a port that is not open (it failed at start, or the view is closing).
  if (lineBusy || closed_ || !modem_ || !modem_->IsOpen()) return false;
  lineBusy = 1;
  env_.window->SetLineBusy(true);
  StopLineWatch();
  SetScreenSaverActive(false);
  work();
  if (!hangUpText.empty()) ShowStatus(hangUpText);
  // A program that is stopping hangs up as it closes the port (DTR drops); a lost
  // port is taken back later.
  bool lost = modem_->Lost(), closing = env_.loop->Closing();
  if (!lost && !closing) {
    modem_->HangUp();
    ReturnToIdle();
  }
  SetScreenSaverActive(true);
  lineBusy = 0;
  env_.window->SetLineBusy(false);
  if (modem_->Lost())
    ModemLost(modem_->LostReason());
  else if (!closing)
    StartLineWatch();
  return true;
}

bool COrvanelView::LineAborted() { return modem_->Aborted(); }

FMODEM& COrvanelView::Modem() { return *modem_; }

int COrvanelView::PlayPrompt(const std::string& name) { return prompts_->PlayPrompt(name); }
int COrvanelView::PlayInboxFile(const std::string& name) { return prompts_->PlayInboxFile(name); }
int COrvanelView::RecordPrompt(const std::string& name) { return prompts_->RecordPrompt(name); }
int COrvanelView::RecordInboxFile(const std::string& name) {
  return prompts_->RecordInboxFile(name, static_cast<uint32_t>(settings.maxLenSeconds));
}
int COrvanelView::SpeakNumber(uint32_t value) { return prompts_->SpeakNumber(value); }
int COrvanelView::SpeakTime() { return prompts_->SpeakTime(); }
void COrvanelView::SpeakDigits(const std::string& text) { prompts_->SpeakDigits(text); }

}  // namespace telvara
