// Icons cut from generated sheets with known pixels: numbering, the 32-in-a-row rule, greyed and
// mask rules, and where the sheets are looked for. Sheets are written by libpng, not by us.
#include "miw/SpriteSheet.h"

#include "support/TempFolder.h"
#include "util/Log.h"

#include <gtest/gtest.h>
#include <png.h>

#include <fstream>

namespace kestel {
namespace {

// Pixel (x, y) of a test sheet: red = x, green = y, blue = x ^ y, alpha from the icon number's
// parity and the position (some fully transparent, some 200).
uint8_t alphaAt(uint32_t x, uint32_t y) { return (x + y) % 5 == 0 ? 0 : (x % 2 ? 200 : 255); }

RgbaImage testSheet(uint32_t w, uint32_t h) {
  RgbaImage img;
  img.width = w;
  img.height = h;
  img.pixels.resize(size_t(w) * h * 4);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* p = img.pixel(x, y);
      p[0] = uint8_t(x);
      p[1] = uint8_t(y);
      p[2] = uint8_t(x ^ y);
      p[3] = alphaAt(x, y);
    }
  return img;
}

bool writePng(const std::string& path, const RgbaImage& img) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = img.width;
  image.height = img.height;
  image.format = PNG_FORMAT_RGBA;
  return png_image_write_to_file(&image, path.c_str(), 0, img.pixels.data(), 0, nullptr) != 0;
}

TEST(SpriteSheet, IconNumbersAddressRowsOfThirtyTwo) {
  std::optional<SpriteSheet> sheet = SpriteSheet::fromImage(testSheet(512, 48), 16);
  ASSERT_TRUE(sheet);
  EXPECT_TRUE(sheet->hasIcon(0));
  EXPECT_TRUE(sheet->hasIcon(95));
  EXPECT_FALSE(sheet->hasIcon(96));
  EXPECT_TRUE(sheet->icon(96).empty());
  for (unsigned n : {0u, 33u, 95u}) {
    RgbaImage icon = sheet->icon(n);
    ASSERT_EQ(icon.width, 16u);
    const uint32_t left = (n % 32) * 16, top = (n / 32) * 16;
    for (uint32_t y = 0; y < 16; y += 5)
      for (uint32_t x = 0; x < 16; x += 3) {
        const uint8_t* p = icon.pixel(x, y);
        EXPECT_EQ(p[0], uint8_t(left + x)) << n;
        EXPECT_EQ(p[1], uint8_t(top + y)) << n;
        EXPECT_EQ(p[3], alphaAt(left + x, top + y)) << n;
      }
  }
  // A last row cut short: the icon exists, its missing pixels are transparent.
  std::optional<SpriteSheet> shortSheet = SpriteSheet::fromImage(testSheet(512, 20), 16);
  ASSERT_TRUE(shortSheet);
  RgbaImage cut = shortSheet->icon(40);
  ASSERT_FALSE(cut.empty());
  EXPECT_EQ(cut.pixel(0, 3)[1], 19);
  EXPECT_EQ(cut.pixel(0, 4)[3], 0);
}

TEST(SpriteSheet, SheetsWithoutThirtyTwoIconsInARowAreRefused) {
  for (auto [width, size] : {std::pair{500u, 16u}, {512u, 24u}, {768u, 16u}}) {
    CaptureLogSink log;
    EXPECT_FALSE(SpriteSheet::fromImage(testSheet(width, 16), size)) << width;
    EXPECT_TRUE(log.contains("ERROR: sprite png should have 32 icons in a row"));
  }
  EXPECT_TRUE(SpriteSheet::fromImage(testSheet(1024, 32), 32));
  EXPECT_TRUE(SpriteSheet::fromImage(testSheet(780, 24), 24)) << "780 / 32 is 24";
}

TEST(SpriteSheet, GreyedAndMaskRules) {
  RgbaImage px = testSheet(4, 1);
  px.pixels = {30, 60, 91, 200, /**/ 255, 255, 255, 0, /**/ 1, 2, 4, 255, /**/ 9, 9, 9, 1};
  RgbaImage grey = greyedIcon(px);
  EXPECT_EQ(grey.pixels, (Bytes{60, 60, 60, 100, 255, 255, 255, 0, 2, 2, 2, 127, 9, 9, 9, 0}));
  Bytes mask = iconMask(px);
  EXPECT_EQ(mask, (Bytes{0, 0xFF, 0, 0}));
  // Through the mask the transparent pixel is transparent in both variants; the one with alpha 1
  // keeps its colour in the normal variant.
  EXPECT_EQ(maskedIcon(px, mask).pixels,
            (Bytes{30, 60, 91, 200, 0, 0, 0, 0, 1, 2, 4, 255, 9, 9, 9, 1}));
  EXPECT_EQ(maskedIcon(grey, mask).pixels,
            (Bytes{60, 60, 60, 100, 0, 0, 0, 0, 2, 2, 2, 127, 9, 9, 9, 0}));
}

TEST(IconSheets, LocalSheetsComeFirstThenDownloadedOnesAndBadOnesAreEmpty) {
  test::TempFolder dir;
  ASSERT_TRUE(writePng(dir.path() + "/icons16.png", testSheet(512, 32)));
  ASSERT_TRUE(writePng(dir.path() + "/wrong16.png", testSheet(64, 64)));
  ASSERT_TRUE(writePng(dir.path() + "/dl24.png", testSheet(768, 72)));
  std::ofstream(dir.path() + "/broken32.png") << "\x89PNG\r\n\x1a\n garbage";
  CaptureLogSink log;
  IconSheets sheets(
      {dir.path(),
       {dir.path() + "/wrong16.png", dir.path() + "/dl24.png", dir.path() + "/broken32.png"}});
  IconImages icon = sheets.icon(33);
  EXPECT_EQ(icon.normal[0].width, 16u) << "the local 16-pixel sheet wins over the downloaded one";
  EXPECT_EQ(icon.normal[1].width, 24u) << "no local 24-pixel sheet: the downloaded one serves";
  EXPECT_TRUE(icon.normal[2].empty());
  EXPECT_TRUE(log.contains("ERROR: loadPNG failed"));
  EXPECT_EQ(icon.greyed[0].pixel(1, 0)[3], 100) << "alpha 200 halves in the greyed variant";
  EXPECT_TRUE(sheets.icon(64).normal[0].empty()) << "row 2 starts at the 16-pixel sheet's bottom";
  EXPECT_FALSE(sheets.icon(64).normal[1].empty());

  CaptureLogSink missing;
  IconSheets none({dir.path() + "/nowhere", {"", "", ""}});
  EXPECT_TRUE(none.icon(0).empty());
  EXPECT_TRUE(missing.contains("ERROR: could not open icons file"));
}

} // namespace
} // namespace kestel
