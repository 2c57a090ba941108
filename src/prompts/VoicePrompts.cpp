#include "prompts/VoicePrompts.h"

#include <ctime>

#include "modem/FMODEM.h"
#include "platform/EventLoop.h"
#include "prompts/PromptTable.h"

namespace telvara {

int VoicePrompts::Play(const std::string& dir, const std::string& name, int pending) {
  if (IsKeyEvent(pending)) {
    modem_.UngetEvent();
    return 0;
  }
  std::string path = dir + name;
  showStatus_("Playing " + path);
  int result = modem_.PlayFile(path);
  if (result == 0) showStatus_("Unable to play " + path);
  return result;
}

// A prompt first drains the modem's input for a waiting key; any other event is dropped.
int VoicePrompts::PlayPrompt(const std::string& name) { return Play(systemDir_, name, modem_.PollEvent()); }

// A message only looks at events already queued.
int VoicePrompts::PlayInboxFile(const std::string& name) { return Play(inboxDir_, name, modem_.TakeEvent()); }

int VoicePrompts::RecordPrompt(const std::string& name) {
  std::string path = systemDir_ + name;
  showStatus_("Recording " + path);
  return modem_.RecordFile(path);
}

int VoicePrompts::RecordInboxFile(const std::string& name, uint32_t maxSeconds) {
  std::string path = inboxDir_ + name;
  showStatus_("Recording " + path);
  return modem_.RecordFile(path, maxSeconds);
}

std::vector<std::string> VoicePrompts::NumberWords(uint32_t value) {
  value &= 0xFFFFu;
  int groups = 0;
  for (uint32_t v = value; v != 0; v /= 100) ++groups;
  if (groups == 0) groups = 1;
  std::vector<std::string> words;
  uint32_t scale = 1;
  for (int k = 1; k < groups; ++k) scale *= 100;
  for (int k = groups; k >= 1; --k, scale /= 100) {
    uint32_t g = (value / scale) % 100;
    uint32_t word = g < 20 ? g : g / 10 * 10;
    uint32_t unit = g < 20 ? 0 : g % 10;
    if (word < 10 && k < groups) words.push_back("o");
    words.push_back(std::to_string(word));
    if (unit != 0) words.push_back(std::to_string(unit));
  }
  return words;
}

int VoicePrompts::SpeakNumber(uint32_t value) {
  if (modem_.PollEvent() != 0) {
    modem_.UngetEvent();  // any event, silence too, stops the number and stays queued
    return 0;
  }
  modem_.BeginPlay();
  // No key test between files: after a key each file is cut off after its first block.
  for (const std::string& word : NumberWords(value)) modem_.StreamFile(systemDir_ + word + ".wav");
  return modem_.EndPlay();
}

int VoicePrompts::SpeakTime() {
  std::time_t now = loop_.GetClock().WallNow();
  std::tm local{};
  localtime_r(&now, &local);
  int hour12 = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
  PlayPrompt(kItsFile);
  SpeakNumber(static_cast<uint32_t>(hour12 * 100 + local.tm_min));
  PlayPrompt(local.tm_hour >= 12 ? kPmFile : kAmFile);
  PlayPrompt(kWeekdayFile[local.tm_wday % 7]);
  return 1;
}

void VoicePrompts::SpeakDigits(const std::string& text) {
  if (text.empty()) return;
  showStatus_("Playing \"" + text + "\"");
  modem_.BeginPlay();
  for (char c : text) {
    int event = modem_.PollEvent();
    if (IsKeyEvent(event)) {
      modem_.UngetEvent();
      break;
    }
    // A character that cannot name a file in the system directory has no file.
    if (static_cast<unsigned char>(c) < 0x20 || c == '/') continue;
    modem_.StreamFile(systemDir_ + c + ".wav");
  }
  modem_.EndPlay();
}

}  // namespace telvara
