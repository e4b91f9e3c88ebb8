#include "app/MonitorFeed.h"

#include "api/net/Reactor.h"
#include "gen/CType.h"
#include "gen/JSNode.h"
#include "gen/Slot.h"

#include <cmath>

namespace kestel {
namespace {

bool isOneOf(const std::string& kind, std::initializer_list<const char*> kinds) {
  for (const char* k : kinds)
    if (kind == k)
      return true;
  return false;
}

// The number a field value holds; none for values that are not numbers.
std::optional<uint64_t> numberOf(const FieldValue& value) {
  if (const auto* v = std::get_if<uint32_t>(&value))
    return *v;
  if (const auto* v = std::get_if<uint64_t>(&value))
    return *v;
  if (const auto* v = std::get_if<bool>(&value))
    return *v ? 1 : 0;
  return std::nullopt;
}

// The slot a change rate counts: the one its "value" option names.
const Slot* counterOf(const Slot& slot, const CType& type) {
  const JSValue* value = slot.option("value");
  return value && !value->text.empty() ? type.slot(value->text) : nullptr;
}

} // namespace

MonitorKind monitorKindOf(const Slot& slot) {
  const std::string& kind = slot.kind();
  if (isOneOf(kind, {"bitrate", "bigbitrate"}))
    return MonitorKind::Rate;
  if (isOneOf(kind, {"changerate", "bigchangerate", "bitchangerate", "bigbitchangerate"}))
    return slot.option("value") ? MonitorKind::CounterRate : MonitorKind::Rate;
  if (kind == "numbar")
    return MonitorKind::Percent;
  return MonitorKind::Text;
}

class MonitorFeed::MapWatch final : public IMapListener {
public:
  explicit MapWatch(MonitorFeed& feed) : feed_(feed) {}
  void mapChanged(const MapEvent& event) override {
    if (event.kind == MapEventKind::Reset || event.id == feed_.id_)
      feed_.read();
  }

private:
  MonitorFeed& feed_;
};

class MonitorFeed::HolderWatch final : public IHolderListener {
public:
  explicit HolderWatch(MonitorFeed& feed) : feed_(feed) {}
  void holderChanged(ObjectHolder&) override { feed_.read(); }

private:
  MonitorFeed& feed_;
};

MonitorFeed::MonitorFeed(const Slot& slot, const CType& type)
    : slot_(slot), kind_(monitorKindOf(slot)),
      fieldTitle_(slot.titleText().empty() ? slot.name() : slot.titleText()) {
  if (kind_ == MonitorKind::CounterRate) {
    counter_ = counterOf(slot, type);
    if (!counter_)
      kind_ = MonitorKind::Text;
  }
  switch (kind_) {
  case MonitorKind::Text:
    break;
  case MonitorKind::Rate:
    sliding_ =
        std::make_unique<SlidingGraphModel>(kMonitorSamples, kMonitorIntervalMs, kMonitorStaleMs);
    break;
  case MonitorKind::Percent:
    sliding_ = std::make_unique<SlidingGraphModel>(kMonitorSamples, kMonitorIntervalMs,
                                                   kMonitorStaleMs, 100);
    break;
  case MonitorKind::CounterRate: {
    uint32_t scale = slot.fields().empty() ? 1 : slot.fields()[0].scale;
    bool wide = slot.kind().rfind("big", 0) == 0;
    rate_ = std::make_unique<DataRateGraphModel>(
        scale, wide ? CounterWidth::Bits64 : CounterWidth::Bits32, kMonitorSamples,
        kMonitorIntervalMs, kMonitorStaleMs);
    break;
  }
  }
}

MonitorFeed::MonitorFeed(Reference<ObjectMap> map, uint32_t id, const Slot& slot, const CType& type)
    : MonitorFeed(slot, type) {
  map_ = std::move(map);
  id_ = id;
  mapWatch_ = makeRef<MapWatch>(*this);
  map_->addListener(mapWatch_.get());
  read();
}

MonitorFeed::MonitorFeed(Reference<ObjectHolder> holder, const Slot& slot, const CType& type)
    : MonitorFeed(slot, type) {
  holder_ = std::move(holder);
  holderWatch_ = makeRef<HolderWatch>(*this);
  holder_->addListener(holderWatch_.get());
  read();
}

MonitorFeed::~MonitorFeed() {
  if (map_)
    map_->removeListener(mapWatch_.get());
  if (holder_)
    holder_->removeListener(holderWatch_.get());
}

IObject* MonitorFeed::object() const { return map_ ? map_->find(id_) : holder_->object(); }

std::string MonitorFeed::objectName() const {
  IObject* o = holder_ ? nullptr : object();
  return o ? o->getName() : std::string();
}

const IGraphModel* MonitorFeed::graph() const {
  if (sliding_)
    return sliding_.get();
  return rate_.get();
}

const TableField* MonitorFeed::fieldFor(const IObject& object, const Slot& slot,
                                        FieldCache& cache) const {
  const CType* type = object.getCType();
  if (!type)
    return nullptr;
  if (type != cache.type || !cache.field) {
    // Objects of an inheriting type carry the slot under the same name.
    const Slot* own = type->slot(slot.name());
    cache.type = type;
    cache.field = slotField(own ? *own : slot);
  }
  return cache.field.get();
}

void MonitorFeed::read() {
  IObject* o = object();
  // A holder whose read failed keeps its old values: they are not current any more.
  bool failed = holder_ && !holder_->statusText().empty();
  if (!o || failed) {
    if (sliding_)
      sliding_->clearValue();
    if (rate_)
      rate_->forget();
    if (failed)
      return show(holder_->statusText());
    // Before the map first held the object it is not gone, only not there yet.
    show(map_ && seen_ ? kGoneText : "");
    return;
  }
  seen_ = true;
  const TableField* field = fieldFor(*o, slot_, valueField_);
  if (!field)
    return show("");
  int64_t now = currentReactor().now();
  if (kind_ != MonitorKind::CounterRate) {
    if (std::optional<uint64_t> n = numberOf(field->value(*o)); n && sliding_)
      sliding_->setValue(now, double(*n));
    return show(withPostfix(field->text(*o)));
  }
  const TableField* counter = fieldFor(*o, *counter_, counterField_);
  std::optional<uint64_t> n = counter ? numberOf(counter->value(*o)) : std::nullopt;
  if (!n)
    return show("");
  rate_->setCounter(now, *n);
  show(rate_->rate() ? axisText(*rate_->rate()) : "");
}

std::string MonitorFeed::axisText(double value) const {
  if (kind_ == MonitorKind::Percent)
    return std::to_string(std::lround(value)) + "%";
  auto n = uint64_t(std::llround(std::max(value, 0.0)));
  const TableField* field = valueField_.field.get();
  IConvertor* convertor = field ? field->convertor() : nullptr;
  if (!convertor)
    return std::to_string(n);
  bool wide = slot_.kind().rfind("big", 0) == 0;
  FieldValue v = wide ? FieldValue(n) : FieldValue(uint32_t(std::min<uint64_t>(n, 0xFFFFFFFF)));
  std::string text = convertor->format(v);
  return text.empty() ? std::to_string(n) : text;
}

std::string MonitorFeed::withPostfix(std::string text) const {
  const std::string& postfix = slot_.postfixText();
  if (text.empty() || postfix.empty())
    return text;
  return text + (slot_.option("inlinepostfix") ? "" : " ") + postfix;
}

void MonitorFeed::sample(int64_t nowMs) {
  if (sliding_)
    sliding_->sample(nowMs);
  if (rate_)
    rate_->sample(nowMs);
}

void MonitorFeed::show(std::string text) {
  if (text == text_)
    return;
  text_ = std::move(text);
  if (changed_)
    changed_();
}

} // namespace kestel
