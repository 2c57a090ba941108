#include "modem/FWAVE.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace telvara {
namespace {

// Field offsets of the 44-byte header.
constexpr int kRiffSize = 4;
constexpr int kFmtSize = 16;
constexpr int kFormatTag = 20;
constexpr int kChannels = 22;
constexpr int kSampleRate = 24;
constexpr int kBytesPerSecond = 28;
constexpr int kBlockAlign = 32;
constexpr int kBitsPerSample = 34;
constexpr int kDataLength = 40;

void PutTag(std::array<uint8_t, FWAVE::kHeaderSize>& h, int offset, const char* tag) {
  std::memcpy(h.data() + offset, tag, 4);
}

}  // namespace

FWAVE::FWAVE() = default;

bool FWAVE::OpenRegular(const std::string& path, int flags) {
  // Opened without blocking (a FIFO would wait for its other end) and refused unless
  // it is a plain file: a device is never recorded over, played from or deleted.
  file_.Reset(::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0644));
  if (!file_.IsValid()) {
    NoteError("cannot open " + path);
    return false;
  }
  struct stat st {};
  if (::fstat(file_.Get(), &st) != 0) {
    NoteError("cannot examine " + path);
    file_.Reset();
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error_ = path + " is not a plain file";
    file_.Reset();
    return false;
  }
  int fl = ::fcntl(file_.Get(), F_GETFL);
  if (fl >= 0) ::fcntl(file_.Get(), F_SETFL, fl & ~O_NONBLOCK);
  return true;
}

FWAVE::~FWAVE() { Close(); }

uint32_t FWAVE::Field32(int offset) const {
  return static_cast<uint32_t>(header_[offset]) | static_cast<uint32_t>(header_[offset + 1]) << 8 |
         static_cast<uint32_t>(header_[offset + 2]) << 16 | static_cast<uint32_t>(header_[offset + 3]) << 24;
}

void FWAVE::SetField32(int offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) header_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void FWAVE::SetField16(int offset, uint16_t value) {
  header_[offset] = static_cast<uint8_t>(value);
  header_[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void FWAVE::NoteError(const std::string& what) { error_ = what + ": " + std::strerror(errno); }

void FWAVE::InitHeader(int bitsPerSample, int sampleRate) {
  header_.fill(0);
  PutTag(header_, 0, "RIFF");
  SetField32(kRiffSize, 36);
  PutTag(header_, 8, "WAVE");
  PutTag(header_, 12, "fmt ");
  SetField32(kFmtSize, 16);
  SetField16(kFormatTag, 1);
  SetField16(kChannels, 1);
  SetField32(kSampleRate, static_cast<uint32_t>(sampleRate));
  SetField32(kBytesPerSecond, static_cast<uint32_t>(sampleRate / 8 * bitsPerSample));
  SetField16(kBlockAlign, 1);
  SetField16(kBitsPerSample, static_cast<uint16_t>(bitsPerSample));
  PutTag(header_, 36, "data");
  SetField32(kDataLength, 0);
}

bool FWAVE::WriteAll(const uint8_t* bytes, int count, int& written) {
  written = 0;
  while (written < count) {
    ssize_t n = ::write(file_.Get(), bytes + written, static_cast<std::size_t>(count - written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      NoteError("write failed");
      return false;
    }
    written += static_cast<int>(n);
  }
  return true;
}

int FWAVE::OpenWrite(const std::string& path) {
  Close();
  path_ = path;
  error_.clear();
  created_ = false;
  if (!OpenRegular(path, O_WRONLY | O_CREAT)) return 0;
  if (::ftruncate(file_.Get(), 0) != 0) {
    NoteError("cannot empty " + path);
    file_.Reset();
    return 0;
  }
  created_ = true;
  int written = 0;
  if (::lseek(file_.Get(), 0, SEEK_SET) != 0 || !WriteAll(header_.data(), kHeaderSize, written)) {
    // Without its header the file is no recording: do not leave it behind.
    if (error_.empty()) NoteError("cannot write the header");
    Discard();
    return 0;
  }
  return 1;
}

int FWAVE::OpenRead(const std::string& path) {
  Close();
  path_ = path;
  error_.clear();
  created_ = false;
  if (!OpenRegular(path, O_RDONLY)) return 0;
  // A file shorter than the header is read as far as it goes; no field is examined.
  header_.fill(0);
  int got = 0;
  while (got < kHeaderSize) {
    ssize_t n = ::read(file_.Get(), header_.data() + got, static_cast<std::size_t>(kHeaderSize - got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      NoteError("read failed");
      break;
    }
    if (n == 0) break;
    got += static_cast<int>(n);
  }
  return 1;
}

int FWAVE::SampleRate() const {
  auto tag = [&](int at, const char* text) { return std::memcmp(header_.data() + at, text, 4) == 0; };
  uint16_t format = static_cast<uint16_t>(header_[kFormatTag] | header_[kFormatTag + 1] << 8);
  uint32_t rate = Field32(kSampleRate);
  if (!tag(0, "RIFF") || !tag(8, "WAVE") || !tag(12, "fmt ") || !tag(36, "data") || format != 1 ||
      header_[kChannels] != 1 || header_[kBitsPerSample] != 8 || rate < 4000 || rate > 48000)
    return 0;
  return static_cast<int>(rate);
}

int FWAVE::Append(const uint8_t* bytes, int count) {
  if (!file_.IsValid() || bytes == nullptr || count <= 0) return 0;
  int written = 0;
  WriteAll(bytes, count, written);
  SetField32(kDataLength, Field32(kDataLength) + static_cast<uint32_t>(written));
  return written;
}

int FWAVE::Read(uint8_t* buffer, int max) {
  if (!file_.IsValid() || buffer == nullptr || max <= 0 || !error_.empty()) return 0;
  for (;;) {
    ssize_t n = ::read(file_.Get(), buffer, static_cast<std::size_t>(max));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      NoteError("read failed");
      return 0;
    }
    return static_cast<int>(n);
  }
}

void FWAVE::Finish() {
  if (!file_.IsValid()) return;
  uint32_t length = Field32(kDataLength);
  uint32_t riff = 36 + length;
  if (length % 2 != 0) {
    static const uint8_t kPad = 0;
    int written = 0;
    // A pad that cannot be written is not counted: the sizes stay true to the file.
    if (::lseek(file_.Get(), 0, SEEK_END) >= 0 && WriteAll(&kPad, 1, written)) riff += 1;
  }
  SetField32(kRiffSize, riff);
  int written = 0;
  if (::lseek(file_.Get(), 0, SEEK_SET) != 0 || !WriteAll(header_.data(), kHeaderSize, written)) {
    if (error_.empty()) NoteError("cannot rewrite the header");
  }
  ::lseek(file_.Get(), 0, SEEK_END);
  // The recording is a message: make it durable before it is listed.
  if (::fsync(file_.Get()) != 0 && error_.empty()) NoteError("cannot flush the file");
}

int FWAVE::Close() {
  file_.Reset();
  return 1;
}

int FWAVE::Discard() {
  Close();
  // Only a file this object created for writing is deleted, never one it played.
  if (created_ && !path_.empty()) ::unlink(path_.c_str());
  created_ = false;
  path_.clear();
  return 1;
}

int FWAVE::GetDataLength() const { return static_cast<int>(Field32(kDataLength)); }

}  // namespace telvara
