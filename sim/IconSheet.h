// The simulator's own icon sheets: simple drawn icons (a coloured disc or square with a dark
// outline, one hue per index) laid out as the client expects a sheet, 32 icons to a row, and
// written as an RGBA PNG with zlib.
#pragma once

#include "util/Bytes.h"

#include <cstdint>

namespace kestel::sim {

inline constexpr unsigned kSheetIcons = 48;
inline constexpr unsigned kSheetColumns = 32;

// A PNG of `count` icons of `size`×`size` pixels, icon n in row n / 32 and column n % 32; the
// cells after the last icon are transparent.
Bytes makeIconSheet(unsigned size, unsigned count = kSheetIcons);

} // namespace kestel::sim
