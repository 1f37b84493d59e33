#pragma once

#include <cstdint>

namespace vemo {

// The most pixels an image may have, 2^28 (16384 x 16384): rendered images stay within
// it (a renderer's ray field, 8 bytes a pixel, within 2 GB, and pixel counts within int),
// and images handed in are refused beyond it before they are copied.
constexpr std::int64_t kMaxImagePixels = std::int64_t{1} << 28;
// kMaxImagePixels as messages give it.
constexpr char kMaxImagePixelsText[] = "2^28";

}  // namespace vemo
