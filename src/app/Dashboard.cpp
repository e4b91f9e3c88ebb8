#include "app/Dashboard.h"

#include "api/container/DescriptorContainers.h"
#include "api/container/MapFactories.h"
#include "api/container/MapRegistry.h"
#include "app/MenuCatalog.h"
#include "gen/CType.h"
#include "gen/Slot.h"
#include "util/Log.h"

namespace kestel {

std::vector<uint32_t> unpackIds(const std::optional<std::string>& value) {
  std::vector<uint32_t> ids;
  if (!value || value->size() % 4 != 0)
    return ids;
  for (size_t i = 0; i < value->size(); i += 4) {
    uint32_t id = 0;
    for (size_t b = 0; b < 4; ++b)
      id |= uint32_t(uint8_t((*value)[i + b])) << (8 * b);
    ids.push_back(id);
  }
  return ids;
}

std::string packIds(const std::vector<uint32_t>& ids) {
  std::string out;
  for (uint32_t id : ids)
    out += packData(id);
  return out;
}

Dashboard::Dashboard(SettingsRegistry& settings, Reactor& reactor)
    : settings_(settings), reactor_(reactor) {}

Dashboard::~Dashboard() { reactor_.removeTimer(timer_); }

Expected<std::unique_ptr<MonitorFeed>> Dashboard::follow(const MonitorTarget& target) {
  Expected<MenuRef> menu = findMenu(target.menu);
  if (!menu)
    return menu.error();
  CType& type = *menu->type;
  const Slot* slot = findField(type, target.field);
  if (!slot)
    return makeError("no field " + target.field + " in " + target.menu);
  Path path = type.pathIds();
  if (type.kind() == TypeKind::Item) {
    Reference<ObjectHolder> holder = getObjectHolder(path);
    if (!holder) {
      holder = createObjectHolder(static_cast<CItem&>(type));
      holder->refresh();
    }
    return std::make_unique<MonitorFeed>(holder, *slot, type);
  }
  if (type.kind() != TypeKind::Map || target.object == kNoId)
    return makeError(target.menu + " holds no objects to follow");
  Reference<ObjectMap> map = dynamic_cast<ObjectMap*>(getObjectMap(path));
  if (!map) {
    map = createContainer(static_cast<CMap&>(type));
    if (!map)
      return makeError(target.menu + " cannot be read");
    map->open();
  }
  return std::make_unique<MonitorFeed>(map, target.object, *slot, type);
}

// The name a monitor gets when the user gave none: "ether1 Tx", "CPU Load".
static std::string defaultName(const MonitorFeed& feed) {
  std::string object = feed.objectName();
  return object.empty() ? feed.fieldTitle() : object + " " + feed.fieldTitle();
}

Expected<size_t> Dashboard::addMonitor(const MonitorTarget& target, std::string name) {
  Expected<std::unique_ptr<MonitorFeed>> feed = follow(target);
  if (!feed)
    return feed.error();
  if (name.empty())
    name = defaultName(**feed);
  return append({std::move(name), target, std::move(*feed), {}, kNoSettingsId});
}

Expected<size_t> Dashboard::addMonitor(Reference<ObjectMap> map, const CType& type, uint32_t id,
                                       const Slot& slot) {
  for (const MenuRef& menu : menuEntries()) {
    if (menu.type != &type)
      continue;
    auto feed = std::make_unique<MonitorFeed>(std::move(map), id, slot, type);
    std::string name = defaultName(*feed);
    return append(
        {std::move(name), {menu.name, id, slot.name()}, std::move(feed), {}, kNoSettingsId});
  }
  return makeError("no menu for " + type.title());
}

size_t Dashboard::append(Applet applet) {
  applets_.push_back(std::move(applet));
  store();
  if (timer_ == 0)
    timer_ = reactor_.addTimer(
        kMonitorIntervalMs, [this] { tick(); }, true);
  tell(Change::Applets);
  return applets_.size() - 1;
}

void Dashboard::remove(size_t index) {
  if (index >= applets_.size())
    return;
  // The applet's feed lives until the listeners have let go of it.
  Applet gone = std::move(applets_[index]);
  if (gone.record != kNoSettingsId)
    settings_.removeSettings(gone.record);
  applets_.erase(applets_.begin() + std::ptrdiff_t(index));
  store();
  tell(Change::Applets);
}

void Dashboard::store() {
  std::vector<uint32_t> ids;
  for (Applet& a : applets_) {
    StringMap record;
    record.set("name", packData(a.name));
    record.set("menu", packData(a.target.menu));
    record.set("obj", packData(a.target.object));
    record.set("field", packData(a.target.field));
    StringMap* kept =
        a.record == kNoSettingsId ? nullptr : settings_.getSettings(a.record, nullptr, 0);
    if (kept)
      *kept = std::move(record);
    else
      a.record = settings_.registerSettings(std::move(record), kAppletRecordFlags);
    ids.push_back(a.record);
  }
  StringMap* main = settings_.getSettings(0, nullptr, settings_.flagsOf(0));
  if (!main) {
    logLine("ERROR: no settings record 0 to keep the dashboard in");
    return;
  }
  main->set(kDashboardKey, packIds(ids));
}

void Dashboard::restore() {
  // The old feeds live until the listeners have let go of them.
  std::vector<Applet> old = std::move(applets_);
  applets_.clear();
  const StringMap* main = settings_.getSettings(0, nullptr, settings_.flagsOf(0));
  for (uint32_t id : unpackIds(main ? main->get(kDashboardKey) : std::nullopt)) {
    const StringMap* record = settings_.getSettings(id, nullptr, settings_.flagsOf(id));
    if (!record)
      continue;
    Applet applet;
    applet.record = id;
    unpackData(record->get("name"), applet.name);
    unpackData(record->get("menu"), applet.target.menu);
    unpackData(record->get("obj"), applet.target.object);
    unpackData(record->get("field"), applet.target.field);
    Expected<std::unique_ptr<MonitorFeed>> feed = follow(applet.target);
    if (feed)
      applet.feed = std::move(*feed);
    else
      applet.problem = feed.error().text;
    applets_.push_back(std::move(applet));
  }
  if (!applets_.empty() && timer_ == 0)
    timer_ = reactor_.addTimer(
        kMonitorIntervalMs, [this] { tick(); }, true);
  tell(Change::Applets);
}

void Dashboard::tick() {
  int64_t now = reactor_.now();
  for (Applet& a : applets_)
    if (a.feed)
      a.feed->sample(now);
  tell(Change::Sampled);
}

void Dashboard::tell(Change change) {
  if (changed_)
    changed_(change);
}

} // namespace kestel
