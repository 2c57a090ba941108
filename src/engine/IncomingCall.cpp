// Answering a call: the line bracket around the caller dialogue.
#include "engine/COrvanelView.h"
#include "modem/FMODEM.h"
#include "platform/ScreenSaver.h"

namespace telvara {

void COrvanelView::AnswerCall() {
  if (lineBusy) return;
  lineBusy = 1;
  StopLineWatch();
  SetScreenSaverActive(false);
  if (modem_->SetVoiceMode() != ResultOk) ShowStatus("Set modem to voice mode failed");
  if (modem_->SetFlowControl() != 1) ShowStatus("Set hardware flow control failed");
  if (modem_->Answer())
    TakeCall();
  else
    ShowStatus("Modem answer phone failed");
  ShowStatus("Hang up modem");
  modem_->HangUp();
  ReturnToIdle();
  SetScreenSaverActive(true);
  StartLineWatch();
  lineBusy = 0;
}

// The caller dialogue (greeting, menu, recording) is not built yet: the call is
// answered and then hung up at once.
void COrvanelView::TakeCall() { ShowStatus("Call answered: the caller dialogue is not built yet, hanging up"); }

}  // namespace telvara
