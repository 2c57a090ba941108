#pragma once
// One voice-transmit phase of the simulated modem: the host's DLE-shielded bytes, in
// the line's coding, go into a bounded buffer and the line plays them at its sample
// rate. Flow control is a modem's: "clear to send" drops when the buffer is full and
// comes back once it has drained to half. DLE DLE is one byte 0x10; DLE ETX ends the
// phase once every byte before it has been played. Times are milliseconds of the simulator's clock.
// Belongs to the thread that runs the simulator.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "LineCoding.h"
#include "modem/VoiceProtocol.h"

namespace telvara::sim {

class VoiceTransmit {
 public:
  static constexpr size_t kCapacity = 2048;  // bytes the modem buffers
  static constexpr size_t kLowWater = 1024;  // clear to send again at this level

  VoiceTransmit(int rate, VoiceCoding coding);

  // Takes host bytes; returns how many it took. It takes none while clear-to-send is
  // down and stops when the buffer fills. Bytes after DLE ETX are taken too and handed
  // back in `afterEnd`: they are commands for after the phase.
  size_t Accept(const uint8_t* data, size_t count, uint64_t now, std::string& afterEnd);
  // Plays what is due up to `now`.
  void ConsumeTo(uint64_t now);
  // The next moment something changes: clear-to-send back, the buffer empty, the end.
  std::optional<uint64_t> NextChange() const;

  bool Ended() const { return endSeen_ && buffer_.empty(); }
  bool EndReceived() const { return endSeen_; }
  size_t Room() const { return ctsDown_ ? 0 : kCapacity - buffer_.size(); }
  size_t Buffered() const { return buffer_.size(); }

  // The samples the line played, decoded.
  const std::vector<uint8_t>& Played() const { return played_; }
  int Underruns() const { return underruns_; }
  uint64_t LongestGap() const { return longestGap_; }

 private:
  uint64_t SlotsAt(uint64_t t) const;
  uint64_t SlotTime(uint64_t slot) const;

  int byteRate_;  // bytes the line plays a second
  LineDecoder lineDecoder_;
  std::deque<uint8_t> buffer_;
  std::vector<uint8_t> played_;
  DleDecoder decoder_;
  bool endSeen_ = false;
  bool ctsDown_ = false;
  std::optional<uint64_t> first_;  // when the first sample arrived: the line plays from then
  uint64_t slots_ = 0;             // line byte slots gone by since the first byte
  bool underrun_ = false;
  uint64_t underrunStart_ = 0;
  int underruns_ = 0;
  uint64_t longestGap_ = 0;
};

}  // namespace telvara::sim
