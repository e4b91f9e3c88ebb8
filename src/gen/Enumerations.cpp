#include "gen/Enumerations.h"

#include "util/Log.h"

#include <algorithm>

namespace kestel {

namespace {

class EnumEvent final : public IEnumEvent {
public:
  EnumEvent(EventType t, unsigned v, bool f) : type_(t), value_(v), flag_(f) {}
  EventType type() const override { return type_; }
  unsigned value() const override { return value_; }
  bool flag() const override { return flag_; }

private:
  EventType type_;
  unsigned value_;
  bool flag_;
};

// Entries owned by the enumeration (descriptor tables).
class OwnedEnum final : public IEnum {
public:
  explicit OwnedEnum(EnumPairs entries) : entries_(std::move(entries)) {}
  size_t count() const override { return entries_.size(); }
  uint32_t valueAt(size_t i) const override { return i < entries_.size() ? entries_[i].first : 0; }
  std::string nameAt(size_t i) const override {
    return i < entries_.size() ? entries_[i].second : std::string();
  }
  bool nameOf(uint32_t v, std::string& n) const override {
    for (const auto& e : entries_) {
      if (e.first == v) {
        n = e.second;
        return true;
      }
    }
    return false;
  }
  bool valueOf(std::string_view n, uint32_t& v) const override {
    for (const auto& e : entries_) {
      if (e.second == n) {
        v = e.first;
        return true;
      }
    }
    return false;
  }

private:
  EnumPairs entries_;
};

// A code table of names by position or of pairs, read in place. Both are turned into the list
// of offered (index into table) positions once.
class TableEnum final : public IEnum {
public:
  explicit TableEnum(const char* const* names) : names_(names) {
    for (size_t i = 0; names[i]; ++i) {
      if (names[i][0])
        offered_.push_back(i);
    }
  }
  explicit TableEnum(const MapEntry* pairs) : pairs_(pairs) {
    for (size_t i = 0; pairs[i].name; ++i) {
      if (pairs[i].name[0])
        offered_.push_back(i);
    }
  }
  size_t count() const override { return offered_.size(); }
  uint32_t valueAt(size_t i) const override {
    return i < offered_.size() ? valueOfRow(offered_[i]) : 0;
  }
  std::string nameAt(size_t i) const override {
    return i < offered_.size() ? nameOfRow(offered_[i]) : std::string();
  }
  bool nameOf(uint32_t v, std::string& n) const override {
    for (size_t row : offered_) {
      if (valueOfRow(row) == v) {
        n = nameOfRow(row);
        return true;
      }
    }
    return false;
  }
  bool valueOf(std::string_view n, uint32_t& v) const override {
    for (size_t row : offered_) {
      if (nameOfRow(row) == n) {
        v = valueOfRow(row);
        return true;
      }
    }
    return false;
  }

private:
  uint32_t valueOfRow(size_t row) const {
    return names_ ? static_cast<uint32_t>(row) : pairs_[row].value;
  }
  const char* nameOfRow(size_t row) const { return names_ ? names_[row] : pairs_[row].name; }

