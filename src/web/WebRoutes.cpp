#include "web/WebRoutes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>

#include "platform/FileDescriptor.h"
#include "web/LogUpload.h"
#include "web/PageProtocol.h"
#include "web/SoundFiles.h"

namespace telvara {

namespace {

constexpr off_t kMaxPageFile = 4 * 1024 * 1024;

struct PageFile {
  const char* path;
  const char* file;
  const char* type;
};

// The only files the server reads: a request names one of these, never a path.
constexpr PageFile kPageFiles[] = {
    {"/", "index.html", "text/html; charset=utf-8"},
    {"/index.html", "index.html", "text/html; charset=utf-8"},
    {"/style.css", "style.css", "text/css; charset=utf-8"},
    {"/app.js", "app.js", "text/javascript; charset=utf-8"},
    {"/setup.js", "setup.js", "text/javascript; charset=utf-8"},
    {"/setup.css", "setup.css", "text/css; charset=utf-8"},
    {"/files.js", "files.js", "text/javascript; charset=utf-8"},
    {"/help.html", "help.html", "text/html; charset=utf-8"},
    {"/help.css", "help.css", "text/css; charset=utf-8"},
    {"/sound.js", "sound.js", "text/javascript; charset=utf-8"},
    {"/list.js", "list.js", "text/javascript; charset=utf-8"},
    {"/icon.svg", "icon.svg", "image/svg+xml"},
};

// Reads a whole regular file; nullopt when it is missing, not a file or too large.
std::optional<std::string> ReadPageFile(const std::string& path) {
  UniqueFileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd.IsValid()) return std::nullopt;
  struct stat st;
  if (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxPageFile) {
    return std::nullopt;
  }
  std::string content;
  char chunk[8192];
  for (;;) {
    ssize_t n = read(fd.Get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    content.append(chunk, static_cast<std::size_t>(n));
    if (content.size() > static_cast<std::size_t>(kMaxPageFile)) return std::nullopt;
  }
  return content;
}

HttpResponse MethodNotAllowed(const char* allow) {
  HttpResponse response = PlainText(405, "Method not allowed");
  response.headers.emplace_back("Allow", allow);
  return response;
}

}  // namespace

HeaderList StandardHeaders() {
  return {{"Cache-Control", "no-store"},
          {"X-Content-Type-Options", "nosniff"},
          {"X-Frame-Options", "DENY"},
          {"Referrer-Policy", "same-origin"},
          {"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'"}};
}

HttpResponse PlainText(int status, std::string text) {
  HttpResponse response;
  response.status = status;
  response.contentType = "text/plain; charset=utf-8";
  response.body = std::move(text) + "\n";
  return response;
}

WebRouter::WebRouter(std::string webDir, AccessRules rules, PostFunction post, SoundDirs sounds)
    : webDir_(std::move(webDir)), rules_(std::move(rules)), post_(std::move(post)), sounds_(std::move(sounds)) {
  if (!webDir_.empty() && webDir_.back() != '/') webDir_ += '/';
}

RouteResult WebRouter::Route(const HttpRequest& request, AccessVerdict access, const WindowState& state) const {
  RouteResult result;
  HttpResponse& response = result.response;
  switch (access) {
    case AccessVerdict::Allowed: break;
    case AccessVerdict::TradeToken: response = TradeToken(); return result;
    case AccessVerdict::BadHost:
      response = PlainText(403, "This window answers only to its own address");
      return result;
    case AccessVerdict::NeedCredentials:
    case AccessVerdict::WrongPassword: response = AskForCredentials(); return result;
    case AccessVerdict::CrossSite:
      response = PlainText(403, "Commands are taken only from the window's own page");
      return result;
  }

  // HEAD is answered as GET; the library leaves the body out.
  bool isGet = request.method == "GET" || request.method == "HEAD";
  if (request.path == "/api/state") {
    if (!isGet) {
      response = MethodNotAllowed("GET");
    } else {
      response.contentType = "application/json";
      response.body = StateToJson(state);
    }
    return result;
  }
  if (request.path == "/api/events") {
    if (request.method != "GET") {
      response = MethodNotAllowed("GET");
    } else {
      result.eventStream = true;
    }
    return result;
  }
  if (request.path == "/api/message" || request.path == "/api/greeting") {
    if (!isGet) {
      response = MethodNotAllowed("GET");
    } else if (request.path == "/api/greeting") {
      response = SoundFile(sounds_.system, kSoundCardGreeting, request);
    } else {
      const std::string* file = request.Query("file");
      bool listed = file && ListedFile(state.rows, *file);
      response = listed ? SoundFile(sounds_.inbox, *file, request) : PlainText(404, "No such message");
    }
    return result;
  }
  if (request.path == "/api/command") {
    response = request.method == "POST" ? PostCommand(request, state) : MethodNotAllowed("POST");
    return result;
  }
  if (request.path == "/api/upload" && !uploadDir_.empty()) {
    response = request.method == "POST" ? PostUpload(request) : MethodNotAllowed("POST");
    return result;
  }
  for (const PageFile& file : kPageFiles) {
    if (request.path == file.path) {
      response = isGet ? StaticFile(file.file, file.type) : MethodNotAllowed("GET");
      return result;
    }
  }
  response = PlainText(404, "Not found");
  return result;
}

bool WebRouter::IsGreetingUpload(const HttpRequest& request) {
  return request.path == "/api/greeting" && request.method == "POST";
}

UploadCheck WebRouter::CheckGreetingUpload(const HttpRequest& request, const WindowState& state, uint64_t maxBytes) {
  UploadCheck check;
  const std::string* type = request.Header("content-type");
  std::string bare = type ? type->substr(0, type->find(';')) : "";
  if (bare != "audio/wav" && bare != "audio/wave" && bare != "audio/x-wav") {
    check.refusal = PlainText(415, "A recording is sent as audio/wav");
    return check;
  }
  const std::string* length = request.Header("content-length");
  if (length && (length->size() > 12 || std::strtoull(length->c_str(), nullptr, 10) > maxBytes)) {
    check.refusal = PlainText(413, "The recording is too large");
    return check;
  }
  const std::string* id = request.Query("request");
  const SoundRequest& asked = state.sound;
  if (!id || asked.id == 0 || asked.kind != "record" || !asked.stop || *id != std::to_string(asked.id)) {
    check.refusal = PlainText(409, "No recording is asked for");
    return check;
  }
  check.requestId = asked.id;
  return check;
}

HttpResponse WebRouter::AskForCredentials() const {
  HttpResponse response;
  response.status = 401;
  response.contentType = "text/html; charset=utf-8";
  response.body =
      "<!DOCTYPE html>\n<title>Telvara</title>\n<h1>Telvara</h1>\n"
      "<p>This window opens from the address that Telvara printed when it started; the address carries "
      "its access key. On the machine that runs Telvara, <code>telvara --home DIR --url</code> prints it "
      "again.</p>\n";
  if (!rules_.password.empty()) {
    response.body += "<p>Or sign in with the window's password (the profile's [WEB] PASSWORD).</p>\n";
    response.headers.emplace_back("WWW-Authenticate", "Basic realm=\"Telvara\", charset=\"UTF-8\"");
  }
  return response;
}

// The token of the printed address becomes a cookie that the browser keeps for a
// year, sends to this window only and never hands to scripts; the address bar then
// loses the token.
HttpResponse WebRouter::TradeToken() const {
  HttpResponse response;
  response.status = 303;
  std::string cookie = rules_.cookieName + "=" + rules_.token +
                       "; Path=/; Max-Age=31536000; HttpOnly; SameSite=Strict" + (rules_.tls ? "; Secure" : "");
  response.headers.emplace_back("Set-Cookie", std::move(cookie));
  response.headers.emplace_back("Location", "/");
  return response;
}

HttpResponse WebRouter::StaticFile(const char* file, const char* type) const {
  std::optional<std::string> content = ReadPageFile(webDir_ + file);
  if (!content) return PlainText(404, "Not found");
  HttpResponse response;
  response.contentType = type;
  response.body = std::move(*content);
  return response;
}

HttpResponse WebRouter::SoundFile(const std::string& dir, std::string_view name, const HttpRequest& request) const {
  std::optional<OpenFile> file = dir.empty() ? std::nullopt : OpenRegularFile(dir + std::string(name));
  if (!file) return PlainText(404, "Not found");
  HttpResponse response;
  response.contentType = "audio/wav";
  response.file = std::move(file->fd);
  response.fileSize = file->size;
  const std::string* download = request.Query("download");
  if (download && *download == "1") {
    response.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + SafeDownloadName(name) + "\"");
  }
  return response;
}

