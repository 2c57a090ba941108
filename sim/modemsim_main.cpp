// telvara-modemsim: a simulated voice modem on a pseudo-terminal.
#include <cstdio>
#include <string>
#include <vector>

#include "SimProgram.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
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
