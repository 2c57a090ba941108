#pragma once
// The main window served as a web page. The server's own threads (one accepting, one
// per connection) never touch engine objects: they read the WindowModel's published
// snapshots and post what the user did into the engine's EventLoop.
//
// What each request gets is WebRouter's to say (web/WebRoutes.h); this class holds
// the sockets, connections and threads, and keeps up the event streams (the state
// each time its version changes).
//
// Start(), Stop() and the destructor belong to the thread that owns the server (the
// engine thread in the program); Port(), Url() and EventStreams() may be read from any.
#include <atomic>
#include <chrono>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/EventLoop.h"
#include "platform/FileDescriptor.h"
#include "platform/WindowModel.h"
#include "web/Connection.h"
#include "web/HttpMessage.h"
#include "web/WebAccess.h"
#include "web/WebRoutes.h"

namespace telvara {

struct WebServerOptions {
  std::string host = "127.0.0.1";
  int port = 7200;       // 0 picks a free port
  std::string password;  // required when the host is not a loopback address
  std::string webDir;    // where the page's files are
  // A request must arrive whole, and a write must make progress, within this time.
  std::chrono::milliseconds idleTimeout{10000};
  // An event stream with nothing to say sends a comment this often, so a page that is
  // gone is noticed and its thread freed.
  std::chrono::milliseconds keepAliveInterval{15000};
  int maxConnections = 32;
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
  // Ends every connection, open event streams included, and waits for their threads.
  void Stop();

  int Port() const { return port_; }
  std::string Url() const;
  int EventStreams() const { return streams_.load(); }

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  void AcceptLoop();
  void ReapWorkers(bool all);
  void Serve(UniqueFileDescriptor socket);
  void StreamEvents(Connection& connection);
  void Send(Connection& connection, HttpResponse response) const;

  const WindowModel& model_;
  EventLoop& loop_;
  WebServerOptions options_;
  WebRouter router_;
  std::optional<WebAccess> access_;
  UniqueFileDescriptor listen_;
  UniqueFileDescriptor stopFd_;
  std::thread acceptThread_;
  std::list<Worker> workers_;  // the accept thread's; Stop() takes them after it ends
  std::atomic<int> streams_{0};
  std::atomic<bool> stopping_{false};
  std::atomic<int> port_{0};
  bool running_ = false;
};

}  // namespace telvara
