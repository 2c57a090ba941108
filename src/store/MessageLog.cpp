#include "store/MessageLog.h"

#include <algorithm>
#include <climits>

namespace telvara {

namespace {

constexpr std::uint16_t kNewClassTag = 0xFFFF;
constexpr std::uint16_t kClassOneTag = 0x8001;
constexpr std::uint16_t kSchema = 2;
constexpr char kClassName[] = "CMessage";
constexpr std::size_t kClassNameLength = sizeof kClassName - 1;
constexpr std::uint16_t kWideCount = 0xFFFF;
// time, length, status and two empty strings: the least a message takes.
constexpr std::size_t kSmallestMessage = 4 + 4 + 2 + 1 + 1;

// `where` names the item; `what` says what is wrong with it, by default the error's phrase.
LogReadResult Refuse(LogError error, const std::string& where, const std::string& what = {}) {
  LogReadResult result;
  result.error = error;
  result.detail = where + ": " + (what.empty() ? DescribeLogError(error) : what);
  return result;
}

std::string Hex16(std::uint16_t value) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (int shift = 12; shift >= 0; shift -= 4) text += digits[(value >> shift) & 0xF];
  return text;
}

// A class name from the file, safe to show.
std::string Printable(const std::string& text) {
  std::string shown;
  for (char c : text) shown += (c >= 0x20 && c < 0x7F) ? c : '?';
  return shown;
}

}  // namespace

const char* DescribeLogError(LogError error) {
  switch (error) {
    case LogError::None: return "no error";
    case LogError::EndsEarly: return "the data ends early";
    case LogError::WrongTag: return "an object tag that does not belong there";
    case LogError::WrongClass: return "the messages are of another class";
    case LogError::WrongSchema: return "the message class has another schema";
    case LogError::FieldTooLong: return "a text longer than its field";
    case LogError::BadFileName: return "a file name that is not a plain name";
    case LogError::BadCallerId: return "a caller identity holding a NUL byte";
    case LogError::TrailingBytes: return "bytes after the last message";
    case LogError::TooManyMessages: return "more messages than can be held";
  }
  return "an unknown error";
}

std::vector<std::uint8_t> MessageLog::Write(const MessageList& messages) {
  ArchiveWriter archive;
  archive.Bytes().reserve(6 + 14 + messages.size() * 28);
  if (messages.size() < kWideCount) {
    archive.WriteU16(static_cast<std::uint16_t>(messages.size()));
  } else {
    archive.WriteU16(kWideCount);
    archive.WriteU32(static_cast<std::uint32_t>(messages.size()));
  }
  bool first = true;
  for (const auto& message : messages) {
    if (first) {
      archive.WriteU16(kNewClassTag);
      archive.WriteU16(kSchema);
      archive.WriteU16(kClassNameLength);
      archive.WriteBytes(kClassName, kClassNameLength);
      first = false;
    } else {
      archive.WriteU16(kClassOneTag);
    }
    message->Serialize(archive);
  }
  return std::move(archive.Bytes());
}

LogReadResult MessageLog::Read(const std::uint8_t* data, std::size_t size) {
  ArchiveReader archive(data, size);
  std::uint16_t shortCount = 0;
  if (!archive.ReadU16(shortCount)) return Refuse(LogError::EndsEarly, "the count");
  std::uint32_t count = shortCount;
  if (shortCount == kWideCount && !archive.ReadU32(count)) return Refuse(LogError::EndsEarly, "the count");
  if (count > static_cast<std::uint32_t>(INT_MAX))
    return Refuse(LogError::TooManyMessages, "the count", std::to_string(count) + " messages");

  MessageList messages;
  // The count is not trusted with memory: reserve only what the data can hold.
  messages.reserve(std::min<std::size_t>(count, archive.Remaining() / kSmallestMessage));
  for (std::uint32_t i = 0; i < count; ++i) {
    auto where = [&] { return "message " + std::to_string(i + 1) + " of " + std::to_string(count); };
    std::uint16_t tag = 0;
    if (!archive.ReadU16(tag)) return Refuse(LogError::EndsEarly, where());
    std::uint16_t expected = i == 0 ? kNewClassTag : kClassOneTag;
    if (tag != expected)
      return Refuse(LogError::WrongTag, where(), "tag " + Hex16(tag) + " instead of " + Hex16(expected));
    if (i == 0) {
      std::uint16_t schema = 0;
      std::uint16_t nameLength = 0;
      std::string name;
      if (!archive.ReadU16(schema) || !archive.ReadU16(nameLength)) return Refuse(LogError::EndsEarly, where());
      if (nameLength != kClassNameLength)
        return Refuse(LogError::WrongClass, where(), "a class name of " + std::to_string(nameLength) + " bytes");
      if (!archive.ReadBytes(name, nameLength)) return Refuse(LogError::EndsEarly, where());
      if (name != kClassName) return Refuse(LogError::WrongClass, where(), "class \"" + Printable(name) + "\"");
      if (schema != kSchema)
        return Refuse(LogError::WrongSchema, where(), "schema " + std::to_string(schema) + " instead of 2");
    }
    auto message = std::make_unique<CMessage>();
    LogError error = message->Serialize(archive);
    if (error != LogError::None) return Refuse(error, where());
    messages.push_back(std::move(message));
  }
  if (archive.Remaining() != 0)
    return Refuse(LogError::TrailingBytes, "offset " + std::to_string(archive.Offset()),
                  std::to_string(archive.Remaining()) + " bytes after the last message");
  LogReadResult result;
  result.messages = std::move(messages);
  return result;
}

}  // namespace telvara
