// The simulator's icon sheets are sheets the client accepts: read by its PNG reader, 32 icons to
// a row, every drawn icon present with its outline, and the cells after the last icon empty.
#include "miw/PngReader.h"
#include "miw/SpriteSheet.h"
#include "sim/IconSheet.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

TEST(SimIconSheet, EverySizeIsAValidSheetWithEveryIcon) {
  for (unsigned size : kIconSizes) {
    const Bytes png = sim::makeIconSheet(size);
    Expected<RgbaImage> image = decodePng(png);
    ASSERT_TRUE(image.ok()) << size;
    EXPECT_EQ(image->width, size * kIconsPerRow);
    EXPECT_EQ(image->height, size * 2); // 48 icons take two rows
    std::optional<SpriteSheet> sheet = SpriteSheet::fromImage(std::move(image.value()), size);
    ASSERT_TRUE(sheet) << size;
    for (unsigned n = 0; n < 2 * kIconsPerRow; ++n) {
      RgbaImage icon = sheet->icon(n);
      ASSERT_EQ(icon.pixels.size(), size * size * 4) << n;
      const size_t centre = (size / 2 * size + size / 2) * 4;
      if (n < sim::kSheetIcons)
        EXPECT_EQ(icon.pixels[centre + 3], 255) << "icon " << n << " of size " << size;
      else
        EXPECT_EQ(icon.pixels[centre + 3], 0) << "cell " << n << " of size " << size;
    }
  }
}

} // namespace
} // namespace kestel
