#pragma once
// telvara-modemsim --send: a client of a running simulator's control socket, so steps
// can be sent without a netcat.
#include <cstdio>
#include <string>
#include <vector>

namespace telvara::sim {

// Sends `steps` (one line each) or, when there are none, the lines read from `input`
// as they come, and writes each answer ("ok" or "error: <why>") to `out` as it
// arrives. Returns the exit status: 0 when every step was taken, 1 when one was
// refused or the socket could not be reached or closed early (why, on `errors`).
int SendSteps(const std::string& socket, const std::vector<std::string>& steps, int input, std::FILE* out,
              std::FILE* errors);

}  // namespace telvara::sim
