#include "miw/SpriteSheet.h"

#include "util/Log.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace kestel {

std::optional<SpriteSheet> SpriteSheet::fromImage(RgbaImage image, unsigned iconSize) {
  if (iconSize == 0 || image.width / kIconsPerRow != iconSize) {
    logLine("ERROR: sprite png should have 32 icons in a row");
    return std::nullopt;
  }
  return SpriteSheet(std::move(image), iconSize);
}

bool SpriteSheet::hasIcon(unsigned number) const {
  return uint64_t(number / kIconsPerRow) * size_ < image_.height;
}

RgbaImage SpriteSheet::icon(unsigned number) const {
  RgbaImage out;
  if (!hasIcon(number))
    return out;
  out.width = out.height = size_;
  out.pixels.assign(size_t(size_) * size_ * 4, 0);
  const uint32_t left = (number % kIconsPerRow) * size_;
  const uint32_t top = (number / kIconsPerRow) * size_;
  const uint32_t rows = std::min<uint32_t>(size_, image_.height - top);
  for (uint32_t y = 0; y < rows; ++y)
    std::copy_n(image_.pixel(left, top + y), size_t(size_) * 4, out.pixel(0, y));
  return out;
}

RgbaImage greyedIcon(const RgbaImage& icon) {
  RgbaImage out = icon;
  for (size_t i = 0; i + 3 < out.pixels.size(); i += 4) {
    uint8_t* p = out.pixels.data() + i;
    auto grey = static_cast<uint8_t>((unsigned(p[0]) + p[1] + p[2]) / 3);
    p[0] = p[1] = p[2] = grey;
    p[3] = static_cast<uint8_t>(p[3] / 2);
  }
  return out;
}

Bytes iconMask(const RgbaImage& icon) {
  Bytes mask(icon.pixels.size() / 4);
  for (size_t i = 0; i < mask.size(); ++i)
    mask[i] = icon.pixels[i * 4 + 3] == 0 ? 0xFF : 0;
  return mask;
}

RgbaImage maskedIcon(const RgbaImage& icon, const Bytes& mask) {
  RgbaImage out = icon;
  for (size_t i = 0; i < mask.size() && i * 4 + 3 < out.pixels.size(); ++i)
    if (mask[i])
      std::fill_n(out.pixels.data() + i * 4, 4, 0);
  return out;
}

bool IconImages::empty() const {
  for (const RgbaImage& i : normal)
    if (!i.empty())
      return false;
  return true;
}

namespace {

bool readFile(const std::string& path, Bytes& out) {
  if (path.empty())
    return false;
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

} // namespace

void IconSheets::load() {
  loaded_ = true;
  for (size_t i = 0; i < kIconSizes.size(); ++i) {
    Bytes file;
    std::string local = sources_.localFolder.empty() ? std::string()
                                                     : sources_.localFolder + "/icons" +
                                                           std::to_string(kIconSizes[i]) + ".png";
    if (!readFile(local, file) && !readFile(sources_.downloaded[i], file)) {
      logLine("ERROR: could not open icons file");
      continue;
    }
    Expected<RgbaImage> image = decodePng(file);
    if (!image) {
      logLine("ERROR: loadPNG failed");
      continue;
    }
    sheets_[i] = SpriteSheet::fromImage(std::move(image.value()), kIconSizes[i]);
  }
}

const SpriteSheet* IconSheets::sheet(size_t sizeIndex) {
  if (!loaded_)
    load();
  return sizeIndex < sheets_.size() && sheets_[sizeIndex] ? &*sheets_[sizeIndex] : nullptr;
}

IconImages IconSheets::icon(unsigned number) {
  IconImages out;
  for (size_t i = 0; i < kIconSizes.size(); ++i) {
    const SpriteSheet* s = sheet(i);
    if (!s || !s->hasIcon(number))
      continue;
    RgbaImage cut = s->icon(number);
    Bytes mask = iconMask(cut);
    out.normal[i] = maskedIcon(cut, mask);
    out.greyed[i] = maskedIcon(greyedIcon(cut), mask);
  }
  return out;
}

} // namespace kestel
