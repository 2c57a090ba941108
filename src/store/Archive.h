#pragma once
// Little-endian archive streams of the message log: integers and archive strings
// (one length byte, or 0xFF and a 16-bit length for texts of 255 bytes and more).
// Engine thread only; each object belongs to one load or save.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace telvara {

// Builds the bytes of a log in memory. Engine thread only.
class ArchiveWriter {
 public:
  void WriteU16(std::uint16_t value);
  void WriteU32(std::uint32_t value);
  void WriteI32(std::int32_t value) { WriteU32(static_cast<std::uint32_t>(value)); }
  void WriteBytes(const void* data, std::size_t size);
  // Texts longer than 65534 bytes are cut there: the long form has 16 bits of length.
  void WriteString(const std::string& text);

  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  std::vector<std::uint8_t>& Bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

enum class ReadStatus {
  Ok,
  EndsEarly,  // the input has fewer bytes than the item needs
  TooLong,    // a string is longer than the caller's limit
};

// Reads a log from a borrowed byte range; never reads outside it. A failed read leaves
// the position where it was. Engine thread only.
class ArchiveReader {
 public:
  ArchiveReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool ReadU16(std::uint16_t& value);
  bool ReadU32(std::uint32_t& value);
  bool ReadI32(std::int32_t& value);
  bool ReadBytes(std::string& out, std::size_t count);
  ReadStatus ReadString(std::string& out, std::size_t maxLength);

  std::size_t Offset() const { return offset_; }
  std::size_t Remaining() const { return size_ - offset_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

}  // namespace telvara
