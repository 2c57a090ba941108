// Commands from the window: message-box answers, buttons and menu items.
#include <cstdlib>

#include "engine/COrvanelView.h"
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
    case command::kPlayMessage:
    case command::kDeleteMessage:
    case command::kPlayAnnouncement:
    case command::kRecordAnnouncement: ShowStatus("The message buttons are not built yet"); break;
    case command::kSetupModem: ShowStatus("The Modem Set Up dialog is not built yet"); break;
    case command::kAbout:
      env_.window->OpenBox("About Telvara", "Telvara for Win95/NT\nVersion 1.0", {"OK"}, false);
      break;
    default: break;
  }
}

}  // namespace telvara
