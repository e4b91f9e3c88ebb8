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

bool SlotCondition::ownTermsHold(const ObjectView& object) const {
  for (const ConditionTerm& t : terms_) {
    if (!t.owner.empty() || (t.slotRef && t.slot.empty()))
      return false;
    if (t.slot.empty()) {
      if (!kestel::holds(t.pred.get()))
        return false;
      continue;
    }
    SlotFieldInfo f;
    if (!object.type || !object.record || !object.type->slotField(t.slot, f))
      return false;
    if (readsOtherType(t.pred.get(), f.type)) {
      if (!t.mismatchLogged)
        logf("ERROR: condition ", name_, " tests slot ", t.slot, " as another type than it holds");
      t.mismatchLogged = true;
      return false;
    }
    if (!kestel::holds(t.pred.get(),
                       {static_cast<const char*>(object.record) + f.offset, f.type, nullptr}))
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
