// Enumerations built from descriptor "values" nodes or from code: static tables (names by
// position, value/name pairs), the default-pair and filter wrappers, and the computed kinds
// (dynamic, remapenum, slotenum, queryenum, offsetenum) whose entries come at run time: from the
// session's object maps and queries through the model's enumeration source (IEnumSource, which
// the containers work implements), or from the slots of the object at hand (bindObject). Reading
// fails with "node without type", "unknown enum <kind>" or "bad static map"; the message is also
// logged.
#pragma once

#include "gen/Enum.h"
#include "gen/JSNode.h"
#include "gen/Predicate.h"
#include "util/Expected.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kestel {

// What listeners of an enumeration are told when it gains, loses or renames an entry.
class IEnumEvent : public IBase {
public:
  enum EventType { Added, Removed, Renamed };
  virtual EventType type() const = 0;
  virtual unsigned value() const = 0;
  // A flag set by the sender (the containers mark the last event of a batch with it).
  virtual bool flag() const = 0;
};
Reference<IEnumEvent> createEnumEvent(IEnumEvent::EventType type, unsigned value, bool flag);

class IEnumListener {
public:
  virtual ~IEnumListener() = default;
  virtual void enumChanged(const IEnumEvent& event) = 0;
};

using EnumRef = Reference<IEnum>;
using EnumPairs = std::vector<std::pair<uint32_t, std::string>>;

class ComputedEnum;

// Where computed enumerations over router objects get their entries. The containers work
// implements it over the session's live object maps and queries and installs it in the model
// context; without one those enumerations stay empty.
class IEnumSource {
public:
  virtual ~IEnumSource() = default;
  // Starts keeping `e` filled (through setEntry, removeEntry, replaceEntries): Dynamic and Remap
  // from the object map of e.path, Query from the reply of e.command sent to e.path.
  virtual void attach(ComputedEnum& e) = 0;
  // Stops filling `e`; an enumeration it does not fill is ignored.
  virtual void detach(ComputedEnum& e) = 0;
};

// The model's enumeration source (null: none).
void setEnumSource(IEnumSource* source);
IEnumSource* enumSource();

// An enumeration whose entries are supplied at run time; kinds add their configuration.
class ComputedEnum : public IEnum {
public:
  enum class Kind { Dynamic, Remap, Slot, Query, Offset };
  explicit ComputedEnum(Kind kind) : kind_(kind) {}
  // Leaves the source that fills it.
  ~ComputedEnum() override;
  Kind kind() const { return kind_; }

  // Dynamic, Remap and Query: asks the model's enumeration source to fill the entries, once until
  // stop(). False when there is no source or the kind is filled from an object instead.
  bool start();
  void startSources() override { start(); }
  void stop();
  bool started() const { return source_ != nullptr; }
  // Slot and Offset: replaces the entries with what the object's slots give (Slot: the u32 list
  // or number of `valuesSlot` paired with the string list of `namesSlot`, the decimal value for a
  // missing name; Offset: the inner enumeration's entries with the u32 of `valuesSlot` added to
  // each value). Other kinds, and slots the object's type lacks or holds in another storage
  // type, give no entries.
  void bindObject(const ObjectView& object) override;
  // Makes the entries equal `entries` (in that order), telling listeners of each difference; the
  // last event carries `flag`.
  void replaceEntries(const EnumPairs& entries, bool flag = true);

  size_t count() const override { return entries_.size(); }
  uint32_t valueAt(size_t index) const override;
  std::string nameAt(size_t index) const override;
  bool nameOf(uint32_t value, std::string& name) const override;
  bool valueOf(std::string_view name, uint32_t& value) const override;

  // Adds the entry or renames it, telling listeners (Added or Renamed).
  void setEntry(uint32_t value, std::string name, bool flag = false);
  // Removes the entry when present, telling listeners (Removed).
  void removeEntry(uint32_t value, bool flag = false);
  // The listener must stay alive until removed.
  void addListener(IEnumListener* l) { listeners_.push_back(l); }
  void removeListener(IEnumListener* l);

  // Configuration, by kind (unused fields stay empty).
  std::vector<uint32_t> path;     // Dynamic (up to four numbers), Remap, Query
  PredicatePtr pred;              // Dynamic: entries offered only while it holds
  EnumRef inner;                  // Remap, Offset
  std::string master;             // Remap: the master slot
  std::string valuesSlot;         // Slot: slot holding the values; Offset: the bound slot
  std::string namesSlot;          // Slot: slot holding the names
  uint32_t command = 0;           // Query
  std::vector<JSValue> params;    // Query: parameter nodes, added in order
  uint32_t valuesField = 0;       // Query: "valuesid" (0 when malformed)
  uint32_t secondValuesField = 0; // Query: "bvaluesid"

private:
  void notify(IEnumEvent::EventType type, uint32_t value, bool flag);
  Kind kind_;
  EnumPairs entries_;
  std::vector<IEnumListener*> listeners_;
  IEnumSource* source_ = nullptr; // the source filling it, while started
};

