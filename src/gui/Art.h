// The program's own art: the application icon and the toolkit bitmaps (compact-button glyphs),
// drawn from SVG sources compiled into the program. Glyphs take the palette's text colour, so
// they follow a light or dark desktop theme; every pixmap is rendered at the device pixel ratio
// of the screen it is for, so HiDPI screens get sharp images.
#pragma once

#include <QIcon>
#include <QPalette>

namespace kestel::gui {

enum class Glyph {
  Add,
  Remove,
  Reset,
  Provide,
  // The table panes' toolbar.
  Enable,
  Disable,
  Comment,
  Filter,
  Copy,
  Paste,
  Freeze,
};

QIcon applicationIcon();
// The glyph in the colours of `palette` (normal and disabled text colours).
QIcon glyphIcon(Glyph glyph, const QPalette& palette);
// True when the palette is a dark theme (its window colour darker than its text).
bool isDarkPalette(const QPalette& palette);

} // namespace kestel::gui
