#include "miw/NamedViews.h"

namespace kestel {

std::string formatViews(const ViewList& views) {
  std::string out;
  for (const auto& [name, view] : views) {
    auto packed = packMap(view);
    if (!packed.ok() || name.empty() || name.size() > kMaxViewName || packed->size() > 0xFFFF)
      continue; // NamedViews::save refuses these before they get here
    out += static_cast<char>(name.size());
    out += name;
    out += static_cast<char>(packed->size() & 0xFF);
    out += static_cast<char>(packed->size() >> 8);
    out.append(reinterpret_cast<const char*>(packed->data()), packed->size());
  }
  return out;
}

ViewList parseViews(std::string_view bytes) {
  ViewList views;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t nameLen = static_cast<unsigned char>(bytes[at]);
    if (nameLen == 0 || nameLen > kMaxViewName || bytes.size() - at < 1 + nameLen + 2)
      break;
    std::string name(bytes.substr(at + 1, nameLen));
    at += 1 + nameLen;
    size_t len = static_cast<unsigned char>(bytes[at]) |
                 (size_t(static_cast<unsigned char>(bytes[at + 1])) << 8);
    at += 2;
    if (bytes.size() - at < len)
      break;
    auto map = unpackMap(ByteSpan(reinterpret_cast<const uint8_t*>(bytes.data() + at), len));
    at += len;
    if (!map)
      break;
    views.emplace(std::move(name), std::move(*map)); // a repeated name keeps its first view
  }
  return views;
}

std::vector<std::string> NamedViews::names() const {
  std::vector<std::string> out;
  for (const auto& entry : load())
    out.push_back(entry.first);
  return out;
}

std::optional<StringMap> NamedViews::recall(std::string_view name) const {
  ViewList views = load();
  auto it = views.find(std::string(name));
  if (it == views.end())
    return std::nullopt;
  return it->second;
}

Expected<void> NamedViews::save(std::string_view name, const StringMap& view) {
  if (name.empty())
    return makeError("A view needs a name");
  if (name.size() > kMaxViewName)
    return makeError("A view name may be at most " + std::to_string(kMaxViewName) + " bytes long");
  auto packed = packMap(view);
  if (!packed.ok())
    return makeError("This view cannot be saved");
  ViewList views = load();
  views[std::string(name)] = view;
  std::string bytes = formatViews(views);
  if (bytes.size() > kMaxViewsBytes)
    return makeError("There is no room for more views of this table; remove one first");
  if (!store(views))
    return makeError("The settings are not loaded; the view cannot be kept");
  return {};
}

bool NamedViews::remove(std::string_view name) {
  ViewList views = load();
  if (views.erase(std::string(name)) == 0)
    return false;
  return store(views);
}

ViewList NamedViews::load() const {
  const StringMap* record = settings_.getSettings(0, nullptr, kMainWindowSettingsFlags);
  if (!record)
    return {};
  auto value = record->get(key_);
  return value ? parseViews(*value) : ViewList{};
}

bool NamedViews::store(const ViewList& views) {
  StringMap* record = settings_.getSettings(0, nullptr, kMainWindowSettingsFlags);
  if (!record)
    return false;
  if (views.empty())
    record->remove(key_);
  else
    record->set(key_, formatViews(views));
  return true;
}

} // namespace kestel
