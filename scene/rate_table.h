// The line speeds offered when a scene file is opened progressively: the
// label the open dialog shows and the bytes per second the loader feeds.
// Each rate is the line's bit rate divided by 8 (rounded down), with no
// allowance for framing.
#pragma once

#include <array>
#include <cstdint>

namespace qx {

struct LineRate {
  const char* label;
  int32_t bytesPerSecond;
};

inline constexpr std::array<LineRate, 13> kLineRates = {{
    {"300 bps", 37},
    {"1200 bps", 150},
    {"2400 bps", 300},
    {"4800 bps", 600},
    {"7200 bps", 900},
    {"9600 bps", 1200},
    {"14400 bps", 1800},
    {"19200 bps", 2400},
    {"28800 bps", 3600},
    {"33600 bps", 4200},
    {"56000 bps", 7000},
    {"RDSI (64K bps)", 8000},
    {"ADSL (256 Kbps)", 32000},
}};

}  // namespace qx
