#pragma once
// The command line: telvara [--home DIR] [--listen HOST:PORT] [--url] [LOGFILE]
#include <string>
#include <vector>

namespace telvara {

struct Options {
  std::string home;  // program directory; empty: the executable's
  std::string listenHost = "127.0.0.1";
  int listenPort = 7200;
  std::string logFile;    // empty: orvanel.log in the program directory
  bool printUrl = false;  // print the window's addresses of a Telvara started before, and end
};

enum class ParseOutcome { Run, Help, Error };

struct OptionsResult {
  ParseOutcome outcome = ParseOutcome::Run;
  std::string message;  // the usage text or the error
};

OptionsResult ParseOptions(const std::vector<std::string>& args, Options& options);
// HOST:PORT, [IPv6]:PORT; the port 0 to 65535.
bool ParseListen(const std::string& text, std::string& host, int& port);

}  // namespace telvara