  const char* const* names_ = nullptr;
  const MapEntry* pairs_ = nullptr;
  std::vector<size_t> offered_;
};

Error enumError(std::string text) {
  logLine(text);
  return makeError(std::move(text));
}

std::string textOf(const JSNode& node, std::string_view key) {
  const JSNode* v = node.find(key);
  return v && v->text() ? v->text() : "";
}

std::vector<uint32_t> numbersOf(const JSNode& node, std::string_view key) {
  const JSNode* v = node.find(key);
  std::vector<uint32_t> ids = v ? v->idArray() : std::vector<uint32_t>{0xFFFFFFFFu};
  ids.pop_back();
  return ids;
}

// "U1f": the letter U and a field id in hexadecimal; 0 when malformed.
uint32_t fieldIdOf(const JSNode& node, std::string_view key) {
  std::string t = textOf(node, key);
  if (t.size() < 2 || t[0] != 'U' ||
      t.find_first_not_of("0123456789abcdefABCDEF", 1) != std::string::npos)
    return 0;
  return static_cast<uint32_t>(parseAutoBasePrefix("0x" + t.substr(1)));
}

Expected<EnumRef> staticEnum(const JSNode& node) {
  const JSNode* map = node.find("map");
  if (!map || !map->isContainer())
    return enumError("bad static map");
  EnumPairs entries;
  uint32_t index = 0;
  for (const JSNode* c = map->firstChild(); c; c = c->next, ++index) {
    if (c->kind != JSNodeKind::String)
      return enumError("bad static map");
    if (!c->value.text[0])
      continue;
    uint32_t value = map->kind == JSNodeKind::Array
                         ? index
                         : static_cast<uint32_t>(parseDecimalPrefix(c->key ? c->key : ""));
    entries.emplace_back(value, c->value.text);
  }
  return EnumRef(new OwnedEnum(std::move(entries)));
}

Expected<EnumRef> innerEnum(const JSNode& node, std::string_view key) {
  const JSNode* v = node.find(key);
  if (!v)
    return enumError("node without type");
  return createEnum(*v);
}

Expected<EnumRef> wrapperEnum(std::string_view type, const JSNode& node) {
  if (type == "pair") {
    const JSNode* c = node.find("c");
    const JSNode* first = c && c->kind == JSNodeKind::Array ? c->firstChild() : nullptr;
    if (!first || !first->next)
      return enumError("node without type");
    Expected<EnumRef> a = createEnum(*first);
    if (!a)
      return a;
    Expected<EnumRef> b = createEnum(*first->next);
    if (!b)
      return b;
    return cenum(a.value(), b.value());
  }
  Expected<EnumRef> inner = innerEnum(node, "values");
  if (!inner)
    return inner;
  if (type == "defenum") {
    const JSNode* id = node.find("defid");
    return cenum(defenum{static_cast<uint32_t>(id ? id->u64Value(0) : 0), textOf(node, "defname"),
                         inner.value()});
  }
  if (type == "remapenum")
    return cenum(remapenum{numbersOf(node, "path"), inner.value(), textOf(node, "master")});
  if (type == "offsetenum")
    return cenum(offsetenum{textOf(node, "slot"), inner.value()});
  enumfilter f{textOf(node, "on"), inner.value(), {}};
  const JSNode* filters = node.find("filters");
  for (const JSNode* c = filters ? filters->firstChild() : nullptr; c; c = c->next) {
    const JSNode* id = c->find("id");
    if (!id)
      continue;
    Expected<PredicatePtr> pred = readPredicate(*c);
    if (!pred)
      return pred.error();
    f.filters.push_back({static_cast<uint32_t>(id->u64Value(0)), std::move(pred.value())});
  }
  return cenum(f);
}

Expected<EnumRef> computedEnum(std::string_view type, const JSNode& node) {
  if (type == "slotenum")
    return cenum(slotenum{textOf(node, "values"), textOf(node, "names")});
  if (type == "queryenum") {
    queryenum q{
        numbersOf(node, "path"), 0, {}, fieldIdOf(node, "valuesid"), fieldIdOf(node, "bvaluesid")};
    const JSNode* cmd = node.find("cmd");
    q.command = static_cast<uint32_t>(cmd ? cmd->u64Value(0) : 0);
    const JSNode* params = node.find("params");
    for (const JSNode* c = params ? params->firstChild() : nullptr; c; c = c->next)
      q.params.push_back(JSValue::copy(*c));
    return cenum(q);
  }
  // dynamic
  auto e = makeRef<ComputedEnum>(ComputedEnum::Kind::Dynamic);
  e->path = numbersOf(node, "path");
  if (e->path.size() > 4)
    e->path.resize(4); // numbers after the fourth are ignored
  Expected<PredicatePtr> pred = readPredicate(node);
  if (!pred)
    return pred.error();
  e->pred = std::move(pred.value());
  return EnumRef(e);
}

} // namespace

Reference<IEnumEvent> createEnumEvent(IEnumEvent::EventType type, unsigned value, bool flag) {
  return Reference<IEnumEvent>(new EnumEvent(type, value, flag));
}

Expected<EnumRef> createEnum(const JSNode& node) {
  const JSNode* t = node.typeName();
  if (!t)
    return enumError("node without type");
  std::string_view type = t->text();
  if (type == "static")
    return staticEnum(node);
  if (type == "pair" || type == "defenum" || type == "remapenum" || type == "offsetenum" ||
      type == "enumfilter")
    return wrapperEnum(type, node);
  if (type == "dynamic" || type == "slotenum" || type == "queryenum")
    return computedEnum(type, node);
  return enumError("unknown enum " + std::string(type));
}

EnumRef createEnum(const char* const* names) { return EnumRef(new TableEnum(names)); }
EnumRef createEnum(const MapEntry* table) { return EnumRef(new TableEnum(table)); }

bool string2enum(const std::string& name, const IEnum* e, unsigned* value) {
  uint32_t v = 0;
  if (!e || !value || !e->valueOf(name, v))
    return false;
  *value = v;
  return true;
}

} // namespace kestel
