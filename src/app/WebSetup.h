#pragma once
// How the program serves its window: the options taken from the command line and the
// profile's [WEB] section (PASSWORD; TLS=1, or CERT= and KEY= PEM files), the access
// token kept in the program directory, and the addresses printed at start and kept
// for `telvara --url`. Engine thread.
#include <functional>
#include <string>
#include <vector>

#include "app/Options.h"
#include "platform/Profile.h"
#include "web/WebServer.h"

namespace telvara {

struct WebSetup {
  WebServerOptions options;
  std::string error;                 // the window cannot be served
  std::vector<std::string> notices;  // lines for the program's output
};

// `home` ends in '/'; `log` is handed to the server for its lines.
WebSetup MakeWebSetup(const Options& options, const Profile& profile, const std::string& home,
                      std::function<void(const std::string&)> log);

// The file in the program directory that holds the window's addresses.
std::string WindowUrlFile(const std::string& home);
// Writes the addresses there (readable by the user only); gives "" or the error.
std::string KeepWindowUrls(const std::string& home, const std::vector<std::string>& urls);
// `telvara --url`: the addresses of the Telvara of that program directory; the exit
// status.
int PrintWindowUrls(const std::string& home);

}  // namespace telvara
