#include "gen/Predicate.h"

#include "api/regex/Regex.h"
#include "gen/RouterFacts.h"
#include "util/Bytes.h"
#include "util/Log.h"

#include <algorithm>
#include <functional>

namespace kestel {

namespace {

IObjectDirectory* gDirectory = nullptr;

template <typename T> const T* field(const void* value) { return static_cast<const T*>(value); }

// A predicate from a plain function of the field pointer.
class FieldPredicate final : public Predicate {
public:
  explicit FieldPredicate(std::function<bool(const void*)> f) : f_(std::move(f)) {}
  bool evaluate(const void* value) const override { return f_(value); }

private:
  std::function<bool(const void*)> f_;
};

PredicatePtr make(std::function<bool(const void*)> f) {
  return std::make_unique<FieldPredicate>(std::move(f));
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
  bool evaluate(const void*) const override {
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
  bool evaluate(const void* value) const override { return !holds(inner_.get(), value); }

private:
  PredicatePtr inner_;
};

class OrPredicate final : public Predicate {
public:
  explicit OrPredicate(std::vector<PredicatePtr> inner) : inner_(std::move(inner)) {}
  bool evaluate(const void* value) const override {
    return std::any_of(inner_.begin(), inner_.end(),
                       [&](const PredicatePtr& p) { return holds(p.get(), value); });
  }

private:
  std::vector<PredicatePtr> inner_;
};

class SlotPredicate final : public Predicate {
public:
  SlotPredicate(std::string slot, PredicatePtr inner)
      : slot_(std::move(slot)), inner_(std::move(inner)) {}
  bool evaluate(const void* value) const override {
    const auto* object = field<ObjectView>(value);
    if (!object || !object->type || !object->record)
      return false;
    if (object->type != type_) { // looked up once per type, then remembered
      type_ = object->type;
      found_ = type_->slotOffset(slot_, offset_);
      if (!found_)
        logf("SlotRef", slot_, ": slot not found");
    }
    if (!found_)
      return false;
    return holds(inner_.get(), static_cast<const char*>(object->record) + offset_);
  }

private:
  std::string slot_;
  PredicatePtr inner_;
  mutable const ISlotLookup* type_ = nullptr;
  mutable size_t offset_ = 0;
  mutable bool found_ = false;
};

// The object map is asked each time rather than remembered: maps go away with their session.
class ObjectPredicate final : public Predicate {
public:
  ObjectPredicate(std::vector<uint32_t> path, PredicatePtr inner)
      : path_(std::move(path)), inner_(std::move(inner)) {}
  bool evaluate(const void* value) const override {
    const auto* id = field<uint32_t>(value);
    ObjectView object;
    if (!id || !gDirectory || !gDirectory->findObject(path_, *id, object))
      return false;
    return holds(inner_.get(), &object);
  }

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
    return make([want](const void* v) { return v && (*field<uint32_t>(v) != 0) == want; });
  }
  if (type == "number") {
    return make([list = numbersOf(node, "value")](const void* v) {
      return v && std::find(list.begin(), list.end(), *field<uint32_t>(v)) != list.end();
    });
  }
  if (type == "numarrayany") {
    auto want = static_cast<uint32_t>(numberOf(node, "value"));
    return make([want](const void* v) {
      const auto* a = field<std::vector<uint32_t>>(v);
      return a && std::find(a->begin(), a->end(), want) != a->end();
    });
  }
  if (type == "bitmap") {
    auto mask = static_cast<uint32_t>(numberOf(node, "mask"));
    auto want = static_cast<uint32_t>(numberOf(node, "value"));
    return make([mask, want](const void* v) { return v && (*field<uint32_t>(v) & mask) == want; });
  }
  if (type == "string") {
    return make([want = textOf(node, "value")](const void* v) {
      return v && *field<std::string>(v) == want;
    });
  }
  if (type == "message") // the stored bytes are empty: the field must hold none
    return make([](const void* v) { return v && field<Bytes>(v)->empty(); });
  return nullptr;
}

PredicatePtr routerKind(std::string_view type, const JSNode& node) {
  if (type == "addon")
    return make([n = textOf(node, "value")](const void*) { return routerFacts().hasPackage(n); });
  if (type == "arch")
    return make(
        [a = textOf(node, "value")](const void*) { return routerFacts().architecture == a; });
  if (type == "board")
    return std::make_unique<BoardPredicate>(textOf(node, "value"), numberOf(node, "re") != 0);
  if (type == "daughterboard")
    return make(
        [d = textOf(node, "value")](const void*) { return routerFacts().daughterboard == d; });
  if (type == "syscap")
    return make(
        [bit = numberOf(node, "value")](const void*) { return routerFacts().systemCap(bit); });
  if (type == "quickset") {
    auto bit = static_cast<uint32_t>(numberOf(node, "bit") % 32);
    return make([bit](const void*) { return (routerFacts().quickSetCaps >> bit) & 1; });
  }
  if (type == "haspwd")
    return make([](const void*) { return routerFacts().hasPassword; });
  if (type == "kestel")
    return make([](const void*) { return true; });
  if (type == "supportmsgid")
    return make([](const void*) { return false; });
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

void setObjectDirectory(IObjectDirectory* directory) { gDirectory = directory; }

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
