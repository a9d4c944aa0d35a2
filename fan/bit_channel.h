// The bit stream that all mesh coders of one scene file share.
//
// Bits fill a 32-bit word from bit 0 upward; a full word goes to the object
// stream as 4 little-endian bytes. A multi-bit field is placed most
// significant bit first. Reading fetches the next word whenever a bit is
// needed and the position is back at 0. After the last step the writer sends
// the word in flight once more (Finish), whether or not bits are pending.
//
// The reader keeps its unread bits in reading order at the top of a 64-bit
// buffer (each fetched word bit-reversed and placed below the bits still
// unread): a field is then the buffer's top bits, even across a word
// boundary, and a run of ones is counted in one step. A word is fetched
// only when a read needs more bits than the buffer holds, so the reader
// takes exactly the words a bit-by-bit reader would.
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
  bool ReadBits(int width, uint32_t& value) {
    if (width == 0) {
      value = 0;
      return true;
    }
    if (unread_ < width && !Refill()) return false;
    value = static_cast<uint32_t>(pending_ >> (64 - width));
    Skip(width);
    return true;
  }
  // Reads ones up to and including the first zero, or until `limit` ones
  // have been read (no zero follows them then); `ones` is how many. The
  // same bits as reading one bit at a time, a buffer's run at once. False
  // when the stream ends first.
  bool ReadOnes(uint32_t limit, uint32_t& ones) {
    ones = 0;
    while (ones < limit) {
      if (unread_ == 0 && !Refill()) return false;
      // The bits below the unread ones are zero: the run ends within them.
      const auto run = static_cast<uint32_t>(std::countl_one(pending_));
      if (run >= limit - ones) {
        Skip(static_cast<int>(limit - ones));
        ones = limit;
        return true;
      }
      ones += run;
      if (run < static_cast<uint32_t>(unread_)) {
        Skip(static_cast<int>(run) + 1);
        return true;
      }
      Skip(unread_);
    }
    return true;
  }
  // ReadOnes, then, unless the limit was reached, a `width`-bit field
  // (0..31): a unary prefix and its suffix, as the adaptive codes read them.
  // When the whole code is in the buffer it is cut out in one step.
  bool ReadOnesAndField(uint32_t limit, int width, uint32_t& ones, uint32_t& field) {
    const auto run = static_cast<uint32_t>(std::countl_one(pending_));
    if (run < limit && static_cast<int>(run) + 1 + width <= unread_) {
      ones = run;
      // The ones and the zero shifted out, the field is the top bits; the
      // shift by 63 − width (not 64) keeps a width of 0 defined.
      field = static_cast<uint32_t>((pending_ << (run + 1)) >> 1 >> (63 - width));
      Skip(static_cast<int>(run) + 1 + width);
      return true;
    }
    field = 0;
    return ReadOnes(limit, ones) && (ones == limit || ReadBits(width, field));
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
  uint64_t TotalBits() const { return in_ ? totalBits_ - static_cast<uint64_t>(unread_) : totalBits_; }

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
    if (unread_ == 0 && !Refill()) return false;
    bit = static_cast<uint32_t>(pending_ >> 63);
    Skip(1);
    return true;
  }
  // Drops the next `count` bits (at most the unread ones).
  void Skip(int count) {
    pending_ <<= count;
    unread_ -= count;
  }
  // Appends the next word below the unread bits (fewer than 32). When the
  // stream has no more, the unread bits are dropped, as a reader that took
  // them one at a time would have before finding the stream's end.
  bool Refill() {
    if (FetchWord()) return true;
    pending_ = 0;
    unread_ = 0;
    return false;
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
  // The writer's word in flight and the bit position in it, 0..31.
  uint32_t word_ = 0;
  int position_ = 0;
  // The reader's unread bits, the next one on top, and how many (0..63).
  uint64_t pending_ = 0;
  int unread_ = 0;
  uint64_t totalBits_ = 0;  // written; for the reader, the bits of the words fetched
};

}  // namespace qx
