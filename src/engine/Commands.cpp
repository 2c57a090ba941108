// Commands from the window: message-box answers, buttons and menu items.
#include "engine/COrvanelView.h"
#include "platform/BrowserSoundCard.h"
#include "platform/EventLoop.h"
#include "platform/WindowModel.h"

namespace telvara {

void COrvanelView::OnCommand(const LoopMessage& message) {
  if (closed_) return;  // the window is closing: nothing more is started
  switch (message.id) {
    // "<box id> <button>": an OK-only box just closes; a question runs its answer.
    case command::kBoxAnswer: questions_.Answer(message.data); break;
    case command::kExit: env_.loop->PostClose(); break;
    case command::kSoundReport: soundCard_->OnReport(message.data); break;
    case command::kPlayMessage: OnPlayMessage(message.data, message.page); break;
    case command::kDeleteMessage: OnDeleteMessage(message.data); break;
    case command::kPlayAnnouncement: OnPlayAnnouncement(message.page); break;
    case command::kRecordAnnouncement: OnRecordAnnouncement(message.page); break;
    case command::kSetupModem: OnSetupModem(); break;
    case command::kSetupAnswer: OnSetupAnswer(message.data); break;
    case command::kFileNew: OnFileNew(); break;
    case command::kFileOpen: OnFileOpen(message.data); break;
    case command::kFileSave: OnFileSave(); break;
    case command::kAbout:
      env_.window->OpenBox("About Telvara", "Telvara for Win95/NT\nVersion 1.0", {"OK"}, false);
      break;
    default: break;
  }
}

}  // namespace telvara
