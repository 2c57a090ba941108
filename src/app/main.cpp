#include <iostream>
#include <vector>

#include "app/COrvanelApp.h"
#include "app/Options.h"

int main(int argc, char** argv) {
  using namespace telvara;
  Options options;
  OptionsResult parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options);
  if (parsed.outcome == ParseOutcome::Help) {
    std::cout << parsed.message;
    return 0;
  }
  if (parsed.outcome == ParseOutcome::Error) {
    std::cerr << "telvara: " << parsed.message;
    return 2;
  }
  return COrvanelApp(options).Run();
}
