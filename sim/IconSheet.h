// The simulator's own icon sheets: a row of simple drawn icons (a coloured disc or square with a
// dark outline, one hue per index) written as an RGBA PNG with zlib.
#pragma once

#include "util/Bytes.h"

#include <cstdint>

namespace kestel::sim {

inline constexpr unsigned kSheetIcons = 48;

// A PNG of `count` icons of `size`×`size` pixels side by side.
Bytes makeIconSheet(unsigned size, unsigned count = kSheetIcons);

} // namespace kestel::sim
