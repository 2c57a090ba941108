// Commands from the window: message-box answers, buttons and menu items.
#include "engine/COrvanelView.h"
#include "platform/EventLoop.h"
#include "platform/WindowModel.h"

namespace telvara {

void COrvanelView::OnCommand(const LoopMessage& message) {
  switch (message.id) {
    // "<box id> <button>": an OK-only box just closes; a question runs its answer.
    case command::kBoxAnswer: questions_.Answer(message.data); break;
    case command::kExit: env_.loop->PostClose(); break;
    case command::kPlayMessage:
    case command::kDeleteMessage:
    case command::kPlayAnnouncement:
    case command::kRecordAnnouncement: ShowStatus("The message buttons are not built yet"); break;
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
