#pragma once
// What the window's server answers to a request, decided apart from its sockets and
// threads.
//
// Routes: GET (or HEAD) / and the page's few static files (a fixed list, read from the web
// directory); GET /api/state, the window state as JSON; GET /api/events, a stream of
// server-sent events that the server keeps up itself (?rows=<version>: the page has
// the rows of that version, which are then sent only when they change); POST /api/command,
// {"id": <command id>, "data": "<text>"}, posted to the engine as a Command message.
// GET /api/message?file=<name>, the WAV of a listed message (the name that a row's
// identity carries) from the inbox; GET /api/greeting, the sound-card greeting; either
// with download=1 to be saved rather than played.
// GET /?token=<the access token> answers with the token's cookie and sends the browser
// on to the page; a request without a credential gets a short page saying where the
// window's address is printed.
//
// Route() may be called from any thread at once: it reads only the state it is given
// and posts through the function it was made with.
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

class WebRouter {
 public:
  // `post` hands a message to the engine's loop; false when the loop will not take it.
  using PostFunction = std::function<bool(LoopMessage)>;

  // `rules` say how credentials are asked for and how the cookie is made.
  WebRouter(std::string webDir, AccessRules rules, PostFunction post, SoundDirs sounds = {});

  // `access` is WebAccess::Check's verdict on the request, `state` the window as it
  // stands.
  RouteResult Route(const HttpRequest& request, AccessVerdict access, const WindowState& state) const;

 private:
  HttpResponse StaticFile(const char* file, const char* type) const;
  HttpResponse SoundFile(const std::string& dir, std::string_view name, const HttpRequest& request) const;
  HttpResponse PostCommand(const HttpRequest& request, const WindowState& state) const;
  HttpResponse AskForCredentials() const;
  HttpResponse TradeToken() const;

  std::string webDir_;  // ends in '/' unless empty
  AccessRules rules_;
  PostFunction post_;
  SoundDirs sounds_;
};

}  // namespace telvara
