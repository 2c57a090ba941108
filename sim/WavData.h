#pragma once
// Reading a far end's voice from a WAV file and keeping a voice phase as one. The
// simulated line carries 8-bit unsigned mono samples; a 16-bit or stereo PCM file is
// converted to that (the rate is not changed). Files are untrusted: sizes are checked
// against the file, and anything else is refused with a reason. Any thread.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace telvara::sim {

struct WavLoad {
  std::shared_ptr<const std::vector<uint8_t>> samples;  // null on failure
  int rate = 0;
  std::string error;
};

constexpr size_t kMaxVoiceFileBytes = 64u << 20;

WavLoad LoadWavSamples(const std::string& path);
// Parses a whole file image (what LoadWavSamples reads).
WavLoad ParseWav(const std::vector<uint8_t>& bytes);

// Writes a new 8-bit mono PCM WAV file; never replaces an existing file.
bool WriteWavFile(const std::string& path, const std::vector<uint8_t>& samples, int rate, std::string& error);

}  // namespace telvara::sim