HttpResponse WebRouter::PostCommand(const HttpRequest& request, const WindowState& state) const {
  // Only JSON: a cross-site form cannot send it without the browser asking first, and
  // that question (OPTIONS) is never answered.
  const std::string* type = request.Header("content-type");
  if (!type || type->substr(0, type->find(';')) != "application/json") {
    return PlainText(415, "Commands are JSON");
  }
  PageCommand parsed;
  switch (ParsePageCommand(request.body, state, parsed)) {
    case CommandCheck::Ok: break;
    case CommandCheck::Malformed: return PlainText(400, "Malformed command");
    case CommandCheck::UnknownId: return PlainText(400, "Unknown command");
    case CommandCheck::NoSuchBox: return PlainText(409, "That message box is not open");
  }
  LoopMessage message;
  // Exit closes the program as a stop signal does: a line operation in progress (a
  // recording dispatches no commands) ends at once instead of first running its course.
  message.kind = parsed.id == command::kExit ? LoopMessage::Kind::Close : LoopMessage::Kind::Command;
  message.id = parsed.id;
  message.data = std::move(parsed.data);
  message.page = std::move(parsed.page);
  if (!post_(std::move(message))) return PlainText(503, "Telvara is busy; try again");
  HttpResponse response;
  response.status = 204;
  return response;
}

HttpResponse WebRouter::PostUpload(const HttpRequest& request) const {
  // Not a type a cross-site form can send without the browser asking first.
  const std::string* type = request.Header("content-type");
  if (!type || type->substr(0, type->find(';')) != "application/octet-stream") {
    return PlainText(415, "A log is sent as application/octet-stream");
  }
  const std::string* name = request.Query("name");
  if (!name) return PlainText(400, "The log's name is missing");
  LogUploadResult stored = StoreUploadedLog(uploadDir_, *name, request.body);
  switch (stored.outcome) {
    case LogUploadOutcome::Stored: break;
    case LogUploadOutcome::BadName: return PlainText(400, stored.detail);
    case LogUploadOutcome::NotALog: return PlainText(422, stored.detail);
    case LogUploadOutcome::Failed: return PlainText(500, stored.detail);
  }
  LoopMessage message;
  message.kind = LoopMessage::Kind::Command;
  message.id = command::kFileOpen;
  message.data = stored.name;
  if (!post_(std::move(message))) {
    return PlainText(503,
                     stored.name + " is stored in the program directory, but Telvara is busy: open it with Ctrl+O");
  }
  return PlainText(200, stored.name);
}

}  // namespace telvara
