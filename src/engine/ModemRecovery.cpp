// The modem's bring-up, and taking the modem back when it is lost: a port that hung up
// or failed (a USB modem unplugged), a modem that stopped answering, a port that could
// not be opened at start. The port is closed and opened again, 5 s later and then at
// doubling intervals up to a minute; each open runs the whole bring-up again.
#include <algorithm>

#include "engine/COrvanelView.h"
#include "modem/FMODEM.h"
#include "platform/WindowModel.h"

namespace telvara {

COrvanelView::BringUp COrvanelView::InitializeModem() {
  ModemResult r = modem_->SendCommand(settings.initString);
  if (r != ResultOk) {
    modem_->HangUp();
    ModemResult again = modem_->SendCommand(settings.initString);
    // No reply at all, twice: nobody is there (switched off, unplugged).
    if (again == ResultNone && r == ResultNone) return BringUp::Silent;
    if (again != ResultOk) {
      MessageBox("Modem Initialize Failed.");
      return BringUp::Refused;
    }
  }
  modem_->SendCommand("ATE0V1");
  return BringUp::Ready;
}

COrvanelView::BringUp COrvanelView::BringUpModem(const std::function<void(const std::string&)>& text) {
  if (!modem_->OpenNotice().empty()) text(modem_->OpenNotice());
  text("Initializing modem");
  watching = 1;
  BringUp result = InitializeModem();
  if (result == BringUp::Silent || modem_->Lost()) return BringUp::Silent;
  modem_->SetModemType(static_cast<unsigned>(settings.modemType));

  text("Trying to set modem to voice mode");
  ModemResult voice = modem_->SetVoiceMode();
  std::string callerIdRefusal;
  if (voice == ResultOk) {
    text("Modem Set to voice mode");
    if (modem_->SetFlowControl() != 1) text("Set hardware flow control failed");
    callerIdRefusal = EnableCallerId();
  } else if (voice == ResultNone) {
    return BringUp::Silent;
  } else {
    watching = 0;
    MessageBox("Set Voice Mode Failed");
    result = BringUp::Refused;
  }
  text("Ready");

  lastRingTime = callOutBase = lastContact_ = Now();
  // The watch starts after the closing command, so that it does not take that reply.
  ReturnToIdle();
  if (modem_->Lost()) return BringUp::Silent;
  ringCount = -1;
  if (watching) {
    StartLineWatch();
    if (timerId == 0) watching = 0;
    // Said once, not at each bring-up after the modem was taken back.
    if (!callerIdRefusal.empty() && callerIdRefusal != callerIdNotice_) ShowStatus(callerIdRefusal);
    callerIdNotice_ = callerIdRefusal;
  } else {
    // A modem that refuses voice mode answers no call: say what to change.
    ShowStatus("Set Voice Mode Failed: the modem refused voice mode as modem type " +
               std::to_string(settings.modemType) + "; choose its type in Modem Set Up");
  }
  return result;
}

std::string COrvanelView::SilentModemReason() const {
  return modem_->Lost() ? modem_->LostReason() : "the modem does not answer";
}

void COrvanelView::RetryModemLater(bool backOff) {
  retryDelayMs_ = backOff ? std::min(retryDelayMs_ * 2, kLastRetryMs) : kFirstRetryMs;
  retryTimer_.Start(retryDelayMs_);
}

void COrvanelView::ModemLost(const std::string& reason, bool backOff) {
  StopLineWatch();
  watching = 0;
  ringCount = 0;
  ForgetCaller();
  modem_->CloseComm();
  ShowStatus("Modem lost: " + reason + "; trying again");
  RetryModemLater(backOff);
}

void COrvanelView::TryModemAgain() {
  retryTimer_.Stop();
  if (closed_ || env_.loop->Closing() || modem_->IsOpen()) return;
  if (lineBusy) {  // a line operation still unwinding: later
    retryTimer_.Start(retryDelayMs_);
    return;
  }
  if (!modem_->OpenComm(settings.port, settings.speed)) {
    RetryModemLater(true);
    return;
  }
  BringUp result = BringUpModem([this](const std::string& t) {
    if (env_.log) env_.log(t);
  });
  if (result == BringUp::Silent && !env_.loop->Closing()) ModemLost(SilentModemReason(), true);
}

}  // namespace telvara
