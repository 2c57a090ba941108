#pragma once
// The main window served as a web page, on GNU libmicrohttpd: one thread of the
// library's own (epoll) reads and answers every connection, and a second resumes the
// connections that wait (ParkedConnections). Neither touches engine objects: they read
// the WindowModel's published snapshots and post what the user did into the engine's
// EventLoop.
//
// What each request gets is WebAccess's and WebRouter's to say; this class holds the
// daemon, counts each client address's connections (ClientLimits), holds back
// password guesses (GuessDelay) and keeps up the event streams.
//
// Start(), Stop() and the destructor belong to the thread that owns the server (the
// engine thread in the program); Port(), Urls() and EventStreams() may be read from any.
#include <microhttpd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/WindowModel.h"
#include "web/ClientLimits.h"
#include "web/GuessDelay.h"
#include "web/ParkedConnections.h"
#include "web/WebAccess.h"
#include "web/WebRoutes.h"

namespace telvara {

struct WebServerOptions {
  std::string host = "127.0.0.1";
  int port = 7200;       // 0 picks a free port
  std::string password;  // required when the host is not a loopback address
  std::string token;     // the access token; empty: none is asked for
  std::string webDir;    // where the page's files are
  std::string logDir;    // where logs dropped on the window are stored; empty: none are taken
  // Where a greeting recorded in a page is put for the engine (the system directory,
  // ending in '/'); empty: none is taken.
  std::string uploadDir;
  // Where the messages and the greetings are, for the page to play or save them (by
  // name, never by path); empty: not served.
  std::string inboxDir;
  std::string systemDir;
  // PEM texts; both given: the window is served over HTTPS.
  std::string tlsCertificate;
  std::string tlsKey;
  // A connection that sends and takes nothing for this long is closed (whole seconds).
  std::chrono::seconds idleTimeout{10};
  // An event stream with nothing to say sends a comment this often, so that a page
  // whose network went away without a word is noticed in the end.
  std::chrono::milliseconds keepAliveInterval{60000};
  // After 5 wrong passwords from an address, each further one waits this much longer.
  std::chrono::milliseconds guessStep{1000};
  int connectionsPerAddress = 32;  // besides its event streams
  int streamsPerAddress = 8;       // a further stream ends the address's oldest
  int maxConnections = 512;        // in all
  // Lines for the program's output (a wrong password, with the address); called from
  // the server's thread.
  std::function<void(const std::string&)> log;
};

struct WebStartResult {
  bool ok = false;
  int port = 0;       // the port bound, when ok
  std::string error;  // why not, when not ok
};

class WebServer {
 public:
  WebServer(const WindowModel& model, EventLoop& loop, WebServerOptions options);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  WebStartResult Start();
  // Ends every connection, open event streams and held answers included.
  void Stop();

  int Port() const { return port_; }
  bool Tls() const { return !options_.tlsCertificate.empty(); }
  // After a successful Start(): whether only the loopback is listened on.
  bool LoopbackOnly() const { return !access_ || access_->Rules().loopbackOnly; }
  // The window's addresses, token included: the listening address, or for a listen on
  // every address (0.0.0.0, ::) the machine's own addresses.
  std::vector<std::string> Urls() const;
  int EventStreams() const { return limits_.Streams(); }

 private:
  struct Client;
  struct Request;
  struct Stream;

  // The library's callbacks, on its thread.
  static MHD_Result AcceptPolicy(void* self, const sockaddr* address, socklen_t length);
  static void NotifyConnection(void* self, MHD_Connection* connection, void** socketContext,
                               MHD_ConnectionNotificationCode code);
  static MHD_Result Handle(void* self, MHD_Connection* connection, const char* url, const char* method,
                           const char* version, const char* upload, size_t* uploadSize, void** requestContext);
  static void Completed(void* self, MHD_Connection* connection, void** requestContext, MHD_RequestTerminationCode code);
  static ssize_t ReadStream(void* stream, uint64_t position, char* buffer, size_t max);
  static void FreeStream(void* stream);

  MHD_Result Answer(MHD_Connection* connection, Request& request);
  // The access rules' verdict, with password guesses counted and logged.
  AccessVerdict Judge(const Client& client, const HttpRequest& http, bool changes);
  // A recording sent by a page: judged from its head, its body streamed to a file.
  MHD_Result BeginUpload(MHD_Connection* connection, Request& request);
  MHD_Result FinishUpload(MHD_Connection* connection, Request& request);
  MHD_Result Send(MHD_Connection* connection, HttpResponse response) const;
  MHD_Result StartStream(MHD_Connection* connection, Client& client, const HttpRequest& request);
  std::string UrlFor(const std::string& host) const;

  const WindowModel& model_;
  WebServerOptions options_;
  std::optional<WebAccess> access_;
  std::optional<WebRouter> router_;
  EventLoop& loop_;
  ClientLimits limits_;
  GuessDelay guesses_;
  ParkedConnections parked_;
  MHD_Daemon* daemon_ = nullptr;
  std::atomic<int> port_{0};
  uint64_t nextStream_ = 0;  // the library's thread
  // One dropped log is received at a time, so their bodies never hold more than one
  // log's worth of memory.
  std::atomic<bool> receivingLog_{false};
};

}  // namespace telvara
