#include "platform/WavInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/FileDescriptor.h"

namespace telvara {

namespace {

// Chunks walked before the data at most: a file of thousands of tiny chunks is no WAV
// of ours.
constexpr int kMaxChunks = 64;

uint32_t Le32(const unsigned char* b) { return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24; }
uint16_t Le16(const unsigned char* b) { return static_cast<uint16_t>(b[0] | b[1] << 8); }

bool ReadAt(int fd, uint64_t offset, unsigned char* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = ::pread(fd, buffer + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool WavInfo::WellFormed() const {
  uint32_t bits = bitsPerSample;
  return problem == WavProblem::None && formatTag == 1 && channels >= 1 && channels <= 8 && sampleRate >= 1000 &&
         sampleRate <= 384000 && (bits == 8 || bits == 16 || bits == 24 || bits == 32) &&
         blockAlign == channels * bits / 8 && byteRate == sampleRate * blockAlign;
}

uint64_t WavInfo::DurationMs() const { return byteRate == 0 ? 0 : dataBytes * 1000 / byteRate; }

WavInfo InspectWav(const std::string& path) {
  WavInfo info;
  // Non-blocking, so that a FIFO put in place of a file cannot hold the engine.
  UniqueFileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st {};
  if (!fd.IsValid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return info;
  uint64_t size = static_cast<uint64_t>(st.st_size);

  unsigned char head[12];
  if (!ReadAt(fd.Get(), 0, head, sizeof head) || std::memcmp(head, "RIFF", 4) != 0 ||
      std::memcmp(head + 8, "WAVE", 4) != 0) {
    info.problem = WavProblem::NotWave;
    return info;
  }
  bool haveFormat = false;
  uint64_t at = 12;
  for (int chunk = 0; chunk < kMaxChunks && at + 8 <= size; ++chunk) {
    unsigned char header[8];
    if (!ReadAt(fd.Get(), at, header, sizeof header)) return info;
    uint64_t length = Le32(header + 4);
    at += 8;
    if (std::memcmp(header, "fmt ", 4) == 0) {
      unsigned char fmt[16];
      if (length < sizeof fmt || at + sizeof fmt > size || !ReadAt(fd.Get(), at, fmt, sizeof fmt)) break;
      info.formatTag = Le16(fmt);
      info.channels = Le16(fmt + 2);
      info.sampleRate = Le32(fmt + 4);
      info.byteRate = Le32(fmt + 8);
      info.blockAlign = Le16(fmt + 12);
      info.bitsPerSample = Le16(fmt + 14);
      haveFormat = true;
    } else if (std::memcmp(header, "data", 4) == 0) {
      if (!haveFormat) break;
      uint64_t held = size - at;
      info.dataBytes = length <= held ? length : held;
      info.problem = length <= held ? WavProblem::None : WavProblem::Truncated;
      return info;
    }
    at += length + (length & 1);  // chunks are padded to an even length
  }
  info.problem = haveFormat ? WavProblem::NoData : WavProblem::BadFormat;
  return info;
}

}  // namespace telvara
