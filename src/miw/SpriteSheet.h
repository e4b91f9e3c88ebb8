// Icon sprite sheets: the router's three PNG sheets (16, 24 and 32 pixel icons, always 32 icons
// in a row) and the icons cut from them by number. Icon n sits in row n / 32, column n % 32. Each
// icon comes in a normal and a greyed (disabled) variant; the mask marks the pixels that are
// fully transparent. Nothing here draws: the GUI turns the pixels into its own icon objects.
#pragma once

#include "miw/PngReader.h"

#include <array>
#include <optional>
#include <string>

namespace kestel {

inline constexpr unsigned kIconsPerRow = 32;
inline constexpr std::array<unsigned, 3> kIconSizes = {16, 24, 32};

class SpriteSheet {
public:
  // A sheet of `iconSize` icons; refused (logging "ERROR: sprite png should have 32 icons in a
  // row") when the width divided by 32 is not the icon size.
  static std::optional<SpriteSheet> fromImage(RgbaImage image, unsigned iconSize);

  unsigned iconSize() const { return size_; }
  // Whether icon `number` exists: its row starts above the sheet's bottom edge. A last row cut
  // short by the sheet's height gives icons whose missing pixels are transparent.
  bool hasIcon(unsigned number) const;
  // The icon's pixels (iconSize × iconSize RGBA); empty when it does not exist.
  RgbaImage icon(unsigned number) const;

private:
  SpriteSheet(RgbaImage image, unsigned size) : image_(std::move(image)), size_(size) {}
  RgbaImage image_;
  unsigned size_;
};

// The greyed variant: each pixel grey (r + g + b) / 3 in all three channels, alpha halved.
RgbaImage greyedIcon(const RgbaImage& icon);
// One byte per pixel: 0xFF where the pixel is transparent (alpha 0), 0 elsewhere.
Bytes iconMask(const RgbaImage& icon);
// The pixels with the mask applied: every masked pixel becomes transparent black, the way the
// platform draws an icon through its mask.
RgbaImage maskedIcon(const RgbaImage& icon, const Bytes& mask);

// One icon number in the three sizes, normal and greyed; a size whose sheet is missing or bad,
// or that has no such icon, is empty.
struct IconImages {
  std::array<RgbaImage, 3> normal;
  std::array<RgbaImage, 3> greyed;
  bool empty() const;
};

// Where each sheet is looked for: first `<localFolder>/icons16.png` (icons24, icons32), then the
// path the descriptor cache recorded for the router's "icons.png", "icons24.png", "icons32.png".
struct IconSources {
  std::string localFolder;
  std::array<std::string, 3> downloaded;
};

// The three sheets, loaded together on the first icon request and kept from then on.
class IconSheets {
public:
  explicit IconSheets(IconSources sources) : sources_(std::move(sources)) {}
  IconImages icon(unsigned number);
  // The sheet of size index 0..2 (after loading); null when missing or bad.
  const SpriteSheet* sheet(size_t sizeIndex);

private:
  void load();
  IconSources sources_;
  bool loaded_ = false;
  std::array<std::optional<SpriteSheet>, 3> sheets_;
};

} // namespace kestel
