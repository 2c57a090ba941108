// Settings and the security code changed by telephone from the owner's menu, and the
// touch-tone entry of a digit string they use.
#include "engine/COrvanelView.h"
#include "modem/FMODEM.h"
#include "platform/Profile.h"
#include "prompts/PromptTable.h"

namespace telvara {
namespace {

constexpr int kEntryDigits = 15;  // as many as a stored number holds when entered by phone

// '*' and '#' leave a dialogue; they belong to the owner's menu.
bool IsMenuKey(int event) { return event == '*' || event == '#'; }
// The modem's own reports (silence, busy tone, dial tone) are lower-case, as in a call.
bool IsLineReport(int event) { return event > 0x60; }

}  // namespace

std::string COrvanelView::ReadDigits(int maximum) {
  std::string digits;
  uint32_t deadline = Now() + kEntryDeadlineMs;  // for the whole entry; a key does not renew it
  for (;;) {
    int event = modem_->PollEvent();
    if (event == 0) {
      if (TickReached(Now(), deadline)) return digits;
      if (LineAborted()) return "";  // nothing half-entered is taken
      WaitForEvent(deadline);
      continue;
    }
    if (IsMenuKey(event)) return digits;
    if (event >= '0' && event <= '9') digits += static_cast<char>(event);
    if (static_cast<int>(digits.size()) >= maximum) return digits;
  }
}

int COrvanelView::WaitForKey(int prompt) {
  PlayPrompt(kPrompt[prompt]);
  uint32_t until = Now() + kAnswerWaitMs;
  for (;;) {
    int event = modem_->PollEvent();
    if (event != 0 || TickReached(Now(), until) || LineAborted()) return event;
    WaitForEvent(until);
  }
}

int COrvanelView::Ask(int prompt, int& timeouts) {
  int event = WaitForKey(prompt);
  if (LineAborted()) return -1;
  // A line report is no answer: a far end that hung up sends busy tones for ever and
  // would otherwise keep the question going.
  if (event != 0 && !IsLineReport(event)) return event;
  return ++timeouts > kQuestionTimeouts ? -1 : 0;
}

COrvanelView::Reply COrvanelView::AskToConfirm(int& timeouts) {
  int key = Ask(27, timeouts);
  if (key < 0) return Reply::End;
  if (IsMenuKey(key)) {
    modem_->UngetEvent();
    return Reply::End;
  }
  switch (key) {
    case '1': return Reply::Accept;
    case '2': return Reply::Change;
    case '3': return Reply::Keep;
    default: return Reply::AskAgain;
  }
}

void COrvanelView::SpeakActionNumber(int action) {
  if (action == CallTheMaster) {
    PlayPrompt(kPrompt[20]);
    SpeakDigits(settings.phoneNumber);
  } else if (action == PageTheMaster) {
    PlayPrompt(kPrompt[21]);
    SpeakDigits(settings.pagerNumber);
  } else {
    PlayPrompt(kPrompt[22]);
  }
}

void COrvanelView::CheckSaved(bool written) {
  if (!written) ShowStatus("The setting was not saved: " + env_.profile->WriteError());
}

void COrvanelView::ChangeSettingsByPhone() {
  PlayPrompt(kPrompt[18]);
  SpeakNumber(static_cast<uint32_t>(settings.rings));
  PlayPrompt(kPrompt[19]);
  SpeakActionNumber(settings.action);
  PlayPrompt(kPrompt[23]);

  // Each value is asked for, read back and confirmed; '2' asks again, '3' keeps it.
  // A confirmed value runs at once and is written at once.
  int timeouts = 0;
  for (Reply reply = Reply::Change; reply == Reply::Change;) {
    timeouts = 0;
    int key = 0;
    while (key < 0x22 || key > '9') {
      key = Ask(24, timeouts);
      if (key < 0) return;
    }
    if (key < '1') {  // '0', '*', '#'
      modem_->UngetEvent();
      return;
    }
    int count = key - '0';
    timeouts = 0;
    do {
      PlayPrompt(kPrompt[26]);
      SpeakNumber(static_cast<uint32_t>(count));
      reply = AskToConfirm(timeouts);
    } while (reply == Reply::AskAgain);
    if (reply == Reply::End) return;
    if (reply == Reply::Accept) {
      settings.rings = count;
      PlayPrompt(kPrompt[38]);
      SpeakNumber(static_cast<uint32_t>(settings.rings));
      CheckSaved(env_.profile->WriteInt(kProfileSection, "RINGS", settings.rings - 1));
    }
  }

  for (Reply reply = Reply::Change; reply == Reply::Change;) {
    timeouts = 0;
    int key = 0;
    while (key < '1' || key > '4') {
      key = Ask(31, timeouts);
      if (key < 0) return;
      if (IsMenuKey(key)) {
        modem_->UngetEvent();
        return;
      }
    }
    if (key == '4') break;
    int action = key - '1';
    timeouts = 0;
    do {
      PlayPrompt(kPrompt[26]);
      SpeakActionNumber(action);
      reply = AskToConfirm(timeouts);
    } while (reply == Reply::AskAgain);
    if (reply == Reply::End) return;
    if (reply == Reply::Accept) {
      settings.action = action;
      CheckSaved(env_.profile->WriteInt(kProfileSection, "ACTION", settings.action));
    }
  }

  if (settings.action == CallTheMaster || settings.action == PageTheMaster) {
    bool phone = settings.action == CallTheMaster;
    std::string& number = phone ? settings.phoneNumber : settings.pagerNumber;
    int numberPrompt = phone ? 29 : 30;
    PlayPrompt(kPrompt[numberPrompt]);
    SpeakDigits(number);
    for (Reply reply = Reply::Change; reply == Reply::Change;) {
      timeouts = 0;
      std::string entry;
      do {
        PlayPrompt(kPrompt[25]);
        entry = ReadDigits(kEntryDigits);
        if (entry.empty()) {  // nothing entered: the number stays
          reply = Reply::Keep;
          break;
        }
        PlayPrompt(kPrompt[26]);
        SpeakDigits(entry);
        reply = AskToConfirm(timeouts);
      } while (reply == Reply::AskAgain);
      if (reply == Reply::End) return;
      if (reply == Reply::Accept) {
        number = entry;
        PlayPrompt(kPrompt[numberPrompt]);
        SpeakDigits(number);
        CheckSaved(env_.profile->WriteString(kProfileSection, phone ? "PHONE" : "PAGER", number));
      }
    }
  }
  PlayPrompt(kPrompt[39]);
}

void COrvanelView::ChangeSecurityCodeByPhone() {
  int attempts = 0;  // read-backs answered or not, over the whole change
  for (;;) {
    PlayPrompt(kPrompt[16]);
    std::string code = ReadDigits(kEntryDigits);
    PlayPrompt(kPrompt[17]);
    std::string again = ReadDigits(kEntryDigits);
    if (LineAborted()) return;
    if (code != again || code.size() < 2 || code[0] != '8') {
      modem_->FlushEvents();
      PlayPrompt(kPrompt[35]);
      return;
    }
    int key = 0;
    while (key < '1' || key > '3') {
      modem_->FlushEvents();
      PlayPrompt(kPrompt[26]);
      SpeakDigits(code);
      key = WaitForKey(27);
      if (LineAborted()) return;
      if (key == 0 || IsLineReport(key)) {
        ShowStatus("Timeout");
        if (attempts > kQuestionTimeouts) return;
      }
      if (IsMenuKey(key)) {
        modem_->UngetEvent();
        return;
      }
      ++attempts;
    }
    if (key == '3') return;
    if (key == '1') {
      settings.securityCode = code;
      bool written = env_.profile->WriteString(kProfileSection, "SECURITY", code);
      PlayPrompt(kPrompt[34]);
      ShowStatus("Security code changed");
      CheckSaved(written);  // last, so that the status box keeps it
      return;
    }
  }
}

}  // namespace telvara
