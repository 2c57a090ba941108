// Calling the owner after a new message: one attempt of the notification.
#include "engine/COrvanelView.h"
#include "modem/FMODEM.h"

namespace telvara {

void COrvanelView::CallOwner() {
  // Dialling nothing would hold the line off hook for minutes, and callers would find
  // it busy: without a number the notification ends.
  if (settings.phoneNumber.empty()) {
    ShowStatus("No telephone number to call the owner at");
    callOutPending = 0;
    callOutAttempts = 0;
    return;
  }
  RunOnLine(
      [this] {
        ShowStatus("Hang up phone line");
        modem_->HangUp();
        ShowStatus("Dial out...");
        if (modem_->SetVoiceMode() != ResultOk) ShowStatus("Set voice mode failed");
        if (modem_->SetFlowControl() != 1) ShowStatus("Set hardware flow control failed");
        if (modem_->SelectLine(LineTelephone) != 1) ShowStatus("Set voice line failed");
        if (modem_->SetSilenceDetection() != 1) ShowStatus("Set silence detect failed");
        if (modem_->GetModemType() == Rockwell || modem_->GetModemType() == USRobotics)
          modem_->SendCommand("AT#VRA=60#VRN=70");
        modem_->WaitResult(kNoStopText, 60);  // a result line still on its way
        modem_->FlushEvents();
        if (modem_->Dial(settings.phoneNumber, 25000)) {
          ShowStatus("Telephone connected");
          NotificationCall();
        } else {
          ShowStatus("Telephone Connect Time Out");
        }
      },
      "Modem Hangs Up");
}

}  // namespace telvara
