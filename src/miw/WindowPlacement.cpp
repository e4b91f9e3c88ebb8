#include "miw/WindowPlacement.h"

#include <algorithm>
#include <limits>

namespace kestel {
namespace {

void put16(std::string& out, int v) {
  v = std::clamp(v, int(std::numeric_limits<int16_t>::min()),
                 int(std::numeric_limits<int16_t>::max()));
  auto u = static_cast<uint16_t>(static_cast<int16_t>(v));
  out.push_back(char(u & 0xFF));
  out.push_back(char(u >> 8));
}

int get16(const std::string& in, size_t at) {
  auto u = static_cast<uint16_t>(uint8_t(in[at]) | (uint8_t(in[at + 1]) << 8));
  return static_cast<int16_t>(u);
}

} // namespace

Placement readPlacement(const StringMap& record) {
  Placement p;
  if (std::optional<std::string> b = record.get(kPlacementBounds); b && b->size() == 8)
    p.bounds = Rect{get16(*b, 0), get16(*b, 2), get16(*b, 4), get16(*b, 6)};
  if (std::optional<std::string> m = record.get(kPlacementMaximised); m && m->size() == 1)
    p.maximised = (*m)[0] == 1;
  (void)unpackData(record.get(kPlacementType), p.type);
  (void)unpackData(record.get(kPlacementSubtype), p.subtype);
  if (!unpackData(record.get(kPlacementObjectId), p.objectId))
    p.objectId = kNoObjectId;
  return p;
}

void writePlacement(StringMap& record, const Rect& bounds, bool maximised, const std::string& type,
                    const std::string& subtype) {
  std::string b;
  put16(b, bounds.left);
  put16(b, bounds.top);
  put16(b, bounds.right);
  put16(b, bounds.bottom);
  record.set(kPlacementBounds, b);
  record.set(kPlacementMaximised, std::string(1, maximised ? '\1' : '\0'));
  if (type.empty())
    record.remove(kPlacementType);
  else
    record.set(kPlacementType, type);
  if (subtype.empty())
    record.remove(kPlacementSubtype);
  else
    record.set(kPlacementSubtype, subtype);
}

std::string packIdList(const std::vector<uint32_t>& ids) {
  std::string out;
  for (uint32_t id : ids)
    out += packData(id);
  return out;
}

std::vector<uint32_t> unpackIdList(const std::optional<std::string>& value) {
  std::vector<uint32_t> ids;
  if (!value || value->size() % 4 != 0)
    return ids;
  for (size_t at = 0; at < value->size(); at += 4) {
    uint32_t id = 0;
    for (int i = 3; i >= 0; --i)
      id = (id << 8) | uint8_t((*value)[at + size_t(i)]);
    ids.push_back(id);
  }
  return ids;
}

Rect centredRect(Size preferred, const Rect& area) {
  int left = std::max(0, area.left + (area.width() - preferred.width) / 2);
  int top = std::max(0, area.top + (area.height() - preferred.height) / 2);
  return {left, top, left + preferred.width, top + preferred.height};
}

Rect fitIntoRect(const Rect& r, const Rect& area, Size minimum) {
  if (area.width() <= 0 || area.height() <= 0)
    return r; // a desktop not laid out yet: nothing to fit into
  int width = std::max(std::min(r.width(), area.width()), minimum.width);
  int height = std::max(std::min(r.height(), area.height()), minimum.height);
  int left = std::max(std::min(r.left, area.right - width), area.left);
  int top = std::max(std::min(r.top, area.bottom - height), area.top);
  return {left, top, left + width, top + height};
}

Rect cascadeRect(Rect r, const std::vector<Point>& taken, int step, const Rect& area) {
  for (size_t round = 0; round < taken.size(); ++round) {
    if (std::find(taken.begin(), taken.end(), r.topLeft()) == taken.end())
      break;
    r = r.movedBy(step, step);
    if (area.width() <= 0 || area.height() <= 0)
      continue;
    if (r.right > area.right)
      r = r.movedBy(area.left - r.left, 0);
    if (r.bottom > area.bottom)
      r = r.movedBy(0, area.top - r.top);
  }
  return r;
}

std::vector<Rect> tileRects(const std::vector<Size>& minimum, const Rect& area) {
  std::vector<Rect> out;
  const size_t n = minimum.size();
  if (n == 0 || area.width() <= 0 || area.height() <= 0)
    return out;
  size_t columns = 1;
  while (columns * columns < n)
    ++columns;
  const size_t base = n / columns, longer = n % columns; // the last `longer` columns take one more
  size_t next = 0;
  for (size_t c = 0; c < columns && next < n; ++c) {
    const size_t rows = base + (c >= columns - longer ? 1 : 0);
    if (rows == 0)
      continue;
    const int left = area.left + int(int64_t(area.width()) * int64_t(c) / int64_t(columns));
    const int right = area.left + int(int64_t(area.width()) * int64_t(c + 1) / int64_t(columns));
    for (size_t r = 0; r < rows && next < n; ++r, ++next) {
      const int top = area.top + int(int64_t(area.height()) * int64_t(r) / int64_t(rows));
      const int bottom = area.top + int(int64_t(area.height()) * int64_t(r + 1) / int64_t(rows));
      out.push_back(fitIntoRect({left, top, right, bottom}, area, minimum[next]));
    }
  }
  return out;
}

} // namespace kestel
