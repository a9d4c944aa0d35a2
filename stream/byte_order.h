// Little-endian encoding of the fixed-size values stored in scene files.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace qx {

inline void StoreU32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint32_t LoadU32(const uint8_t* in) {
  return uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16 | uint32_t{in[3]} << 24;
}

// The WebAssembly build's standard library predates std::bit_cast; copying
// the bytes compiles to the same single move.
#if defined(__cpp_lib_bit_cast)
inline uint32_t FloatBits(float value) { return std::bit_cast<uint32_t>(value); }
inline float BitsFloat(uint32_t bits) { return std::bit_cast<float>(bits); }
#else
inline uint32_t FloatBits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}
inline float BitsFloat(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}
#endif

// Bytes needed for a back reference written at stream position p: enough to
// hold 4p - 1 (one byte also for p = 0).
inline int BackReferenceWidth(uint32_t position) {
  const uint64_t limit = 4ull * position;
  if (limit <= 256) return 1;
  if (limit <= 65536) return 2;
  if (limit <= 16777216) return 3;
  return 4;
}

}  // namespace qx
