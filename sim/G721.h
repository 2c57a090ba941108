#pragma once
// The ITU-T G.721 (G.726 at 32 kbit/s) ADPCM coder: 14-bit linear samples in, 4-bit
// codes out, and back. Encoder and decoder each keep their own adaptive state, so one
// object codes one direction of one phase. Any thread; an object belongs to one.
#include <array>
#include <cstdint>

namespace telvara::sim {

class G721 {
 public:
  // `linear`: a 16-bit signed sample; returns its 4-bit code.
  int Encode(int linear);
  // `code`: a 4-bit code; returns the 16-bit signed sample it stands for.
  int Decode(int code);

 private:
  struct Estimate {
    int sez;  // the zeros' part of the signal estimate
    int se;   // the whole estimate
    int y;    // the quantizer's scale factor
  };
  Estimate Predict() const;
  // Adapts the state to the code just sent or received; returns the reconstructed sample.
  int Adapt(int code, const Estimate& e);

  int32_t yl_ = 34816;                                 // locked (slow) scale factor
  int yu_ = 544;                                       // unlocked (fast) scale factor
  int dms_ = 0, dml_ = 0;                              // short- and long-term means of the code's magnitude function
  int ap_ = 0;                                         // speed control between the two scale factors
  std::array<int, 2> a_{};                             // pole coefficients
  std::array<int, 6> b_{};                             // zero coefficients
  std::array<int, 2> pk_{};                            // signs of past partial reconstructions
  std::array<int16_t, 6> dq_{32, 32, 32, 32, 32, 32};  // past differences, floating format
  std::array<int16_t, 2> sr_{32, 32};                  // past reconstructions, floating format
  bool td_ = false;                                    // a tone is present
};

}  // namespace telvara::sim
