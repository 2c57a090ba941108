#pragma once
// What the window's server answers to a request, decided apart from its sockets and
// threads.
//
// Routes: GET (or HEAD) / and the page's few static files (a fixed list, read from the web
// directory); GET /api/state, the window state as JSON; GET /api/events, a stream of
// server-sent events that the server keeps up itself (?rows=<version>: the page has
// the rows of that version, which are then sent only when they change); POST /api/command,
// {"id": <command id>, "data": "<text>"}, posted to the engine as a Command message;
// POST /api/upload?name=<file name>, a message log dropped on the window, stored in the
// program directory (LogUpload) and posted to the engine to be opened;
// POST /api/greeting?request=<id>, a greeting recorded in the page for the sound
// request going on (a WAV body), is taken by the server itself, streamed to a file; the
// router judges it from its head (CheckGreetingUpload).
// GET /api/message?file=<name>, the WAV of a listed message (the name that a row's
// identity carries) from the inbox; GET /api/greeting, the sound-card greeting; either
// with download=1 to be saved rather than played.
// GET /?token=<the access token> answers with the token's cookie and sends the browser
// on to the page; a request without a credential gets a short page saying where the
// window's address is printed.
//
// Route() may be called from any thread at once: it reads only the state it is given
// and posts through the function it was made with.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/WindowModel.h"
#include "web/HttpMessage.h"
#include "web/WebAccess.h"

namespace telvara {

// The headers every answer of the server carries, event streams included.
HeaderList StandardHeaders();
// A short plain-text answer ("Not found").
HttpResponse PlainText(int status, std::string text);

// Where the sound files served by name are; each ends in '/', or is empty: none.
struct SoundDirs {
  std::string inbox;   // the messages
  std::string system;  // the greetings
};

struct RouteResult {
  HttpResponse response;
  bool eventStream = false;  // the server follows the window state instead of answering
};

struct UploadCheck {
  int requestId = 0;     // the sound request the recording is for, when it is taken
  HttpResponse refusal;  // when it is not
};

class WebRouter {
 public:
  // `post` hands a message to the engine's loop; false when the loop will not take it.
  using PostFunction = std::function<bool(LoopMessage)>;

  // `rules` say how credentials are asked for and how the cookie is made.
  WebRouter(std::string webDir, AccessRules rules, PostFunction post, SoundDirs sounds = {});
  // Where dropped logs are stored (the program directory); without it none is taken.
  // Before the first Route().
  void AcceptLogsInto(std::string dir) { uploadDir_ = std::move(dir); }

  // `access` is WebAccess::Check's verdict on the request, `state` the window as it
  // stands.
  RouteResult Route(const HttpRequest& request, AccessVerdict access, const WindowState& state) const;

  static bool IsGreetingUpload(const HttpRequest& request);
  // A recording is taken only for the recording that the state asks to be sent, as a
  // WAV of at most `maxBytes` (as far as the head tells); access is checked before.
  static UploadCheck CheckGreetingUpload(const HttpRequest& request, const WindowState& state, uint64_t maxBytes);

 private:
  HttpResponse StaticFile(const char* file, const char* type) const;
  HttpResponse SoundFile(const std::string& dir, std::string_view name, const HttpRequest& request) const;
  HttpResponse PostCommand(const HttpRequest& request, const WindowState& state) const;
  HttpResponse PostUpload(const HttpRequest& request) const;
  HttpResponse AskForCredentials() const;
  HttpResponse TradeToken() const;

  std::string webDir_;  // ends in '/' unless empty
  AccessRules rules_;
  PostFunction post_;
  std::string uploadDir_;
  SoundDirs sounds_;
};

}  // namespace telvara
