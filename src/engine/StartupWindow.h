#pragma once
// The small window that shows progress while the view brings the modem up. Engine
// thread only. Each status is published at once, so the page shows it before the
// next blocking start-up step begins.
#include <string>

namespace telvara {

class WindowModel;

class CStartupWnd {
 public:
  explicit CStartupWnd(WindowModel& window) : window_(window) {}
  ~CStartupWnd();
  int Create();  // nonzero on success
  void SetStatus(const std::string& text);

 private:
  WindowModel& window_;
  std::string statusText_;
  bool shown_ = false;
};

}  // namespace telvara
