#include "web/WebServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "platform/BrowserSoundCard.h"
#include "platform/FileDescriptor.h"
#include "web/LogUpload.h"
#include "web/GreetingUpload.h"
#include "web/OwnAddresses.h"
#include "web/PageProtocol.h"

namespace telvara {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t kMaxBody = 64 * 1024;
constexpr std::size_t kStreamBlock = 64 * 1024;

bool IsLoopback(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    auto* in = reinterpret_cast<const sockaddr_in*>(address);
    return (ntohl(in->sin_addr.s_addr) >> 24) == 127;
  }
  if (address->sa_family == AF_INET6) {
    auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
    if (IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr)) return true;
    if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) return in6->sin6_addr.s6_addr[12] == 127;
  }
  return false;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return text;
}

// Copies the library's list of one kind (headers, query arguments, cookies).
HeaderList Values(MHD_Connection* connection, MHD_ValueKind kind, bool lowerNames) {
  HeaderList list;
  struct Into {
    HeaderList* list;
    bool lower;
  } into{&list, lowerNames};
  MHD_get_connection_values_n(
      connection, kind,
      [](void* cls, MHD_ValueKind, const char* key, size_t keySize, const char* value, size_t valueSize) {
        auto* into = static_cast<Into*>(cls);
        std::string name(key, keySize);
        into->list->emplace_back(into->lower ? Lower(std::move(name)) : std::move(name),
                                 value ? std::string(value, valueSize) : std::string());
        return MHD_YES;
      },
      &into);
  return list;
}

}  // namespace

// A connection: the address it counts under, and whether it became an event stream.
struct WebServer::Client {
  std::string key;
  std::string address;  // as printed
  bool stream = false;
};

// One request as it arrives; the body is gathered up to its limit, or for a recording
// streamed to its file.
struct WebServer::Request {
  HttpRequest http;
  std::size_t limit = kMaxBody;
  bool tooLarge = false;
  bool receivingLog = false;  // holds the server's one place for a dropped log
  std::unique_ptr<GreetingUpload> upload;
};

// An event stream's own state, read by the library's thread only.
struct WebServer::Stream {
  WebServer* server = nullptr;
  MHD_Connection* connection = nullptr;
  ParkedConnections::Stream park;
  std::atomic<bool> end{false};
  bool greeted = false;
  bool closingSent = false;
  std::optional<uint64_t> rowsSent;  // the rows' version that the page has
  std::string pending;
  std::size_t written = 0;  // of pending: a list's megabytes go out in blocks, never moved up
};

WebServer::WebServer(const WindowModel& model, EventLoop& loop, WebServerOptions options)
    : model_(model),
      options_(std::move(options)),
      loop_(loop),
      limits_(options_.connectionsPerAddress, options_.streamsPerAddress),
      guesses_(options_.guessStep),
      parked_(model) {}

WebServer::~WebServer() { Stop(); }

std::string WebServer::UrlFor(const std::string& host) const {
  bool v6 = host.find(':') != std::string::npos;
  std::string url = std::string(Tls() ? "https://" : "http://") + (v6 ? "[" + host + "]" : host) + ":" +
                    std::to_string(port_.load()) + "/";
  if (!options_.token.empty()) url += "?token=" + options_.token;
  return url;
}

std::vector<std::string> WebServer::Urls() const {
  const std::string& host = options_.host;
  if (host != "0.0.0.0" && host != "::" && !host.empty()) return {UrlFor(host)};
  std::vector<std::string> urls;
  for (const std::string& address : OwnAddresses(host == "::")) urls.push_back(UrlFor(address));
  urls.push_back(UrlFor("127.0.0.1"));
  return urls;
}

