// The ring watch: it sleeps until the modem sends a line or its next deadline (the end
// of a ring window, a call-out that falls due, the modem's health probe), counts rings,
// answers at the configured count, and starts the call-outs to the owner.
#include <algorithm>

#include "engine/COrvanelView.h"
#include "modem/FMODEM.h"
#include "platform/Clock.h"

namespace telvara {

void COrvanelView::OnTimer(int id) {
  if (id == static_cast<int>(TimerId::ModemRetry)) {
    TryModemAgain();
    return;
  }
  if (!watching || lineBusy || inTimer) return;
  inTimer = 1;
  // Parked while the tick runs (its waits dispatch messages); armed again at its end.
  ringTimer_.Start(kProbeMs, TimerWakes::OnTimeOrInput);
  lastResult = modem_->WaitResult(kNoStopText, kPollUnits);
  uint32_t now = Now();
  if (modem_->Lost()) {
    inTimer = 0;
    ModemLost(modem_->LostReason());
    return;
  }
  if (lastResult != ResultNone) lastContact_ = now;
  if (lastResult == ResultNone) {
    if ((ringCount != 0 || ringWindow_) && now - lastRingTime > kRingWindowMs) {
      ringCount = 0;
      ForgetCaller();
      ShowStatus("Stand by");
    }
    if (callOutPending) {
      if (callOutAttempts >= kCallOutAttempts) {
        callOutPending = 0;
        callOutAttempts = 0;
      } else {
        callOutDelay = CallOutDelayMs();
        // Elapsed time by unsigned difference, so the tick counter's wrap after
        // 49.7 days neither fires a call-out early nor holds it back.
        if (now - callOutBase > callOutDelay) {
          ++callOutAttempts;
          CallOwner();
        }
      }
    }
    if (watching && !lineBusy && Now() - lastContact_ >= kProbeMs) ProbeModem();
  } else if (lastResult == ResultRing) {
    CountRing(now);
  }
  inTimer = 0;
  ArmRingWatch();
}

void COrvanelView::CountRing(uint32_t now) {
  // An identity from a window that lapsed unseen (the watch slept through its end) is
  // not this caller's.
  if (now - lastRingTime > kRingWindowMs) ForgetCaller();
  ringWindow_ = callerIdOn_;
  ShowStatus(caller_.Known() ? "Phone ringing.\n" + caller_.Text() : "Phone ringing.");
  if (now - lastRingTime <= kRingWindowMs)
    ++ringCount;
  else
    ringCount = 1;
  lastRingTime = now;
  if (ringCount >= settings.rings) {
    ringCount = 0;
    AnswerCall();
    ForgetCaller();
    callOutBase = Now();
  }
}

std::string COrvanelView::EnableCallerId() {
  callerIdOn_ = false;
  if (!settings.callerId) return "";
  const char* command = modem_->CallerIdCommand();
  if (command == nullptr) return "Caller ID is not available on this modem";
  if (modem_->SendCommand(command) != ResultOk) return std::string("The modem refused caller ID (") + command + ")";
  callerIdOn_ = true;
  return "";
}

void COrvanelView::TakeCallerIdLine(const std::string& line) {
  // Only between rings while the line is idle: lines in a call or before a ring are not
  // the caller's identity.
  if (!ringWindow_ || lineBusy || Now() - lastRingTime > kRingWindowMs) return;
  std::string before = caller_.Text();
  if (caller_.Take(line) && caller_.Text() != before && caller_.Known())
    ShowStatus("Phone ringing.\n" + caller_.Text());
}

void COrvanelView::ForgetCaller() {
  caller_.Clear();
  ringWindow_ = false;
}

uint32_t COrvanelView::CallOutDelayMs() const {
  return callOutAttempts == 0 ? kFirstCallOutDelayMs : static_cast<uint32_t>(settings.delaySeconds) * 1000u;
}

void COrvanelView::ArmRingWatch() {
  if (timerId == 0 || !watching) return;
  uint32_t now = Now();
  uint32_t wait = kProbeMs - std::min(now - lastContact_, kProbeMs);
  auto by = [&](uint32_t due) {  // one past `due`: the checks above compare with '>'
    int32_t left = static_cast<int32_t>(due + 1 - now);
    wait = std::min(wait, static_cast<uint32_t>(std::max(left, 1)));
  };
  if (ringCount != 0 || ringWindow_) by(lastRingTime + kRingWindowMs);
  if (callOutPending) by(callOutAttempts >= kCallOutAttempts ? now : callOutBase + CallOutDelayMs());
  // A second line already read from the port wakes no poll(): take it now.
  if (modem_->HasBufferedInput()) wait = 1;
  ringTimer_.Start(std::max<uint32_t>(wait, 1), TimerWakes::OnTimeOrInput);
}

void COrvanelView::ProbeModem() {
  for (int i = 0; i < kProbeTries; ++i) {
    ModemResult r = modem_->SendCommand("AT");
    if (modem_->Lost()) break;
    if (r == ResultOk || r == ResultRing) {
      lastContact_ = Now();
      if (r == ResultRing) CountRing(lastContact_);
      return;
    }
  }
  ModemLost(SilentModemReason());
}

}  // namespace telvara
