// telvara-modemsim: a simulated voice modem on a pseudo-terminal, or (--send) a client
// that sends steps to a running one.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ControlClient.h"
#include "SimProgram.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "--send") {
    if (args.size() < 2 || args[1].empty()) {
      std::fprintf(stderr, "telvara-modemsim: --send needs the control socket\n%s", telvara::sim::kUsage);
      return 2;
    }
    return telvara::sim::SendSteps(args[1], {args.begin() + 2, args.end()}, STDIN_FILENO, stdout, stderr);
  }
  std::string error;
  bool help = false;
  std::optional<telvara::sim::ProgramOptions> options = telvara::sim::ParseOptions(args, error, help);
  if (help) {
    std::fputs(telvara::sim::kUsage, stdout);
    return 0;
  }
  if (!options) {
    std::fprintf(stderr, "telvara-modemsim: %s\n%s", error.c_str(), telvara::sim::kUsage);
    return 2;
  }
  telvara::sim::SimProgram program(std::move(*options));
  if (!program.Start(error)) {
    std::fprintf(stderr, "telvara-modemsim: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", program.DevicePath().c_str());
  std::fflush(stdout);
  return program.Run();
}
