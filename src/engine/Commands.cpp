// Commands from the window: message-box answers, buttons and menu items.
#include <cstdlib>

#include "engine/COrvanelView.h"
#include "platform/BrowserSoundCard.h"
#include "platform/EventLoop.h"
#include "platform/WindowModel.h"

namespace telvara {

void COrvanelView::OnCommand(const LoopMessage& message) {
  switch (message.id) {
    case command::kBoxAnswer: {
      // "<box id> <button>": an OK-only box just closes.
      char* end = nullptr;
      long id = std::strtol(message.data.c_str(), &end, 10);
      if (end != message.data.c_str() && id > 0 && id <= 0x7FFFFFFF) env_.window->CloseBox(static_cast<int>(id));
      break;
    }
    case command::kExit: env_.loop->PostClose(); break;
    case command::kSoundReport: soundCard_->OnReport(message.data); break;
    case command::kPlayMessage: OnPlayMessage(message.data, message.page); break;
    case command::kDeleteMessage: OnDeleteMessage(message.data); break;
    case command::kPlayAnnouncement: OnPlayAnnouncement(message.page); break;
    case command::kRecordAnnouncement: OnRecordAnnouncement(message.page); break;
    case command::kSetupModem: ShowStatus("The Modem Set Up dialog is not built yet"); break;
    case command::kAbout:
      env_.window->OpenBox("About Telvara", "Telvara for Win95/NT\nVersion 1.0", {"OK"}, false);
      break;
    default: break;
  }
}

}  // namespace telvara
