#pragma once
// The command line: telvara [--home DIR] [--listen HOST:PORT] [--url] [LOGFILE], or
// --help, or --version. Any thread (pure functions).
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

inline constexpr char kVersion[] = "1.0";

// Help and Version print the message on standard output and end with status 0.
enum class ParseOutcome { Run, Help, Version, Error };

struct OptionsResult {
  ParseOutcome outcome = ParseOutcome::Run;
  std::string message;  // the usage text, the version line or the error
};

OptionsResult ParseOptions(const std::vector<std::string>& args, Options& options);
// HOST:PORT, [IPv6]:PORT; the port 0 to 65535.
bool ParseListen(const std::string& text, std::string& host, int& port);

}  // namespace telvara