// Code-side configurations (the descriptor forms of the same kinds).
struct defenum {
  uint32_t defId = 0;
  std::string defName;
  EnumRef values;
};
struct mapfilter { // a dynamic enumeration with a filter
  std::vector<uint32_t> path;
  std::shared_ptr<Predicate> pred;
};
struct EnumFilterRule {
  uint32_t id = 0;
  std::shared_ptr<Predicate> pred;
};
struct enumfilter {
  std::string on;
  EnumRef values;
  std::vector<EnumFilterRule> filters;
};
struct remapenum {
  std::vector<uint32_t> path;
  EnumRef values;
  std::string master;
};
struct queryenum {
  std::vector<uint32_t> path;
  uint32_t command = 0;
  std::vector<JSValue> params;
  uint32_t valuesField = 0;
  uint32_t secondValuesField = 0;
};
struct offsetenum {
  std::string slot;
  EnumRef values;
};
struct slotenum {
  std::string values;
  std::string names;
};

// The default pair first, then the inner enumeration's entries.
class DefaultEnum : public IEnum {
public:
  explicit DefaultEnum(defenum config) : c_(std::move(config)) {}
  void startSources() override {
    if (c_.values)
      c_.values->startSources();
  }
  void bindObject(const ObjectView& object) override {
    if (c_.values)
      c_.values->bindObject(object);
  }
  size_t count() const override;
  uint32_t valueAt(size_t index) const override;
  std::string nameAt(size_t index) const override;
  bool nameOf(uint32_t value, std::string& name) const override;
  bool valueOf(std::string_view name, uint32_t& value) const override;
  const defenum& config() const { return c_; }

private:
  defenum c_;
};

// The inner enumeration with entries offered only while their filter holds for the bound
// object ("on" names the slot the filters read through; an unbound filter evaluates on none).
class FilterEnum : public IEnum {
public:
  explicit FilterEnum(enumfilter config) : c_(std::move(config)) {}
  void bind(ObjectView object) { object_ = object; }
  void startSources() override {
    if (c_.values)
      c_.values->startSources();
  }
  // Binds the filters and the inner enumeration to the object.
  void bindObject(const ObjectView& object) override {
    bind(object);
    if (c_.values)
      c_.values->bindObject(object);
  }
  size_t count() const override;
  uint32_t valueAt(size_t index) const override;
  std::string nameAt(size_t index) const override;
  bool nameOf(uint32_t value, std::string& name) const override;
  bool valueOf(std::string_view name, uint32_t& value) const override;
  const enumfilter& config() const { return c_; }

private:
  bool offered(uint32_t value) const;
  std::vector<size_t> visible() const;
  enumfilter c_;
  ObjectView object_;
};

// Two enumerations used together; as an IEnum it is the first.
class PairEnum : public IEnum {
public:
  PairEnum(EnumRef first, EnumRef second) : first_(std::move(first)), second_(std::move(second)) {}
  const EnumRef& first() const { return first_; }
  const EnumRef& second() const { return second_; }
  size_t count() const override { return first_->count(); }
  uint32_t valueAt(size_t i) const override { return first_->valueAt(i); }
  std::string nameAt(size_t i) const override { return first_->nameAt(i); }
  bool nameOf(uint32_t v, std::string& n) const override { return first_->nameOf(v, n); }
  bool valueOf(std::string_view n, uint32_t& v) const override { return first_->valueOf(n, v); }
  void startSources() override {
    first_->startSources();
    second_->startSources();
  }
  void bindObject(const ObjectView& object) override {
    first_->bindObject(object);
    second_->bindObject(object);
  }

private:
  EnumRef first_, second_;
};

// Builds the enumeration a "values" node describes, nested ones included.
[[nodiscard]] Expected<EnumRef> createEnum(const JSNode& node);

// Static tables made in code, wrapped without copying; the table must outlive the enumeration.
// Names by position end with a null pointer; pairs end with an entry whose name is null.
EnumRef createEnum(const char* const* names);
EnumRef createEnum(const MapEntry* table);

// A path of one, two or four handler numbers, ending with 0xFFFFFFFF.
std::vector<unsigned> path(unsigned a);
std::vector<unsigned> path(unsigned a, unsigned b);
std::vector<unsigned> path(unsigned a, unsigned b, unsigned c, unsigned d);

EnumRef cenum(const char* const* names);
EnumRef cenum(const MapEntry* table);
EnumRef cenum(const defenum& config);
EnumRef cenum(const unsigned* path); // dynamic over a path ending with 0xFFFFFFFF
EnumRef cenum(const mapfilter& config);
EnumRef cenum(EnumRef first, EnumRef second);
EnumRef cenum(const enumfilter& config);
EnumRef cenum(const remapenum& config);
EnumRef cenum(const queryenum& config);
EnumRef cenum(const offsetenum& config);
EnumRef cenum(const slotenum& config);

// Looks a display name up and stores its value; false (value untouched) when absent.
bool string2enum(const std::string& name, const IEnum* e, unsigned* value);

} // namespace kestel
