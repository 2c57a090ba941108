#pragma once
// Converts 8-bit samples from one rate to another as they stream, by linear
// interpolation between neighbouring samples: a prompt kept at 7200 samples a second
// plays at its own pitch on a line that runs at 9600. Any thread; an object belongs
// to one stream.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace telvara {

class RateConverter {
 public:
  RateConverter(int from, int to) : from_(static_cast<uint64_t>(from)), to_(static_cast<uint64_t>(to)) {}

  // Appends to `out` the output samples that the input so far determines.
  void Convert(const uint8_t* in, size_t count, std::vector<uint8_t>& out) {
    if (count == 0 || from_ == 0 || to_ == 0) return;
    // The window: the previous call's last sample (index base_ - 1), then `in`.
    auto at = [&](uint64_t i) -> uint64_t { return i < base_ ? last_ : in[i - base_]; };
    const uint64_t end = base_ + count;
    for (;;) {
      uint64_t position = next_ * from_;  // in input samples, times `to_`
      uint64_t i = position / to_, frac = position % to_;
      if (i + 1 >= end) break;
      out.push_back(static_cast<uint8_t>((at(i) * (to_ - frac) + at(i + 1) * frac) / to_));
      ++next_;
    }
    last_ = in[count - 1];
    base_ = end;
  }

 private:
  uint64_t from_, to_;
  uint64_t next_ = 0;  // index of the next output sample
  uint64_t base_ = 0;  // index of the next input sample
  uint64_t last_ = 0;  // the input sample before base_
};

}  // namespace telvara
