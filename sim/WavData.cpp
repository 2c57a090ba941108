#include "WavData.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace telvara::sim {
namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}
void Put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void PutTag(std::vector<uint8_t>& v, const char* tag) { v.insert(v.end(), tag, tag + 4); }

}  // namespace

WavLoad ParseWav(const std::vector<uint8_t>& bytes) {
  WavLoad r;
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    r.error = "not a RIFF WAVE file";
    return r;
  }
  int channels = 0, bits = 0, format = 0;
  const uint8_t* data = nullptr;
  size_t dataSize = 0;
  size_t pos = 12;
  while (pos + 8 <= bytes.size()) {
    const uint8_t* chunk = bytes.data() + pos;
    size_t size = Le32(chunk + 4);
    size_t body = pos + 8;
    size_t room = bytes.size() - body;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16 || size > room) {
        r.error = "damaged format chunk";
        return r;
      }
      format = Le16(chunk + 8);
      channels = Le16(chunk + 10);
      r.rate = static_cast<int>(Le32(chunk + 12) & 0x7fffffff);
      bits = Le16(chunk + 22);
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      data = bytes.data() + body;
      dataSize = size > room ? room : size;  // a cut-off recording keeps what it has
      break;
    }
    if (size > room) break;
    pos = body + size + (size & 1);
  }
  if (format == 0) {
    r.error = "no format chunk";
    return r;
  }
  if (format != 1 || (bits != 8 && bits != 16) || channels < 1 || channels > 2) {
    r.error = "only 8- or 16-bit PCM, mono or stereo, can be played to the line";
    return r;
  }
  if (!data) {
    r.error = "no data chunk";
    return r;
  }
  size_t frame = static_cast<size_t>(channels) * static_cast<size_t>(bits / 8);
  auto out = std::make_shared<std::vector<uint8_t>>();
  out->reserve(dataSize / frame);
  for (size_t i = 0; i + frame <= dataSize; i += frame) {
    int sum = 0;
    for (int c = 0; c < channels; ++c) {
      if (bits == 8) {
        sum += data[i + static_cast<size_t>(c)] - 128;
      } else {
        int16_t s = static_cast<int16_t>(Le16(data + i + static_cast<size_t>(c) * 2));
        sum += s / 256;
      }
    }
    out->push_back(static_cast<uint8_t>(sum / channels + 128));
  }
  r.samples = std::move(out);
  return r;
}

WavLoad LoadWavSamples(const std::string& path) {
  WavLoad r;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    r.error = "cannot open " + path + ": " + std::strerror(errno);
    return r;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    r.error = path + " is not a regular file";
    return r;
  }
  if (static_cast<uint64_t>(st.st_size) > kMaxVoiceFileBytes) {
    ::close(fd);
    r.error = path + " is too large for a voice file";
    return r;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  bytes.resize(got);
  r = ParseWav(bytes);
  if (!r.error.empty()) r.error = path + ": " + r.error;
  return r;
}

bool WriteWavFile(const std::string& path, const std::vector<uint8_t>& samples, int rate, std::string& error) {
  if (samples.size() > 0x7fffff00u) {
    error = "too many samples for one WAV file";
    return false;
  }
  uint32_t n = static_cast<uint32_t>(samples.size());
  uint32_t pad = n & 1;
  std::vector<uint8_t> image;
  image.reserve(44 + n + pad);
  PutTag(image, "RIFF");
  Put32(image, 36 + n + pad);
  PutTag(image, "WAVE");
  PutTag(image, "fmt ");
  Put32(image, 16);
  Put16(image, 1);  // PCM
  Put16(image, 1);  // mono
  Put32(image, static_cast<uint32_t>(rate));
  Put32(image, static_cast<uint32_t>(rate));  // bytes per second at 8 bits
  Put16(image, 1);
  Put16(image, 8);
  PutTag(image, "data");
  Put32(image, n);
  image.insert(image.end(), samples.begin(), samples.end());
  if (pad) image.push_back(0);

  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < image.size()) {
    ssize_t w = ::write(fd, image.data() + done, image.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      error = "cannot write " + path + ": " + std::strerror(errno);
      ::close(fd);
      ::unlink(path.c_str());
      return false;
    }
    done += static_cast<size_t>(w);
  }
  if (::close(fd) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    ::unlink(path.c_str());
    return false;
  }
  return true;
}

}  // namespace telvara::sim
