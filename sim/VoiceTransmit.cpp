#include "VoiceTransmit.h"

#include <algorithm>

namespace telvara::sim {

VoiceTransmit::VoiceTransmit(int rate, VoiceCoding coding)
    : byteRate_(rate * BitsPerSample(coding) / 8), lineDecoder_(coding) {}

uint64_t VoiceTransmit::SlotsAt(uint64_t t) const {
  if (!first_ || t <= *first_) return 0;
  return (t - *first_) * static_cast<uint64_t>(byteRate_) / 1000u;
}

uint64_t VoiceTransmit::SlotTime(uint64_t slot) const {
  return *first_ + (slot * 1000u + static_cast<uint64_t>(byteRate_) - 1) / static_cast<uint64_t>(byteRate_);
}

size_t VoiceTransmit::Accept(const uint8_t* data, size_t count, uint64_t now, std::string& afterEnd) {
  if (endSeen_) {
    afterEnd.append(reinterpret_cast<const char*>(data), count);
    return count;
  }
  if (ctsDown_) return 0;
  size_t before = buffer_.size();
  size_t i = 0;
  while (i < count && buffer_.size() < kCapacity) {
    uint8_t b = data[i++];
    DleDecoder::Kind kind = decoder_.Feed(b);
    if (kind == DleDecoder::Kind::Data) {
      buffer_.push_back(b);
    } else if (kind == DleDecoder::Kind::Event && b == kETX) {
      endSeen_ = true;
      afterEnd.append(reinterpret_cast<const char*>(data + i), count - i);
      i = count;
    } else if (kind == DleDecoder::Kind::Event && b == kCAN) {
      buffer_.clear();  // DLE CAN: what is buffered is dropped, the line goes quiet at once
    }                   // other shielded codes mean nothing to this modem
  }
  if (buffer_.size() > before) {
    if (!first_) first_ = now;
    if (underrun_) {
      longestGap_ = std::max(longestGap_, now - underrunStart_);
      underrun_ = false;
      // The line went on while it had nothing: play the new samples from now on.
      slots_ = SlotsAt(now);
    }
  }
  if (buffer_.size() >= kCapacity) ctsDown_ = true;
  return i;
}

void VoiceTransmit::ConsumeTo(uint64_t now) {
  if (!first_) return;
  uint64_t due = SlotsAt(now);
  if (due <= slots_) return;
  uint64_t want = due - slots_;
  size_t take = static_cast<size_t>(std::min<uint64_t>(want, buffer_.size()));
  for (size_t i = 0; i < take; ++i) lineDecoder_.Put(buffer_[i], played_);
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(take));
  slots_ += take;
  if (take < want && !endSeen_ && !underrun_) {
    // The buffer ran dry while the line wanted samples: a gap the caller hears.
    underrun_ = true;
    underrunStart_ = SlotTime(slots_);
    ++underruns_;
  }
  if (take < want) slots_ = due;
  if (ctsDown_ && buffer_.size() <= kLowWater) ctsDown_ = false;
}

std::optional<uint64_t> VoiceTransmit::NextChange() const {
  if (!first_ || buffer_.empty()) return std::nullopt;
  // The buffer empties (the end of the phase, or an underrun) ...
  uint64_t next = SlotTime(slots_ + buffer_.size());
  // ... or has drained enough for clear-to-send to come back.
  if (ctsDown_) next = std::min(next, SlotTime(slots_ + (buffer_.size() - kLowWater)));
  return next;
}

}  // namespace telvara::sim
