#pragma once
// The window's access token: 32 random bytes as 64 hex digits, made once and kept in a
// file of the program directory that only its user may read. Whoever has it (from the
// address Telvara prints) may use the window; other users of the machine may not.
// Any thread.
#include <string>

namespace telvara {

struct AccessTokenResult {
  std::string token;   // empty when it could not be read nor made
  std::string error;   // why not
  std::string notice;  // what was done about the file, when something was ("made", "replaced")
};

// A fresh token; empty when the system has no random bytes to give.
std::string MakeAccessToken();
// Reads the token from `path`, or makes it there when the file is missing or does
// not hold one. A file that others may read is made private again.
AccessTokenResult LoadOrMakeAccessToken(const std::string& path);

}  // namespace telvara
