// A stand-in engine for the browser test: serves a WindowModel that goes through the
// start-up window's texts (once a page follows the window, or after 30 s), then shows
// the main window with a status, two messages and a message box, and answers the
// page's commands in the status box. Listens on a free loopback port and prints the
// window's address, with a fresh access token, as its first line. Exit ends it, and so does a signal (without the
// program's orderly close, which the browser test sees on the real program).
#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/EventLoop.h"
#include "platform/WindowModel.h"
#include "web/AccessToken.h"
#include "web/WebServer.h"

using namespace telvara;

int main() {
  RealClock clock;
  EventLoop loop(clock, std::make_unique<PollWaiter>(clock));
  WindowModel window;
  WebServerOptions options;
  options.port = 0;
  options.webDir = TELVARA_SOURCE_DIR "/web";
  options.token = MakeAccessToken();
  WebServer server(window, loop, options);
  WebStartResult started = server.Start();
  if (!started.ok) {
    std::cerr << "window_harness: " << started.error << "\n";
    return 1;
  }
  std::cout << server.Urls().front() << std::endl;

  // The engine side, on this thread as on the program's engine thread.
  loop.SetHandler([&](const LoopMessage& m) {
    if (m.kind != LoopMessage::Kind::Command) return;
    std::size_t space = m.data.find(' ');
    switch (m.id) {
      case command::kBoxAnswer:
        if (window.CloseBox(std::atoi(m.data.c_str()))) {
          window.SetStatus("Answered box " + m.data.substr(0, space) + " with " + m.data.substr(space + 1));
        }
        break;
      case command::kPlayMessage: window.SetStatus("Play Message: " + m.data); break;
      case command::kDeleteMessage:
        for (std::size_t i = 0; i < window.RowCount(); ++i) {
          if (window.Row(i)->identity == m.data) window.DeleteRow(i);
        }
        break;
      case command::kAbout: window.OpenBox("About Telvara", "Telvara for Win 95/NT\nVersion 1.0", {"OK"}, false); break;
      case command::kExit: loop.Quit(); break;
      default: break;
    }
  });
  // Dispatches messages until the time has passed, blocked in poll() between them.
  auto wait = [&](uint32_t ms) {
    uint32_t until = clock.Now() + ms;
    while (!loop.QuitRequested() && !TickReached(clock.Now(), until)) {
      if (!loop.PumpOne()) loop.WaitUntil(until, WaitFor::Messages);
    }
  };
  constexpr uint32_t kStepMs = 400;  // how long each step of the start-up shows

  window.SetTitle("Telvara for Win95/NT");
  window.SetHeader("Time        Date      Length    Filename    Caller ID  Status");
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
  window.SetStatus("Stand by");
  wait(kStepMs);
  window.OpenBox("Telvara", "The window harness is running.\nPress OK to answer.", {"OK"}, false);
  while (!loop.QuitRequested()) wait(3600 * 1000);
  window.SetClosing();
  server.Stop();
  return 0;
}
