#pragma once
// Test harness: the call engine against the in-process simulated modem on a virtual
// clock, wired as the program wires it (loop, window, profile, port opener).
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "SimStream.h"
#include "InjectingStream.h"
#include "engine/COrvanelView.h"
#include "platform/EventLoop.h"
#include "platform/Profile.h"
#include "platform/VirtualWaiter.h"
#include "platform/WindowModel.h"

namespace telvara::testing {

class EngineHarness {
 public:
  explicit EngineHarness(ModemType dialect, const std::string& modemProfile = "",
                         bool portMissing = false)
      : waiter_(new VirtualWaiter(clock_)),
        loop_(clock_, std::unique_ptr<Waiter>(waiter_)),
        stream_(clock_, dialect),
        injecting_(stream_, stream_) {
    waiter_->AddDevice(&injecting_);
    char pattern[] = "/tmp/telvara-engine-XXXXXX";
    dir_ = mkdtemp(pattern);
    std::filesystem::create_directory(dir_ + "/inbox");
    std::ofstream(dir_ + "/telvara.ini") << "[MODEM]\nTYPE=" << static_cast<int>(dialect) << "\n"
                                          << modemProfile;
    profile_ = std::make_unique<Profile>(dir_ + "/telvara.ini");
    ViewEnvironment env;
    env.loop = &loop_;
    env.window = &window_;
    env.profile = profile_.get();
    env.openPort = [this, portMissing](int, int) {
      PortOpenResult r;
      if (portMissing) r.error = "no such device";
      else r.stream = std::make_unique<LentStream>(injecting_);
      return r;
    };
    env.programDir = dir_ + "/";
    env.log = [this](const std::string& text) { log_.emplace_back(clock_.Now(), text); };
    view_ = std::make_unique<COrvanelView>(std::move(env));
    loop_.SetHandler([this](const LoopMessage& m) {
      if (m.kind == LoopMessage::Kind::Timer) view_->OnTimer(m.id);
      if (m.kind == LoopMessage::Kind::Command) view_->OnCommand(m);
    });
  }
  ~EngineHarness() {
    view_.reset();
    std::filesystem::remove_all(dir_);
  }

  void Start() { view_->OnCreate(); }
  // Dispatches messages as the program's loop would, for `ms` of virtual time.
  void RunFor(uint32_t ms) {
    uint32_t until = clock_.Now() + ms;
    while (!TickReached(clock_.Now(), until)) {
      if (!loop_.PumpOne()) loop_.WaitUntil(until, WaitFor::Messages);
    }
  }
  // Runs fn on the engine thread at virtual time `tick` (during a wait).
  void At(uint32_t tick, std::function<void()> fn) { waiter_->At(tick, std::move(fn)); }

  std::vector<std::string> Commands() { return stream_.GetTranscript().Texts("command"); }
  std::vector<std::string> Log() const {
    std::vector<std::string> texts;
    for (const auto& [t, text] : log_) texts.push_back(text);
    return texts;
  }
  // Times (virtual ticks) at which a text was logged.
  std::vector<uint32_t> TimesOf(const std::string& text) const {
    std::vector<uint32_t> times;
    for (const auto& [t, logged] : log_)
      if (logged == text) times.push_back(t);
    return times;
  }
  std::vector<std::string> Boxes() const {
    std::vector<std::string> texts;
    for (const auto& b : window_.Current().boxes) texts.push_back(b.text);
    return texts;
  }

  VirtualClock& Clock() { return clock_; }
  COrvanelView& View() { return *view_; }
  sim::SimModem& Modem() { return stream_.Modem(); }
  InjectingStream& Line() { return injecting_; }
  WindowModel& Window() { return window_; }
  EventLoop& Loop() { return loop_; }
  const std::string& Dir() const { return dir_; }

 private:
  VirtualClock clock_;
  VirtualWaiter* waiter_;
  EventLoop loop_;
  sim::SimStream stream_;
  InjectingStream injecting_;
  WindowModel window_;
  std::string dir_;
  std::unique_ptr<Profile> profile_;
  std::vector<std::pair<uint32_t, std::string>> log_;
  std::unique_ptr<COrvanelView> view_;
};

}  // namespace telvara::testing
