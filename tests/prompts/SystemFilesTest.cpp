// The recordings that ship in system/ (and the simulator's voices): the fixed 44-byte
// header and 7200/s 8-bit mono format, real sound, and none missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "Files.h"

namespace fs = std::filesystem;

namespace {

using telvara::testing::ReadFileBytes;
using telvara::testing::U32;

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kRate = 7200;
constexpr std::size_t kHeaderSize = 44;
constexpr std::size_t kFrame = kRate / 100;  // 10 ms
constexpr int kSoundLevel = 3;

const fs::path kSystemDir = fs::path(TELVARA_SOURCE_DIR) / "system";
const fs::path kVoicesDir = fs::path(TELVARA_SOURCE_DIR) / "sim" / "voices";

// The 44-byte header of 8-bit mono PCM at 7200/s; the sizes at 4 and 40 vary.
const std::uint8_t kHeader[kHeaderSize] = {'R', 'I', 'F', 'F', 0, 0, 0,   0,   'W', 'A',  'V',  'E', 'f', 'm',  't',
                                           ' ', 16,  0,   0,   0, 1, 0,   1,   0,   0x20, 0x1C, 0,   0,   0x20, 0x1C,
                                           0,   0,   1,   0,   8, 0, 'd', 'a', 't', 'a',  0,    0,   0,   0};

// True when the file is that header, the samples and, after an odd count, a zero byte.
bool WellLaidOut(const Bytes& b) {
  if (b.size() < kHeaderSize || !std::equal(b.begin(), b.begin() + 4, kHeader) ||
      !std::equal(b.begin() + 8, b.begin() + 40, kHeader + 8))
    return false;
  const std::uint64_t data = U32(b, 40), pad = data & 1;
  return kHeaderSize + data + pad == b.size() && (!pad || b.back() == 0) && U32(b, 4) == b.size() - 8;
}

// The sample bytes of a well laid out file (the pad byte excluded).
Bytes Samples(const Bytes& b) { return Bytes(b.begin() + kHeaderSize, b.begin() + kHeaderSize + U32(b, 40)); }

// The seconds of sound: 10 ms frames whose samples stray from the midpoint 128 by at
// least kSoundLevel on average (about -32 dB below full scale; quieter is silence).
double SoundSeconds(const Bytes& samples) {
  int frames = 0;
  for (std::size_t at = 0; at + kFrame <= samples.size(); at += kFrame) {
    int deviation = 0;
    for (std::size_t i = at; i < at + kFrame; ++i) deviation += std::abs(samples[i] - 128);
    frames += deviation >= kSoundLevel * static_cast<int>(kFrame);
  }
  return frames * 0.01;
}

std::set<fs::path> FilesIn(const fs::path& dir) { return {fs::directory_iterator(dir), fs::directory_iterator()}; }

// The pieces that are played back to back inside a spoken number, time or digit string.
std::vector<std::string> PieceNames() {
  std::vector<std::string> names = {"its.wav",     "am.wav",       "pm.wav",       "Sunday.wav", "Monday.wav",
                                    "Tuesday.wav", "Wednsday.wav", "Thursday.wav", "Friday.wav", "Saturday.wav",
                                    "o.wav",       "*.wav",        "#.wav"};
  for (int n = 0; n <= 90; n += n < 20 ? 1 : 10) names.push_back(std::to_string(n) + ".wav");
  return names;
}

// Every file the program may ask for in system/ and that ships with it.
std::vector<std::string> RequiredNames() {
  std::vector<std::string> names = PieceNames();
  for (int k = 1; k <= 39; ++k) names.push_back("sys" + std::string(k < 10 ? "00" : "0") + std::to_string(k) + ".wav");
  names.insert(names.end(), {"announce.wav", "orvanel.wav"});
  return names;
}

// Every file the program may ask for ships (and is copied into the build), each a
// recording of real sound in the line's format, none a copy of another.
TEST(SystemFiles, EveryRequiredFileShipsAndEachIsAWellFormedDistinctRecording) {
  for (const fs::path& dir : {kSystemDir, fs::path(TELVARA_BINARY_DIR) / "system"})
    for (const auto& name : RequiredNames()) EXPECT_TRUE(fs::is_regular_file(dir / name)) << "missing " << (dir / name);
  std::set<std::string> seen;  // by the samples as text: GCC 12 cannot bound a vector's <=>
  for (const auto& path : FilesIn(kSystemDir)) {
    const Bytes file = ReadFileBytes(path);
    ASSERT_TRUE(path.extension() == ".wav" && WellLaidOut(file)) << path;
    EXPECT_GE(SoundSeconds(Samples(file)), 0.3) << path;
    const bool piece = std::ranges::count(PieceNames(), path.filename().string()) > 0;
    EXPECT_TRUE(!piece || Samples(file).size() <= 2 * kRate) << path << " is too long for one word";
    EXPECT_TRUE(seen.insert(std::string(file.begin() + kHeaderSize, file.end())).second) << path << " is a copy";
  }
  for (const auto& path : FilesIn(kVoicesDir)) {  // the simulator's callers
    ASSERT_TRUE(WellLaidOut(ReadFileBytes(path))) << path;
    EXPECT_GE(SoundSeconds(Samples(ReadFileBytes(path))), 3.0) << path;
  }
}

}  // namespace
