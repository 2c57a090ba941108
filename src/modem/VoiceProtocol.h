#pragma once
// What the driver and the simulated modem share of the voice-modem protocol: the
// dialects, the bytes with a meaning on the line, the shielding of events in a byte
// stream, and the stop text that no result line starts with. Plain data and a small
// value type: any thread may use them.
#include <cstddef>
#include <cstdint>

namespace telvara {

// The voice dialect; the order of the set-up dialog and of the stored setting.
enum ModemType : uint32_t {
  Rockwell = 0,
  IS_101 = 1,
  USRobotics = 2,
  Cirrus = 3,
  Sierra = 4,
  UMC = 5,
};
constexpr int kModemTypes = 6;

// Bytes with a meaning on the line.
constexpr uint8_t kDLE = 0x10;  // shields an event code, or a data byte 0x10 (DLE DLE)
constexpr uint8_t kETX = 0x03;  // DLE ETX: end of a voice phase
constexpr uint8_t kCAN = 0x18;  // ends voice receive

// Appends data bytes to `out` as the line carries them: each 0x10 doubled (DLE DLE).
template <typename Bytes>
void AppendShielded(const uint8_t* data, size_t count, Bytes& out) {
  for (size_t i = 0; i < count; ++i) {
    out.push_back(static_cast<typename Bytes::value_type>(data[i]));
    if (data[i] == kDLE) out.push_back(static_cast<typename Bytes::value_type>(kDLE));
  }
}

// The stop text of every wait for a result: no modem's result line starts with it.
constexpr const char* kNoStopText = "QQ";

// Splits a DLE-shielded byte stream into data and event codes, across reads.
class DleDecoder {
 public:
  enum class Kind { Data, Event, Pending };
  // Data: `byte` is data (a DLE DLE gives one 0x10). Event: `byte` is the code that
  // followed a DLE. Pending: a DLE whose partner has not come yet.
  Kind Feed(uint8_t& byte) {
    if (dlePending_) {
      dlePending_ = false;
      return byte == kDLE ? Kind::Data : Kind::Event;
    }
    if (byte == kDLE) {
      dlePending_ = true;
      return Kind::Pending;
    }
    return Kind::Data;
  }
  void Reset() { dlePending_ = false; }

 private:
  bool dlePending_ = false;
};

}  // namespace telvara