WebStartResult WebServer::Start() {
  WebStartResult result;
  if (daemon_) {
    result.error = "The window's server is already running";
    return result;
  }
  if (options_.port < 0 || options_.port > 65535) {
    result.error = "Port " + std::to_string(options_.port) + " is not a port number";
    return result;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  std::string port = std::to_string(options_.port);
  int gai = getaddrinfo(options_.host.c_str(), port.c_str(), &hints, &found);
  if (gai != 0) {
    result.error = "Cannot listen on \"" + options_.host + "\": " + gai_strerror(gai);
    return result;
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);

  bool loopback = true;
  for (addrinfo* a = found; a; a = a->ai_next) loopback = loopback && IsLoopback(a->ai_addr);
  if (!loopback && options_.password.empty()) {
    result.error = "Listening on " + options_.host +
                   " is refused without a password: set PASSWORD in the [WEB] section of telvara.ini, or listen "
                   "on 127.0.0.1";
    return result;
  }

  UniqueFileDescriptor listen;
  int lastError = 0;
  for (addrinfo* a = found; a && !listen.IsValid(); a = a->ai_next) {
    UniqueFileDescriptor fd(socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
    if (!fd.IsValid()) {
      lastError = errno;
      continue;
    }
    int one = 1, zero = 0;
    setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // "::" takes IPv4 clients too.
    if (a->ai_family == AF_INET6) setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
    if (bind(fd.Get(), a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd.Get(), 64) != 0) {
      lastError = errno;
      continue;
    }
    listen = std::move(fd);
  }
  if (!listen.IsValid()) {
    result.error = "Cannot listen on " + options_.host + ":" + port + ": " + std::strerror(lastError);
    return result;
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  getsockname(listen.Get(), reinterpret_cast<sockaddr*>(&bound), &length);
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);

  AccessRules rules;
  rules.password = options_.password;
  rules.token = options_.token;
  rules.cookieName = "telvara" + std::to_string(port_.load());  // cookies do not tell ports apart
  rules.loopbackOnly = loopback;
  rules.tls = Tls();
  access_.emplace(rules);
  SoundDirs sounds{options_.inboxDir, options_.systemDir};
  for (std::string* dir : {&sounds.inbox, &sounds.system}) {
    if (!dir->empty() && dir->back() != '/') *dir += '/';
  }
  router_.emplace(
      options_.webDir, rules, [this](LoopMessage message) { return loop_.Post(std::move(message)); }, sounds);
  if (!options_.logDir.empty()) router_->AcceptLogsInto(options_.logDir);

  if (!parked_.Start()) {
    result.error = "Cannot start the window's server: " + std::string(std::strerror(errno));
    return result;
  }
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_ALLOW_SUSPEND_RESUME;
  flags |= MHD_is_feature_supported(MHD_FEATURE_EPOLL) == MHD_YES ? MHD_USE_EPOLL : MHD_USE_POLL;
  if (Tls()) flags |= MHD_USE_TLS;
  MHD_OptionItem tls[] = {
      {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(options_.tlsKey.c_str())},
      {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(options_.tlsCertificate.c_str())},
      {MHD_OPTION_END, 0, nullptr},
  };
  int listenFd = listen.Get();
  daemon_ =
      MHD_start_daemon(flags, 0, &WebServer::AcceptPolicy, this, &WebServer::Handle, this, MHD_OPTION_LISTEN_SOCKET,
                       listenFd, MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(options_.maxConnections),
                       MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(options_.idleTimeout.count()),
                       MHD_OPTION_NOTIFY_CONNECTION, &WebServer::NotifyConnection, this, MHD_OPTION_NOTIFY_COMPLETED,
                       &WebServer::Completed, this, MHD_OPTION_ARRAY, Tls() ? tls : tls + 2, MHD_OPTION_END);
  if (!daemon_) {
    parked_.Stop();
    result.error = Tls() ? "Cannot start the window's server: the TLS certificate or key was not taken"
                         : "Cannot start the window's server";
    return result;
  }
  listen.Release();  // the library closes it when it stops
  result.ok = true;
  result.port = port_;
  return result;
}

void WebServer::Stop() {
  if (!daemon_) return;
  // Every waiting connection is resumed first and ends; the library must not stop with
  // one suspended.
  parked_.Stop();
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

MHD_Result WebServer::AcceptPolicy(void* self, const sockaddr* address, socklen_t) {
  auto* server = static_cast<WebServer*>(self);
  return server->limits_.MayConnect(ClientLimits::AddressKey(address)) ? MHD_YES : MHD_NO;
}

void WebServer::NotifyConnection(void* self, MHD_Connection* connection, void** socketContext,
                                 MHD_ConnectionNotificationCode code) {
  auto* server = static_cast<WebServer*>(self);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    const sockaddr* address = info ? info->client_addr : nullptr;
    auto* client = new Client;
    client->key = ClientLimits::AddressKey(address);
    client->address = client->key;
    server->limits_.Connected(client->key);
    *socketContext = client;
  } else if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
    auto* client = static_cast<Client*>(*socketContext);
    if (!client) return;
    server->limits_.Closed(client->key, client->stream);
    delete client;
    *socketContext = nullptr;
  }
}

void WebServer::Completed(void* self, MHD_Connection*, void** requestContext, MHD_RequestTerminationCode) {
  auto* request = static_cast<Request*>(*requestContext);
  if (request && request->receivingLog) static_cast<WebServer*>(self)->receivingLog_ = false;
  delete request;
  *requestContext = nullptr;
}

MHD_Result WebServer::Handle(void* self, MHD_Connection* connection, const char* url, const char* method, const char*,
                             const char* upload, size_t* uploadSize, void** requestContext) {
  auto* server = static_cast<WebServer*>(self);
  auto* request = static_cast<Request*>(*requestContext);
  if (!request) {
    // The head has arrived.
    request = new Request;
    *requestContext = request;
    request->http.method = method;
    request->http.path = url;
    request->http.headers = Values(connection, MHD_HEADER_KIND, true);
    request->http.query = Values(connection, MHD_GET_ARGUMENT_KIND, false);
    request->http.cookies = Values(connection, MHD_COOKIE_KIND, false);
    if (WebRouter::IsGreetingUpload(request->http)) return server->BeginUpload(connection, *request);
    bool log =
        request->http.method == "POST" && request->http.path == "/api/upload" && !server->options_.logDir.empty();
    if (log) request->limit = kMaxLogUpload;
    const std::string* length = request->http.Header("content-length");
    if (length && (length->size() > 9 || std::strtoul(length->c_str(), nullptr, 10) > request->limit)) {
      return server->Send(connection, PlainText(413, "Too large"));
    }
    if (log) {
      // A log is refused before its body is read when the request may not post at all
      // (a password is only ever checked at the end, held back as usual).
      if (!server->access_->ReliesOnPassword(request->http) &&
          server->access_->Check(request->http, true) != AccessVerdict::Allowed) {
        return server->Answer(connection, *request);
      }
      if (server->receivingLog_.exchange(true)) {
        return server->Send(connection, PlainText(503, "Another log is being received; try again"));
      }
      request->receivingLog = true;
    }
    return MHD_YES;
  }
  if (*uploadSize != 0 && request->upload) {
    request->upload->Append(upload, *uploadSize);
    *uploadSize = 0;
    return MHD_YES;
  }
  if (request->upload) return server->FinishUpload(connection, *request);
  if (*uploadSize != 0) {
    if (request->http.body.size() + *uploadSize > request->limit) {
      request->tooLarge = true;
    } else {
      request->http.body.append(upload, *uploadSize);
    }
    *uploadSize = 0;
    return MHD_YES;
  }
  if (request->tooLarge) return server->Send(connection, PlainText(413, "Too large"));
  return server->Answer(connection, *request);
}

MHD_Result WebServer::Answer(MHD_Connection* connection, Request& request) {
  auto* client =
      static_cast<Client*>(MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)->socket_context);
  const HttpRequest& http = request.http;
  bool changes = http.method != "GET" && http.method != "HEAD";
  // A password is checked only when its address may try again; until then the
  // connection waits, suspended, and its answer tells nothing early.
  if (access_->ReliesOnPassword(http)) {
    auto now = SteadyClock::now();
    auto next = guesses_.NextCheck(client->key, now);
    if (next > now) {
      if (parked_.ParkUntil(connection, next)) return MHD_YES;
      return Send(connection, PlainText(503, "Telvara is stopping"));
    }
  }
  AccessVerdict verdict = Judge(*client, http, changes);
  RouteResult routed = router_->Route(http, verdict, *model_.Snapshot());
  if (routed.eventStream) return StartStream(connection, *client, http);
  return Send(connection, std::move(routed.response));
}

