// The four buttons at the PC: through the handset on the simulated line, and through the
// sound card, which is the page that clicked (its reports posted as the page would).
#include "Engine.h"
#include "platform/BrowserSoundCard.h"

namespace telvara::testing {
namespace {

constexpr char kPage[] = "page-1";

std::string Identity(const COrvanelDoc& d, int i) { return COrvanelView::RowIdentity(*d.GetMessageAt(i)); }
std::string Idle(const Engine& e) {
  return "watching " + std::to_string(e.view->watching) + ", busy " + std::to_string(e.view->lineBusy) + ", " +
         std::to_string(e.window.Current().lineBusy) + ": " + e.window.Current().status;
}
constexpr char kIdle[] = "watching 1, busy 0, 0: Stand by";
Strings Tail(const Strings& all, std::size_t n) { return Strings(all.end() - static_cast<long>(n), all.end()); }

TEST(LocalControls, PlayMessageThroughTheHandsetPlaysItAndANewOneTurnsOldInPlace) {
  Call c;
  for (int i = 0; i < 2; ++i) c.AddMessage(MessageStatus::StatusNew, 1);
  std::string played = c.window.Current().rows[1].text;
  c.Post(command::kPlayMessage, Identity(c.document, 1));
  c.line.RunFor(3000);
  EXPECT_TRUE(c.Shown("Playback On Going"));
  EXPECT_EQ(c.line.Played(), std::vector<std::vector<uint8_t>>{std::vector<uint8_t>(7200, 0x40)});
  EXPECT_EQ(Tail(c.line.Commands(), 5),
            (Strings{"AT#VLS=1", "AT#BDR=48#VBS=8#VSR=7200", "AT#VTX", "ATH0", "AT+FCLASS=0"}));
  EXPECT_EQ(c.window.Current().rows[1].text, played.substr(0, played.rfind("NEW")) + "OLD");
  EXPECT_EQ(c.document.GetMessageAt(0)->status, MessageStatus::StatusNew);
  EXPECT_FALSE(c.document.IsModified());  // the log on disk holds it
  EXPECT_EQ(Idle(c), kIdle);
}

TEST(LocalControls, PlayMessageWithNoSelectionOrAMessageGoneStillHangsUpAndStandsBy) {
  Call c;
  std::string gone = c.AddMessage(MessageStatus::StatusNew, 1) + " 0";
  for (const std::string& identity : {std::string(), gone}) {
    std::size_t before = c.line.Commands().size();
    c.Post(command::kPlayMessage, identity);
    c.line.RunFor(3000);
    EXPECT_EQ(c.line.Commands(before), (Strings{"ATH0", "AT+FCLASS=0"}));
    EXPECT_TRUE(c.line.Played().empty());
    EXPECT_EQ(Idle(c), kIdle);
  }
}

TEST(LocalControls, DeleteRemovesRowRecordAndFileWithoutAskingAndAnUnknownOneNothing) {
  Call c;
  std::string kept = c.AddMessage(MessageStatus::StatusNew, 1), deleted = c.AddMessage(MessageStatus::StatusOld, 1);
  c.Post(command::kDeleteMessage, deleted + " 0");
  c.Post(command::kDeleteMessage, Identity(c.document, 1));
  c.line.RunFor(1000);
  ASSERT_EQ(c.document.GetMessageCount(), 1);
  EXPECT_EQ(c.document.GetMessageAt(0)->fileName, kept);
  EXPECT_EQ(c.window.Current().rows.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(c.line.Path("inbox/" + deleted)));
  EXPECT_TRUE(c.Boxes().empty() && !c.document.IsModified());
}

TEST(LocalControls, DuringACallDeleteAndTheLineButtonsAreRefused) {
  Call c;
  c.AddMessage(MessageStatus::StatusNew, 10);
  std::string identity = Identity(c.document, 0);
  bool busyShown = false;
  c.line.At(c.line.Now() + 12000, [&] {
    busyShown = c.window.Current().lineBusy;
    c.Post(command::kDeleteMessage, identity);
    c.Post(command::kPlayMessage, identity);
    c.Post(command::kRecordAnnouncement, "");
  });
  c.Run("after 5s key 857\nafter 3s key 2\nafter 12s key #\n");
  c.line.RunFor(20000);
  EXPECT_TRUE(busyShown && !c.window.Current().lineBusy);
  ASSERT_EQ(c.document.GetMessageCount(), 1);
  EXPECT_TRUE(std::filesystem::exists(c.line.Path("inbox/") + c.document.GetMessageAt(0)->fileName));
  EXPECT_TRUE(c.Shown("The line is in use: the message was not deleted"));
  EXPECT_FALSE(c.Shown("Playback On Going") || c.Shown("Recording new announcement message"));
}

struct SoundCardTest : ::testing::Test, Call {
  SoundCardTest() { view->settings.outputDevice = 2; }
  const SoundRequest& Sound() const { return window.Current().sound; }
  // What the page does `ms` from now, for the request shown then.
  void PageDoes(uint32_t ms, std::function<void(const SoundRequest&)> act) {
    line.At(line.Now() + ms, [this, act] { act(Sound()); });
  }
  void PageReports(uint32_t ms, const std::string& report) {
    PageDoes(ms, [this, report](const SoundRequest& r) {
      Post(command::kSoundReport, std::to_string(r.id) + " " + report, kPage);
    });
  }
  void PressOk(uint32_t ms) {
    PageDoes(ms, [this](const SoundRequest&) {
      for (const MessageBoxState& box : window.Current().boxes)
        if (box.modal) Post(command::kBoxAnswer, std::to_string(box.id) + " OK", kPage);
    });
  }
  // The page stops when asked, and the server says the recording has arrived.
  void SendsOnStop(uint32_t ms, const std::vector<uint8_t>& bytes) {
    PageDoes(ms, [this, bytes](const SoundRequest& r) {
      EXPECT_TRUE(r.stop);
      Post(command::kSoundReport, std::to_string(r.id) + " stopped", kPage);
      std::ofstream(BrowserSoundCard::UploadPath(view->systemDir, r.id), std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
      Post(command::kSoundReport, std::to_string(r.id) + " uploaded");
    });
  }
  uint32_t Record() {
    uint32_t start = line.Now();
    view->OnRecordAnnouncement(kPage);
    return line.Now() - start;
  }
  void CloseBoxes() {
    while (!window.Current().boxes.empty()) window.CloseBox(window.Current().boxes[0].id);
  }
  std::string Greeting() const { return line.Path("system/announc2.wav"); }
  std::vector<uint8_t> Wav(int rate, int seconds) {
    std::string error, path = line.Path("made.wav");
    std::filesystem::remove(path);
    EXPECT_TRUE(sim::WriteWavFile(path, Samples(static_cast<std::size_t>(rate * seconds)), rate, error));
    return ReadFileBytes(path);
  }
};

// "ended" is the browser's test.
TEST_F(SoundCardTest, APlayThatFailsOrWhosePageIsSilentForItsLengthAndFiveSecondsEndsAndNeverMarksOld) {
  AddMessage(MessageStatus::StatusNew, 2);
  std::string identity = Identity(document, 0), row = window.Current().rows[0].text;
  for (bool reported : {true, false}) {
    CloseBoxes();
    SoundRequest asked;
    PageDoes(100, [&](const SoundRequest& r) { asked = r; });
    if (reported) PageReports(500, "error");
    uint32_t start = line.Now();
    view->OnPlayMessage(identity, kPage);
    EXPECT_NEAR(line.Now() - start, reported ? 500 : 7000, 300);
    EXPECT_EQ(asked.page + " " + asked.kind + " " + asked.url,
              std::string(kPage) + " play api/message?file=" + document.GetMessageAt(0)->fileName);
    EXPECT_EQ(Boxes(), Strings{"Sound card playback failed"});
    EXPECT_TRUE(Sound().id == 0 && window.Current().rows[0].text == row);
    EXPECT_EQ(Tail(line.Commands(), 2), (Strings{"ATH0", "AT+FCLASS=0"}));
  }
}

// Only a well-formed WAV of at most 10 minutes replaces the greeting.
TEST_F(SoundCardTest, OkStopsTheRecordingAndOnlyAGoodWavReplacesTheGreeting) {
  std::vector<uint8_t> old = Wav(8000, 1), good = Wav(8000, 3), tooLong = Wav(8000, 601);
  for (const std::vector<uint8_t>& sent : {std::vector<uint8_t>(5000, 'x'), tooLong, good}) {
    std::ofstream(Greeting(), std::ios::binary).write(reinterpret_cast<const char*>(old.data()), long(old.size()));
    SoundRequest asked;
    PageDoes(100, [&](const SoundRequest& r) { asked = r; });
    PageReports(200, "recording");
    PressOk(1000);
    SendsOnStop(1100, sent);
    Record();
    EXPECT_EQ(asked.page + " " + asked.kind + " " + std::to_string(asked.stop), std::string(kPage) + " record 0");
    bool taken = sent == good;
    EXPECT_EQ(ReadFileBytes(Greeting()), taken ? good : old);
    EXPECT_EQ(Boxes(), (taken ? Strings{"All Done"} : Strings{"Can't Save Record", "All Done"}));
    EXPECT_EQ(Idle(*this), kIdle);
    CloseBoxes();
    for (const auto& entry : std::filesystem::directory_iterator(line.Path("system")))
      EXPECT_EQ(entry.path().filename().string().rfind("greeting-", 0), std::string::npos) << entry.path();
  }
}

// "Can't Start Record" (a refused microphone) is the browser's test.
TEST_F(SoundCardTest, APageThatNeverAnswersOrCannotRecordHereHasItsBoxThenAllDone) {
  EXPECT_LE(Record(), BrowserSoundCard::kPageGoneMs + 200);
  EXPECT_EQ(Boxes(), (Strings{"MCI Open Error", "All Done"}));
  CloseBoxes();
  PageReports(200, "open-error insecure");  // plain http away from loopback: the box says how to lift it
  Record();
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_TRUE(Boxes()[0].starts_with("MCI Open Error\n") && Boxes()[0].find("[WEB] TLS=1") != std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Greeting()));
}

TEST_F(SoundCardTest, ARecordingEndsThirtySecondsAfterItsPageHasGoneOrAfterTenMinutes) {
  PageReports(200, "recording");
  uint32_t took = Record();  // nothing more from the page
  EXPECT_NEAR(took, 200 + BrowserSoundCard::kPageGoneMs, 300);
  EXPECT_EQ(Boxes(), (Strings{"Can't Stop Record", "All Done"}));
  EXPECT_EQ(Idle(*this), kIdle);
  CloseBoxes();

  // A page that stays but whose box nobody answers: stopped at 10 minutes.
  PageReports(200, "recording");
  for (uint32_t t = 5000; t < 700000; t += 5000) PageReports(t, "alive");
  std::vector<uint8_t> sent = Wav(8000, 1);
  SendsOnStop(200 + BrowserSoundCard::kMaxRecordingMs + 100, sent);
  took = Record();
  EXPECT_NEAR(took, 200 + BrowserSoundCard::kMaxRecordingMs + 100, 300);
  EXPECT_EQ(ReadFileBytes(Greeting()), sent);
  EXPECT_EQ(Boxes(), Strings{"All Done"});
}

}  // namespace
}  // namespace telvara::testing
