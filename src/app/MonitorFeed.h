// A monitor's feed: one member of one router object followed live, as the text the member's
// convertor gives and, for members that are rates, a graph of them over time. The object is an
// object map's (found by id at every read, so it may come, go and come back) or a holder's (a
// settings page). Rates the router reports are graphed as they are; a change rate over a
// counter ("value" names the counter) is computed from the counter's readings; a percentage
// bar is graphed on a 0-100 axis. Every other member is text only. Runs on the reactor's thread
// and reads its clock.
#pragma once

#include "api/container/Holder.h"
#include "api/container/ObjectMap.h"
#include "miw/GraphModel.h"
#include "miw/TableField.h"

#include <functional>
#include <memory>
#include <string>

namespace kestel {

class CType;
class Slot;

// How long a graph's window is and how often it takes a sample.
inline constexpr size_t kMonitorSamples = 60;
inline constexpr uint32_t kMonitorIntervalMs = 1000;
// A value older than this at sampling time is a gap in the graph.
inline constexpr uint32_t kMonitorStaleMs = 3000;

enum class MonitorKind { Text, Rate, CounterRate, Percent };

// What `slot` is shown as (see the header comment).
MonitorKind monitorKindOf(const Slot& slot);

class MonitorFeed {
public:
  // Follows `slot` (of `type`, the map's type) of the object `id` of `map`.
  MonitorFeed(Reference<ObjectMap> map, uint32_t id, const Slot& slot, const CType& type);
  // Follows `slot` (of `type`, the item's type) of the holder's object.
  MonitorFeed(Reference<ObjectHolder> holder, const Slot& slot, const CType& type);
  ~MonitorFeed();
  MonitorFeed(const MonitorFeed&) = delete;
  MonitorFeed& operator=(const MonitorFeed&) = delete;

  MonitorKind kind() const { return kind_; }
  // The member's title ("Tx").
  const std::string& fieldTitle() const { return fieldTitle_; }
  // The object's name when it has one ("ether1"), else empty.
  std::string objectName() const;
  // The value as text; kGoneText once the map no longer holds the object, the holder's status
  // text while its reads fail, "" before a value.
  const std::string& text() const { return text_; }
  // The graph, or null for text members.
  const IGraphModel* graph() const;
  // A value of the graph's axis as text, in the member's units ("2.0 Mbps", "50%").
  std::string axisText(double value) const;

  // Reads the member again (the map or holder also makes it read on every change).
  void read();
  // Takes the graph's samples due by `nowMs`.
  void sample(int64_t nowMs);
  // Told after every read that changed the text.
  void setOnChange(std::function<void()> changed) { changed_ = std::move(changed); }

  static constexpr const char* kGoneText = "(no such object)";

private:
  class MapWatch;
  class HolderWatch;
  struct FieldCache {
    const CType* type = nullptr;
    std::shared_ptr<TableField> field;
  };
  MonitorFeed(const Slot& slot, const CType& type);
  IObject* object() const;
  // The field reading `slot_`'s counterpart in the object's own type (inheriting types).
  const TableField* fieldFor(const IObject& object, const Slot& slot, FieldCache& cache) const;
  void show(std::string text);
  // The text followed by the member's unit ("MHz", "%"), as the editors show it.
  std::string withPostfix(std::string text) const;

  const Slot& slot_;
  const Slot* counter_ = nullptr; // the counter of a change rate
  MonitorKind kind_;
  std::string fieldTitle_;
  mutable FieldCache valueField_, counterField_;
  std::unique_ptr<SlidingGraphModel> sliding_;
  std::unique_ptr<DataRateGraphModel> rate_;
  Reference<ObjectMap> map_;
  uint32_t id_ = kNoId;
  bool seen_ = false; // the map has held the object
  Reference<ObjectHolder> holder_;
  Reference<MapWatch> mapWatch_;
  Reference<HolderWatch> holderWatch_;
  std::string text_;
  std::function<void()> changed_;
};

} // namespace kestel
