// The recordings that ship in system/ (and the simulator's voices): the fixed 44-byte
// header and 7200/s 8-bit mono format, real, trimmed, loud sound, and none missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
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
// A 10 ms frame is sound when its samples stray from the midpoint 128 by 3 or more on
// average (about -32 dB below full scale); anything quieter counts as silence.
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

// One flag per whole 10 ms frame: true when the frame is sound.
std::vector<bool> SoundFrames(const Bytes& samples) {
  std::vector<bool> frames;
  for (std::size_t at = 0; at + kFrame <= samples.size(); at += kFrame) {
    int deviation = 0;
    for (std::size_t i = at; i < at + kFrame; ++i) deviation += std::abs(samples[i] - 128);
    frames.push_back(deviation >= kSoundLevel * static_cast<int>(kFrame));
  }
  return frames;
}

double SoundSeconds(const Bytes& samples) {
  const auto frames = SoundFrames(samples);
  return std::count(frames.begin(), frames.end(), true) * 0.01;
}

// The silence before the first and after the last frame of sound, in seconds.
std::pair<double, double> SilenceAtTheEnds(const Bytes& samples) {
  const auto frames = SoundFrames(samples);
  return {(std::find(frames.begin(), frames.end(), true) - frames.begin()) * 0.01,
          (std::find(frames.rbegin(), frames.rend(), true) - frames.rbegin()) * 0.01};
}

int PeakDeviation(const Bytes& samples) {
  auto [low, high] = std::minmax_element(samples.begin(), samples.end());
  return samples.empty() ? 0 : std::max(128 - *low, *high - 128);
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

// The shipped files.
TEST(SystemFiles, EveryRequiredFileShipsAndEachIsAWellFormedDistinctLevelledTrimmedRecording) {
  for (const fs::path& dir : {kSystemDir, fs::path(TELVARA_BINARY_DIR) / "system"})
    for (const auto& name : RequiredNames()) EXPECT_TRUE(fs::is_regular_file(dir / name)) << "missing " << (dir / name);
  const auto files = FilesIn(kSystemDir);
  const auto pieces = PieceNames();
  EXPECT_GE(files.size(), RequiredNames().size());
  std::map<std::string, fs::path> seen;  // by the samples as text: GCC 12 cannot bound a vector's <=>
  for (const auto& path : files) {
    const Bytes file = ReadFileBytes(path);
    EXPECT_EQ(path.extension(), ".wav") << path;
    ASSERT_TRUE(WellLaidOut(file)) << path;
    const Bytes samples = Samples(file);
    EXPECT_GE(SoundSeconds(samples), 0.3) << path;
    EXPECT_GE(PeakDeviation(samples), 90) << path;
    const auto clipped =
        std::count_if(samples.begin(), samples.end(), [](std::uint8_t s) { return s == 0 || s == 255; });
    EXPECT_LE(clipped, static_cast<long>(samples.size() / 1000)) << path;
    const bool piece = std::count(pieces.begin(), pieces.end(), path.filename().string()) > 0;
    const auto [leading, trailing] = SilenceAtTheEnds(samples);
    EXPECT_LE(leading, piece ? 0.1 : 0.3) << path;
    EXPECT_LE(trailing, piece ? 0.2 : 0.5) << path;
    EXPECT_TRUE(!piece || samples.size() <= 2 * kRate) << path << " is too long for one word";
    const auto [it, fresh] = seen.emplace(std::string(file.begin() + kHeaderSize, file.end()), path);
    EXPECT_TRUE(fresh) << path << " holds the same samples as " << it->second;
  }
}

TEST(SimulatorVoices, CallerVoiceIsSeveralSentencesInTheSameFormat) {
  ASSERT_TRUE(fs::is_regular_file(kVoicesDir / "caller.wav"));
  for (const auto& path : FilesIn(kVoicesDir)) {
    const Bytes file = ReadFileBytes(path);
    ASSERT_TRUE(WellLaidOut(file)) << path;
    EXPECT_GE(SoundSeconds(Samples(file)), 3.0) << path;
    EXPECT_GE(PeakDeviation(Samples(file)), 90) << path;
  }
}

}  // namespace
