// Where a window on the session desktop goes: the geometry types, the placement record that
// remembers a kind of window's bounds between runs, and the placing rules (centre at the
// preferred size, fit into the desktop, cascade windows of one type). All coordinates are the
// desktop's client coordinates; nothing here needs a screen.
#pragma once

#include "miw/StringMap.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestel {

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  int width = 0;
  int height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int width() const { return right - left; }
  int height() const { return bottom - top; }
  // Zero width and zero height: "no bounds known".
  bool empty() const { return width() == 0 && height() == 0; }
  Point topLeft() const { return {left, top}; }
  Rect movedBy(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
  bool operator==(const Rect&) const = default;
};

// Field names of a placement record.
inline constexpr std::string_view kPlacementBounds = "bounds";
inline constexpr std::string_view kPlacementMaximised = "maxz";
inline constexpr std::string_view kPlacementType = "type";
inline constexpr std::string_view kPlacementSubtype = "subtype";
inline constexpr std::string_view kPlacementObjectId = "tid";
inline constexpr uint32_t kNoObjectId = 0xFFFFFFFF;

// What a placement record holds. Bounds are present only when the field is exactly 8 bytes
// (left, top, right, bottom as signed 16-bit little-endian values); a "tid" of any length other
// than 4 bytes reads as kNoObjectId.
struct Placement {
  std::optional<Rect> bounds;
  bool maximised = false;
  std::string type;
  std::string subtype;
  uint32_t objectId = kNoObjectId;
};

Placement readPlacement(const StringMap& record);
// Writes "bounds", "maxz", "type" and "subtype"; an empty type or subtype removes its field.
// Coordinates beyond the 16-bit range are clamped to it.
void writePlacement(StringMap& record, const Rect& bounds, bool maximised, const std::string& type,
                    const std::string& subtype);

// Lists of settings ids ("open", "wm-id"): 4 little-endian bytes per id. A value whose length
// is not a multiple of 4 reads as no ids.
std::string packIdList(const std::vector<uint32_t>& ids);
std::vector<uint32_t> unpackIdList(const std::optional<std::string>& value);

// The preferred size centred in `area`; an offset that would be negative becomes 0.
Rect centredRect(Size preferred, const Rect& area);
// `r` moved (and, when larger than `area`, shrunk, though never below `minimum`) so that it lies
// inside `area` as far as its size allows. An area without width or height (a desktop not laid
// out yet) leaves `r` as it is.
Rect fitIntoRect(const Rect& r, const Rect& area, Size minimum = {});
// Moves `r` right and down by `step` while one of `taken` (top-left corners of other windows of
// the same type) equals its top-left corner, at most once per taken corner; an axis whose far
// edge passes the area's goes back to the area's start, keeping the size.
Rect cascadeRect(Rect r, const std::vector<Point>& taken, int step, const Rect& area);
// Tiles for windows with the given minimum sizes: ceil(sqrt(n)) columns of equal width, filled in
// order, the later columns taking one window more when the count does not divide evenly; each
// column's height shared equally. A window whose minimum exceeds its tile grows into its
// neighbours but stays inside `area` (as fitIntoRect places it). An area without width or height
// gives no tiles.
std::vector<Rect> tileRects(const std::vector<Size>& minimum, const Rect& area);

} // namespace kestel
