// The bit stream that all mesh coders of one scene file share.
//
// Bits fill a 32-bit word from bit 0 upward; a full word goes to the object
// stream as 4 little-endian bytes. A multi-bit field is placed most
// significant bit first. Reading fetches the next word whenever a bit is
// needed and the position is back at 0. After the last step the writer sends
// the word in flight once more (Finish), whether or not bits are pending.
#pragma once

#include <cstdint>

namespace qx {

class ObjectWriter;
class ObjectReader;

class BitChannel {
 public:
  explicit BitChannel(ObjectWriter& out) : out_(&out) {}
  explicit BitChannel(ObjectReader& in) : in_(&in) {}

  // Appends the low `width` bits of `value` (width 0..32), most significant
  // first. False when the stream refuses a word.
  bool WriteBits(uint32_t value, int width);
  bool WriteBit(bool bit) { return WriteBits(bit ? 1 : 0, 1); }
  // Reads a `width`-bit field (0..32). False when the stream ends first.
  bool ReadBits(int width, uint32_t& value);
  bool ReadBit(bool& bit);
  // Writes the word in flight (4 bytes); the writer's last act.
  bool Finish();

  // Bits written or read so far.
  uint64_t TotalBits() const { return totalBits_; }

 private:
  bool PutBit(uint32_t bit);
  bool GetBit(uint32_t& bit);

  ObjectWriter* out_ = nullptr;
  ObjectReader* in_ = nullptr;
  int position_ = 0;  // bit position in the current word, 0..31
  uint32_t word_ = 0;
  uint64_t totalBits_ = 0;
};

}  // namespace qx
