// Feeds arbitrary files to the icon sheets' PNG reader; a decoded image is cut into icons the way
// the sheets are, so the cutting sees every size the reader lets through.
#include "miw/PngReader.h"
#include "miw/SpriteSheet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestel;
  Expected<RgbaImage> image = decodePng(ByteSpan(data, size));
  if (!image)
    return 0;
  if (image->pixels.size() != size_t(image->width) * image->height * 4)
    __builtin_trap();
  const unsigned iconSize = image->width / kIconsPerRow;
  std::optional<SpriteSheet> sheet = SpriteSheet::fromImage(std::move(image.value()), iconSize);
  if (!sheet)
    return 0;
  for (unsigned n : {0u, 31u, 32u, 1000u}) {
    RgbaImage icon = sheet->icon(n);
    if (!icon.empty())
      (void)maskedIcon(greyedIcon(icon), iconMask(icon));
  }
  return 0;
}
