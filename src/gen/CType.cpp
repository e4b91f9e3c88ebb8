#include "gen/CType.h"

#include "gen/ModelContext.h"
#include "util/Ascii.h"
#include "util/Log.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace kestel {

namespace {

std::vector<std::pair<std::string, CMap*>>& generics() { return modelContext().genericMaps; }

Error fail(std::string text) {
  logLine(text);
  return makeError(std::move(text));
}

uint32_t alignUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

// Reserves parts one after the other.
class RecordLayout : public SlotMaster {
public:
  uint32_t reserve(uint32_t size, uint32_t alignment, bool nonZeroDefault) override {
    end = alignUp(end, alignment);
    uint32_t at = end;
    end += size;
    align = std::max(align, alignment);
    nonZero = nonZero || nonZeroDefault;
    return at;
  }
  uint32_t end = 0, align = 1;
  bool nonZero = false;
};

// An object built from a descriptor type: its record is laid out by the type, its packer is
// the type's. The record follows the object in the same allocation (a table of a million rows
// is a million of these), so objects are made with make() only.
class DescriptorObject final : public IObject {
public:
  static Reference<IObject> make(CType* type) {
    return Reference<IObject>(new (RecordBytes{type->recordSize()}) DescriptorObject(type));
  }
  ~DescriptorObject() override { type_->dtorRecord(bytes()); }
  // `delete this` (the last release) frees the whole allocation.
  static void operator delete(void* p) { ::operator delete(p); }

  IPacker* getPacker() const override { return type_->packer(); }
  void setToDefaults() override {
    type_->dtorRecord(bytes());
    type_->ctorRecord(bytes());
  }
  CType* getCType() const override { return type_; }
  std::string getType() const override { return getOwner() ? IObject::getType() : type_->title(); }
  std::string toString() const override {
    const Slot* n = type_->nameSlotRef();
    if (!n || n->fields().empty() || n->fields()[0].store() != Store::Text)
      return type_->label();
    for (size_t i = 0; i < type_->slots().size(); ++i) {
      if (type_->slots()[i] == n)
        return *reinterpret_cast<const std::string*>(record().data() + type_->slotOffsetAt(i) +
                                                     n->valueOffset());
    }
    return type_->label();
  }

private:
  struct RecordBytes {
    size_t size;
  };
  // Where the record starts: after the object, aligned for any field (types with a stricter
  // alignment are refused when they are laid out).
  static constexpr size_t kRecordAt =
      (sizeof(IObject) + sizeof(CType*) + alignof(std::max_align_t) - 1) /
      alignof(std::max_align_t) * alignof(std::max_align_t);

  static void* operator new(size_t size, RecordBytes record) {
    return ::operator new(std::max(size, kRecordAt) + record.size);
  }
  // Frees the allocation when the constructor throws.
  static void operator delete(void* p, RecordBytes) { ::operator delete(p); }

  explicit DescriptorObject(CType* type) : type_(type) {
    static_assert(sizeof(DescriptorObject) <= kRecordAt);
    std::memset(bytes(), 0, type_->recordSize()); // padding between fields reads as zero
    type_->ctorRecord(bytes());
    setRecord(std::span<std::byte>(bytes(), type_->recordSize()));
  }
  std::byte* bytes() const {
    return reinterpret_cast<std::byte*>(const_cast<DescriptorObject*>(this)) + kRecordAt;
  }

  CType* type_;
};

std::vector<uint32_t> endPath(std::initializer_list<uint32_t> ids) {
  std::vector<uint32_t> p(ids);
  p.push_back(0xFFFFFFFF);
  return p;
}

} // namespace