AccessVerdict WebServer::Judge(const Client& client, const HttpRequest& http, bool changes) {
  AccessVerdict verdict = access_->Check(http, changes);
  if (verdict == AccessVerdict::WrongPassword) {
    int failures = guesses_.Failed(client.key, SteadyClock::now());
    if (options_.log) {
      options_.log("Wrong password for the window from " + client.address + " (" + std::to_string(failures) +
                   (failures == 1 ? " failure)" : " failures in a row)"));
    }
  } else if (verdict != AccessVerdict::NeedCredentials && access_->ReliesOnPassword(http)) {
    guesses_.Succeeded(client.key);
  }
  return verdict;
}

MHD_Result WebServer::BeginUpload(MHD_Connection* connection, Request& request) {
  auto* client =
      static_cast<Client*>(MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)->socket_context);
  const HttpRequest& http = request.http;
  // A body is not held back as a password guess's answer is: while the address must
  // wait, its uploads are turned away unread.
  auto now = SteadyClock::now();
  if (access_->ReliesOnPassword(http) && guesses_.NextCheck(client->key, now) > now) {
    return Send(connection, PlainText(503, "Too many wrong passwords from this address; try again later"));
  }
  AccessVerdict verdict = Judge(*client, http, true);
  std::shared_ptr<const WindowState> state = model_.Snapshot();
  if (verdict != AccessVerdict::Allowed) return Send(connection, router_->Route(http, verdict, *state).response);
  if (options_.uploadDir.empty()) return Send(connection, PlainText(404, "Not found"));
  UploadCheck check = WebRouter::CheckGreetingUpload(http, *state, BrowserSoundCard::kMaxRecordingBytes);
  if (check.requestId == 0) return Send(connection, std::move(check.refusal));
  request.upload =
      std::make_unique<GreetingUpload>(options_.uploadDir, check.requestId, BrowserSoundCard::kMaxRecordingBytes);
  std::string error = request.upload->Begin();
  if (!error.empty()) {
    if (options_.log) options_.log("Window: a recording cannot be kept: " + error);
    return Send(connection, PlainText(500, "The recording cannot be kept"));
  }
  return MHD_YES;
}

