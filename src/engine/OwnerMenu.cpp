// The owner's telephone menu (the counts, the walk over the messages, the greeting,
// the settings) and the dialogue of an answered notification call.
#include "engine/COrvanelView.h"
#include "engine/SilenceWatch.h"
#include "modem/FMODEM.h"
#include "platform/WindowModel.h"
#include "prompts/PromptTable.h"
#include "store/OrvanelDoc.h"

namespace telvara {

CMessage* COrvanelView::WalkMessage(bool allMessages, int ordinal) const {
  if (!document_ || ordinal < 0) return nullptr;
  if (allMessages) return document_->GetMessageAt(ordinal);
  for (int i = 0; i < document_->GetMessageCount(); ++i) {
    CMessage* m = document_->GetMessageAt(i);
    if (m->status != MessageStatus::StatusOld && ordinal-- == 0) return m;
  }
  return nullptr;
}

int COrvanelView::PositionOf(const CMessage* message) const {
  for (int i = 0; document_ && i < document_->GetMessageCount(); ++i)
    if (document_->GetMessageAt(i) == message) return i;
  return -1;
}

void COrvanelView::ShowIfNotSaved(const SaveResult& saved) {
  if (!saved.Ok()) ShowStatus(saved.error);
}

void COrvanelView::EnterOwnerMenu() {
  ShowStatus("Security Code Verified");
  env_.loop->Delay(20);
  modem_->FlushEvents();
  PlayPrompt(kPrompt[6]);
  OwnerMenu();
}

void COrvanelView::OwnerMenu() {
  int n = document_ ? document_->GetMessageCount() : 0;
  ShowStatus("Processing Owner Request");
  callOutPending = 0;  // the owner has been reached
  callOutAttempts = 0;
  uint32_t newCount = 0, oldCount = 0;
  for (int i = 0; i < n; ++i) ++(document_->GetMessageAt(i)->status == MessageStatus::StatusOld ? oldCount : newCount);
  PlayPrompt(kPrompt[8]);
  SpeakNumber(newCount);
  PlayPrompt(kPrompt[9]);
  PlayPrompt(kPrompt[10]);
  SpeakNumber(oldCount);
  PlayPrompt(kPrompt[11]);
  PlayPrompt(kPrompt[13]);

  enum class Mode { Nothing, OfferMenu, PlayAll, PlayNew, End };
  Mode mode = Mode::Nothing;
  bool replay = false;
  bool review = false;  // a walk is running: keys 3 to 6 act on messages
  int next = 0;         // ordinal of the walk's next message
  int lastPlayed = -1;  // position of the message played last; -1 once it is deleted
  SilenceWatch silence(kOwnerSilenceMs, Now());
  for (;;) {
    // Another operation may have changed the list: take the count afresh.
    n = document_ ? document_->GetMessageCount() : 0;
    if (mode == Mode::OfferMenu || replay) {
      replay = false;
      mode = Mode::Nothing;
      PlayPrompt(kPrompt[12]);
      PlayPrompt(kPrompt[review ? 13 : 14]);
      silence.Restart(Now());
    } else if (mode == Mode::PlayAll || mode == Mode::PlayNew) {
      if (next < 0) next = 0;  // key 3 before the first message: start at the first
      CMessage* message = WalkMessage(mode == Mode::PlayAll, next);
      if (!message) {
        mode = Mode::OfferMenu;
        review = false;
      } else {
        int position = PositionOf(message);
        modem_->FlushEvents();
        PlayPrompt(kPrompt[36]);
        SpeakNumber(static_cast<uint32_t>(position + 1));
        int peek = modem_->PollEvent();
        if (peek != 0) modem_->UngetEvent();
        if (!(peek >= '#' && peek <= '9')) {
          PlayInboxFile(message->fileName);
          lastPlayed = position;
          if (message->status == MessageStatus::StatusNew && !LineAborted()) {  // heard to its end
            message->status = MessageStatus::StatusPlayedThisCall;
            message->BuildListLine();
            env_.window->DeleteRow(static_cast<std::size_t>(position));
            env_.window->InsertRow(static_cast<std::size_t>(position), {message->listLine, RowIdentity(*message)});
            ShowIfNotSaved(document_->MarkModified());
          }
          modem_->Beep();
          silence.Restart(Now());
          ++next;
        }
      }
    }

    int key = modem_->PollEvent();
    switch (key) {
      case '1':
      case '2':
        review = true;
        next = 0;
        mode = key == '1' ? Mode::PlayNew : Mode::PlayAll;
        break;
      case '3':
        if (review) {
          --next;
        } else {
          PlayPrompt(kPrompt[15]);
          RecordAnnounceFile();
          mode = Mode::OfferMenu;
        }
        break;
      case '4':
        if (review) {
          for (int i = 0; i < 2; ++i)
            if (next > 0) --next;
        } else {
          PlayPrompt(kAnnounceFile);
          mode = Mode::OfferMenu;
        }
        break;
      case '5':
        if (!review) mode = Mode::OfferMenu;
        break;
      case '6':
        if (!review) {
          SpeakTime();
          mode = Mode::OfferMenu;
        } else if (lastPlayed >= 0 && lastPlayed < n) {
          // Only a message heard in this menu is deleted, and only once.
          env_.window->DeleteRow(static_cast<std::size_t>(lastPlayed));
          ShowIfNotSaved(document_->RemoveMessage(lastPlayed));
          --n;
          PlayPrompt(kPrompt[36]);
          SpeakNumber(static_cast<uint32_t>(lastPlayed + 1));
          PlayPrompt(kPrompt[37]);
          if (next > 0) --next;
          lastPlayed = -1;
        }
        break;
      case '7':
        review = false;
        modem_->FlushEvents();
        ChangeSecurityCodeByPhone();
        mode = Mode::OfferMenu;
        break;
      case '8':
        modem_->FlushEvents();
        ChangeSettingsByPhone();
        mode = Mode::OfferMenu;
        break;
      case '9':
        review = false;
        next = 0;
        mode = Mode::OfferMenu;
        break;
      case '0': replay = true; break;
      case '*': mode = Mode::OfferMenu; break;
      case '#':
        PlayPrompt(kPrompt[28]);
        mode = Mode::End;
        break;
      default: break;
    }
    SilenceWatch::Verdict verdict = silence.Check(key, Now());
    if (mode == Mode::End || verdict == SilenceWatch::Verdict::End || LineAborted()) break;
    if (verdict == SilenceWatch::Verdict::OfferMenu) mode = Mode::OfferMenu;
    if (key == 0 && mode == Mode::Nothing && !replay) WaitForEvent(silence.Due());
  }

  // What was played in this menu is heard now; the rows already show "OLD".
  bool changed = false;
  for (int i = 0; document_ && i < document_->GetMessageCount(); ++i) {
    CMessage* m = document_->GetMessageAt(i);
    if (m->status == MessageStatus::StatusPlayedThisCall) {
      m->status = MessageStatus::StatusOld;
      changed = true;
    }
  }
  if (changed) ShowIfNotSaved(document_->MarkModified());
}

void COrvanelView::NotificationCall() {
  ShowStatus("Connected with Remote Phone");
  modem_->SetSilenceDetection();
  modem_->FlushEvents();
  failedCodeChecks_ = 0;
  PlayPrompt(kPrompt[32]);
  bool offer = false;
  bool end = false;
  SilenceWatch silence(kCallerSilenceMs, Now());
  for (;;) {
    if (offer) {
      PlayPrompt(kPrompt[33]);
      modem_->Beep();
      silence.Restart(Now());
      offer = false;
    }
    int key = modem_->PollEvent();
    if (CodeCheckStartsWith(key)) {
      if (VerifySecurityCode()) {
        EnterOwnerMenu();
        break;
      }
      key = modem_->PollEvent();  // the code's first digit, put back by the check
    }
    if (key == '#' || key == '9') {
      end = true;
    } else if (key == '1') {
      env_.loop->Delay(20);
      offer = true;
    } else if (key == '*' || (key >= '0' && key <= '8')) {
      offer = true;
    }
    SilenceWatch::Verdict verdict = silence.Check(key, Now());
    if (end || verdict == SilenceWatch::Verdict::End || LineAborted()) break;
    if (verdict == SilenceWatch::Verdict::OfferMenu) offer = true;
    if (key == 0 && !offer) WaitForEvent(silence.Due());
  }
  ShowStatus("Stand by");
}

}  // namespace telvara
