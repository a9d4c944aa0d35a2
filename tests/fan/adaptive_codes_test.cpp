// The adaptive codes of the dense coders: the reader mirrors the writer
// through drifting mixes (rankings that change, counts that halve, escapes),
// and a ranked code learns which values are frequent.
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "fan/adaptive_codes.h"
#include "fan/bit_channel.h"
#include "stream/object_reader.h"
#include "stream/object_writer.h"

namespace qx {
namespace {

// Values whose favourite changes every 700, past several halvings, with a
// rare value far beyond the ranked head of a RankedCount.
std::vector<uint32_t> DriftingValues(uint32_t alphabet) {
  std::mt19937 random(3);
  std::vector<uint32_t> values;
  for (int i = 0; i < 12000; ++i) {
    const uint32_t favourite = static_cast<uint32_t>(i / 700) % alphabet;
    uint32_t value = random() % 4 == 0 ? static_cast<uint32_t>(random() % alphabet) : favourite;
    if (i % 501 == 0) value = alphabet + static_cast<uint32_t>(random() % 100000);
    values.push_back(value);
  }
  return values;
}

TEST(AdaptiveCodes, ReadersMirrorWritersThroughDriftingMixes) {
  const std::vector<uint32_t> values = DriftingValues(5);
  MemoryObjectWriter out;
  BitChannel writeBits(out);
  AdaptiveChoice<5> choiceWriter;
  RankedCount<32> countWriter;
  for (uint32_t value : values) {
    ASSERT_TRUE(choiceWriter.Write(writeBits, static_cast<int>(value % 5)));
    ASSERT_TRUE(countWriter.Write(writeBits, value));
  }
  ASSERT_TRUE(writeBits.Finish());

  MemoryObjectReader in(out.Bytes());
  BitChannel readBits(in);
  AdaptiveChoice<5> choiceReader;
  RankedCount<32> countReader;
  for (size_t i = 0; i < values.size(); ++i) {
    int symbol = -1;
    uint32_t count = 0;
    ASSERT_TRUE(choiceReader.Read(readBits, symbol)) << i;
    ASSERT_EQ(symbol, static_cast<int>(values[i] % 5)) << i;
    ASSERT_TRUE(countReader.Read(readBits, count)) << i;
    ASSERT_EQ(count, values[i]) << i;
  }
}

// Once a value has come most often it takes the first place, whatever its
// size: a ranked code is for values whose frequent ones are not the small.
TEST(AdaptiveCodes, ARankedValueCodesItsMostFrequentValueShortest) {
  MemoryObjectWriter out;
  BitChannel bits(out);
  RankedValue<33> lengths;
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(lengths.Write(bits, i % 3 == 0 ? 5 : 29));
  const uint64_t before = bits.TotalBits();
  ASSERT_TRUE(lengths.Write(bits, 29));
  const uint64_t frequent = bits.TotalBits() - before;
  ASSERT_TRUE(lengths.Write(bits, 0));
  const uint64_t rare = bits.TotalBits() - before - frequent;
  EXPECT_LE(frequent, 2u);
  EXPECT_GT(rare, frequent);
}

}  // namespace
}  // namespace qx
