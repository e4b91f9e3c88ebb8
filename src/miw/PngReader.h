// The icon sheets' PNG reader: a small subset of PNG (8-bit RGBA, no interlace) decoded with
// zlib into straight (not premultiplied) RGBA pixels, rows top to bottom. Anything else is
// refused with a log line naming what was found. Sizes come from the file, so they are capped:
// a side above kMaxPngSide or more than kMaxPngPixels pixels is refused before anything is
// allocated, a chunk may not claim more bytes than the file has left, and the pixel buffer grows
// only with image data actually inflated, so a hostile header cannot make it allocate.
#pragma once

#include "util/Bytes.h"
#include "util/Expected.h"

#include <cstdint>

namespace kestel {

inline constexpr uint32_t kMaxPngSide = 16384;
inline constexpr uint64_t kMaxPngPixels = 64ull << 20; // 8192 × 8192

// Decoded pixels: width × height × 4 bytes, R G B A per pixel.
struct RgbaImage {
  uint32_t width = 0;
  uint32_t height = 0;
  Bytes pixels;

  bool empty() const { return width == 0 || height == 0; }
  const uint8_t* pixel(uint32_t x, uint32_t y) const {
    return pixels.data() + (static_cast<size_t>(y) * width + x) * 4;
  }
  uint8_t* pixel(uint32_t x, uint32_t y) {
    return pixels.data() + (static_cast<size_t>(y) * width + x) * 4;
  }
};

// Decodes a PNG file. A file without the PNG signature fails without a log line; every other
// failure logs an "ERROR:" line (or "png gunzip failed" / "png defilter failed") and fails with
// that text.
Expected<RgbaImage> decodePng(ByteSpan file);

} // namespace kestel
