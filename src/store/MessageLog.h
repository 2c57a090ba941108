#pragma once
// The byte layout of the message log: the count, then every message's data, the first
// preceded by the class description (tag 0xFFFF, schema 2, "CMessage"), each further
// one by the tag 0x8001. Counts below 0xFFFF take 16 bits; larger counts are written
// as 0xFFFF and a 32-bit count. Any thread; no state.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/LogError.h"
#include "store/Message.h"

namespace telvara {

using MessageList = std::vector<std::unique_ptr<CMessage>>;

struct LogReadResult {
  LogError error = LogError::None;
  std::string detail;    // where and what, for notices; empty on success
  MessageList messages;  // empty unless the whole log was read
  bool Ok() const { return error == LogError::None; }
};

class MessageLog {
 public:
  static std::vector<std::uint8_t> Write(const MessageList& messages);
  // Reads a whole log; anything but exactly one well-formed log is refused.
  static LogReadResult Read(const std::uint8_t* data, std::size_t size);
};

}  // namespace telvara
