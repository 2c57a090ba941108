#include "G721.h"

#include <cstdlib>

namespace telvara::sim {
namespace {

// Quantizer decision levels, and per code: the log of the reconstructed difference,
// the scale factor's step, and the magnitude function that drives speed control.
constexpr std::array<int, 7> kDecision = {-124, 80, 178, 246, 300, 349, 400};
constexpr std::array<int, 16> kLogDq = {-2048, 4, 135, 213, 273, 323, 373, 425, 425, 373, 323, 273, 213, 135, 4, -2048};
constexpr std::array<int, 16> kScaleStep = {-12, 18, 41, 64, 112, 198, 355, 1122, 1122, 355, 198, 112, 64, 41, 18, -12};
constexpr std::array<int, 16> kSpeed = {0,     0,     0,     0x200, 0x200, 0x200, 0x600, 0xE00,
                                        0xE00, 0x600, 0x200, 0x200, 0x200, 0,     0,     0};

// Bits needed for `v` (v >= 0): the index of the first power of two above it, at most 15.
int Exponent(int v) {
  int e = 0;
  while (e < 15 && (1 << e) <= v) ++e;
  return e;
}

// A value in the coder's floating format: sign (0x400 below zero), 4-bit exponent,
// 6-bit mantissa. Zero is kept as 0x20, as the standard does.
int16_t ToFloat(int v) {
  if (v == 0) return 0x20;
  int mag = v < 0 ? -v : v;
  if (mag > 0x7FFF) mag = 0x7FFF;
  int e = Exponent(mag);
  int f = (e << 6) + ((mag << 6) >> e);
  return static_cast<int16_t>(v < 0 ? f - 0x400 : f);
}

// Coefficient times a value in floating format.
int Multiply(int coefficient, int16_t value) {
  int mag = coefficient > 0 ? coefficient : ((-coefficient) & 0x1FFF);
  int e = Exponent(mag) - 6;
  int mant = mag == 0 ? 32 : e >= 0 ? mag >> e : mag << -e;
  int we = e + ((value >> 6) & 0xF) - 13;
  int wm = (mant * (value & 0x3F) + 0x30) >> 4;
  int r = we >= 0 ? ((wm << we) & 0x7FFF) : (wm >> -we);
  return (coefficient ^ value) < 0 ? -r : r;
}

}  // namespace

G721::Estimate G721::Predict() const {
  int zeros = 0;
  for (size_t i = 0; i < b_.size(); ++i) zeros += Multiply(b_[i] >> 2, dq_[i]);
  int poles = Multiply(a_[1] >> 2, sr_[1]) + Multiply(a_[0] >> 2, sr_[0]);
  Estimate e{zeros >> 1, (zeros + poles) >> 1, 0};
  if (ap_ >= 256) {
    e.y = yu_;
  } else {
    int y = yl_ >> 6, dif = yu_ - y, al = ap_ >> 2;
    if (dif > 0) y += (dif * al) >> 6;
    if (dif < 0) y += (dif * al + 0x3F) >> 6;
    e.y = y;
  }
  return e;
}

int G721::Encode(int linear) {
  Estimate e = Predict();
  int d = (linear >> 2) - e.se;  // the coder works on 14 bits
  // Quantize the difference's log magnitude against the scale factor.
  int mag = std::abs(d);
  int ex = Exponent(mag >> 1);
  int dl = (ex << 7) + (((mag << 7) >> ex) & 0x7F);
  int dln = dl - (e.y >> 2);
  int i = 0;
  while (i < static_cast<int>(kDecision.size()) && kDecision[i] <= dln) ++i;
  int code = d < 0 ? 15 - i : i == 0 ? 15 : i;
  Adapt(code, e);
  return code;
}

int G721::Decode(int code) { return Adapt(code & 0xF, Predict()) << 2; }

int G721::Adapt(int code, const Estimate& e) {
  // Reconstruct the quantized difference (sign and magnitude) and the signal.
  bool negative = code & 8;
  int dql = kLogDq[code] + (e.y >> 2);
  int dq = 0;
  if (dql >= 0) {
    int mant = 128 + (dql & 127);
    dq = (mant << 7) >> (14 - ((dql >> 7) & 15));
  }
  int dqMag = dq;
  if (negative) dq = dq - 0x8000;
  int sr = dq < 0 ? e.se - (dq & 0x3FFF) : e.se + dq;
  int dqsez = sr + e.sez - e.se;
  int pk0 = dqsez < 0 ? 1 : 0;
  int y = e.y;

  // A transition from a tone: the predictor starts afresh.
  int ylint = yl_ >> 15, ylfrac = (yl_ >> 10) & 0x1F;
  int thr1 = (32 + ylfrac) << ylint;
  int thr2 = ylint > 9 ? 31 << 10 : thr1;
  bool transition = td_ && dqMag > ((thr2 + (thr2 >> 1)) >> 1);

  // Scale factors.
  yu_ = y + (((kScaleStep[code] << 5) - y) >> 5);
  if (yu_ < 544) yu_ = 544;
  if (yu_ > 5120) yu_ = 5120;
  yl_ += yu_ + ((-yl_) >> 6);

  int a2 = a_[1];
  if (transition) {
    a_ = {};
    b_ = {};
    a2 = 0;
  } else {
    int pks1 = pk0 ^ pk_[0];
    a2 = a_[1] - (a_[1] >> 7);
    if (dqsez != 0) {
      int fa1 = pks1 ? a_[0] : -a_[0];
      if (fa1 < -8191) {
        a2 -= 0x100;
      } else if (fa1 > 8191) {
        a2 += 0xFF;
      } else {
        a2 += fa1 >> 5;
      }
      if (pk0 ^ pk_[1]) {
        a2 = a2 <= -12160 ? -12288 : a2 >= 12416 ? 12288 : a2 - 0x80;
      } else {
        a2 = a2 <= -12416 ? -12288 : a2 >= 12160 ? 12288 : a2 + 0x80;
      }
    }
    a_[1] = a2;
    a_[0] -= a_[0] >> 8;
    if (dqsez != 0) a_[0] += pks1 == 0 ? 192 : -192;
    int limit = 15360 - a2;
    if (a_[0] < -limit) a_[0] = -limit;
    if (a_[0] > limit) a_[0] = limit;
    for (size_t i = 0; i < b_.size(); ++i) {
      b_[i] -= b_[i] >> 8;
      if (dqMag != 0) b_[i] += (dq ^ dq_[i]) >= 0 ? 128 : -128;
    }
  }

  for (size_t i = dq_.size() - 1; i > 0; --i) dq_[i] = dq_[i - 1];
  dq_[0] = dqMag == 0 ? static_cast<int16_t>(dq >= 0 ? 0x20 : 0xFC20 - 0x10000) : ToFloat(dq < 0 ? -dqMag : dqMag);
  sr_[1] = sr_[0];
  sr_[0] = sr <= -32768 ? static_cast<int16_t>(0xFC20 - 0x10000) : ToFloat(sr);
  pk_[1] = pk_[0];
  pk_[0] = pk0;
  td_ = !transition && a2 < -11776;

  int fi = kSpeed[code];
  dms_ += (fi - dms_) >> 5;
  dml_ += ((fi << 2) - dml_) >> 7;
  if (transition) {
    ap_ = 256;
  } else if (y < 1536 || td_ || std::abs((dms_ << 2) - dml_) >= (dml_ >> 3)) {
    ap_ += (0x200 - ap_) >> 4;
  } else {
    ap_ += (-ap_) >> 4;
  }
  return sr;
}

}  // namespace telvara::sim
