// The recordings that ship in system/ (and the simulator's voices): the fixed 44-byte
// header of 8-bit mono PCM at 7200/s, real sound, none missing, none a copy.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "Files.h"

namespace fs = std::filesystem;

namespace {

using telvara::testing::ReadFileBytes;
using telvara::testing::U32;
using Bytes = std::vector<std::uint8_t>;

// The samples of a file laid out as that header, the samples and, after an odd count, a
// zero byte; empty when it is not.
Bytes Samples(const Bytes& b) {
  const std::string fmt("WAVEfmt \x10\0\0\0\x01\0\x01\0\x20\x1C\0\0\x20\x1C\0\0\x01\0\x08\0data", 32);
  if (b.size() < 44 || std::string(b.begin(), b.begin() + 4) != "RIFF" ||
      std::string(b.begin() + 8, b.begin() + 40) != fmt)
    return {};
  const std::uint64_t data = U32(b, 40), pad = data & 1;
  if (44 + data + pad != b.size() || (pad && b.back() != 0) || U32(b, 4) != b.size() - 8) return {};
  return Bytes(b.begin() + 44, b.begin() + 44 + long(data));
}

// Seconds of sound: 10 ms frames straying from the midpoint by 3 on average (about -32 dB).
double SoundSeconds(const Bytes& samples) {
  int frames = 0;
  for (std::size_t at = 0; at + 72 <= samples.size(); at += 72) {
    int deviation = 0;
    for (std::size_t i = at; i < at + 72; ++i) deviation += std::abs(samples[i] - 128);
    frames += deviation >= 3 * 72;
  }
  return frames * 0.01;
}

TEST(SystemFiles, EveryRequiredFileShipsAndEachIsAWellFormedDistinctRecording) {
  // The pieces played back to back in a number, a time or digits; then the prompts.
  std::vector<std::string> pieces = {"its",      "am",     "pm",       "Sunday", "Monday", "Tuesday", "Wednsday",
                                     "Thursday", "Friday", "Saturday", "o",      "*",      "#"};
  for (int n = 0; n <= 90; n += n < 20 ? 1 : 10) pieces.push_back(std::to_string(n));
  std::vector<std::string> required = pieces;
  for (int k = 1; k <= 39; ++k) required.push_back("sys0" + std::string(k < 10 ? "0" : "") + std::to_string(k));
  required.insert(required.end(), {"announce", "orvanel"});
  const fs::path system = fs::path(TELVARA_SOURCE_DIR) / "system";
  for (const fs::path& dir : {system, fs::path(TELVARA_BINARY_DIR) / "system"})  // and copied into the build
    for (const auto& name : required) EXPECT_TRUE(fs::is_regular_file(dir / (name + ".wav"))) << dir / name;
  std::set<std::string> seen;  // the samples as text: GCC 12 cannot bound a vector's <=>
  for (const auto& entry : fs::directory_iterator(system)) {
    const Bytes samples = Samples(ReadFileBytes(entry.path()));
    ASSERT_TRUE(entry.path().extension() == ".wav" && !samples.empty()) << entry.path();
    EXPECT_GE(SoundSeconds(samples), 0.3) << entry.path();
    bool piece = std::ranges::count(pieces, entry.path().stem().string()) > 0;
    EXPECT_TRUE(!piece || samples.size() <= 2 * 7200) << entry.path() << " is too long for one word";
    EXPECT_TRUE(seen.insert(std::string(samples.begin(), samples.end())).second) << entry.path() << " is a copy";
  }
  for (const auto& entry : fs::directory_iterator(fs::path(TELVARA_SOURCE_DIR) / "sim" / "voices"))
    EXPECT_GE(SoundSeconds(Samples(ReadFileBytes(entry.path()))), 3.0) << entry.path();  // the simulator's callers
}

}  // namespace
