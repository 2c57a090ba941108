// The owner's settings and security code changed by telephone, and the entry of digits.
#include <sstream>

#include "Engine.h"

namespace telvara::testing {
namespace {

// A call answered on the view's modem, a dialogue run on it as the menu would; no prompt files.
struct Owner : Engine {
  Owner() : Engine(Rockwell) { view->settings.phoneNumber = "555"; }
  void Run(const std::string& afterAnswer, const std::function<void()>& work) {
    EXPECT_EQ(line.Stream().AddScenario("wait answer\n" + afterAnswer), "");
    view->RunOnLine(
        [&] {
          FMODEM& modem = view->Modem();
          line.Modem().Ring(1);
          ASSERT_TRUE(modem.WaitResult(kNoStopText, 2000) == ResultRing && modem.Answer() == 1);
          work();
          end = line.Now();
          // What the menu would take next: a key put back, or one still on its way.
          for (uint32_t until = end + 1000; (left = modem.PollEvent()) == 0 && !TickReached(line.Now(), until);)
            line.Loop().WaitUntil(until, WaitFor::Input);
        },
        "Hang up modem");
  }
  // What was played, in order: file names without ".wav", digits spoken in quotes.
  std::string Played() const {
    std::string played;
    for (const auto& [t, text] : log)
      if (text.rfind("Playing ", 0) == 0)
        played += " " + (text.back() == '"' ? text.substr(8) : text.substr(text.rfind('/') + 1, 6));
    return played;
  }
  std::string Saved(const char* key) const { return Profile(line.Path("telvara.ini")).GetString("MODEM", key, "-"); }
  // The owner's keys (or a hang-up), a step every 7 s: "7 1 #".
  static std::string Keys(const std::string& steps) {
    std::string scenario;
    std::istringstream words(steps);
    for (std::string key; words >> key;) scenario += "after 7s " + (key == "hangup" ? key : "key " + key) + "\n";
    return scenario;
  }
  int left = -1;  // the next event for the menu, within a second
  uint32_t end = 0;
};

TEST(PhoneSettings, ReadDigitsStopsAtFifteenAtAStarOrHashOrTwentySecondsAfterItsStart) {
  using Row = std::tuple<const char*, const char*, int, uint32_t>;  // keys, digits, left for the menu, ms
  for (auto [keys, expected, left, ms] : {
           Row{"after 1s key 1234567890123456\n", "123456789012345", '6', 1000 + 14 * 300},
           Row{"after 1s key 12*3\n", "12", '3', 1000 + 2 * 300},
           Row{"after 1s key 1\nafter 15s key 2\n", "12", 0, 20000},  // a key does not renew the deadline
       }) {
    Owner o;
    std::string digits;
    o.Run(keys, [&] { digits = o.view->ReadDigits(15); });
    EXPECT_EQ(std::pair(digits, o.left), std::pair(std::string(expected), left)) << keys;
    EXPECT_NEAR(o.end - o.line.Times("answer")[0], ms, 150) << keys;
  }
}

// No answer to the fourth asking ends the dialogue; a busy tone after a hang-up is none.
TEST(PhoneSettings, EachValueChangesOnlyWhenConfirmedIsWrittenAtOnceAndNoAnswerEndsTheDialogue) {
  using Row = std::tuple<const char*, const char*, const char*, int>;  // keys, played last, settings / saved, left
  for (auto [keys, playedLast, state, left] : {
           Row{"7 1 #", "sys024 sys026 sys027 sys038 sys031", "7 0 555 / 6 - -", '#'},
           Row{"0", "sys023 sys024", "1 0 555 / - - -", '0'},
           Row{"5 3 3 1", "sys031 sys026 sys022 sys027 sys039", "1 2 555 / - 2 -", 0},
           Row{"5 3 4 #", "sys029 \"555\" sys025 sys039", "1 0 555 / - - -", 0},
           Row{"5 3 4 0123456789# 1", "sys025 sys026 \"0123456789\" sys027 sys029 \"0123456789\" sys039",
               "1 0 0123456789 / - - 0123456789", 0},
           Row{"hangup", "sys023 sys024 sys024 sys024 sys024", "1 0 555 / - - -", 0},
       }) {
    Owner o;
    o.Run(Owner::Keys(keys), [&] { o.view->ChangeSettingsByPhone(); });
    const ModemSettings& s = o.view->settings;
    EXPECT_TRUE(o.Played().ends_with(playedLast)) << o.Played();
    EXPECT_EQ(std::to_string(s.rings) + " " + std::to_string(s.action) + " " + s.phoneNumber + " / " +
                  o.Saved("RINGS") + " " + o.Saved("ACTION") + " " + o.Saved("PHONE"),
              state);
    EXPECT_EQ(o.left, left) << keys;
  }
}

TEST(PhoneSettings, ANewSecurityCodeIsTwoToFifteenDigitsStartingWithEightTypedTwiceAndConfirmed) {
  using Row =
      std::tuple<const char*, const char*, const char*, std::size_t>;  // keys, played last, code saved, Timeouts
  for (auto [keys, playedLast, codeSaved, timeouts] : {
           Row{"8# 8#", "sys017 sys035", "857 -", 0},
           Row{"12# 12#", "sys017 sys035", "857 -", 0},
           Row{"81# 82#", "sys017 sys035", "857 -", 0},
           Row{"812345678901234 812345678901234 1", "sys026 \"812345678901234\" sys027 sys034",
               "812345678901234 812345678901234", 0},
           Row{"81# 81#", "sys027 sys026 \"81\" sys027", "857 -", 5},
       }) {
    Owner o;
    o.Run(Owner::Keys(keys), [&] { o.view->ChangeSecurityCodeByPhone(); });
    EXPECT_TRUE(o.Played().ends_with(playedLast)) << o.Played();
    EXPECT_EQ(o.view->settings.securityCode + " " + o.Saved("SECURITY"), codeSaved);
    EXPECT_EQ(o.TimesOf("Timeout").size(), timeouts) << keys;
  }
}

TEST(PhoneSettings, ASettingThatCannotBeSavedRunsOnAndTheStatusSaysWhy) {
  Owner o;
  std::string path = o.line.Path("gone/telvara.ini");
  *o.profile = Profile(path);
  o.Run(Owner::Keys("7 1 #"), [&] { o.view->ChangeSettingsByPhone(); });
  EXPECT_EQ(o.view->settings.rings, 7);
  EXPECT_EQ(
      o.TimesOf("The setting was not saved: " + path + ": cannot write beside it: No such file or directory").size(),
      1u);
}

}  // namespace
}  // namespace telvara::testing
