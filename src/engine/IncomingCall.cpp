// Answering a call: the caller's dialogue (greeting, menu, recording) and the check of
// the owner's security code.
#include <unistd.h>

#include "engine/COrvanelView.h"
#include "engine/SilenceWatch.h"
#include "modem/FMODEM.h"
#include "platform/WindowModel.h"
#include "prompts/PromptTable.h"
#include "store/OrvanelDoc.h"

namespace telvara {
namespace {

bool IsKey(int event) { return (event >= '0' && event <= '9') || event == '*' || event == '#'; }

}  // namespace

void COrvanelView::AnswerCall() {
  RunOnLine(
      [this] {
        if (modem_->SetVoiceMode() != ResultOk) ShowStatus("Set modem to voice mode failed");
        if (modem_->SetFlowControl() != 1) ShowStatus("Set hardware flow control failed");
        if (modem_->Answer())
          TakeCall();
        else
          ShowStatus("Modem answer phone failed");
      },
      "Hang up modem");
  RunPendingHook();
}

void COrvanelView::WaitForEvent(uint32_t until) {
  // Nothing came: let the window's messages in, then sleep until the modem sends
  // something, a message is posted, or the time the dialogue acts at.
  env_.loop->PumpOne();
  env_.loop->WaitUntil(until, WaitFor::Input);
}

bool COrvanelView::CodeCheckStartsWith(int key) {
  // An empty code never matches: remote access is off. After the checks a call allows,
  // keys are menu keys only.
  const std::string& code = settings.securityCode;
  return !code.empty() && key != 0 && key == static_cast<unsigned char>(code[0]) &&
         failedCodeChecks_ < kCodeChecksPerCall;
}

void COrvanelView::TakeCall() {
  std::unique_ptr<CMessage> message = CMessage::NewForCall(env_.loop->GetClock().WallNow(), inboxDir);
  if (!message) {
    ShowStatus("Error: Can't create message entry");
    return;
  }
  message->callerId = caller_.Text();
  ShowStatus("Answering Incoming Phone Call...");
  modem_->SetSilenceDetection();
  modem_->FlushEvents();
  failedCodeChecks_ = 0;
  PlayPrompt(kPrompt[1]);
  if (settings.action == CallTheMaster) PlayPrompt(kPrompt[2]);
  if (settings.action == PageTheMaster) PlayPrompt(kPrompt[3]);

  enum class Next { Nothing, OfferMenu, EndCall };
  Next next = Next::Nothing;
  bool save = false;
  bool alternatePrompt = false;
  SilenceWatch silence(kCallerSilenceMs, Now());
  for (;;) {
    if (next == Next::OfferMenu) {
      PlayPrompt(kPrompt[alternatePrompt ? 7 : 5]);
      alternatePrompt = false;
      silence.Restart(Now());
      next = Next::Nothing;
    }
    int key = modem_->PollEvent();
    if (CodeCheckStartsWith(key)) {
      if (VerifySecurityCode()) {
        EnterOwnerMenu();
        break;
      }
      // The code failed: the last event in the queue (the digit that broke it) is the key.
      key = modem_->TakeEvent();
      if (key != 0) {
        while (modem_->TakeEvent() != 0) {
        }
        modem_->UngetEvent();
        key = modem_->TakeEvent();
      }
    }
    switch (key) {
      case '1':
        PlayPrompt(kPrompt[4]);
        modem_->Beep();
        // A recording cut short by a lost line or a stop is kept with what came.
        if (RecordInboxFile(message->fileName) == 1 || (LineAborted() && modem_->GetWave()->GetDataLength() > 0)) {
          int rate = modem_->LineRate();
          message->lengthSeconds = static_cast<uint32_t>(modem_->GetWave()->GetDataLength() / (rate > 0 ? rate : 1));
          save = true;
        }
        env_.loop->Delay(20);
        break;
      case '2': PlayInboxFile(message->fileName); break;
      case '3': save = false; break;
      case '4': PlayPrompt(kAnnounceFile); break;
      case '5': PlayPrompt(kOrvanelFile); break;
      case '6': SpeakTime(); break;
      case '0': alternatePrompt = true; break;
      case '#': PlayPrompt(kPrompt[28]); break;
      default: break;
    }
    if (key == '9' || key == '#')
      next = Next::EndCall;
    else if (key == '*' || (key >= '0' && key <= '8'))
      next = Next::OfferMenu;
    SilenceWatch::Verdict verdict = silence.Check(key, Now());
    if (next == Next::EndCall || verdict == SilenceWatch::Verdict::End || LineAborted()) break;
    if (verdict == SilenceWatch::Verdict::OfferMenu) next = Next::OfferMenu;
    if (key == 0 && next == Next::Nothing) WaitForEvent(silence.Due());
  }

  if (save) {
    message->BuildListLine();
    int n = document_ ? document_->GetMessageCount() : 0;
    env_.window->InsertRow(static_cast<std::size_t>(n), {message->listLine, RowIdentity(*message)});
    // Listed with its file in the inbox: the owner's command runs even when the log
    // could not be saved, since the message is there.
    NotifyNewMessage(*message);
    if (document_) {
      // A log that cannot be saved keeps the message listed and its file; the status says why.
      SaveResult saved = document_->InsertMessage(n, std::move(message));
      if (!saved.Ok()) ShowStatus(saved.error);
    }
    callOutAttempts = 0;
    callOutPending = 1;
  } else {
    unlink((inboxDir + message->fileName).c_str());  // a missing file is no error
  }
  ShowStatus("Stand by");
}

bool COrvanelView::VerifySecurityCode() {
  const std::string& code = settings.securityCode;
  uint32_t deadline = Now() + kCodeDeadlineMs;
  for (std::size_t position = 1; position < code.size(); ++position) {
    int digit = 0;  // none by the deadline
    for (;;) {
      int event = modem_->PollEvent();
      if (IsKey(event)) {
        digit = event;
        break;
      }
      if (TickReached(Now(), deadline) || LineAborted()) break;
      if (event == 0) WaitForEvent(deadline);
    }
    if (digit == static_cast<unsigned char>(code[position])) continue;
    // Put back the first digit, the matched ones and the wrong one, for the menu.
    int consumed = static_cast<int>(position) + (digit != 0 ? 1 : 0);
    for (int i = 0; i < consumed; ++i) modem_->UngetEvent();
    ++failedCodeChecks_;
    if (env_.log) env_.log("A wrong security code was keyed (" + std::to_string(failedCodeChecks_) + " in this call)");
    return false;
  }
  return true;
}

}  // namespace telvara