bool parseColor(std::string_view text, Color& out) {
  if (text.size() != 7 || text[0] != '#')
    return false;
  uint8_t v[3];
  for (int i = 0; i < 3; ++i) {
    const int hi = hexDigitValue(text[1 + 2 * i]), lo = hexDigitValue(text[2 + 2 * i]);
    if (hi < 0 || lo < 0)
      return false;
    v[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  out = {v[0], v[1], v[2]};
  return true;
}

SlotList& SlotList::add(Slot& slot) {
  slots_.push_back(&slot);
  return *this;
}
SlotList& SlotList::add(SlotCondition& condition) {
  conds_.push_back(&condition);
  return *this;
}
SlotList& SlotList::add(const SlotList& other) {
  slots_.insert(slots_.end(), other.slots_.begin(), other.slots_.end());
  conds_.insert(conds_.end(), other.conds_.begin(), other.conds_.end());
  return *this;
}

CType::CType(TypeKind kind, std::string title) : kind_(kind), title_(std::move(title)) {}

CType::~CType() = default;

Expected<void> CType::addSlot(Slot& slot) {
  if (slot.index() != NO_INDEX)
    return fail("slot <" + slot.name() + "> belongs to a type already");
  if (slot.has(SLOT_OVERRIDE)) {
    Slot* original = this->slot(slot.name());
    if (!original)
      return fail("no original for override <" + slot.name() + "> in " + title_);
    slot.setIndex(original->index());
    overrides_.push_back(&slot);
    return {};
  }
  slot.setIndex(static_cast<uint32_t>(slots_.size()));
  slots_.push_back(&slot);
  return {};
}

Expected<void> CType::addOwned(std::unique_ptr<Slot> slot) {
  Expected<void> r = addSlot(*slot);
  if (r)
    ownedSlots_.push_back(std::move(slot));
  return r;
}

void CType::addOwnedCondition(std::unique_ptr<SlotCondition> condition) {
  conds_.push_back(condition.get());
  ownedConds_.push_back(std::move(condition));
}

CType& CType::add(Slot& slot) {
  std::unique_ptr<Slot> owned = adoptPendingSlot(&slot);
  if (owned)
    (void)addOwned(std::move(owned));
  else
    (void)addSlot(slot);
  return *this;
}

CType& CType::add(bool when, Slot& slot) { return when ? add(slot) : *this; }

CType& CType::add(SlotCondition& condition) {
  conds_.push_back(&condition);
  return *this;
}

CType& CType::add(const SlotList& list) {
  for (Slot* s : list.slotList())
    add(*s);
  for (SlotCondition* c : list.conditions())
    add(*c);
  return *this;
}

CType& CType::name(std::string n) {
  nameText = std::move(n);
  return *this;
}
CType& CType::nameSlot(std::string s) {
  nameVal = std::move(s);
  return *this;
}
CType& CType::prefix(std::string p) {
  prefixText = std::move(p);
  return *this;
}
CType& CType::alias(const char* s) {
  aliasName = s ? s : "";
  aliasSlot_ = slot(aliasName);
  if (!aliasSlot_)
    logLine("non existing alias slot: " + aliasName);
  return *this;
}
CType& CType::color(const char* on, Color c) {
  colors_.push_back({on ? on : "", c, nullptr});
  return *this;
}
CType& CType::icon(int value, unsigned iconIndex) {
  icons_.push_back({static_cast<uint32_t>(value), static_cast<int32_t>(iconIndex), {}});
  return *this;
}
CType& CType::iconOn(const char* s) {
  iconOn_ = s ? s : "";
  return *this;
}
CType& CType::treeOn(const char* s) {
  treeOn_ = s ? s : "";
  return *this;
}
CType& CType::highlight(const char* c) {
  highlight_name = c ? c : "";
  return *this;
}
CType& CType::readOnly(bool on) {
  ro_ = on;
  return *this;
}
CType& CType::hidden(bool on) {
  hide_ = on;
  return *this;
}
CType& CType::on(PredicatePtr pred) {
  pred_ = std::move(pred);
  return *this;
}

void CType::setPath(std::vector<uint32_t> ids) { path_ = std::move(ids); }

std::string CType::label() const { return nameText.empty() ? title_ : nameText; }

Expected<void> CType::inherit(CType* parent) {
  if (!parent || parent == this)
    return fail("no parent for " + title_);
  if (!slots_.empty() || !conds_.empty() || !overrides_.empty())
    return fail("inheriting type " + title_ + " has slots of its own");
  parent_ = parent;
  slots_ = parent->slots_; // shared: the parent's slot objects keep their indexes
  path_ = parent->path_;
  return {};
}

Slot* CType::slot(std::string_view n) const {
  for (Slot* s : slots_)
    if (s->name() == n)
      return s;
  return nullptr;
}

const SlotCondition* CType::condition(std::string_view n) const {
  for (const SlotCondition* c : conds_)
    if (c->name() == n)
      return c;
  return nullptr;
}

bool CType::slotField(std::string_view n, SlotFieldInfo& out) const {
  if (!completed_)
    return false;
  for (size_t i = 0; i < slots_.size(); ++i) {
    const Slot* s = slots_[i];
    if (s->name() == n && !s->fields().empty()) {
      out.offset = offsets_[i] + s->valueOffset();
      out.type = storeType(s->fields()[0].store());
      return true;
    }
  }
  return false;
}

namespace {

// Finds `target` in the part of `s` that starts at `base`: `s` itself or one of its inner slots,
// at any depth; sets `offset` to the target's first field.
bool locateSlot(const Slot& s, size_t base, const Slot* target, size_t& offset) {
  if (&s == target) {
    offset = base + s.valueOffset();
    return true;
  }
  for (size_t j = 0; j < s.inner().size() && j < s.innerOffsets().size(); ++j)
    if (locateSlot(*s.inner()[j], base + s.innerOffsets()[j], target, offset))
      return true;
  return false;
}

} // namespace

bool CType::slotField(const Slot* target, SlotFieldInfo& out) const {
  if (!completed_ || !target || target->fields().empty())
    return false;
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (locateSlot(*slots_[i], offsets_[i], target, out.offset)) {
      out.type = storeType(target->fields()[0].store());
      return true;
    }
  }
  return false;
}

Expected<void> CType::resolveNames() {
  if (!nameVal.empty() && !nameSlot_) {
    nameSlot_ = slot(nameVal);
    if (!nameSlot_)
      return fail("non existing name slot for " + nameVal + " in " + title_);
  }
  if (parent_) {
    if (!nameSlot_)
      nameSlot_ = parent_->nameSlot_ ? parent_->nameSlot_ : slot(parent_->nameVal);
    if (nameText.empty())
      nameText = parent_->nameText;
    if (treeOn_.empty())
      treeOn_ = parent_->treeOn_;
    if (highlight_name.empty())
      highlight_name = parent_->highlight_name;
    std::vector<SlotCondition*> merged = parent_->conds_;
    merged.insert(merged.end(), conds_.begin(), conds_.end());
    conds_ = std::move(merged);
  }
  for (size_t i = 0; i < overrides_.size(); ++i) {
    Slot* o = overrides_[i];
    if (!o->has(SLOT_NONPUBLIC) && o->index() < slots_.size())
      slots_[o->index()] = o;
  }
  for (Slot* s : slots_) {
    if (!s->conditionName().empty()) {
      const SlotCondition* c = condition(s->conditionName());
      if (!c) {
        std::string text = "ERRROR: could not find cond <" + s->conditionName() + ">" + " for <" +
                           s->name() + ">\nconds:";
        for (const SlotCondition* each : conds_)
          text += "\n" + each->name();
        return fail(text);
      }
      s->setCondition(c);
    }
    if (!s->name().empty() && s->name()[0] == '!')
      for (const SlotField& f : s->fields())
        modelContext().tracedFields.push_back(f.key);
    Expected<void> r = s->resolve(*this);
    if (!r)
      return r;
  }
  return {};
}

Expected<void> CType::resolveConditions() {
  for (SlotCondition* c : conds_) {
    for (ConditionTerm& t : c->terms()) {
      const Slot* owner = nullptr;
      if (!t.owner.empty() && !(owner = slot(t.owner)))
        return fail("no owner slot <" + t.owner + "> found for cond <" + c->name() + ">");
      if (t.slot.empty())
        continue;
      const Slot* found = nullptr;
      if (owner) {
        for (const auto& in : owner->inner())
          if (in->name() == t.slot)
            found = in.get();
      } else {
        found = slot(t.slot);
      }
      if (!found)
        return fail("no slot <" + t.slot + "> found for cond <" + c->name() + ">");
      t.slotRef = found;
    }
    if (!c->orOnName().empty()) {
      const SlotCondition* other = condition(c->orOnName());
      if (!other)
        return fail("no cond <" + c->orOnName() + "> found for cond <" + c->name() + ">");
      c->resolveOrOn(other);
    }
  }
  for (const Slot* s : slots_) {
    if (s->tagValue() == 4) {
      designated_ = s;
      break;
    }
  }
  auto need = [&](const std::string& n, const Slot*& out, const char* what) -> Expected<void> {
    if (n.empty())
      return {};
    out = slot(n);
    if (!out)
      return fail(std::string("non existing ") + what + " slot " + n + " in " + title_);
    return {};
  };
  if (Expected<void> r = need(iconOn_, iconSlot_, "iconon"); !r)
    return r;
  if (Expected<void> r = need(treeOn_, treeSlot_, "treeon"); !r)
    return r;
  if (!highlight_name.empty() && !(highlight_ = condition(highlight_name)))
    return fail("non existing highlight cond " + highlight_name + " in " + title_);
  for (TypeColor& c : colors_) {
    if (!(c.condition = condition(c.on)))
      return fail("non existing color cond " + c.on + " in " + title_);
  }
  return {};
}

Expected<void> CType::layoutAndBind() {
  RecordLayout layout;
  offsets_.clear();
  for (Slot* s : slots_)
    offsets_.push_back(s->realize(layout));
  recordSize_ = alignUp(layout.end, layout.align);
  recordAlign_ = layout.align;
  nonZeroDefaults_ = layout.nonZero;
  if (recordAlign_ > alignof(std::max_align_t))
    return fail("record alignment too large in " + title_);
  packer_ = createPacker();
  for (size_t i = 0; i < slots_.size(); ++i)
    slots_[i]->bind(*packer_, offsets_[i]);
  return {};
}

Expected<void> CType::complete() {
  if (completed_)
    return {};
  if (failed_)
    return makeError("type " + title_ + " failed to complete");
  Expected<void> r = resolveNames();
  if (r)
    r = resolveConditions();
  if (r)
    r = layoutAndBind();
  failed_ = !r;
  completed_ = r.ok();
  return r;
}

void CType::ctorRecord(std::byte* record) const {
  for (size_t i = 0; i < slots_.size(); ++i)
    slots_[i]->ctor(record + offsets_[i]);
}
void CType::dtorRecord(std::byte* record) const {
  for (size_t i = 0; i < slots_.size(); ++i)
    slots_[i]->dtor(record + offsets_[i]);
}
void CType::copyRecord(std::byte* dst, const std::byte* src) const {
  for (size_t i = 0; i < slots_.size(); ++i)
    slots_[i]->copy(dst + offsets_[i], src + offsets_[i]);
}

Reference<IObject> CType::createObject() {
  if (!completed_)
    return {};
  return DescriptorObject::make(this);
}

// ---- kinds ----

CMap& CMap::path(uint32_t a, uint32_t b) { return setPath(endPath({a, b})), *this; }
CMap& CMap::path(uint32_t a, uint32_t b, uint32_t c) { return setPath(endPath({a, b, c})), *this; }
CMap& CMap::path(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  setPath(endPath({a, b, c, d}));
  return *this;
}

CMap& CMap::generic(const char* n, const char* on) {
  if (!n || !*n) {
    logLine("generic NULL " + title());
    return *this;
  }
  if (!on || !*on)
    return *this;
  genericName = n;
  typeOn = on;
  registerGenericMap(genericName, this);
  return *this;
}

Expected<void> CMap::inherit(const char* n, unsigned value) {
  CMap* parent = findGenericMap(n ? n : "");
  if (!parent)
    return fail(std::string("no generic map ") + (n ? n : "") + " for " + title());
  Expected<void> r = CType::inherit(parent);
  if (!r)
    return r;
  inheritName = n;
  genericParent = parent;
  typeValue = value;
  return {};
}

CItem& CItem::path(uint32_t a, uint32_t b) { return setPath(endPath({a, b})), *this; }
CItem& CItem::path(uint32_t a, uint32_t b, uint32_t c) {
  setPath(endPath({a, b, c}));
  return *this;
}

HolderConfig CItem::holderConfig() const {
  HolderConfig h;
  h.path = pathIds();
  if (autoRefresh != 0) {
    h.setRefresh = true;
    h.refresh = autoRefresh;
    h.refreshFilter = refreshFilter;
  }
  h.setSet = setCmd != CMD_DEFAULT;
  h.setCmd = setCmd;
  h.setGet = getCmd != CMD_DEFAULT;
  h.getCmd = getCmd;
  if (isReadOnly()) {
    h.setSet = true;
    h.setCmd = CMD_NONE;
  }
  return h;
}

CSetup& CSetup::path(uint32_t a, uint32_t b) { return setPath(endPath({a, b})), *this; }
CSetup& CSetup::path(uint32_t a, uint32_t b, uint32_t c) {
  setPath(endPath({a, b, c}));
  return *this;
}

CAction::CAction(std::string title)
    : CType(TypeKind::Action, title), reply_(TypeKind::Plain, title + " reply") {}
CAction& CAction::path(uint32_t a, uint32_t b) { return setPath(endPath({a, b})), *this; }
CAction& CAction::path(uint32_t a, uint32_t b, uint32_t c) {
  setPath(endPath({a, b, c}));
  return *this;
}
CAction& CAction::reply() {
  toReply_ = true;
  return *this;
}
CAction& CAction::add(Slot& slot) {
  if (toReply_)
    reply_.add(slot);
  else
    CType::add(slot);
  return *this;
}

Expected<void> CAction::complete() {
  Expected<void> r = CType::complete();
  return r ? reply_.complete() : r;
}

ActionConfig CAction::createAction() {
  ActionConfig a;
  a.request = createObject();
  a.reply = reply_.createObject();
  a.path = pathIds();
  a.pollInterval = autoRefresh;
  a.startCmd = startCmd;
  a.pollCmd = pollCmd;
  a.cancelCmd = cancelCmd;
  return a;
}

CQuery::CQuery(std::string title)
    : CType(TypeKind::Query, title), result_(title + " result"),
      status_(TypeKind::Plain, title + " status") {
  result_.readOnly(true);
}
CQuery& CQuery::path(uint32_t a, uint32_t b) { return setPath(endPath({a, b})), *this; }
CQuery& CQuery::path(uint32_t a, uint32_t b, uint32_t c) {
  setPath(endPath({a, b, c}));
  return *this;
}

void CQuery::moveToResult() {
  result_.nameText = std::exchange(nameText, {});
  result_.nameVal = std::exchange(nameVal, {});
  result_.prefixText = std::exchange(prefixText, {});
  result_.treeOn_ = std::exchange(treeOn_, {});
  result_.iconOn_ = std::exchange(iconOn_, {});
}

Expected<void> CQuery::complete() {
  Expected<void> r = CType::complete();
  if (r)
    r = result_.complete();
  return r ? status_.complete() : r;
}

CDoit& CDoit::path(uint32_t a, uint32_t b) { return setPath(endPath({a, b})), *this; }
CDoit& CDoit::path(uint32_t a, uint32_t b, uint32_t c) {
  setPath(endPath({a, b, c}));
  return *this;
}

namespace {
template <typename T> T& pendType(const char* title) {
  auto t = std::make_unique<T>(title ? title : "");
  T& ref = *t;
  modelContext().pendingTypes.push_back(std::move(t));
  return ref;
}
} // namespace

CMap& cmap(const char* t) { return pendType<CMap>(t); }
CItem& citem(const char* t) { return pendType<CItem>(t); }
CSetup& csetup(const char* t) { return pendType<CSetup>(t); }
CAction& caction(const char* t) { return pendType<CAction>(t); }
CQuery& cquery(const char* t) { return pendType<CQuery>(t); }
CDoit& cdoit(const char* t) { return pendType<CDoit>(t); }
CTerminal& cterminal(const char* t) { return pendType<CTerminal>(t); }
CAlias& calias(const char* t) { return pendType<CAlias>(t); }

std::unique_ptr<CType> adoptPendingType(CType* type) {
  auto& pending = modelContext().pendingTypes;
  auto it = std::find_if(pending.begin(), pending.end(),
                         [&](const std::unique_ptr<CType>& p) { return p.get() == type; });
  if (it == pending.end())
    return nullptr;
  std::unique_ptr<CType> t = std::move(*it);
  pending.erase(it);
  return t;
}

void clearPendingTypes() { modelContext().pendingTypes.clear(); }

CMap* findGenericMap(std::string_view n) {
  for (const auto& [name, map] : generics())
    if (name == n)
      return map;
  return nullptr;
}
void registerGenericMap(const std::string& n, CMap* map) { generics().emplace_back(n, map); }
void unregisterGenericMaps(const CMap* owner) {
  std::erase_if(generics(), [&](const auto& g) { return g.second == owner; });
}
void clearGenericMaps() { generics().clear(); }
size_t genericMapCount() { return generics().size(); }
void dropGenericMapsFrom(size_t count) {
  if (count < generics().size())
    generics().resize(count);
}

Slot* ASlotRef::lookupSlot(IObject* object) const {
  CType* type = object ? object->getCType() : nullptr;
  Slot* s = type ? type->slot(name_) : nullptr;
  if (!s)
    logLine("SlotRef" + name_ + ": slot not found");
  return s;
}

const std::vector<uint32_t>& tracedFields() { return modelContext().tracedFields; }
void clearTracedFields() { modelContext().tracedFields.clear(); }

} // namespace kestel
