#pragma once
// How the simulated line's 8-bit unsigned samples travel between modem and host: as
// they are, or in G.721 ADPCM (US Robotics' #VSM=129 with #VBS=4), two 4-bit codes a
// byte, the earlier sample in the low half. Belongs to the thread that runs the simulator.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "G721.h"

namespace telvara::sim {

enum class VoiceCoding { Linear8, G721 };

const char* CodingName(VoiceCoding coding);
int BitsPerSample(VoiceCoding coding);

// Samples to host bytes (not yet DLE-shielded).
class LineEncoder {
 public:
  explicit LineEncoder(VoiceCoding coding) : coding_(coding) {}
  void Put(uint8_t sample, std::string& out);

 private:
  VoiceCoding coding_;
  G721 codec_;
  std::optional<int> first_;  // the first code of a byte not yet complete
};

// Host bytes to samples.
class LineDecoder {
 public:
  explicit LineDecoder(VoiceCoding coding) : coding_(coding) {}
  void Put(uint8_t byte, std::vector<uint8_t>& samples);

 private:
  VoiceCoding coding_;
  G721 codec_;
};

}  // namespace telvara::sim
