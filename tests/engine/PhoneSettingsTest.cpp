// The owner's settings and security code changed by telephone, and the entry of digits,
// on an answered call on the simulated line.
#include "Engine.h"

namespace telvara::testing {
namespace {

// A call the test answers on the view's modem; a dialogue then runs on it as the owner's
// menu would run it. There are no prompt files: each prompt only shows its name.
struct Owner : Engine {
  Owner() : Engine(Rockwell) { view->settings.phoneNumber = "555"; }
  // The caller does `afterAnswer` while `work` runs on the line.
  void Run(const std::string& afterAnswer, const std::function<void()>& work) {
    EXPECT_EQ(line.Stream().AddScenario("wait answer\n" + afterAnswer), "");
    view->RunOnLine(
        [&] {
          FMODEM& modem = view->Modem();
          line.Modem().Ring(1);
          ASSERT_EQ(modem.WaitResult(kNoStopText, 2000), ResultRing);
          ASSERT_EQ(modem.Answer(), 1);
          start = line.Now();
          work();
          end = line.Now();
          // What the menu would take next: a key put back, or one still on its way.
          for (uint32_t until = end + 1000; (left = modem.PollEvent()) == 0 && !TickReached(line.Now(), until);)
            line.Loop().WaitUntil(until, WaitFor::Input);
        },
        "Hang up modem");
  }
  // What was played, in order: a file's name or the digits spoken in quotes.
  Strings Played() const {
    Strings played;
    for (const auto& [t, text] : log) {
      if (text.rfind("Playing ", 0) != 0) continue;
      std::size_t slash = text.rfind('/');
      played.push_back(text.substr(slash == std::string::npos ? 8 : slash + 1));
    }
    return played;
  }
  Strings LastPlayed(std::size_t n) const {
    Strings all = Played();
    return Strings(all.end() - static_cast<long>(std::min(n, all.size())), all.end());
  }
  std::string Saved(const std::string& key) const {
    return Profile(line.Path("telvara.ini")).GetString("MODEM", key, "-");
  }
  int left = -1;  // the next event for the menu, within a second
  uint32_t start = 0, end = 0;
};

TEST(PhoneSettings, ReadDigitsStopsAtFifteenAtAStarOrHashOrTwentySecondsAfterItsStart) {
  struct Row {
    std::string keys, digits;
    int left;
    uint32_t tookMs;
  } rows[] = {
      {"after 1s key 1234567890123456\n", "123456789012345", '6', 1000 + 14 * 300},
      {"after 1s key 12*3\n", "12", '3', 1000 + 2 * 300},
      {"after 1s key 1\nafter 15s key 2\n", "12", 0, 20000},  // a key does not renew the deadline
  };
  for (const Row& row : rows) {
    Owner o;
    std::string digits;
    o.Run(row.keys, [&] { digits = o.view->ReadDigits(15); });
    EXPECT_EQ(digits, row.digits) << row.keys;
    EXPECT_EQ(o.left, row.left) << row.keys;
    EXPECT_NEAR(o.end - o.start, row.tookMs, 150) << row.keys;
  }
}

TEST(PhoneSettings, EachValueChangesAndIsWrittenOnlyWhenConfirmed) {
  struct Row {
    std::string keys;
    Strings lastPlayed;
    std::string settings, profile;
    int left;
  } rows[] = {
      {"after 1s key 7\nafter 1s key 1\nafter 1s key #\n",
       {"sys024.wav", "sys026.wav", "sys027.wav", "sys038.wav", "sys031.wav"},
       "7 0 555",
       "6 - -",
       '#'},
      {"after 1s key 0\n", {"sys023.wav", "sys024.wav"}, "1 0 555", "- - -", '0'},
      {"after 1s key 5\nafter 1s key 3\nafter 1s key 3\nafter 1s key 1\n",
       {"sys031.wav", "sys026.wav", "sys022.wav", "sys027.wav", "sys039.wav"},
       "1 2 555",
       "- 2 -",
       0},
      {"after 1s key 5\nafter 1s key 3\nafter 1s key 4\nafter 1s key #\n",
       {"sys029.wav", "\"555\"", "sys025.wav", "sys039.wav"},
       "1 0 555",
       "- - -",
       0},
      {"after 1s key 5\nafter 1s key 3\nafter 1s key 4\nafter 1s key 0123456789#\nafter 5s key 1\n",
       {"sys025.wav", "sys026.wav", "\"0123456789\"", "sys027.wav", "sys029.wav", "\"0123456789\"", "sys039.wav"},
       "1 0 0123456789",
       "- - 0123456789",
       0},
  };
  for (const Row& row : rows) {
    Owner o;
    o.Run(row.keys, [&] { o.view->ChangeSettingsByPhone(); });
    const ModemSettings& s = o.view->settings;
    EXPECT_EQ(o.LastPlayed(row.lastPlayed.size()), row.lastPlayed) << row.keys;
    EXPECT_EQ(std::to_string(s.rings) + " " + std::to_string(s.action) + " " + s.phoneNumber, row.settings) << row.keys;
    EXPECT_EQ(o.Saved("RINGS") + " " + o.Saved("ACTION") + " " + o.Saved("PHONE"), row.profile) << row.keys;
    EXPECT_EQ(o.left, row.left) << row.keys;
  }
}

TEST(PhoneSettings, TheFourthQuestionWithoutAnAnswerEndsTheDialogueAndABusyToneIsNoAnswer) {
  struct Row {
    std::string caller;
    uint32_t lastWaitMs;
  } rows[] = {{"", 8000}, {"after 1s hangup\n", 4000}};  // busy tones come every 4 s
  for (const Row& row : rows) {
    Owner o;
    o.Run(row.caller, [&] { o.view->ChangeSettingsByPhone(); });
    EXPECT_EQ(o.LastPlayed(5), (Strings{"sys023.wav", "sys024.wav", "sys024.wav", "sys024.wav", "sys024.wav"}));
    EXPECT_NEAR(o.end - o.TimesOf("Playing " + o.line.Path("system/sys024.wav")).back(), row.lastWaitMs, 300)
        << row.caller;
  }
}

TEST(PhoneSettings, ANewSecurityCodeIsTwoToFifteenDigitsStartingWithEightTypedTwiceAndConfirmed) {
  struct Row {
    std::string keys;
    Strings lastPlayed;
    std::string code, saved;
    std::size_t timeouts;
  } rows[] = {
      {"after 1s key 8#\nafter 1s key 8#\n", {"sys017.wav", "sys035.wav"}, "857", "-", 0},
      {"after 1s key 12#\nafter 2s key 12#\n", {"sys017.wav", "sys035.wav"}, "857", "-", 0},
      {"after 1s key 81#\nafter 2s key 82#\n", {"sys017.wav", "sys035.wav"}, "857", "-", 0},
      {"after 1s key 812345678901234\nafter 6s key 812345678901234\nafter 6s key 1\n",
       {"sys026.wav", "\"812345678901234\"", "sys027.wav", "sys034.wav"},
       "812345678901234",
       "812345678901234",
       0},
      {"after 1s key 81#\nafter 2s key 81#\n", {"sys027.wav", "sys026.wav", "\"81\"", "sys027.wav"}, "857", "-", 5},
  };
  for (const Row& row : rows) {
    Owner o;
    o.Run(row.keys, [&] { o.view->ChangeSecurityCodeByPhone(); });
    EXPECT_EQ(o.LastPlayed(row.lastPlayed.size()), row.lastPlayed) << row.keys;
    EXPECT_EQ(o.view->settings.securityCode, row.code) << row.keys;
    EXPECT_EQ(o.Saved("SECURITY"), row.saved) << row.keys;
    EXPECT_EQ(o.TimesOf("Timeout").size(), row.timeouts) << row.keys;
    EXPECT_EQ(o.TimesOf("Security code changed").size(), row.code == "857" ? 0u : 1u) << row.keys;
  }
}

TEST(PhoneSettings, ASettingThatCannotBeSavedRunsOnAndTheStatusSaysWhy) {
  Owner o;
  *o.profile = Profile(o.line.Path("gone/telvara.ini"));
  o.Run("after 1s key 7\nafter 1s key 1\nafter 1s key #\n", [&] { o.view->ChangeSettingsByPhone(); });
  EXPECT_EQ(o.view->settings.rings, 7);
  EXPECT_EQ(o.TimesOf("The setting was not saved: " + o.line.Path("gone/telvara.ini") +
                      ": cannot write beside it: No such file or directory")
                .size(),
            1u);
}

}  // namespace
}  // namespace telvara::testing
