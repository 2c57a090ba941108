// The window's commands as the page posts them: the "Modem Set Up" dialog and the File commands.
#include "Engine.h"
#include "store/LogFile.h"
#include "store/MessageLog.h"

namespace telvara::testing {
namespace {

void Post(Engine& e, int id, const std::string& data = "") {
  e.Post(id, data);
  e.line.RunFor(50);
}

// Answers the newest box with the button; its text.
std::string Answer(Engine& e, const std::string& button) {
  const MessageBoxState box = e.window.Current().boxes.back();
  Post(e, command::kBoxAnswer, std::to_string(box.id) + " " + button);
  return box.text;
}

std::string ProfileText(Engine& e) { return ReadFileText(e.line.Path("telvara.ini")); }

const SetupDialogState& Dialog(Engine& e) { return e.window.Current().setup; }

// Cancel, Yes and the restart: the browser's set-up test.
TEST(SetupDialog, NoWritesNothingAndARestartPutOffLeavesTheRunningSettings) {
  Engine e(Rockwell);
  const std::string before = ProfileText(e), ok = R"({"port":2,"rings":null,"init":"ATZ"})";
  Post(e, command::kSetupModem);
  Post(e, command::kSetupAnswer, ok);
  EXPECT_EQ(Answer(e, "No"), "You must restart the program to make the changes effective. Save the changes?");
  EXPECT_TRUE(!Dialog(e).open && ProfileText(e) == before);
  Post(e, command::kSetupModem);
  Post(e, command::kSetupAnswer, ok);
  Answer(e, "Yes");
  EXPECT_NE(ProfileText(e).find("INIT=ATZ\n"), std::string::npos) << ProfileText(e);
  EXPECT_EQ(Answer(e, "No"), "The changes take effect when Telvara starts again. Restart Telvara now?");
  EXPECT_FALSE(e.view->RestartRequested() || e.line.Loop().QuitRequested());
  EXPECT_EQ(e.view->settings.initString, "AT&F&C1&D2");
}

TEST(SetupDialog, AFailedWriteIsShownAndTheDialogStaysOpen) {
  Engine e(Rockwell);
  Post(e, command::kSetupModem);
  Post(e, command::kSetupAnswer, R"({"port":3,"phone":"5551234"})");
  WithFileSizeLimit(16, [&] { return Answer(e, "Yes"); });
  EXPECT_TRUE(e.Boxes().size() == 1 && e.Boxes()[0].starts_with("The settings could not be saved: "));
  EXPECT_EQ(std::tuple(Dialog(e).open, Dialog(e).port, Dialog(e).phone), std::tuple(true, 3, "5551234"));
}

// A log of `count` messages in the program directory; the messages' row identities.
Strings WriteLog(Engine& e, const std::string& name, int count) {
  MessageList messages;
  Strings identities;
  for (int i = 0; i < count; ++i) {
    messages.push_back(CMessage::NewForCall(e.line.Clock().WallNow() - 60 * (i + 1), e.line.Path("inbox/")));
    identities.push_back(COrvanelView::RowIdentity(*messages.back()));
  }
  std::vector<uint8_t> bytes = MessageLog::Write(messages);
  std::ofstream(e.line.Path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return identities;
}

Strings RowIdentities(const Engine& e) {
  Strings ids;
  for (const ListRow& row : e.window.Current().rows) ids.push_back(row.identity);
  return ids;
}

TEST(FileCommands, OpenAndNewRefillTheListFromTheNewLogAndNeverReplaceAFile) {
  Call c;
  c.AddMessage(MessageStatus::StatusNew, 1);
  Strings calls = WriteLog(c, "calls.log", 2);
  std::filesystem::create_directory(c.line.Path("old.log"));  // not a file
  std::ofstream(c.line.Path("Orvanel1.log")) << "someone's";

  Post(c, command::kFileOpen);
  EXPECT_EQ(c.window.Current().logFiles, (Strings{"Orvanel1.log", "calls.log", "orvanel.log"}));
  Post(c, command::kFileOpen, "calls.log");
  EXPECT_EQ(RowIdentities(c), calls);
  EXPECT_EQ(c.window.Current().status, "Message log calls.log");

  for (const char* name : {"../calls.log", "/etc/passwd", "telvara.ini", "old.log", "missing.log"}) {
    Post(c, command::kFileOpen, name);
    EXPECT_EQ(c.window.Current().status, "\"" + std::string(name) + "\" is not a message log of the program directory");
  }
  Post(c, command::kFileOpen, "Orvanel1.log");  // not a log: it stays open, and so does calls.log
  EXPECT_EQ(c.document.GetPathName(), c.line.Path("calls.log"));
  EXPECT_EQ(RowIdentities(c), calls);

  Post(c, command::kFileNew);
  EXPECT_TRUE(c.document.GetPathName() == c.line.Path("Orvanel2.log") && c.window.Current().rows.empty());
  EXPECT_EQ(ReadFileBytes(c.line.Path("Orvanel2.log")), (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(ReadFileBytes(c.line.Path("Orvanel1.log")).size(), 9u);
  Post(c, command::kFileSave);
  EXPECT_EQ(c.window.Current().status, "Message log saved: Orvanel2.log");
}

TEST(FileCommands, TheLogIsNotReplacedWhileTheLineIsInUse) {
  Call c;
  c.AddMessage(MessageStatus::StatusNew, 1);
  WriteLog(c, "calls.log", 2);
  c.window.SetLineBusy(true);
  Post(c, command::kFileOpen, "calls.log");
  Post(c, command::kFileNew);
  EXPECT_EQ(c.window.Current().status,
            "A new message log is not started while the line is in use; try again when it is free");
  EXPECT_TRUE(c.document.GetPathName() == c.line.Path("orvanel.log") && c.window.Current().rows.size() == 1);
}

}  // namespace
}  // namespace telvara::testing
