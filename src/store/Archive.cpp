#include "store/Archive.h"

namespace telvara {

namespace {
constexpr std::uint8_t kLongStringMark = 0xFF;
constexpr std::size_t kLongestString = 0xFFFE;  // 0xFFFF would announce a 32-bit length
}  // namespace

void ArchiveWriter::WriteU16(std::uint16_t value) {
  bytes_.push_back(static_cast<std::uint8_t>(value));
  bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
}

void ArchiveWriter::WriteU32(std::uint32_t value) {
  WriteU16(static_cast<std::uint16_t>(value));
  WriteU16(static_cast<std::uint16_t>(value >> 16));
}

void ArchiveWriter::WriteBytes(const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  bytes_.insert(bytes_.end(), p, p + size);
}

void ArchiveWriter::WriteString(const std::string& text) {
  std::size_t length = text.size() < kLongestString ? text.size() : kLongestString;
  if (length < kLongStringMark) {
    bytes_.push_back(static_cast<std::uint8_t>(length));
  } else {
    bytes_.push_back(kLongStringMark);
    WriteU16(static_cast<std::uint16_t>(length));
  }
  WriteBytes(text.data(), length);
}

bool ArchiveReader::ReadU16(std::uint16_t& value) {
  if (Remaining() < 2) return false;
  value = static_cast<std::uint16_t>(data_[offset_] | (data_[offset_ + 1] << 8));
  offset_ += 2;
  return true;
}

bool ArchiveReader::ReadU32(std::uint32_t& value) {
  if (Remaining() < 4) return false;
  value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | data_[offset_ + static_cast<std::size_t>(i)];
  offset_ += 4;
  return true;
}

bool ArchiveReader::ReadI32(std::int32_t& value) {
  std::uint32_t raw = 0;
  if (!ReadU32(raw)) return false;
  value = static_cast<std::int32_t>(raw);
  return true;
}

bool ArchiveReader::ReadBytes(std::string& out, std::size_t count) {
  if (Remaining() < count) return false;
  out.assign(reinterpret_cast<const char*>(data_ + offset_), count);
  offset_ += count;
  return true;
}

ReadStatus ArchiveReader::ReadString(std::string& out, std::size_t maxLength) {
  std::size_t start = offset_;
  if (Remaining() < 1) return ReadStatus::EndsEarly;
  std::size_t length = data_[offset_++];
  if (length == kLongStringMark) {
    std::uint16_t wide = 0;
    if (!ReadU16(wide)) {
      offset_ = start;
      return ReadStatus::EndsEarly;
    }
    length = wide;
  }
  // The 0xFFFF form (a 32-bit length) is never needed: no field is that long.
  if (length > maxLength || length > kLongestString) {
    offset_ = start;
    return ReadStatus::TooLong;
  }
  if (!ReadBytes(out, length)) {
    offset_ = start;
    return ReadStatus::EndsEarly;
  }
  return ReadStatus::Ok;
}

}  // namespace telvara
