// A stand-in engine for the browser test: serves a WindowModel that goes through the
// start-up window's texts (once a page follows the window, or after 30 s), then shows
// the main window with a status, two messages and a message box, and answers the
// page's commands in the status box. Listens on a free loopback port and prints the
// window's address as its first line; SIGTERM or SIGINT close it as Exit does.
#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "platform/EventLoop.h"
#include "platform/WindowModel.h"
#include "web/WebServer.h"

using namespace telvara;

namespace {

const char* const kStartupTexts[] = {
    "Checking directory", "Read in settings", "Open comm port", "Initializing modem",
    "Trying to set modem to voice mode", "Modem Set to voice mode", "Ready"};

// How long each step of the start-up shows.
constexpr uint32_t kStepMs = 400;

// The engine side: runs on the main thread, like the program's engine thread.
class Harness {
 public:
  Harness(EventLoop& loop, WindowModel& window, WebServer& server)
      : loop_(loop), window_(window), server_(server) {
    loop_.SetHandler([this](const LoopMessage& m) { OnMessage(m); });
  }

  void Run() {
    window_.SetTitle("Telvara for Win95/NT");
    window_.SetHeader("Time        Date      Length    Filename    Caller ID  Status");
    window_.ShowStartup("Telvara for Win 95/NT", "Starting up");
    for (int i = 0; i < 600 && server_.EventStreams() == 0 && !loop_.QuitRequested(); ++i) Wait(50);
    for (const char* text : kStartupTexts) {
      Wait(kStepMs);
      window_.SetStartupStatus(text);
    }
    Wait(kStepMs);
    window_.HideStartup();
    window_.InsertRow(0, {" 2:05:09pm  03/12/1998  1:15  PGMO0509.WAV               NEW",
                          "PGMO0509.WAV 889740309"});
    window_.InsertRow(1, {"11:59:59pm  12/31/1998  0:42  PZPX5959.WAV               OLD",
                          "PZPX5959.WAV 915148799"});
    window_.SetStatus("Stand by");
    Wait(kStepMs);
    window_.OpenBox("Telvara", "The window harness is running.\nPress OK to answer.", {"OK"}, false);
    while (!loop_.QuitRequested()) Wait(3600 * 1000);
    window_.SetClosing();
  }

 private:
  // Dispatches messages until the time has passed, blocked in poll() between them.
  void Wait(uint32_t ms) {
    uint32_t until = loop_.GetClock().Now() + ms;
    while (!loop_.QuitRequested() && !TickReached(loop_.GetClock().Now(), until)) {
      if (!loop_.PumpOne()) loop_.WaitUntil(until, WaitFor::Messages);
    }
  }

  void OnMessage(const LoopMessage& m) {
    if (m.kind != LoopMessage::Kind::Command) return;
    switch (m.id) {
      case command::kBoxAnswer: {
        std::size_t space = m.data.find(' ');
        int id = std::atoi(m.data.substr(0, space).c_str());
        if (window_.CloseBox(id)) {
          window_.SetStatus("Answered box " + std::to_string(id) + " with " + m.data.substr(space + 1));
        }
        break;
      }
      case command::kPlayMessage: window_.SetStatus("Play Message: " + m.data); break;
      case command::kDeleteMessage:
        for (std::size_t i = 0; i < window_.RowCount(); ++i) {
          if (window_.Row(i)->identity == m.data) {
            window_.DeleteRow(i);
            window_.SetStatus("Delete Message: " + m.data);
            break;
          }
        }
        break;
      case command::kAbout:
        window_.OpenBox("About Telvara", "Telvara for Win 95/NT\nVersion 1.0", {"OK"}, false);
        break;
      case command::kExit: loop_.Quit(); break;
      default: break;
    }
  }

  EventLoop& loop_;
  WindowModel& window_;
  WebServer& server_;
};

}  // namespace

int main() {
  // Signals are blocked before any thread starts; one thread waits for them and posts
  // Close, as the program does.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  RealClock clock;
  EventLoop loop(clock, std::make_unique<PollWaiter>(clock));
  WindowModel window;
  WebServerOptions webOptions;
  webOptions.port = 0;
  webOptions.webDir = TELVARA_SOURCE_DIR "/web";
  WebServer server(window, loop, webOptions);
  WebStartResult started = server.Start();
  if (!started.ok) {
    std::cerr << "window_harness: " << started.error << "\n";
    return 1;
  }
  std::cout << server.Url() << std::endl;

  std::thread signalThread([&loop, signals] {
    int taken = 0;
    sigwait(&signals, &taken);
    loop.PostClose();
  });

  Harness harness(loop, window, server);
  harness.Run();
  server.Stop();
  // Ended by Exit rather than a signal: wake the signal thread so it can be joined.
  pthread_kill(signalThread.native_handle(), SIGTERM);
  signalThread.join();
  return 0;
}
