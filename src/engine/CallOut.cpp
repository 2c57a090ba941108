// Calling the owner after a new message.
#include "engine/COrvanelView.h"

namespace telvara {

// The call-out dialogue is not built yet; the schedule that starts it is, and each
// attempt it makes is shown.
void COrvanelView::CallOwner() {
  ShowStatus("Call-out attempt " + std::to_string(callOutAttempts) + " to the owner: calling out is not built yet");
}

}  // namespace telvara
