#include "LineCoding.h"

#include <algorithm>

namespace telvara::sim {
namespace {

int ToLinear16(uint8_t sample) { return (static_cast<int>(sample) - 128) * 256; }

uint8_t ToSample(int linear) { return static_cast<uint8_t>(std::clamp(linear / 256 + 128, 0, 255)); }

}  // namespace

const char* CodingName(VoiceCoding coding) { return coding == VoiceCoding::G721 ? "G.721 ADPCM" : "8-bit linear"; }

int BitsPerSample(VoiceCoding coding) { return coding == VoiceCoding::G721 ? 4 : 8; }

void LineEncoder::Put(uint8_t sample, std::string& out) {
  if (coding_ == VoiceCoding::Linear8) {
    out += static_cast<char>(sample);
    return;
  }
  int code = codec_.Encode(ToLinear16(sample));
  if (!first_) {
    first_ = code;
    return;
  }
  out += static_cast<char>((code << 4) | *first_);
  first_.reset();
}

void LineDecoder::Put(uint8_t byte, std::vector<uint8_t>& samples) {
  if (coding_ == VoiceCoding::Linear8) {
    samples.push_back(byte);
    return;
  }
  samples.push_back(ToSample(codec_.Decode(byte & 0xF)));
  samples.push_back(ToSample(codec_.Decode(byte >> 4)));
}

}  // namespace telvara::sim
