#include "store/Message.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "store/TextFormat.h"

namespace telvara {

namespace {

// Local-time breakdown; a time the C library cannot break down reads as 1 Jan 1970.
std::tm LocalTime(std::time_t when) {
  std::tm parts{};
  if (::localtime_r(&when, &parts) == nullptr) {
    parts = std::tm{};
    parts.tm_mday = 1;
    parts.tm_year = 70;
  }
  return parts;
}

std::string NameFromParts(const std::tm& t, int minute, int second) {
  int month = t.tm_mon + 1;
  int x = 2 * month + t.tm_mday / 16;
  int y = t.tm_mday % 16;
  return FormatText("P%c%c%c%02d%02d.WAV", 'A' + x, 'A' + y, 'A' + t.tm_hour, minute, second);
}

bool IsTaken(const std::string& inboxDir, const std::string& name) {
  struct stat st;
  return ::lstat((inboxDir + name).c_str(), &st) == 0;
}

LogError ReadField(ArchiveReader& archive, std::string& field, std::size_t limit) {
  switch (archive.ReadString(field, limit)) {
    case ReadStatus::Ok: return LogError::None;
    case ReadStatus::EndsEarly: return LogError::EndsEarly;
    case ReadStatus::TooLong: return LogError::FieldTooLong;
  }
  return LogError::EndsEarly;
}

// What a fixed character field of `limit` characters would keep of a text.
std::string FitField(const std::string& text, std::size_t limit) {
  return text.substr(0, std::min(text.find('\0'), limit));
}

}  // namespace

std::unique_ptr<CMessage> CMessage::NewForCall(std::time_t now, const std::string& inboxDir) {
  auto message = std::make_unique<CMessage>();
  // The stored field is 32 bits; the name and the list line follow the stored value.
  message->time = static_cast<std::int32_t>(now);
  message->fileName = UniqueFileName(message->time, inboxDir);
  if (message->fileName.empty()) return nullptr;
  return message;
}

std::string CMessage::FileNameFor(std::time_t when) {
  std::tm t = LocalTime(when);
  return NameFromParts(t, t.tm_min, t.tm_sec);
}

std::string CMessage::UniqueFileName(std::time_t when, const std::string& inboxDir) {
  std::tm t = LocalTime(when);
  std::string name = NameFromParts(t, t.tm_min, t.tm_sec);
  if (!IsTaken(inboxDir, name)) return name;
  for (int second = 60; second <= 99; ++second) {
    name = NameFromParts(t, t.tm_min, second);
    if (!IsTaken(inboxDir, name)) return name;
  }
  for (int minute = 60; minute <= 99; ++minute) {
    for (int second = 0; second <= 99; ++second) {
      name = NameFromParts(t, minute, second);
      if (!IsTaken(inboxDir, name)) return name;
    }
  }
  return {};
}

bool CMessage::IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

void CMessage::BuildListLine() {
  std::tm t = LocalTime(time);
  unsigned length = lengthSeconds & 0xFFFFu;
  listLine = FormatText("%2d:%02d:%02d%cm  %02d/%02d/%4d %2d:%02d  %8s  %10s   %s", (t.tm_hour + 11) % 12 + 1, t.tm_min,
                        t.tm_sec, t.tm_hour <= 11 ? 'a' : 'p', t.tm_mon + 1, t.tm_mday, t.tm_year + 1900,
                        static_cast<int>(length / 60), static_cast<int>(length % 60), fileName.c_str(),
                        callerId.c_str(), status == MessageStatus::StatusNew ? "NEW" : "OLD");
}

void CMessage::Serialize(ArchiveWriter& archive) const {
  archive.WriteI32(time);
  archive.WriteU32(lengthSeconds);
  archive.WriteU16(static_cast<std::uint16_t>(status));
  archive.WriteString(FitField(fileName, kFileNameMax));
  archive.WriteString(FitField(callerId, kCallerIdMax));
}

LogError CMessage::Serialize(ArchiveReader& archive) {
  std::uint16_t rawStatus = 0;
  if (!archive.ReadI32(time) || !archive.ReadU32(lengthSeconds) || !archive.ReadU16(rawStatus))
    return LogError::EndsEarly;
  // Values other than the three known ones are carried unchanged; they show as "OLD".
  status = static_cast<MessageStatus>(rawStatus);
  LogError error = ReadField(archive, fileName, kFileNameMax);
  if (error == LogError::None) error = ReadField(archive, callerId, kCallerIdMax);
  if (error != LogError::None) return error;
  if (!IsPlainFileName(fileName)) return LogError::BadFileName;
  if (callerId.find('\0') != std::string::npos) return LogError::BadCallerId;
  return LogError::None;
}

}  // namespace telvara
