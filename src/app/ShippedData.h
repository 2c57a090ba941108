#pragma once
// The data that ships with the program: the prompts (system/) and the window's page
// (web/). In a build tree they lie beside the executable; installed, they lie in
// <prefix>/share/telvara/. Engine thread, at start.
#include <string>
#include <vector>

namespace telvara {

// Where the shipped data may be, in the order looked at, each ending in '/': the
// executable's directory, then the data directory relative to it (an installed tree
// moved elsewhere, or installed with another prefix), then the data directory of the
// install prefix the program was built for.
std::vector<std::string> ShippedDataCandidates(const std::string& executableDir);

// The first of `candidates` + `sub` that is a directory, ending in '/'; "" when none is.
std::string FindShippedDir(const std::vector<std::string>& candidates, const std::string& sub);

struct PromptCopy {
  int copied = 0;
  std::vector<std::string> errors;
};

// Copies each shipped prompt of `from` that `to` lacks into `to` (made when missing).
// A file already in `to` is never replaced, so the owner's greeting stays. Nothing is
// done when both name the same directory.
PromptCopy CopyMissingPrompts(const std::string& from, const std::string& to);

}  // namespace telvara
