// Objects, factories, listeners and router messages shared by the map tests: a small record
// object (name, value), a listener that records map events, and builders of fetch pages and
// notification batches.
#pragma once

#include "ContainerHarness.h"

#include "api/container/MapFactories.h"
#include "api/object/PackerElements.h"
#include "gen/Predicate.h"

#include <string>
#include <vector>

namespace kestel::test {

inline constexpr nv::string_id KEY_NAME{0x100001};
inline constexpr nv::u32_id KEY_VALUE{0x100002};

struct Rec {
  std::string name;
  uint32_t value = 0;
};

class Item final : public RecordObject<Rec> {
public:
  using RecordObject::RecordObject;
  std::string getName() const override { return rec().name; }
};

inline Reference<IPacker> itemPacker() {
  static Reference<IPacker> packer = [] {
    auto p = createPacker();
    p->add(createText(memberOf(&Rec::name), KEY_NAME), 1);
    p->add(createNumber(memberOf(&Rec::value), KEY_VALUE), 2);
    return p;
  }();
  return packer;
}

// Makes an Item for every message; counts what it made.
struct ItemFactory {
  Reference<IObjectFactory> factory = createFactory([this](const nv::message&) {
    ++made;
    return Reference<IObject>(new Item(itemPacker()));
  });
  size_t made = 0;
};

inline Rec& recOf(IObject* o) { return static_cast<Item*>(o)->rec(); }

struct Seen {
  MapEventKind kind;
  uint32_t id;
  bool more;
  friend bool operator==(const Seen&, const Seen&) = default;
};

inline std::ostream& operator<<(std::ostream& out, const Seen& s) {
  return out << "{" << int(s.kind) << "," << s.id << "," << s.more << "}";
}

class EventLog final : public IMapListener {
public:
  void mapChanged(const MapEvent& e) override {
    seen.push_back({e.kind, e.id, e.more});
    if (onEvent)
      onEvent(e);
  }
  size_t count(MapEventKind kind) const {
    size_t n = 0;
    for (const Seen& s : seen)
      n += s.kind == kind ? 1 : 0;
    return n;
  }
  std::vector<Seen> seen;
  std::function<void(const MapEvent&)> onEvent;
};

struct Done final : IChangeListener {
  void changeDone(IObject* o, ChangeResult r) override { results.emplace_back(o, r); }
  std::vector<std::pair<IObject*, ChangeResult>> results;
};

inline nv::message element(uint32_t id, const std::string& name, uint32_t value = 0) {
  nv::message m;
  m.set(STD_ID, id);
  m.set(KEY_NAME, name);
  m.set(KEY_VALUE, value);
  return m;
}

// Elements with ids first, first + 1, ... named "o<id>".
inline std::vector<nv::message> elements(uint32_t first, size_t n) {
  std::vector<nv::message> out;
  for (size_t i = 0; i < n; ++i)
    out.push_back(element(first + uint32_t(i), "o" + std::to_string(first + i)));
  return out;
}

inline nv::message withObjects(std::vector<nv::message> objs) {
  nv::message m;
  m.set(STD_OBJS, objs);
  return m;
}

// A fetch reply page: the objects and STD_GETALLID (not set for kNoId... use setId false).
inline nv::message page(std::vector<nv::message> objs, uint32_t getAllId = kNoId) {
  nv::message m = withObjects(std::move(objs));
  m.set(STD_GETALLID, getAllId);
  return m;
}

// A predicate over the Item at hand: holds while its value is not `reject`.
class ValueIsNot final : public Predicate {
public:
  explicit ValueIsNot(uint32_t reject) : reject_(reject) {}
  bool evaluate(const FieldRef& field) const override {
    if (!field.object || !field.object->record)
      return false;
    return static_cast<const Rec*>(field.object->record)->value != reject_;
  }

private:
  uint32_t reject_;
};

} // namespace kestel::test
