#pragma once
// The call engine on the simulated line, wired as the program wires it.
#include <gtest/gtest.h>

#include "SimLine.h"
#include "WavData.h"
#include "engine/COrvanelView.h"
#include "platform/Profile.h"
#include "platform/WindowModel.h"
#include "store/OrvanelDoc.h"

namespace telvara::testing {

using Strings = std::vector<std::string>;

// The view with its window, profile and log on a SimLine, started unless told not to.
struct Engine {
  explicit Engine(ModemType dialect, const std::string& modemProfile = "", bool start = true) : line(dialect) {
    std::filesystem::create_directory(line.Path("inbox"));
    std::ofstream(line.Path("telvara.ini")) << "[MODEM]\nTYPE=" << int(dialect) << "\n" << modemProfile;
    profile = std::make_unique<Profile>(line.Path("telvara.ini"));
    view = std::make_unique<COrvanelView>(ViewEnvironment{
        &line.Loop(), &window, profile.get(), line.Opener(), line.Path(),
        [this](const std::string& text) { log.emplace_back(line.Now(), text); }, [this] { return serialDevices; }});
    line.Loop().SetHandler([this](const LoopMessage& m) {
      uint32_t start = line.Now();
      if (m.kind == LoopMessage::Kind::Command) view->OnCommand(m);
      if (m.kind != LoopMessage::Kind::Timer) return;
      view->OnTimer(m.id);
      ticks.push_back(line.Now() - start);
    });
    view->SetDocument(&document);
    (void)document.OpenAtStartup("", line.Clock().WallNow());
    if (start) view->OnCreate();
  }
  std::vector<uint32_t> TimesOf(const std::string& text) const {
    std::vector<uint32_t> times;
    for (const auto& [t, logged] : log)
      if (logged == text) times.push_back(t);
    return times;
  }
  Strings Boxes() const {
    Strings texts;
    for (const auto& b : window.Current().boxes) texts.push_back(b.text);
    return texts;
  }
  std::string State() const {
    return "watching " + std::to_string(view->watching) + ", timer " + std::to_string(view->timerId) + ", busy " +
           std::to_string(view->lineBusy) + ", rings " + std::to_string(view->ringCount) + ": " +
           window.Current().status;
  }
  std::size_t Answers() { return line.Times("command", "ATA").size(); }
  // What a page of the window posts, as the server posts it.
  void Post(int id, const std::string& data, const std::string& page = "") {
    line.Loop().Post({LoopMessage::Kind::Command, id, data, {}, page});
  }
  void Ring(int n, uint32_t thenRunMs) {
    line.Modem().Ring(n);
    line.RunFor(thenRunMs);
  }

  SimLine line;
  COrvanelDoc document{line.Path()};
  WindowModel window;
  std::unique_ptr<Profile> profile;
  std::vector<std::pair<uint32_t, std::string>> log;
  std::vector<uint32_t> ticks;  // how long each ring-watch tick took
  Strings serialDevices;        // what the set-up dialog finds on the machine
  std::unique_ptr<COrvanelView> view;
};

// A call answered at the first ring, or as the profile says. The greeting's two prompts last 2 s each.
struct Call : Engine {
  Call() : Call(Rockwell, "RINGS=-1\n") {}
  explicit Call(const std::string& afterAnswer) : Call() { Run(afterAnswer); }
  Call(ModemType dialect, const std::string& profile) : Engine(dialect, profile) {
    std::string error;
    std::filesystem::create_directory(line.Path("system"));
    for (const char* name : {"sys001.wav", "sys002.wav"})
      EXPECT_TRUE(sim::WriteWavFile(line.Path("system/") + name, std::vector<uint8_t>(14400, 0x40), 7200, error));
  }
  // What the caller does after the answer.
  void Run(const std::string& afterAnswer) {
    EXPECT_EQ(line.Stream().AddScenario("ring 1\nwait answer\n" + afterAnswer), "");
    line.RunFor(1000);  // the call runs inside the tick that answers it
  }
  // The system files played, in order (from the statuses they show).
  Strings Prompts() const {
    Strings names;
    for (const auto& [t, text] : log)
      if (text.rfind("Playing ", 0) == 0) names.push_back(text.substr(text.rfind('/') + 1));
    return names;
  }
  bool Shown(const std::string& text) const { return !TimesOf(text).empty(); }
  bool InboxEmpty() const { return std::filesystem::is_empty(line.Path("inbox")); }
  // A message of `seconds` in the log (and the window's list) and in the inbox; its file name.
  std::string AddMessage(MessageStatus status, int seconds) {
    auto m =
        CMessage::NewForCall(line.Clock().WallNow() - 3600 * (document.GetMessageCount() + 1), line.Path("inbox/"));
    std::string name = m->fileName, error;
    m->status = status;
    m->BuildListLine();
    window.InsertRow(window.RowCount(), {m->listLine, COrvanelView::RowIdentity(*m)});
    EXPECT_TRUE(sim::WriteWavFile(line.Path("inbox/") + name, std::vector<uint8_t>(seconds * 7200, 0x40), 7200, error));
    EXPECT_TRUE(document.InsertMessage(document.GetMessageCount(), std::move(m)).Ok());
    return name;
  }
};

}  // namespace telvara::testing
