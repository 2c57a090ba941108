// A stand-in engine for the browser tests: the start-up texts (once a page follows), then
// five messages with their WAVs and a box, the page's commands answered in the status box;
// with TELVARA_HARNESS_ROWS=<n>, n messages at once and no files. Prints its address first.
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "platform/EventLoop.h"
#include "platform/WindowModel.h"
#include "store/Message.h"
#include "web/AccessToken.h"
#include "web/WebServer.h"

using namespace telvara;

namespace {

ListRow MessageRow(std::time_t when, unsigned seconds, bool heard) {
  CMessage message;
  message.time = static_cast<std::int32_t>(when);
  message.lengthSeconds = seconds;
  message.status = heard ? MessageStatus::StatusOld : MessageStatus::StatusNew;
  message.fileName = CMessage::FileNameFor(when);
  message.BuildListLine();
  return {message.listLine, message.fileName + " " + std::to_string(when)};
}

}  // namespace

int main() {
  const char* many = std::getenv("TELVARA_HARNESS_ROWS");
  char scratch[] = "/tmp/telvara-harness-XXXXXX";
  if (!mkdtemp(scratch)) return 1;
  const std::string inbox = std::string(scratch) + "/";
  struct RemoveInbox {
    std::string dir;
    ~RemoveInbox() { std::filesystem::remove_all(dir); }
  } removeInbox{inbox};

  RealClock clock;
  EventLoop loop(clock, std::make_unique<PollWaiter>(clock));
  WindowModel window;
  window.SetTitle("Telvara for Win95/NT");
  window.SetHeader("Time        Date      Length    Filename    Caller ID  Status");
  if (many) {
    long count = std::strtol(many, nullptr, 10);  // a call every hour or so, the newest not yet heard
    WindowModel::Batch batch(window);
    for (long i = 0; i < count; ++i)
      window.InsertRow(i, MessageRow(889740309 + i * 4567, unsigned(i * 37 + 11) % 200, i < count * 2 / 3));
    window.SetStatus("Stand by");
  }
  WebServerOptions options;
  options.port = 0;
  options.webDir = TELVARA_SOURCE_DIR "/web";
  options.token = MakeAccessToken();
  options.inboxDir = inbox;
  WebServer server(window, loop, options);
  WebStartResult started = server.Start();
  if (!started.ok) return std::cerr << "window_harness: " << started.error << "\n", 1;
  std::cout << server.Urls().front() << std::endl;

  // The engine side, on this thread as on the program's engine thread.
  loop.SetHandler([&](const LoopMessage& m) {
    if (m.kind != LoopMessage::Kind::Command) return;
    std::size_t space = m.data.find(' ');
    switch (m.id) {
      case command::kBoxAnswer:
        if (window.CloseBox(std::atoi(m.data.c_str())))
          window.SetStatus("Answered box " + m.data.substr(0, space) + " with " + m.data.substr(space + 1));
        break;
      case command::kPlayMessage: window.SetStatus("Play Message: " + m.data); break;
      case command::kDeleteMessage:
        for (std::size_t i = 0; i < window.RowCount(); ++i)
          if (window.Row(i)->identity == m.data) window.DeleteRow(i);
        break;
      default: break;
    }
  });
  auto wait = [&](uint32_t ms) {  // dispatching, blocked in poll() between messages
    for (uint32_t until = clock.Now() + ms; !loop.QuitRequested() && !TickReached(clock.Now(), until);)
      if (!loop.PumpOne()) loop.WaitUntil(until, WaitFor::Messages);
  };
  constexpr uint32_t kStepMs = 400;  // how long each step of the start-up shows

  if (!many) {
    window.ShowStartup("Telvara for Win 95/NT", "Starting up");
    for (int i = 0; i < 600 && server.EventStreams() == 0 && !loop.QuitRequested(); ++i) wait(50);
    for (const char* text : {"Checking directory", "Read in settings", "Open comm port", "Initializing modem",
                             "Trying to set modem to voice mode", "Modem Set to voice mode", "Ready"}) {
      wait(kStepMs);
      window.SetStartupStatus(text);
    }
    wait(kStepMs);
    window.HideStartup();
    window.InsertRow(0, {" 2:05:09pm  03/12/1998  1:15  PGMO0509.WAV               NEW", "PGMO0509.WAV 889740309"});
    window.InsertRow(1, {"11:59:59pm  12/31/1998  0:42  PZPX5959.WAV               OLD", "PZPX5959.WAV 915148799"});
    for (std::time_t when : {915190000, 915270000, 915350000})
      window.InsertRow(9, MessageRow(when, 27, when < 915200000));
    for (std::size_t i = 0; i < window.RowCount(); ++i) {  // each a shipped prompt
      const std::string& identity = window.Row(i)->identity;
      std::filesystem::copy_file(TELVARA_SOURCE_DIR "/system/sys00" + std::to_string(i + 1) + ".wav",
                                 inbox + identity.substr(0, identity.find(' ')));
    }
    window.SetStatus("Stand by");
    wait(kStepMs);
    window.OpenBox("Telvara", "The window harness is running.\nPress OK to answer.", {"OK"}, false);
  }
  while (!loop.QuitRequested()) wait(3600 * 1000);
  window.SetClosing();
  server.Stop();
  return 0;
}