MHD_Result WebServer::FinishUpload(MHD_Connection* connection, Request& request) {
  if (request.upload->TooLarge()) return Send(connection, PlainText(413, "The recording is too large"));
  // The engine may have stopped waiting for it meanwhile.
  UploadCheck check =
      WebRouter::CheckGreetingUpload(request.http, *model_.Snapshot(), BrowserSoundCard::kMaxRecordingBytes);
  if (check.requestId == 0) return Send(connection, std::move(check.refusal));
  std::string error = request.upload->Finish();
  if (!error.empty()) {
    if (options_.log) options_.log("Window: a recording cannot be kept: " + error);
    return Send(connection, PlainText(500, "The recording cannot be kept"));
  }
  LoopMessage message;
  message.kind = LoopMessage::Kind::Command;
  message.id = command::kSoundReport;
  message.data = std::to_string(check.requestId) + " uploaded";
  if (!loop_.Post(std::move(message))) {
    ::unlink(BrowserSoundCard::UploadPath(options_.uploadDir, check.requestId).c_str());
    return Send(connection, PlainText(503, "Telvara is busy; try again"));
  }
  HttpResponse taken;
  taken.status = 204;
  return Send(connection, std::move(taken));
}

MHD_Result WebServer::Send(MHD_Connection* connection, HttpResponse response) const {
  MHD_Response* r = nullptr;
  if (response.file.IsValid()) {
    // Streamed from the file; the library closes it with the response.
    r = MHD_create_response_from_fd64(response.fileSize, response.file.Get());
    if (r) response.file.Release();
  } else {
    r = MHD_create_response_from_buffer(response.body.size(), const_cast<char*>(response.body.data()),
                                        MHD_RESPMEM_MUST_COPY);
  }
  if (!r) return MHD_NO;
  for (const auto& [name, value] : StandardHeaders()) MHD_add_response_header(r, name.c_str(), value.c_str());
  for (const auto& [name, value] : response.headers) MHD_add_response_header(r, name.c_str(), value.c_str());
  if (!response.contentType.empty()) MHD_add_response_header(r, "Content-Type", response.contentType.c_str());
  MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(response.status), r);
  MHD_destroy_response(r);
  return queued;
}

