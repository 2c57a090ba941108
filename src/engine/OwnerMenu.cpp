// The owner's telephone menu and the dialogue of an answered notification call.
#include "engine/COrvanelView.h"

namespace telvara {

// Not built yet: the owner's menu (counts, message walk, greeting, settings by phone).
// A correct code reaches this point and the call ends.
void COrvanelView::OwnerMenu() {
  callOutPending = 0;  // the owner has been reached
  callOutAttempts = 0;
  ShowStatus("The owner's menu is not built yet");
}

// Not built yet: the dialogue of an answered notification call.
void COrvanelView::NotificationCall() { ShowStatus("The notification call's dialogue is not built yet"); }

}  // namespace telvara
