#include "sim/IconSheet.h"

#include <algorithm>
#include <zlib.h>

namespace kestel::sim {
namespace {

void put32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<uint8_t>(v >> shift));
}

void chunk(Bytes& out, const char* type, const Bytes& data) {
  put32(out, static_cast<uint32_t>(data.size()));
  size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  uLong crc = crc32(0, out.data() + start, static_cast<uInt>(out.size() - start));
  put32(out, static_cast<uint32_t>(crc));
}

// A saturated colour from a hue in 0..359.
void hueColour(unsigned hue, uint8_t rgb[3]) {
  unsigned sector = hue / 60, f = (hue % 60) * 255 / 60;
  uint8_t up = static_cast<uint8_t>(f), down = static_cast<uint8_t>(255 - f);
  const uint8_t table[6][3] = {{255, up, 0},   {down, 255, 0}, {0, 255, up},
                               {0, down, 255}, {up, 0, 255},   {255, 0, down}};
  for (int i = 0; i < 3; ++i)
    rgb[i] = table[sector % 6][i];
}

} // namespace

Bytes makeIconSheet(unsigned size, unsigned count) {
  const unsigned rows = std::max(1u, (count + kSheetColumns - 1) / kSheetColumns);
  const unsigned width = size * kSheetColumns, height = size * rows;
  Bytes raw;
  raw.reserve((width * 4 + 1) * height);
  for (unsigned y = 0; y < height; ++y) {
    raw.push_back(0); // filter: none
    for (unsigned x = 0; x < width; ++x) {
      const unsigned icon = y / size * kSheetColumns + x / size, ix = x % size, iy = y % size;
      uint8_t rgb[3] = {0, 0, 0};
      uint8_t a = 0;
      if (icon < count) { // the cells after the last icon stay transparent
        hueColour(icon * 360 / count, rgb);
        int cx = int(ix) * 2 - int(size) + 1, cy = int(iy) * 2 - int(size) + 1; // doubled
        int r = int(size) - 2;
        bool disc = icon % 2 == 0;
        int d = disc ? (cx * cx + cy * cy) : std::max(cx * cx, cy * cy);
        int outer = r * r, inner = (r - 3) * (r - 3);
        if (d <= inner)
          a = 255;
        else if (d <= outer) {
          a = 255;
          rgb[0] = rgb[1] = rgb[2] = 40;
        }
      }
      raw.insert(raw.end(), {rgb[0], rgb[1], rgb[2], a});
    }
  }
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes header;
  put32(header, width);
  put32(header, height);
  header.insert(header.end(),
                {8, 6, 0, 0, 0}); // 8 bits, RGBA, deflate, no filter set, no interlace
  chunk(out, "IHDR", header);
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  Bytes packed(packedSize);
  compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9);
  packed.resize(packedSize);
  chunk(out, "IDAT", packed);
  chunk(out, "IEND", {});
  return out;
}

} // namespace kestel::sim
