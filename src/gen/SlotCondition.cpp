#include "gen/SlotCondition.h"

#include "util/Log.h"

namespace kestel {

namespace {

bool flag(const JSNode& node, std::string_view key) {
  const JSNode* v = node.find(key);
  return v && v->u64Value(0) != 0;
}

std::string text(const JSNode* v) { return v && v->text() ? v->text() : ""; }

} // namespace

Expected<std::unique_ptr<SlotCondition>> SlotCondition::fromNode(const JSNode& node) {
  auto c = std::make_unique<SlotCondition>(text(node.find("name")));
  c->hide(flag(node, "hide")).makeReadOnly(flag(node, "makero"));
  c->hideDynamically(flag(node, "hidedynamicly"));
  c->orOn_ = text(node.find("oron"));
  const JSNode* list = node.find("c");
  for (const JSNode* t = list ? list->firstChild() : nullptr; t; t = t->next) {
    Expected<PredicatePtr> pred = readPredicate(*t);
    if (!pred)
      return pred.error();
    ConditionTerm term;
    term.pred = std::move(pred.value());
    const JSNode* on = t->find("on");
    if (on && on->kind == JSNodeKind::String) {
      term.slot = on->text();
    } else if (on && on->kind == JSNodeKind::Array) {
      const JSNode* owner = on->firstChild();
      term.owner = text(owner);
      term.slot = text(owner ? owner->next : nullptr);
    }
    c->terms_.push_back(std::move(term));
  }
  return c;
}

SlotCondition& SlotCondition::on(PredicatePtr pred) { return on(std::string(), std::move(pred)); }

SlotCondition& SlotCondition::on(std::string slot, PredicatePtr pred) {
  return on(std::string(), std::move(slot), std::move(pred));
}

SlotCondition& SlotCondition::on(std::string owner, std::string slot, PredicatePtr pred) {
  terms_.push_back({std::move(pred), std::move(owner), std::move(slot), nullptr, false});
  return *this;
}

SlotCondition& SlotCondition::on(const Slot* slot, PredicatePtr pred) {
  terms_.push_back({std::move(pred), std::string(), std::string(), slot, false});
  return *this;
}

SlotCondition& SlotCondition::orOn(std::string condition) {
  orOn_ = std::move(condition);
  return *this;
}

namespace {

// Where the term's slot lies in the object's record: a slot inside an owner, or one made in code,
// by the slot object the type resolved; a slot of the type by its name (an inheriting type may
// have replaced the object by an override).
bool termField(const ConditionTerm& t, const ObjectView& object, SlotFieldInfo& f) {
  if (!object.type || !object.record)
    return false;
  if (!t.owner.empty() || t.slot.empty())
    return object.type->slotField(t.slotRef, f);
  return object.type->slotField(t.slot, f);
}

} // namespace

bool SlotCondition::termHolds(const ConditionTerm& t, const ObjectView& object) const {
  if (t.slot.empty() && !t.slotRef) // the predicate alone, applied to the object at hand
    return kestel::holds(t.pred.get(), objectRef(object));
  SlotFieldInfo f;
  if (!termField(t, object, f))
    return false;
  if (readsOtherType(t.pred.get(), f.type)) {
    if (!t.mismatchLogged)
      logf("ERROR: condition ", name_, " tests slot ", t.slot, " as another type than it holds");
    t.mismatchLogged = true;
    return false;
  }
  return kestel::holds(t.pred.get(),
                       {static_cast<const char*>(object.record) + f.offset, f.type, nullptr});
}

bool SlotCondition::ownTermsHold(const ObjectView& object) const {
  for (const ConditionTerm& t : terms_) {
    if (!termHolds(t, object))
      return false;
  }
  return true;
}

bool SlotCondition::holds(const ObjectView& object) const {
  const SlotCondition* c = this;
  for (int step = 0; c && step < 64; ++step, c = c->orOnRef_) {
    if (c->ownTermsHold(object))
      return true;
  }
  return false;
}

std::unique_ptr<SlotCondition> scond(std::string name) {
  return std::make_unique<SlotCondition>(std::move(name));
}

} // namespace kestel
