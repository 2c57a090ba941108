#include "app/COrvanelApp.h"

#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <thread>

#include "app/ShippedData.h"
#include "app/WebSetup.h"
#include "engine/COrvanelView.h"
#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "platform/Profile.h"
#include "platform/SerialPort.h"
#include "platform/WindowModel.h"
#include "store/OrvanelDoc.h"
#include "store/Recovery.h"
#include "web/WebServer.h"

namespace telvara {

namespace {

const char kTitle[] = "Telvara for Win95/NT";
const char kListHeader[] = "Time        Date      Length    Filename    Caller ID  Status";

std::string AbsoluteDir(std::string dir) {
  if (dir.empty()) return dir;
  if (dir[0] != '/') {
    if (char* cwd = getcwd(nullptr, 0)) {
      dir = std::string(cwd) + "/" + dir;
      std::free(cwd);
    }
  }
  if (dir.back() != '/') dir += '/';
  return dir;
}

// One line on standard output for each status the machine shows, with the time. The
// window's server logs from its own thread: the line goes out in one write. A line that
// cannot be written (the reader of a pipe has gone) is dropped; the machine goes on.
void LogLine(const std::string& text) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
  // A status of two lines (a caller's identity under "Phone ringing.") stays one log
  // line, so that each line of the log has its time.
  std::string line = std::string(stamp) + "  " + text + "\n";
  std::replace(line.begin(), line.end() - 1, '\n', ' ');
  for (std::size_t done = 0; done < line.size();) {
    ssize_t n = ::write(STDOUT_FILENO, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// SIGTERM, SIGINT, SIGQUIT and SIGHUP are taken by a thread of their own, which posts
// the same close message that closing the window posts; after SIGHUP the program then
// starts again, as after the set-up dialog's restart. A SIGHUP ignored when the
// program started (nohup) stays ignored. When the watcher ends, the signals are as
// they were (a program that starts itself again must not inherit them blocked).
class SignalWatcher {
 public:
  explicit SignalWatcher(EventLoop& loop) {
    sigemptyset(&set_);
    sigaddset(&set_, SIGTERM);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGQUIT);
    struct sigaction hup {};
    if (sigaction(SIGHUP, nullptr, &hup) == 0 && hup.sa_handler != SIG_IGN) sigaddset(&set_, SIGHUP);
    sigaddset(&set_, SIGUSR1);  // our own wake-up to end the thread
    pthread_sigmask(SIG_BLOCK, &set_, &before_);
    thread_ = std::thread([this, &loop] {
      for (;;) {
        int sig = 0;
        if (sigwait(&set_, &sig) != 0) continue;
        if (sig == SIGUSR1) {
          if (ending_) return;  // ours; a SIGUSR1 from outside is ignored
          continue;
        }
        if (sig == SIGHUP) hangUp_ = true;
        loop.PostClose();
      }
    });
  }
  ~SignalWatcher() {
    ending_ = true;
    pthread_kill(thread_.native_handle(), SIGUSR1);
    thread_.join();
    pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  }
  // A SIGHUP came: the program is to start again once it has closed.
  bool HangUp() const { return hangUp_; }

 private:
  sigset_t set_;
  sigset_t before_;
  std::atomic<bool> ending_{false};
  std::atomic<bool> hangUp_{false};
  std::thread thread_;
};

}  // namespace

std::string ExecutableDir() {
  std::string path(256, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0) return "./";
    if (static_cast<std::size_t>(n) < path.size()) {
      path.resize(static_cast<std::size_t>(n));
      break;
    }
    path.resize(path.size() * 2);  // the link may be longer than the buffer
  }
  return path.substr(0, path.rfind('/') + 1);
}

namespace {

// What a crash or a power loss left behind: the temp files of interrupted saves beside
// the log and the profile, and recordings cut short, listed again. Before the window's
// server may save anything beside them. The status to show; empty when none.
std::string RecoverAfterCrash(COrvanelDoc& document, const std::string& home) {
  // The files the program replaces through a temp file in its directory.
  int removed = Recovery::RemoveStaleTempFiles(
      home, {"telvara.ini", "telvara.token", "telvara-cert.pem", "telvara-key.pem", "telvara.url"});
  const std::string& log = document.GetPathName();
  std::string logDir = log.substr(0, log.rfind('/') + 1);
  if (!logDir.empty() && logDir != home) removed += Recovery::RemoveStaleTempFiles(logDir, {});
  if (removed > 0) LogLine("Removed " + std::to_string(removed) + " temp files of interrupted saves");
  Recovery::Listed listed = Recovery::RecoverInto(document);
  for (const std::string& error : listed.errors) LogLine(error);
  return Recovery::StatusText(listed.count);
}

}  // namespace

int COrvanelApp::Run() {
  std::string home = AbsoluteDir(options_.home.empty() ? ExecutableDir() : options_.home);
  struct stat st {};
  if (stat(home.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::cerr << "telvara: the program directory " << home << " does not exist\n";
    return 2;
  }
  if (options_.printUrl) return PrintWindowUrls(home);
  // Signals are blocked before any other thread starts, so only the watcher takes them.
  RealClock clock;
  auto waiter = std::make_unique<PollWaiter>(clock);
  if (!waiter->Ok()) {
    std::cerr << "telvara: cannot make the engine's wake-up descriptor\n";
    return 2;
  }
  EventLoop loop(clock, std::move(waiter));
  SignalWatcher signals(loop);

  Profile profile(home + "telvara.ini");
  WindowModel window;
  window.SetTitle(kTitle);
  window.SetHeader(kListHeader);

  WebSetup setup = MakeWebSetup(options_, profile, home, LogLine);
  if (!setup.error.empty()) {
    std::cerr << "telvara: cannot serve the window: " << setup.error << "\n";
    return 2;
  }
  // The shipped page and prompts: beside the executable (a build tree), else where
  // they were installed.
  std::vector<std::string> dataDirs = ShippedDataCandidates(ExecutableDir());
  std::string webDir = FindShippedDir(dataDirs, "web");
  // The program directory's system/ holds the prompts and the greetings; the shipped
  // prompts it lacks are copied in, never over a file there.
  std::string shippedPrompts = FindShippedDir(dataDirs, "system");
  PromptCopy prompts = CopyMissingPrompts(shippedPrompts, home + "system/");
  // Without its page the machine still answers calls; the window then says the page is missing.
  setup.options.webDir = webDir.empty() ? ExecutableDir() + "web/" : webDir;
  setup.options.logDir = home;
  setup.options.uploadDir = home + "system/";  // the view's system directory
  // The page plays and saves the messages and the sound-card greeting that it lists.
  setup.options.inboxDir = home + "inbox/";
  setup.options.systemDir = home + "system/";
  WebServer web(window, loop, setup.options);
  WebStartResult started = web.Start();
  if (!started.ok) {
    std::cerr << "telvara: cannot serve the window: " << started.error << "\n";
    return 2;
  }
  // The window's addresses come first, each on a line of its own.
  std::vector<std::string> urls = web.Urls();
  for (const std::string& url : urls) std::cout << url << "\n";
  std::cout << std::flush;
  for (const std::string& notice : setup.notices) LogLine(notice);
  if (webDir.empty()) LogLine("Window: the page (web/) is neither beside the executable nor in " + dataDirs.back());
  if (shippedPrompts.empty()) LogLine("Prompts: no shipped system/ found; " + home + "system/ is used as it is");
  if (prompts.copied > 0)
    LogLine("Prompts: copied " + std::to_string(prompts.copied) + " shipped prompts from " + shippedPrompts + " to " +
            home + "system/");
  for (const std::string& error : prompts.errors) LogLine("Prompts: " + error);
  std::string kept = KeepWindowUrls(home, urls);
  if (!kept.empty()) LogLine("Window: the address is not kept for --url: " + kept);
  if (!web.Tls() && !web.LoopbackOnly()) {
    LogLine("Window: served without TLS: the password and the window travel readable on the network; set [WEB] TLS=1");
  }

  COrvanelDoc document(home);
  StartupResult opened = document.OpenAtStartup(options_.logFile, clock.WallNow());
  std::string recoveredStatus = RecoverAfterCrash(document, home);

  ViewEnvironment env;
  env.loop = &loop;
  env.window = &window;
  env.profile = &profile;
  env.openPort = MakeSerialPortOpener(profile);
  env.programDir = home;
  env.log = LogLine;
  env.hookOutput = LogLine;  // one write per line: safe from the hook runner's thread
  COrvanelView view(std::move(env));
  view.SetDocument(&document);
  if (!opened.notice.empty()) view.MessageBox(opened.notice, "Message Log");

  loop.SetHandler([&](const LoopMessage& m) {
    switch (m.kind) {
      case LoopMessage::Kind::Timer: view.OnTimer(m.id); break;
      case LoopMessage::Kind::Command: view.OnCommand(m); break;
      default: break;
    }
  });
  view.OnCreate();
  view.FillMessageList();
  // After the start-up's own statuses; a port that failed keeps its status.
  if (!recoveredStatus.empty() && view.watching) view.ShowStatus(recoveredStatus);
  loop.Run();

  LogLine("Closing");
  SaveResult saved = document.SaveIfModified();
  if (!saved.Ok()) LogLine(saved.error);
  view.OnDestroy();
  restart_ = view.RestartRequested() || signals.HangUp();
  if (signals.HangUp()) LogLine("Hang-up signal: Telvara starts again and reads its profile anew");
  window.SetClosing();
  web.Stop();
  return 0;
}

}  // namespace telvara
