// Image capture: the current picture as a binary PPM file.
//
// File layout: the header "P6\n# Created by QXRep\n %d %d\n255\n" (width,
// height), then height rows of width pixels, three bytes each (red, green,
// blue), no padding, the top row first.
#pragma once

#include <cstdint>
#include <string>

namespace qx {

// The header text for a picture of this size.
std::string PpmHeader(int width, int height);

// Writes the picture held in `bottomUpRows` — rows of width × 3 bytes with
// no padding, the bottom row first, as OpenGL reads them — flipping it so the
// file starts with the top row. False when the file cannot be created or
// written. Sizes below 0 count as 0.
bool WritePpm(const std::string& path, int width, int height, const uint8_t* bottomUpRows);

// Saves the picture of the current viewport (its width and height) to
// `path`. With `pixels` null the picture is read from the current read
// buffer of the current GL context (pack alignment 1); otherwise `pixels`
// holds it in the same bottom-up layout. False when the file cannot be
// created; nothing else is reported.
bool SavePPM(const std::string& path, const uint8_t* pixels = nullptr);

}  // namespace qx
