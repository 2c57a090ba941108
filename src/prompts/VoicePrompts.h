#pragma once
// Playing and recording the machine's voice files, and speaking numbers, the time and
// digit strings by stringing number and character files together. Each operation
// gives way to a touch-tone key the caller has already pressed and leaves that key
// queued for the dialogue that called it. Engine thread only.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace telvara {

class EventLoop;
class FMODEM;

class VoicePrompts {
 public:
  using StatusFn = std::function<void(const std::string&)>;

  VoicePrompts(FMODEM& modem, EventLoop& loop, StatusFn showStatus)
      : modem_(modem), loop_(loop), showStatus_(std::move(showStatus)) {}
  // Both end in '/'.
  void SetDirectories(std::string systemDir, std::string inboxDir) {
    systemDir_ = std::move(systemDir);
    inboxDir_ = std::move(inboxDir);
  }

  // Nonzero when played (a missing file still counts); 0 when a key was waiting or the
  // modem refused to transmit.
  int PlayPrompt(const std::string& name);
  int PlayInboxFile(const std::string& name);
  // 1 when recorded and the modem confirmed the end.
  int RecordPrompt(const std::string& name);
  int RecordInboxFile(const std::string& name, uint32_t maxSeconds = 0);
  // 0 when any event was waiting (nothing spoken); else the result of ending the play.
  int SpeakNumber(uint32_t value);
  int SpeakTime();
  void SpeakDigits(const std::string& text);

  // The number files that speak a value (taken modulo 65536), most significant first:
  // "1", "o", "0" for 100.
  static std::vector<std::string> NumberWords(uint32_t value);
  // A touch-tone key as events go: '#' to '9'.
  static bool IsKeyEvent(int event) { return event >= '#' && event <= '9'; }

 private:
  int Play(const std::string& dir, const std::string& name, int pending);

  FMODEM& modem_;
  EventLoop& loop_;
  StatusFn showStatus_;
  std::string systemDir_;
  std::string inboxDir_;
};

}  // namespace telvara
