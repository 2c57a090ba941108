// The ring-watch timer: every tick polls the modem for a result line, counts rings,
// answers at the configured count, and starts the call-outs to the owner.
#include "engine/COrvanelView.h"
#include "modem/FMODEM.h"
#include "platform/Clock.h"

namespace telvara {

void COrvanelView::OnTimer(int /*timerId*/) {
  if (!watching || lineBusy || inTimer) return;
  inTimer = 1;
  lastResult = modem_->WaitResult(kNoStopText, kPollUnits);
  uint32_t now = Now();
  if (lastResult == ResultNone) {
    if (ringCount != 0 && now - lastRingTime > kRingWindowMs) {
      ringCount = 0;
      ShowStatus("Stand by");
    }
    if (callOutPending) {
      if (callOutAttempts >= kCallOutAttempts) {
        callOutPending = 0;
        callOutAttempts = 0;
      } else {
        callOutDelay =
            callOutAttempts == 0 ? kFirstCallOutDelayMs : static_cast<uint32_t>(settings.delaySeconds) * 1000u;
        // Elapsed time by unsigned difference, so the tick counter's wrap after
        // 49.7 days neither fires a call-out early nor holds it back.
        if (now - callOutBase > callOutDelay) {
          ++callOutAttempts;
          CallOwner();
        }
      }
    }
  } else if (lastResult == ResultRing) {
    ShowStatus("Phone ringing.");
    if (now - lastRingTime <= kRingWindowMs)
      ++ringCount;
    else
      ringCount = 1;
    lastRingTime = now;
    if (ringCount >= settings.rings) {
      ringCount = 0;
      AnswerCall();
      callOutBase = Now();
    }
  }
  inTimer = 0;
}

}  // namespace telvara