MHD_Result WebServer::StartStream(MHD_Connection* connection, Client& client, const HttpRequest& request) {
  // The newest page of an address wins: its oldest stream ends (often a page already
  // gone whose hang-up has not been seen).
  if (!limits_.MayStream(client.key) && !parked_.EndOldestStream(client.key)) {
    return Send(connection, PlainText(503, "Too many windows are open from this address"));
  }
  auto* stream = new Stream;
  stream->server = this;
  stream->connection = connection;
  stream->park.key = client.key;
  stream->park.socket = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)->connect_fd;
  stream->park.started = nextStream_++;
  stream->park.seen = 0;
  stream->park.end = &stream->end;
  // A page that already has the rows (from /api/state, or before a reconnection)
  // says which; they are not sent again until they change.
  if (const std::string* rows = request.Query("rows")) {
    uint64_t version = 0;
    auto [end, ec] = std::from_chars(rows->data(), rows->data() + rows->size(), version);
    if (ec == std::errc() && end == rows->data() + rows->size()) stream->rowsSent = version;
  }
  MHD_Response* r = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, kStreamBlock, &WebServer::ReadStream, stream,
                                                      &WebServer::FreeStream);
  if (!r) {
    delete stream;
    return MHD_NO;
  }
  for (const auto& [name, value] : StandardHeaders()) MHD_add_response_header(r, name.c_str(), value.c_str());
  MHD_add_response_header(r, "Content-Type", "text/event-stream; charset=utf-8");
  // The connection ends with its stream, so that its count is given back.
  MHD_add_response_header(r, "Connection", "close");
  MHD_Result queued = MHD_queue_response(connection, 200, r);
  MHD_destroy_response(r);
  if (queued == MHD_YES) {
    limits_.StreamStarted(client.key);
    client.stream = true;
  }
  return queued;
}

ssize_t WebServer::ReadStream(void* cls, uint64_t, char* buffer, size_t max) {
  auto* stream = static_cast<Stream*>(cls);
  WebServer* server = stream->server;
  if (stream->written == stream->pending.size()) {
    stream->pending = std::string();  // a list's megabytes are not kept for a keep-alive
    stream->written = 0;
    if (stream->end.load() || stream->closingSent) return MHD_CONTENT_READER_END_OF_STREAM;
    auto now = SteadyClock::now();
    std::shared_ptr<const WindowState> state = server->model_.Snapshot();
    if (!stream->greeted) {
      stream->pending = "retry: 1000\n\n";
      stream->greeted = true;
    }
    if (state->version != stream->park.seen) {
      // The rows go only when they changed: a new status is a few hundred bytes, even
      // with 65,535 messages listed.
      bool rowsKnown = stream->rowsSent == state->rowsVersion;
      stream->pending += "event: state\ndata: ";
      stream->pending += StateToJson(*state, rowsKnown ? StateRows::LeftOut : StateRows::Included);
      stream->pending += "\n\n";
      stream->rowsSent = state->rowsVersion;
      stream->park.seen = state->version;
      // The program is going: the page shows that, and nothing more will come.
      stream->closingSent = state->closing;
    } else if (stream->pending.empty() && now < stream->park.keepAliveDue) {
      if (!server->parked_.ParkStream(stream->connection, stream->park)) return MHD_CONTENT_READER_END_OF_STREAM;
      return 0;
    } else if (stream->pending.empty()) {
      stream->pending = ": keep-alive\n\n";
    }
    stream->park.keepAliveDue = now + server->options_.keepAliveInterval;
  }
  std::size_t n = std::min(max, stream->pending.size() - stream->written);
  std::memcpy(buffer, stream->pending.data() + stream->written, n);
  stream->written += n;
  return static_cast<ssize_t>(n);
}

void WebServer::FreeStream(void* cls) { delete static_cast<Stream*>(cls); }

}  // namespace telvara
