#include "gui/Icons.h"

#include <QPixmap>

namespace kestel::gui {

QImage toQImage(const RgbaImage& image) {
  if (image.empty())
    return {};
  QImage out(int(image.width), int(image.height), QImage::Format_RGBA8888);
  for (uint32_t y = 0; y < image.height; ++y)
    std::copy_n(image.pixel(0, y), size_t(image.width) * 4, out.scanLine(int(y)));
  return out;
}

QIcon IconProvider::icon(unsigned number) {
  auto it = made_.find(number);
  if (it != made_.end())
    return it->second;
  IconImages images = sheets_.icon(number);
  QIcon icon;
  for (size_t i = 0; i < images.normal.size(); ++i) {
    if (images.normal[i].empty())
      continue;
    icon.addPixmap(QPixmap::fromImage(toQImage(images.normal[i])), QIcon::Normal);
    icon.addPixmap(QPixmap::fromImage(toQImage(images.greyed[i])), QIcon::Disabled);
  }
  return made_[number] = icon;
}

} // namespace kestel::gui
