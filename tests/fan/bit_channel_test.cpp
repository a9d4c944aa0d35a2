#include "fan/bit_channel.h"

#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "stream/object_reader.h"
#include "stream/object_writer.h"

namespace qx {
namespace {

// A field as the coders write it: `width` low bits of `value`.
struct Field {
  uint32_t value;
  int width;
};

std::vector<uint8_t> WriteFields(const std::vector<Field>& fields) {
  MemoryObjectWriter out;
  BitChannel bits(out);
  for (const Field& field : fields) EXPECT_TRUE(bits.WriteBits(field.value, field.width));
  EXPECT_TRUE(bits.Finish());
  return out.Bytes();
}

uint32_t LowBits(uint32_t value, int width) {
  return width == 32 ? value : value & ((uint32_t{1} << width) - 1);
}

TEST(BitChannel, FieldsFillEachWordFromBitZeroMostSignificantFirst) {
  // 0b110 then 0b1: the word's bits 0, 1, 2, 3 are 1, 1, 0, 1.
  const std::vector<uint8_t> bytes = WriteFields({{0b110, 3}, {1, 1}});
  ASSERT_EQ(bytes.size(), 4u);
  EXPECT_EQ(bytes[0], 0b1011);
  EXPECT_EQ(bytes[1] | bytes[2] | bytes[3], 0);

  // A field that straddles two words continues at bit 0 of the second:
  // 1011 puts 1, 0 in bits 30, 31 and 1, 1 in bits 0, 1 of the next word.
  const std::vector<uint8_t> straddling = WriteFields({{0, 30}, {0b1011, 4}});
  ASSERT_EQ(straddling.size(), 8u);
  EXPECT_EQ(straddling[3], 0b0100'0000);
  EXPECT_EQ(straddling[4], 0b11);
}

TEST(BitChannel, RandomFieldsOfEveryWidthReadBackWhicheverWayTheyAreRead) {
  std::mt19937 random(7);
  std::vector<Field> fields;
  for (int i = 0; i < 4000; ++i) {
    const int width = static_cast<int>(random() % 33);
    fields.push_back({LowBits(static_cast<uint32_t>(random()), width), width});
  }
  const std::vector<uint8_t> bytes = WriteFields(fields);

  MemoryObjectReader in(bytes);
  BitChannel bits(in);
  uint64_t total = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    const Field& field = fields[i];
    uint32_t value = 0xDEADBEEF;
    if (field.width == 1 && i % 2 == 0) {
      bool bit;
      ASSERT_TRUE(bits.ReadBit(bit)) << i;
      value = bit ? 1 : 0;
    } else {
      ASSERT_TRUE(bits.ReadBits(field.width, value)) << i;
    }
    ASSERT_EQ(value, field.value) << "field " << i << " of width " << field.width;
    total += static_cast<uint64_t>(field.width);
    ASSERT_EQ(bits.TotalBits(), total);
  }
}

TEST(BitChannel, LeastSignificantFirstReadsTheBitsInStreamOrder) {
  // Bits written one at a time come back with the first as bit 0.
  std::mt19937 random(11);
  std::vector<Field> fields;
  std::vector<uint32_t> words;
  for (int i = 0; i < 50; ++i) {
    const uint32_t word = static_cast<uint32_t>(random());
    words.push_back(word);
    fields.push_back({1, 3});  // keeps the 32-bit reads off word boundaries
    for (int bit = 0; bit < 32; ++bit) fields.push_back({(word >> bit) & 1, 1});
  }
  const std::vector<uint8_t> bytes = WriteFields(fields);
  MemoryObjectReader in(bytes);
  BitChannel bits(in);
  for (uint32_t word : words) {
    uint32_t marker, value;
    ASSERT_TRUE(bits.ReadBits(3, marker));
    ASSERT_TRUE(bits.ReadBitsLsbFirst(32, value));
    EXPECT_EQ(value, word);
  }
}

// ReadOnes takes the same bits as reading one bit at a time up to the first
// zero or the limit: runs of every length, across word boundaries, and a
// stream that ends inside a run.
TEST(BitChannel, RunsOfOnesReadAsBitByBit) {
  std::mt19937 random(5);
  std::vector<Field> fields;
  for (int i = 0; i < 3000; ++i) {
    const int width = 1 + static_cast<int>(random() % 32);
    // Mostly ones, so that long runs occur.
    fields.push_back({LowBits(static_cast<uint32_t>(random()) | static_cast<uint32_t>(random()), width), width});
  }
  const std::vector<uint8_t> bytes = WriteFields(fields);
  MemoryObjectReader runIn(bytes), bitIn(bytes);
  BitChannel runs(runIn), single(bitIn);
  for (int i = 0;; ++i) {
    const auto limit = static_cast<uint32_t>(random() % 40);
    uint32_t ones = 99;
    const bool read = runs.ReadOnes(limit, ones);
    uint32_t want = 0;
    bool bit = true, complete = true;
    while (want < limit && (complete = single.ReadBit(bit)) && bit) ++want;
    ASSERT_EQ(read, complete) << i;
    if (!read) break;
    ASSERT_EQ(ones, want) << i;
    ASSERT_EQ(runs.TotalBits(), single.TotalBits()) << i;
  }
  EXPECT_EQ(runs.TotalBits(), 8 * bytes.size());
}

TEST(BitChannel, ReadingPastTheLastWordFails) {
  const std::vector<uint8_t> bytes = WriteFields({{5, 20}});  // one word
  MemoryObjectReader in(bytes);
  BitChannel bits(in);
  uint32_t value;
  ASSERT_TRUE(bits.ReadBits(20, value));
  ASSERT_TRUE(bits.ReadBits(12, value));  // the rest of the word
  EXPECT_FALSE(bits.ReadBits(1, value));
  bool bit;
  EXPECT_FALSE(bits.ReadBit(bit));
}

}  // namespace
}  // namespace qx
