#include "gen/Predicate.h"

#include "api/regex/Regex.h"
#include "gen/ModelContext.h"
#include "gen/RouterFacts.h"
#include "util/Bytes.h"
#include "util/Log.h"

#include <algorithm>
#include <functional>

namespace kestel {

namespace {

const member_type* u32Type() { return memberTypeOf<uint32_t>(); }

// The field as a T, or null when there is none or it holds another type.
template <typename T> const T* field(const FieldRef& f) {
  if (!f.value || f.type != memberTypeOf<T>())
    return nullptr;
  return static_cast<const T*>(f.value);
}

// A field kind: a plain function of the field as a T, false when the field is not a T.
template <typename T> class FieldPredicate final : public Predicate {
public:
  explicit FieldPredicate(std::function<bool(const T&)> f) : f_(std::move(f)) {}
  bool evaluate(const FieldRef& f) const override {
    const T* v = field<T>(f);
    return v && f_(*v);
  }
  const member_type* reads() const override { return memberTypeOf<T>(); }

private:
  std::function<bool(const T&)> f_;
};

template <typename T> PredicatePtr makeField(std::function<bool(const T&)> f) {
  return std::make_unique<FieldPredicate<T>>(std::move(f));
}

// A router-fact kind: ignores the field.
class FactPredicate final : public Predicate {
public:
  explicit FactPredicate(std::function<bool()> f) : f_(std::move(f)) {}
  bool evaluate(const FieldRef&) const override { return f_(); }

private:
  std::function<bool()> f_;
};

PredicatePtr makeFact(std::function<bool()> f) {
  return std::make_unique<FactPredicate>(std::move(f));
}

std::string textOf(const JSNode& node, std::string_view key) {
  const JSNode* v = node.find(key);
  return v && v->text() ? v->text() : "";
}

uint64_t numberOf(const JSNode& node, std::string_view key) {
  const JSNode* v = node.find(key);
  return v ? v->u64Value(0) : 0;
}

std::vector<uint32_t> numbersOf(const JSNode& node, std::string_view key) {
  const JSNode* v = node.find(key);
  std::vector<uint32_t> ids = v ? v->idArray() : std::vector<uint32_t>{0xFFFFFFFFu};
  ids.pop_back(); // the terminator
  return ids;
}

class BoardPredicate final : public Predicate {
public:
  BoardPredicate(std::string value, bool re) : value_(std::move(value)) {
    // An expression that does not compile falls back to plain comparison.
    useRe_ = re && compile(re_, value_);
  }
  bool evaluate(const FieldRef&) const override {
    const RouterFacts& f = routerFacts();
    if (useRe_)
      return match(re_, f.boardName);
    return value_ == f.boardFamily || value_ == f.boardName;
  }

private:
  std::string value_;
  Regex re_;
  bool useRe_ = false;
};

class NotPredicate final : public Predicate {
public:
  explicit NotPredicate(PredicatePtr inner) : inner_(std::move(inner)) {}
  bool evaluate(const FieldRef& f) const override { return !holds(inner_.get(), f); }

private:
  PredicatePtr inner_;
};

class OrPredicate final : public Predicate {
public:
  explicit OrPredicate(std::vector<PredicatePtr> inner) : inner_(std::move(inner)) {}
  bool evaluate(const FieldRef& f) const override {
    return std::any_of(inner_.begin(), inner_.end(),
                       [&](const PredicatePtr& p) { return holds(p.get(), f); });
  }

private:
  std::vector<PredicatePtr> inner_;
};

class SlotPredicate final : public Predicate {
public:
  SlotPredicate(std::string slot, PredicatePtr inner)
      : slot_(std::move(slot)), inner_(std::move(inner)) {}
  bool evaluate(const FieldRef& f) const override {
    const ObjectView* object = f.object;
    if (!object || !object->type || !object->record)
      return false;
    if (object->type != type_) { // looked up once per type, then remembered
      type_ = object->type;
      found_ = type_->slotField(slot_, field_);
      if (!found_)
        logf("SlotRef", slot_, ": slot not found");
      else if (readsOtherType(inner_.get(), field_.type))
        logf("ERROR: slot predicate on ", slot_, ": the slot holds another type");
    }
    if (!found_)
      return false;
    return holds(inner_.get(),
                 {static_cast<const char*>(object->record) + field_.offset, field_.type, nullptr});
  }

private:
  std::string slot_;
  PredicatePtr inner_;
  mutable const ISlotLookup* type_ = nullptr;
  mutable SlotFieldInfo field_;
  mutable bool found_ = false;
};

// The object map is asked each time rather than remembered: maps go away with their session.
class ObjectPredicate final : public Predicate {
public:
  ObjectPredicate(std::vector<uint32_t> path, PredicatePtr inner)
      : path_(std::move(path)), inner_(std::move(inner)) {}
  bool evaluate(const FieldRef& f) const override {
    const auto* id = field<uint32_t>(f);
    ObjectView object;
    IObjectDirectory* directory = modelContext().objectDirectory;
    if (!id || !directory || !directory->findObject(path_, *id, object))
      return false;
    return holds(inner_.get(), objectRef(object));
  }
  const member_type* reads() const override { return u32Type(); }

private:
  std::vector<uint32_t> path_;
  PredicatePtr inner_;
};

Expected<std::vector<PredicatePtr>> readPredicateList(const JSNode& node) {
  std::vector<PredicatePtr> list;
  const JSNode* v = node.find("pred");
  if (!v || v->kind != JSNodeKind::Array)
    return list;
  for (const JSNode* c = v->firstChild(); c; c = c->next) {
    Expected<PredicatePtr> p = createPredicate(*c);
    if (!p)
      return p.error();
    list.push_back(std::move(p.value()));
  }
  return list;
}

// Kinds that read only router facts or a single field.
PredicatePtr simpleKind(std::string_view type, const JSNode& node) {
  if (type == "bool") {
    bool want = numberOf(node, "value") != 0;
    return makeField<uint32_t>([want](const uint32_t& v) { return (v != 0) == want; });
  }
  if (type == "number") {
    return makeField<uint32_t>([list = numbersOf(node, "value")](const uint32_t& v) {
      return std::find(list.begin(), list.end(), v) != list.end();
    });
  }
  if (type == "numarrayany") {
    auto want = static_cast<uint32_t>(numberOf(node, "value"));
    return makeField<std::vector<uint32_t>>([want](const std::vector<uint32_t>& a) {
      return std::find(a.begin(), a.end(), want) != a.end();
    });
  }
  if (type == "bitmap") {
    auto mask = static_cast<uint32_t>(numberOf(node, "mask"));
    auto want = static_cast<uint32_t>(numberOf(node, "value"));
    return makeField<uint32_t>([mask, want](const uint32_t& v) { return (v & mask) == want; });
  }
  if (type == "string") {
    return makeField<std::string>(
        [want = textOf(node, "value")](const std::string& v) { return v == want; });
  }
  if (type == "message") // the stored bytes are empty: the field must hold none
    return makeField<nv::message>([](const nv::message& m) { return m.empty(); });
  return nullptr;
}

PredicatePtr routerKind(std::string_view type, const JSNode& node) {
  if (type == "addon")
    return makeFact([n = textOf(node, "value")] { return routerFacts().hasPackage(n); });
  if (type == "arch")
    return makeFact([a = textOf(node, "value")] { return routerFacts().architecture == a; });
  if (type == "board")
    return std::make_unique<BoardPredicate>(textOf(node, "value"), numberOf(node, "re") != 0);
  if (type == "daughterboard")
    return makeFact([d = textOf(node, "value")] { return routerFacts().daughterboard == d; });
  if (type == "syscap")
    return makeFact([bit = numberOf(node, "value")] { return routerFacts().systemCap(bit); });
  if (type == "quickset") {
    auto bit = static_cast<uint32_t>(numberOf(node, "bit") % 32);
    return makeFact([bit] { return ((routerFacts().quickSetCaps >> bit) & 1) != 0; });
  }
  if (type == "haspwd")
    return makeFact([] { return routerFacts().hasPassword; });
  if (type == "kestel")
    return makeFact([] { return true; });
  if (type == "supportmsgid")
    return makeFact([] { return false; });
  return nullptr;
}

Expected<PredicatePtr> compositeKind(std::string_view type, const JSNode& node) {
  if (type != "or" && type != "not" && type != "slot" && type != "object")
    return PredicatePtr();
  if (type == "or") {
    Expected<std::vector<PredicatePtr>> list = readPredicateList(node);
    if (!list)
      return list.error();
    return PredicatePtr(std::make_unique<OrPredicate>(std::move(list.value())));
  }
  Expected<PredicatePtr> inner = readPredicate(node);
  if (!inner)
    return inner;
  if (type == "not")
    return PredicatePtr(std::make_unique<NotPredicate>(std::move(inner.value())));
  if (type == "slot")
    return pslot(textOf(node, "slot"), std::move(inner.value()));
  std::vector<uint32_t> path = numbersOf(node, "path");
  return PredicatePtr(std::make_unique<ObjectPredicate>(std::move(path), std::move(inner.value())));
}

} // namespace

void setObjectDirectory(IObjectDirectory* directory) { modelContext().objectDirectory = directory; }

Expected<PredicatePtr> createPredicate(const JSNode& node) {
  const JSNode* t = node.typeName();
  std::string_view type = t ? t->text() : "";
  if (PredicatePtr p = simpleKind(type, node))
    return p;
  if (PredicatePtr p = routerKind(type, node))
    return p;
  Expected<PredicatePtr> p = compositeKind(type, node);
  if (!p || p.value())
    return p;
  std::string text = "unknown pred type " + std::string(type);
  logLine(text);
  return makeError(std::move(text));
}

Expected<PredicatePtr> readPredicate(const JSNode& owner, std::string_view key) {
  const JSNode* p = owner.find(key);
  if (!p)
    return PredicatePtr();
  return createPredicate(*p);
}

PredicatePtr pslot(std::string slot, PredicatePtr inner) {
  return std::make_unique<SlotPredicate>(std::move(slot), std::move(inner));
}

PredicatePtr pobject(const unsigned* path, PredicatePtr inner) {
  std::vector<uint32_t> p;
  for (; path && *path != 0xFFFFFFFFu; ++path)
    p.push_back(*path);
  return std::make_unique<ObjectPredicate>(std::move(p), std::move(inner));
}

} // namespace kestel
