#include "app/Options.h"

#include <cstdlib>

namespace telvara {

namespace {
const char kUsage[] =
    "usage: telvara [--home DIR] [--listen HOST:PORT] [--url] [LOGFILE]\n"
    "       telvara --help | --version\n"
    "  --home DIR          program directory (telvara.ini, orvanel.log, inbox/, system/);\n"
    "                      default: the directory that holds the executable\n"
    "  --listen HOST:PORT  where the main window is served; default 127.0.0.1:7200;\n"
    "                      port 0 picks a free one; elsewhere than on loopback it needs\n"
    "                      [WEB] PASSWORD in telvara.ini\n"
    "  --url               print the window's address (with its access key) of the\n"
    "                      Telvara that runs with this program directory, and end\n"
    "  LOGFILE             the message log to open instead of orvanel.log\n";
}

bool ParseListen(const std::string& text, std::string& host, int& port) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) return false;
  std::string h = text.substr(0, colon);
  if (h.front() == '[') {
    if (h.size() < 3 || h.back() != ']') return false;
    h = h.substr(1, h.size() - 2);
  }
  std::string p = text.substr(colon + 1);
  if (p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos) return false;
  long value = std::strtol(p.c_str(), nullptr, 10);
  if (value > 65535) return false;
  host = h;
  port = static_cast<int>(value);
  return true;
}

OptionsResult ParseOptions(const std::vector<std::string>& args, Options& options) {
  OptionsResult r;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      r.outcome = ParseOutcome::Help;
      r.message = kUsage;
      return r;
    }
    if (a == "--version") {
      r.outcome = ParseOutcome::Version;
      r.message = std::string("telvara ") + kVersion + "\n";
      return r;
    }
    if (a == "--url") {
      options.printUrl = true;
    } else if (a == "--home" || a == "--listen") {
      if (i + 1 >= args.size()) {
        r.outcome = ParseOutcome::Error;
        r.message = a + " needs a value\n" + kUsage;
        return r;
      }
      const std::string& v = args[++i];
      if (a == "--home") {
        options.home = v;
      } else if (!ParseListen(v, options.listenHost, options.listenPort)) {
        r.outcome = ParseOutcome::Error;
        r.message = "--listen takes HOST:PORT, not \"" + v + "\"\n";
        return r;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      r.outcome = ParseOutcome::Error;
      r.message = "unknown option " + a + "\n" + kUsage;
      return r;
    } else if (options.logFile.empty()) {
      options.logFile = a;
    } else {
      r.outcome = ParseOutcome::Error;
      r.message = std::string("only one log file may be named\n") + kUsage;
      return r;
    }
  }
  return r;
}

}  // namespace telvara
