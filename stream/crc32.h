// Class identifiers: CRC-32 with the parameters known as CRC-32/MPEG-2
// (polynomial 0x04C11DB7, initial value 0xFFFFFFFF, most significant bit
// first, no reflection, no final XOR). The check value of "123456789" is
// 0x0376E6E7.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace qx {

namespace detail {
constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i << 24;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    table[i] = crc;
  }
  return table;
}
inline constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();
}  // namespace detail

// constexpr so that static class descriptors get their identifier during
// constant initialisation, before any registry exists.
constexpr uint32_t ClassIdentifier(std::string_view name) {
  uint32_t crc = 0xFFFFFFFFu;
  for (char c : name) crc = (crc << 8) ^ detail::kCrcTable[((crc >> 24) ^ static_cast<uint8_t>(c)) & 0xFF];
  return crc;
}

}  // namespace qx
