// ScaledRice: the reader mirrors the writer at every scale, escapes
// included, and the code's length follows the scale it is given.
#include <algorithm>
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

struct Scaled {
  uint32_t value;
  int scaleLength;
};

// Values near their scales, with outliers far above (escapes) and zeros, at
// every scale length a caller may give.
std::vector<Scaled> MixedValues() {
  std::mt19937 random(5);
  std::vector<Scaled> values;
  for (int i = 0; i < 3000; ++i) {
    const int length = static_cast<int>(random() % 34);
    uint32_t value = length == 0 ? random() % 3 : static_cast<uint32_t>(random() >> (32 - std::min(length, 32)));
    if (i % 97 == 0) value = UINT32_MAX - static_cast<uint32_t>(i);
    if (i % 89 == 0) value = 0;
    values.push_back({value, i % 211 == 0 ? 63 : length});
  }
  return values;
}

TEST(ScaledRice, ReaderMirrorsWriterAtEveryScaleAndStopsAtTheEnd) {
  const std::vector<Scaled> values = MixedValues();
  MemoryObjectWriter out;
  BitChannel writeBits(out);
  ScaledRice writer;
  for (const Scaled& v : values) ASSERT_TRUE(writer.Write(writeBits, v.value, v.scaleLength));
  const uint64_t written = writeBits.TotalBits();
  ASSERT_TRUE(writeBits.Finish());

  MemoryObjectReader in(out.Bytes());
  BitChannel readBits(in);
  ScaledRice reader;
  for (size_t i = 0; i < values.size(); ++i) {
    uint32_t x = 0;
    ASSERT_TRUE(reader.Read(readBits, x, values[i].scaleLength)) << i;
    ASSERT_EQ(x, values[i].value) << i;
  }
  EXPECT_EQ(readBits.TotalBits(), written);
  // Past the last word the reader runs dry instead of reading on.
  uint32_t x = 0;
  int reads = 0;
  while (reader.Read(readBits, x, 3) && ++reads < 64) {
  }
  EXPECT_LT(reads, 64);
}

// The parameter follows the caller's scale: values about 2^L cost about L
// bits plus a short prefix whatever L is, learnt from all scales together.
TEST(ScaledRice, ValuesAtTheirScaleCostAFewBitsAboveTheScale) {
  std::mt19937 random(9);
  MemoryObjectWriter out;
  BitChannel bits(out);
  ScaledRice code;
  uint64_t scaleBits = 0;
  const int count = 4000;
  for (int i = 0; i < count; ++i) {
    const int length = 4 + static_cast<int>(random() % 20);
    const auto value = static_cast<uint32_t>(random() % (uint32_t{1} << length));
    ASSERT_TRUE(code.Write(bits, value, length));
    scaleBits += static_cast<uint64_t>(length);
  }
  const double extra = static_cast<double>(bits.TotalBits() - scaleBits) / count;
  EXPECT_GT(extra, 0.5);
  EXPECT_LT(extra, 2.5);
}

}  // namespace
}  // namespace qx
