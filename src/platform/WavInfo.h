#pragma once
// What a WAV file holds, read from its chunks without trusting them: for playing a
// message or the greeting by the sound card (how long to wait for the page) and for
// checking a greeting that a browser recorded and sent. Any thread.
#include <cstdint>
#include <string>

namespace telvara {

enum class WavProblem {
  None,
  Unreadable,  // missing, not a regular file, or a read failed
  NotWave,     // no RIFF/WAVE header
  BadFormat,   // no whole "fmt " chunk before the data
  NoData,      // no "data" chunk
  Truncated,   // the data chunk claims more than the file holds
};

struct WavInfo {
  WavProblem problem = WavProblem::Unreadable;
  // The format chunk's fields as stored.
  uint32_t formatTag = 0;
  uint32_t channels = 0;
  uint32_t sampleRate = 0;
  uint32_t byteRate = 0;
  uint32_t blockAlign = 0;
  uint32_t bitsPerSample = 0;
  uint64_t dataBytes = 0;  // of the data chunk, as far as the file holds it

  // Complete, PCM, and its fields agree with each other.
  bool WellFormed() const;
  // Something a player can time: a truncated file still plays as far as it goes (the
  // modem's own files keep a block alignment of 1 whatever their sample size).
  bool Playable() const { return (problem == WavProblem::None || problem == WavProblem::Truncated) && byteRate != 0; }
  // How long the data plays at the stored byte rate, rounded down.
  uint64_t DurationMs() const;
};

WavInfo InspectWav(const std::string& path);

}  // namespace telvara
