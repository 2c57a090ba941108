#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <vector>

#include "app/COrvanelApp.h"
#include "app/Options.h"

int main(int argc, char** argv) {
  using namespace telvara;
  // A reader of standard output that has gone (telvara | head -1) must not end the
  // program: the write fails and the line is dropped.
  signal(SIGPIPE, SIG_IGN);
  Options options;
  OptionsResult parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options);
  if (parsed.outcome == ParseOutcome::Help || parsed.outcome == ParseOutcome::Version) {
    std::cout << parsed.message;
    return 0;
  }
  if (parsed.outcome == ParseOutcome::Error) {
    std::cerr << "telvara: " << parsed.message;
    return 2;
  }
  int status;
  bool restart;
  {
    COrvanelApp app(options);
    status = app.Run();
    restart = app.RestartRequested();
  }
  if (!restart) return status;
  // Everything of the old run is closed (the modem, the window's server, the log); the
  // same program starts again with the same arguments.
  std::cout.flush();
  execv("/proc/self/exe", argv);
  std::cerr << "telvara: cannot start again: " << std::strerror(errno) << "\n";
  return 2;
}
