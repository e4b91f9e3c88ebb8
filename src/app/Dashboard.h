// The dashboard of a session: the monitor applets a user collected, in the order added, each a
// name and what it follows (a menu, an object of it, one of its fields), with the feed that
// follows it live. One timer takes every graph's samples once a second. The list lives in the
// settings registry: record 0 holds "dboard", the record ids of the applets in display order,
// and each applet's record its "name", "menu", "obj" and "field", so a saved session brings
// the applets back. An applet whose menu or field this router does not offer stays in the list
// (and in the file) with the reason as its text.
#pragma once

#include "api/net/Reactor.h"
#include "app/MonitorFeed.h"
#include "miw/Settings.h"
#include "util/Expected.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestel {

// What a monitor follows, by the names a session file keeps.
struct MonitorTarget {
  std::string menu;        // the menu's name (findMenu)
  uint32_t object = kNoId; // the object's id in the menu's map; kNoId for a settings page
  std::string field;       // the slot's name
  bool operator==(const MonitorTarget&) const = default;
};

inline constexpr const char* kDashboardKey = "dboard";
inline constexpr uint32_t kAppletRecordFlags = 4096;

class Dashboard {
public:
  struct Applet {
    std::string name;
    MonitorTarget target;
    std::unique_ptr<MonitorFeed> feed; // null when the target could not be followed
    std::string problem;               // why not
    uint32_t record = kNoSettingsId;
  };

  // Told when applets come or go (`Applets`) and after the graphs took their samples
  // (`Sampled`).
  enum class Change { Applets, Sampled };

  explicit Dashboard(SettingsRegistry& settings = settingsRegistry(),
                     Reactor& reactor = currentReactor());
  ~Dashboard();
  Dashboard(const Dashboard&) = delete;
  Dashboard& operator=(const Dashboard&) = delete;

  // Appends a monitor of the target under `name` (empty: the object's name and the field's
  // title) and stores the list. Fails, adding nothing, when the menu or the field is unknown.
  Expected<size_t> addMonitor(const MonitorTarget& target, std::string name = {});
  // Appends a monitor of `slot` of the object `id` of `map` (a table's row), whose menu is
  // `type`; the map is shared, not fetched again. Fails when `type` is no menu of the router or
  // `slot` none of its fields.
  Expected<size_t> addMonitor(Reference<ObjectMap> map, const CType& type, uint32_t id,
                              const Slot& slot);
  // Removes the applet and its record, and stores the list; out of range does nothing.
  void remove(size_t index);
  const std::vector<Applet>& applets() const { return applets_; }

  // Replaces the applets by the ones "dboard" lists in the registry (a session file just read).
  void restore();

  void setOnChange(std::function<void(Change)> changed) { changed_ = std::move(changed); }

private:
  Expected<std::unique_ptr<MonitorFeed>> follow(const MonitorTarget& target);
  size_t append(Applet applet);
  void store();
  void tick();
  void tell(Change change);

  SettingsRegistry& settings_;
  Reactor& reactor_;
  std::vector<Applet> applets_;
  Reactor::TimerId timer_ = 0;
  std::function<void(Change)> changed_;
};

// The record ids of "dboard" (four bytes each, little-endian); a value whose length is not a
// multiple of four gives none.
std::vector<uint32_t> unpackIds(const std::optional<std::string>& value);
std::string packIds(const std::vector<uint32_t>& ids);

} // namespace kestel
