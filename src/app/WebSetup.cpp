#include "app/WebSetup.h"

#include <fstream>
#include <iostream>
#include <sstream>

#include "platform/FileReplace.h"
#include "web/AccessToken.h"
#include "web/TlsCertificate.h"

namespace telvara {

WebSetup MakeWebSetup(const Options& options, const Profile& profile, const std::string& home,
                      std::function<void(const std::string&)> log) {
  WebSetup setup;
  WebServerOptions& web = setup.options;
  web.host = options.listenHost;
  web.port = options.listenPort;
  web.password = profile.GetString("WEB", "PASSWORD", "");
  web.log = std::move(log);

  AccessTokenResult token = LoadOrMakeAccessToken(home + "telvara.token");
  if (!token.error.empty()) {
    setup.error = "the window's access token: " + token.error;
    return setup;
  }
  if (!token.notice.empty()) setup.notices.push_back("Window: " + token.notice);
  web.token = token.token;

  std::string certificate = profile.GetString("WEB", "CERT", "");
  std::string key = profile.GetString("WEB", "KEY", "");
  TlsMaterial tls;
  if (!certificate.empty() || !key.empty()) {
    if (certificate.empty() || key.empty()) {
      setup.error = "[WEB] CERT and KEY go together: name both PEM files, or neither";
      return setup;
    }
    tls = LoadTlsFiles(certificate, key);
  } else if (profile.GetInt("WEB", "TLS", 0) == 1) {
    tls = LoadOrMakeSelfSigned(home + "telvara-cert.pem", home + "telvara-key.pem");
  }
  if (!tls.error.empty()) {
    setup.error = "TLS: " + tls.error;
    return setup;
  }
  if (!tls.notice.empty()) setup.notices.push_back("Window: " + tls.notice);
  web.tlsCertificate = std::move(tls.certificate);
  web.tlsKey = std::move(tls.key);
  return setup;
}

std::string WindowUrlFile(const std::string& home) { return home + "telvara.url"; }

std::string KeepWindowUrls(const std::string& home, const std::vector<std::string>& urls) {
  std::string text;
  for (const std::string& url : urls) text += url + "\n";
  return ReplaceFile(WindowUrlFile(home), text, false);
}

int PrintWindowUrls(const std::string& home) {
  std::ifstream in(WindowUrlFile(home));
  if (!in) {
    std::cerr << "telvara: no window address in " << home
              << ": Telvara has not been started with this program directory\n";
    return 1;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::cout << text.str();
  return 0;
}

}  // namespace telvara
