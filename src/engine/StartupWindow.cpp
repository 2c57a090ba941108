#include "engine/StartupWindow.h"

#include "platform/WindowModel.h"

namespace telvara {

int CStartupWnd::Create() {
  statusText_ = "Starting up";
  window_.ShowStartup("Telvara for Win 95/NT", statusText_);
  shown_ = true;
  return 1;
}

void CStartupWnd::SetStatus(const std::string& text) {
  // The status line is held in a 128-character field.
  statusText_ = text.substr(0, 127);
  window_.SetStartupStatus(statusText_);
}

CStartupWnd::~CStartupWnd() {
  if (shown_) window_.HideStartup();
}

}  // namespace telvara
