#include "fan/bit_channel.h"

#include "scene/object_reader.h"
#include "scene/object_writer.h"

namespace qx {

bool BitChannel::PutBit(uint32_t bit) {
  word_ |= bit << position_;
  ++totalBits_;
  if (++position_ < 32) return true;
  position_ = 0;
  const bool written = out_->WriteU32(word_);
  word_ = 0;
  return written;
}

bool BitChannel::GetBit(uint32_t& bit) {
  if (position_ == 0 && !in_->ReadU32(word_)) return false;
  bit = (word_ >> position_) & 1;
  position_ = (position_ + 1) & 31;
  ++totalBits_;
  return true;
}

bool BitChannel::WriteBits(uint32_t value, int width) {
  for (int i = width - 1; i >= 0; --i)
    if (!PutBit((value >> i) & 1)) return false;
  return true;
}

bool BitChannel::ReadBits(int width, uint32_t& value) {
  value = 0;
  for (int i = 0; i < width; ++i) {
    uint32_t bit;
    if (!GetBit(bit)) return false;
    value = (value << 1) | bit;
  }
  return true;
}

bool BitChannel::ReadBit(bool& bit) {
  uint32_t value;
  if (!GetBit(value)) return false;
  bit = value != 0;
  return true;
}

bool BitChannel::Finish() { return out_->WriteU32(word_); }

}  // namespace qx
