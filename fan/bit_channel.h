// The bit stream that all mesh coders of one scene file share.
//
// Bits fill a 32-bit word from bit 0 upward; a full word goes to the object
// stream as 4 little-endian bytes. A multi-bit field is placed most
// significant bit first. Reading fetches the next word whenever a bit is
// needed and the position is back at 0. After the last step the writer sends
// the word in flight once more (Finish), whether or not bits are pending.
//
// The reader keeps the fetched word bit-reversed and shifted so that the next
// bit to read is its top bit: a field is then the top bits as they stand,
// and a run of ones is counted in one step, where the word as stored would
// need its bits put in reading order for every field.
#pragma once

#include <array>
#include <bit>
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
  bool WriteBits(uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i)
      if (!PutBit((value >> i) & 1)) return false;
    return true;
  }
  bool WriteBit(bool bit) { return PutBit(bit ? 1 : 0); }
  // Reads a `width`-bit field (0..32). False when the stream ends first.
  // The bits that lie in the current word are taken together.
  bool ReadBits(int width, uint32_t& value) {
    uint64_t field = 0;
    while (width > 0) {
      if (position_ == 0 && !FetchWord()) return false;
      const int take = width < 32 - position_ ? width : 32 - position_;
      field = (field << take) | (pending_ >> (32 - take));
      Consume(take);
      width -= take;
    }
    value = static_cast<uint32_t>(field);
    return true;
  }
  // Reads ones up to and including the first zero, or until `limit` ones
  // have been read (no zero follows them then); `ones` is how many. The
  // same bits as reading one bit at a time, taken a word's run at once.
  // False when the stream ends first.
  bool ReadOnes(uint32_t limit, uint32_t& ones) {
    ones = 0;
    while (ones < limit) {
      if (position_ == 0 && !FetchWord()) return false;
      const int available = 32 - position_;
      const uint32_t run = static_cast<uint32_t>(std::countl_one(pending_));  // ≤ available
      if (run >= limit - ones) {
        Consume(static_cast<int>(limit - ones));
        ones = limit;
        return true;
      }
      ones += run;
      if (run < static_cast<uint32_t>(available)) {
        Consume(static_cast<int>(run) + 1);
        return true;
      }
      Consume(available);
    }
    return true;
  }
  // Reads `width` bits (1..32) in the opposite order: the first bit read is
  // bit 0 of the value. Raw bytes travel this way.
  bool ReadBitsLsbFirst(int width, uint32_t& value) {
    if (!ReadBits(width, value)) return false;
    value = ReverseBits(value) >> (32 - width);
    return true;
  }
  bool ReadBit(bool& bit) {
    uint32_t value;
    if (!GetBit(value)) return false;
    bit = value != 0;
    return true;
  }
  // Writes the word in flight (4 bytes); the writer's last act.
  bool Finish();

  // Bits written or read so far.
  uint64_t TotalBits() const { return totalBits_; }

 private:
  // The per-bit steps stay inline: every coder reads and writes a bit or a
  // short field at a time, millions of times per mesh. Only the word
  // transfers, once per 32 bits, go out of line.
  bool PutBit(uint32_t bit) {
    word_ |= bit << position_;
    ++totalBits_;
    if (++position_ < 32) return true;
    return FlushWord();
  }
  bool GetBit(uint32_t& bit) {
    if (position_ == 0 && !FetchWord()) return false;
    bit = pending_ >> 31;
    Consume(1);
    return true;
  }
  // Moves the read position `count` bits on (1..32, within the word).
  void Consume(int count) {
    pending_ = static_cast<uint32_t>(uint64_t{pending_} << count);
    position_ = (position_ + count) & 31;
    totalBits_ += static_cast<uint64_t>(count);
  }
  bool FlushWord();
  bool FetchWord();

  static uint32_t ReverseBits(uint32_t x) {
    return uint32_t{kReversedBytes[x & 0xFF]} << 24 | uint32_t{kReversedBytes[(x >> 8) & 0xFF]} << 16 |
           uint32_t{kReversedBytes[(x >> 16) & 0xFF]} << 8 | uint32_t{kReversedBytes[x >> 24]};
  }
  static constexpr std::array<uint8_t, 256> kReversedBytes = [] {
    std::array<uint8_t, 256> table{};
    for (int x = 0; x < 256; ++x)
      for (int bit = 0; bit < 8; ++bit)
        if (x & (1 << bit)) table[x] |= static_cast<uint8_t>(0x80 >> bit);
    return table;
  }();

  ObjectWriter* out_ = nullptr;
  ObjectReader* in_ = nullptr;
  int position_ = 0;  // bit position in the current word, 0..31
  uint32_t word_ = 0;     // the writer's word in flight
  uint32_t pending_ = 0;  // the reader's unread bits of its word, next bit on top
  uint64_t totalBits_ = 0;
};

}  // namespace qx
