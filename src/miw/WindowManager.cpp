#include "miw/WindowManager.h"

#include "util/Log.h"

#include <algorithm>

namespace kestel {

WindowManager::WindowManager(SettingsRegistry& settings, IDesktop& desktop)
    : settings_(settings), desktop_(desktop) {}

WindowManager::~WindowManager() {
  if (restoreTimer_)
    currentReactor().removeTimer(restoreTimer_);
}

std::string WindowManager::kindKey(const std::string& type, const std::string& subtype) {
  return type + '\n' + subtype;
}

uint32_t WindowManager::placementId(const std::string& type, const std::string& subtype) const {
  auto it = placementIndex_.find(kindKey(type, subtype));
  return it == placementIndex_.end() ? kNoSettingsId : it->second;
}

std::vector<WindowManager::Record>::iterator WindowManager::find(const IManagedWindow* window) {
  return std::find_if(records_.begin(), records_.end(),
                      [&](const Record& r) { return r.window == window; });
}

bool WindowManager::manages(const IManagedWindow* window) const {
  return std::any_of(records_.begin(), records_.end(),
                     [&](const Record& r) { return r.window == window; });
}

bool WindowManager::openedWindow(IWindowProducer* producer, void* context) const {
  return std::any_of(records_.begin(), records_.end(), [&](const Record& r) {
    return r.producer.get() == producer && r.context == context;
  });
}

IManagedWindow* WindowManager::openWindow(IWindowProducer* producer, void* context) {
  for (Record& r : records_)
    if (r.producer.get() == producer && r.context == context) {
      raise(*r.window);
      return r.window;
    }
  IManagedWindow* window = context ? producer->createWindow(context) : producer->createWindow();
  if (!window)
    return nullptr;
  open(*window, producer, context, producer->type(), producer->subtype(), nullptr);
  return window;
}

void WindowManager::openWindow(IManagedWindow& window, const std::string& type) {
  open(window, nullptr, nullptr, type, {}, nullptr);
}

void WindowManager::open(IManagedWindow& window, IWindowProducer* producer, void* context,
                         const std::string& type, const std::string& subtype,
                         const StringMap* placement) {
  desktop_.addWindow(window);
  Placement saved;
  if (placement) {
    saved = readPlacement(*placement);
  } else if (!type.empty() || !subtype.empty()) {
    uint32_t id = placementId(type, subtype);
    if (const StringMap* record = id == kNoSettingsId
                                      ? nullptr
                                      : settings_.getSettings(id, nullptr, settings_.flagsOf(id)))
      saved = readPlacement(*record);
  }
  const Rect area = desktop_.clientRect();
  Rect bounds = saved.bounds.value_or(Rect{});
  if (bounds.empty())
    bounds = centredRect(window.preferredSize(), area);
  // At least the window's minimum size, which the frame would enforce anyway, so the fitting
  // accounts for the size the window really gets.
  bounds = fitIntoRect(bounds, area, window.smallestSize());
  std::vector<Point> taken;
  for (const Record& r : records_)
    if (r.type == type)
      taken.push_back(r.window->bounds().topLeft());
  bounds = cascadeRect(bounds, taken, desktop_.captionHeight(), area);

  uint32_t entry = desktop_.addLauncherEntry(window, kWindowsGroupIcon);
  records_.push_back({producer, &window, type, subtype, context, window.persistent(), entry});
  window.setBounds(bounds);
  if (saved.maximised)
    window.setMaximised(true);
  if (placement && records_.back().persistent)
    records_.back().persistent->loadState(*placement);
  window.showAndFocus();
  desktop_.windowActivated(window);
}

void WindowManager::raise(IManagedWindow& window) {
  if (!window.mayRaise())
    return;
  Rect now = window.bounds();
  Rect fitted = fitIntoRect(now, desktop_.clientRect(), window.preferredSize());
  if (fitted != now)
    window.setBounds(fitted);
  window.showAndFocus();
  desktop_.windowActivated(window);
}

void WindowManager::storePlacement(const Record& r) {
  if (r.type.empty() && r.subtype.empty())
    return;
  uint32_t flags = r.producer && !r.producer->type().empty() ? kProducedPlacementRecordFlags
                                                             : kPlacementRecordFlags;
  uint32_t id = placementId(r.type, r.subtype);
  uint32_t newId = kNoSettingsId;
  StringMap* record = settings_.getSettings(id, &newId, flags);
  if (!record)
    return;
  writePlacement(*record, r.window->bounds(), r.window->isMaximised(), r.type, r.subtype);
  if (r.persistent)
    r.persistent->saveState(*record, flags);
  if (newId != kNoSettingsId)
    placementIndex_[kindKey(r.type, r.subtype)] = newId;
}

void WindowManager::windowDestroyed(IManagedWindow* window) {
  auto it = find(window);
  if (it == records_.end())
    return;
  if (!closing_)
    storePlacement(*it);
  desktop_.removeLauncherEntry(it->launcherEntry);
  records_.erase(it);
}

void WindowManager::save(StringMap& session) {
  std::vector<uint32_t> open;
  for (IManagedWindow* window : desktop_.windowsTopFirst()) {
    auto it = find(window);
    if (it == records_.end() || (it->type.empty() && it->subtype.empty()))
      continue;
    uint32_t id = settings_.registerSettings({}, kOpenWindowRecordFlags);
    StringMap* record = settings_.getSettings(id, nullptr, kOpenWindowRecordFlags);
    if (!record)
      continue;
    writePlacement(*record, window->bounds(), window->isMaximised(), it->type, it->subtype);
    if (it->persistent)
      it->persistent->saveState(*record, kOpenWindowRecordFlags);
    if (it->producer)
      record->set(kPlacementObjectId, packData(it->producer->objectId()));
    open.push_back(id);
  }
  std::vector<uint32_t> placements;
  for (const auto& [key, id] : placementIndex_)
    placements.push_back(id);
  session.set("open", packIdList(open));
  session.set("wm-id", packIdList(placements));
}

void WindowManager::init(const StringMap& session) {
  for (uint32_t id : unpackIdList(session.get("wm-id")))
    if (const StringMap* record = settings_.getSettings(id, nullptr, settings_.flagsOf(id))) {
      Placement p = readPlacement(*record);
      placementIndex_[kindKey(p.type, p.subtype)] = id;
    }
  std::vector<uint32_t> open = unpackIdList(session.get("open"));
  const uint64_t generation = ++generation_;
  slots_.assign(open.size(), {});
  pending_ = open.size();
  if (restoreTimer_)
    currentReactor().removeTimer(restoreTimer_);
  restoreTimer_ = 0;
  if (pending_ > 0)
    restoreTimer_ = currentReactor().addTimer(
        kRestoreTimeoutMs,
        [this] {
          restoreTimer_ = 0;
          if (pending_ > 0)
            openPendingWindows();
        },
        false);
  for (size_t i = 0; i < open.size() && generation == generation_; ++i) {
    const StringMap* record = settings_.getSettings(open[i], nullptr, settings_.flagsOf(open[i]));
    if (!record) {
      consumeObject(generation, i, nullptr);
      continue;
    }
    slots_[i].record = *record;
    Placement p = readPlacement(*record);
    if (p.type.empty() && p.subtype.empty()) {
      consumeObject(generation, i, nullptr);
      continue;
    }
    settings_.removeSettings(open[i]);
    lookupObject(p.type, p.subtype, p.objectId,
                 [this, generation, i](Reference<IWindowProducer> object) {
                   consumeObject(generation, i, std::move(object));
                 });
  }
  logLine("WindowManager::init end");
}

void WindowManager::consumeObject(uint64_t generation, size_t slot,
                                  Reference<IWindowProducer> object) {
  logf("consumeObject objsInLookup=", pending_);
  if (pending_ == 0 || generation != generation_ || slot >= slots_.size()) {
    logLine("object arrived too late");
    return;
  }
  if (!object)
    logLine("ERROR: no object");
  slots_[slot].object = std::move(object);
  if (--pending_ == 0)
    openPendingWindows();
}

void WindowManager::openPendingWindows() {
  logLine("openPendingWindows");
  pending_ = 0;
  ++generation_; // deliveries still under way for this restore are late from now on
  if (restoreTimer_) {
    currentReactor().removeTimer(restoreTimer_);
    restoreTimer_ = 0;
  }
  std::vector<Slot> slots = std::move(slots_);
  slots_.clear();
  desktop_.setDesktopVisible(false);
  for (size_t i = slots.size(); i-- > 0;) {
    IWindowProducer* producer = slots[i].object.get();
    if (!producer || std::any_of(records_.begin(), records_.end(),
                                 [&](const Record& r) { return r.producer.get() == producer; }))
      continue;
    if (IManagedWindow* window = producer->createWindow())
      open(*window, producer, nullptr, producer->type(), producer->subtype(), &slots[i].record);
  }
  desktop_.setDesktopVisible(true);
  desktop_.refreshLauncher();
  logLine("openPendingWindows done");
}

void WindowManager::closeAll() {
  std::vector<IManagedWindow*> windows;
  for (const Record& r : records_)
    windows.push_back(r.window);
  for (IManagedWindow* window : windows)
    if (manages(window))
      window->destroy();
}

void WindowManager::tileWindows() {
  std::vector<Size> minimum;
  for (const Record& r : records_)
    minimum.push_back(r.window->smallestSize());
  const std::vector<Rect> tiles = tileRects(minimum, desktop_.clientRect());
  for (size_t i = 0; i < tiles.size() && i < records_.size(); ++i) {
    if (records_[i].window->isMaximised())
      records_[i].window->setMaximised(false);
    records_[i].window->setBounds(tiles[i]);
  }
}

void WindowManager::fitWindows() {
  if (closing_)
    return;
  const Rect area = desktop_.clientRect();
  for (const Record& r : records_) {
    if (r.window->isMaximised())
      continue;
    const Rect now = r.window->bounds();
    const Rect fitted = fitIntoRect(now, area, r.window->smallestSize());
    if (fitted != now)
      r.window->setBounds(fitted);
  }
}

void WindowManager::shutdown() {
  closing_ = true;
  for (const Record& r : records_)
    desktop_.removeLauncherEntry(r.launcherEntry);
  records_.clear();
}

void WindowManager::registerProvider(const std::string& type, IObjectLookup* provider) {
  providers_[type] = provider;
}

void WindowManager::unregisterProvider(const std::string& type) { providers_.erase(type); }

void WindowManager::lookupObject(const std::string& type, const std::string& subtype, uint32_t id,
                                 ObjectConsumer consumer) {
  auto it = providers_.find(type);
  if (it == providers_.end()) {
    consumer(nullptr);
    return;
  }
  it->second->lookupObject(subtype, id, std::move(consumer));
}

} // namespace kestel
