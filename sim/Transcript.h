#pragma once
// The simulator's record of a run, one JSON object a line: every command, result,
// event and voice phase, with its time in milliseconds since the simulator started.
// Kept in memory (for the tests) and, when a file is given, appended to it as it
// happens. Belongs to the thread that runs the simulator.
#include <cstdint>
#include <cstdio>
#include <deque>
#include <initializer_list>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace telvara::sim {

struct TranscriptEntry {
  uint64_t t = 0;
  std::string kind;  // "command", "result", "ring", "event", "voice-tx-end", ...
  std::string text;  // the main value: command or result text, event code, ...
  std::string json;  // the whole line as written
};

class Transcript {
 public:
  using Value = std::variant<std::string, int64_t, bool>;
  using Field = std::pair<const char*, Value>;

  Transcript() = default;
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  // Appends to the file from now on; false (and errno set) when it cannot be opened.
  bool OpenFile(const std::string& path);
  // Keeps at most this many entries in memory (the oldest go first); 0 keeps none.
  void SetMemoryLimit(size_t entries) { memoryLimit_ = entries; }

  // `text` goes into the field "text" when it is not empty.
  void Add(uint64_t t, const std::string& kind, const std::string& text = "", std::initializer_list<Field> fields = {});

  const std::deque<TranscriptEntry>& Entries() const { return entries_; }
  // The texts of every entry of one kind, in order (e.g. every command).
  std::vector<std::string> Texts(const std::string& kind) const;

 private:
  std::deque<TranscriptEntry> entries_;
  size_t memoryLimit_ = 100000;
  std::FILE* file_ = nullptr;
};

// A JSON string literal for any bytes: control characters and bytes of 0x80 and more
// are written as \u00XX escapes, so every line stays valid JSON and plain ASCII.
std::string JsonString(const std::string& bytes);

}  // namespace telvara::sim
