// Icons by number for menus, tables and windows, cut from the router's sprite sheets
// (miw/SpriteSheet.h): each QIcon holds the 16, 24 and 32 pixel images for the normal mode and
// the greyed images for the disabled mode. Icons are made on first request and kept.
#pragma once

#include "miw/SpriteSheet.h"

#include <QIcon>
#include <QImage>

#include <map>

namespace kestel::gui {

// A copy of decoded RGBA pixels as a QImage.
QImage toQImage(const RgbaImage& image);

class IconProvider {
public:
  explicit IconProvider(IconSources sources) : sheets_(std::move(sources)) {}
  // The icon of sprite `number`; a null QIcon when no sheet has it.
  QIcon icon(unsigned number);

private:
  IconSheets sheets_;
  std::map<unsigned, QIcon> made_;
};

} // namespace kestel::gui
