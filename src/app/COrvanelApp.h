#pragma once
// The program: opens the profile and the message log, serves the window, creates the
// view (which brings the modem up), fills the message list and runs the engine's
// message loop until the window is closed or a signal asks it to stop.
// Constructed and run on the engine thread (the main thread).
#include <memory>
#include <string>

#include "app/Options.h"

namespace telvara {

class COrvanelApp {
 public:
  explicit COrvanelApp(Options options) : options_(std::move(options)) {}
  // The exit status of the program.
  int Run();
  // After Run(): the owner asked for the program to start again (after the set-up
  // dialog); everything has been closed in order.
  bool RestartRequested() const { return restart_; }

 private:
  Options options_;
  bool restart_ = false;
};

// The directory holding the running executable, ending in '/'.
std::string ExecutableDir();

}  // namespace telvara
