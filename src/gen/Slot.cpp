#include "gen/Slot.h"

#include "api/object/PackerElements.h"
#include "gen/ModelContext.h"
#include "gen/SlotFactory.h"
#include "util/Log.h"

#include <algorithm>
#include <new>

namespace kestel {

namespace {

template <typename T> void construct(void* p) { new (p) T(); }
template <typename T> void destroy(void* p) { static_cast<T*>(p)->~T(); }
template <typename T> void assign(void* d, const void* s) {
  *static_cast<T*>(d) = *static_cast<const T*>(s);
}

// Runs `f<T>` for the C++ type of a store.
template <typename F> void withStore(Store s, F&& f) {
  switch (s) {
  case Store::U32:
    return f(static_cast<uint32_t*>(nullptr));
  case Store::U64:
    return f(static_cast<uint64_t*>(nullptr));
  case Store::Addr6:
    return f(static_cast<nv::addr6*>(nullptr));
  case Store::Text:
    return f(static_cast<std::string*>(nullptr));
  case Store::Raw:
    return f(static_cast<std::vector<uint8_t>*>(nullptr));
  case Store::U32List:
    return f(static_cast<std::vector<uint32_t>*>(nullptr));
  case Store::U64List:
    return f(static_cast<std::vector<uint64_t>*>(nullptr));
  case Store::Addr6List:
    return f(static_cast<std::vector<nv::addr6>*>(nullptr));
  case Store::TextList:
    return f(static_cast<std::vector<std::string>*>(nullptr));
  case Store::RawList:
    return f(static_cast<std::vector<std::vector<uint8_t>>*>(nullptr));
  case Store::Message:
    return f(static_cast<nv::message*>(nullptr));
  }
}

uint32_t alignUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

bool nonZero(const JSNode& n) { return n.u64Value(0) != 0; }
uint32_t u32(const JSNode& n, uint32_t def) { return static_cast<uint32_t>(n.u64Value(def)); }
std::string str(const JSNode& n) { return n.text() ? n.text() : ""; }

// A scale factor: 0 would divide by zero when packing, so it is refused (logged) and taken as 1.
uint32_t checkedScale(uint32_t scale, const std::string& slotName) {
  if (scale != 0)
    return scale;
  logLine("ERROR: scale 0 for slot <" + slotName + ">, taken as 1");
  return 1;
}

// A number node, or a string holding a signed decimal (documents carry negatives as text).
uint32_t signedValue(const JSNode& n, uint32_t def) {
  if (n.kind == JSNodeKind::Number)
    return static_cast<uint32_t>(n.u64Value(def));
  if (!n.text())
    return def;
  std::string_view t = n.text();
  bool neg = !t.empty() && t[0] == '-';
  uint64_t v = parseDecimalPrefix(neg ? t.substr(1) : t);
  return neg ? static_cast<uint32_t>(-static_cast<int64_t>(std::min<uint64_t>(v, 0x80000000)))
             : static_cast<uint32_t>(v);
}

Reference<IPackerElement> elementFor(const SlotField& f, const member& m) {
  switch (f.letter) {
  case 's':
    return createText(m, nv::string_id(f.key));
  case 'u':
    if (f.scale > 1)
      return createScaledNumber(m, nv::u32_id(f.key), f.scale);
    return createNumber(m, nv::u32_id(f.key));
  case 'b':
    return createNumberAsBool(m, nv::bool_id(f.key));
  case 'U':
    return createNumberList(m, nv::u32_array_id(f.key));
  case 'r':
    return createRawBytes(m, nv::raw_id(f.key));
  case 'R':
    return createRawList(m, nv::raw_array_id(f.key));
  case 'a':
    return createAddress(m, nv::addr6_id(f.key));
  case 'm':
    return createMessage(m, nv::message_id(f.key));
  case 'q':
    return createBigNumber(m, nv::u64_id(f.key));
  case 'Q':
    return createBigNumberList(m, nv::u64_array_id(f.key));
  case 'A':
    return createAddressList(m, nv::addr6_array_id(f.key));
  case 'S':
    return createTextList(m, nv::string_array_id(f.key));
  default:
    return {};
  }
}

// Logs every load and pack of a traced field ("!" slots), then does the element's work.
class TracedElement : public IPackerElement {
public:
  TracedElement(Reference<IPackerElement> inner, uint32_t key)
      : inner_(std::move(inner)), key_(key) {}
  void unpack(const nv::message& msg, IObject* obj) const override {
    logf("MultiView::load ", key_, " sz=", msg.size());
    inner_->unpack(msg, obj);
  }
  void pack(nv::message& msg, IObject* obj) const override {
    inner_->pack(msg, obj);
    logf("MultiView::save ", key_, " sz=", msg.size());
  }
  bool has(const nv::message& msg) const override { return inner_->has(msg); }
  void unset(nv::message& msg) const override { inner_->unset(msg); }
  bool setValue(IObject* obj, const void* value, const member_type* type) const override {
    return inner_->setValue(obj, value, type);
  }
  bool getValue(const IObject* obj, void* value, const member_type* type) const override {
    return inner_->getValue(obj, value, type);
  }

private:
  Reference<IPackerElement> inner_;
  uint32_t key_;
};

} // namespace

bool storeOfLetter(char letter, Store& store) {
  static const std::pair<char, Store> table[] = {
      {'s', Store::Text}, {'u', Store::U32},     {'b', Store::U32},       {'U', Store::U32List},
      {'r', Store::Raw},  {'R', Store::RawList}, {'a', Store::Addr6},     {'m', Store::Message},
      {'q', Store::U64},  {'Q', Store::U64List}, {'A', Store::Addr6List}, {'S', Store::TextList}};
  for (const auto& [l, s] : table) {
    if (l == letter) {
      store = s;
      return true;
    }
  }
  return false;
}

const member_type* storeType(Store store) {
  const member_type* t = nullptr;
  withStore(store, [&](auto* p) { t = memberTypeOf<std::remove_pointer_t<decltype(p)>>(); });
  return t;
}

Store SlotField::store() const {
  Store s = Store::U32;
  if (!storeOfLetter(letter, s) && !letters.empty())
    storeOfLetter(letters[0], s);
  return s;
}

void setLoggedInUser(std::string user) { modelContext().loggedInUser = std::move(user); }
const std::string& loggedInUser() { return modelContext().loggedInUser; }
void setRouterTime(uint32_t seconds) { modelContext().routerTime = seconds; }
uint32_t routerTime() { return modelContext().routerTime; }

Slot::Slot(std::string kind, std::string name) : kind_(std::move(kind)), name_(std::move(name)) {}

Slot::~Slot() { modelContext().views.erase(this); }

void Slot::declareField(std::string idKey, std::string letters) {
  idKeys_.push_back(std::move(idKey));
  SlotField f;
  f.letters = std::move(letters);
  fields_.push_back(std::move(f));
}

void Slot::bindField(size_t i, char letter, uint32_t key, uint32_t scale) {
  if (i >= fields_.size() || laidOut_ || fields_[i].letters.find(letter) == std::string::npos)
    return;
  fields_[i].letter = letter;
  fields_[i].key = key & 0xFFFFFF;
  fields_[i].scale = checkedScale(scale, name_);
}

Expected<void> Slot::read(const JSNode& node) {
  for (const JSNode& m : children(&node)) {
    if (!m.key)
      continue;
    bool taken = false;
    Expected<void> common = readCommon(m, taken);
    if (!common)
      return common;
    if (taken)
      continue;
    Expected<bool> own = readKey(m);
    if (!own)
      return own.error();
    if (!own.value())
      options_[m.key] = JSValue::copy(m);
  }
  for (size_t i = 0; i < fields_.size(); ++i) {
    const JSNode* id = node.find(idKeys_[i]);
    const char* t = id ? id->text() : nullptr;
    if (t && t[0])
      bindField(i, t[0], static_cast<uint32_t>(parseAutoBasePrefix(std::string("0x") + (t + 1))));
  }
  if (const JSNode* s = node.find("scale"); s && !fields_.empty())
    fields_[0].scale = checkedScale(u32(*s, 1), name_);
  return finishRead();
}

Expected<void> Slot::readCommon(const JSNode& m, bool& taken) {
  static const std::pair<const char*, uint32_t> flagKeys[] = {{"hide", SLOT_HIDE},
                                                              {"nonpublic", SLOT_NONPUBLIC},
                                                              {"override", SLOT_OVERRIDE},
                                                              {"hardfilter", SLOT_HARDFILTER},
                                                              {"inlinepostfix", SLOT_INLINEPOSTFIX},
                                                              {"hidebydefault", SLOT_HIDEBYDEFAULT},
                                                              {"lastcol", SLOT_LASTCOL}};
  std::string_view k = m.key;
  taken = true;
  for (const auto& [name, bit] : flagKeys) {
    if (k == name) {
      flags_ = nonZero(m) ? flags_ | bit : flags_ & ~bit;
      return {};
    }
  }
  if (k == "type" || k == "scale" || std::find(idKeys_.begin(), idKeys_.end(), k) != idKeys_.end())
    return {};
  if (k == "name")
    name_ = str(m);
  else if (k == "title")
    title_ = str(m);
  else if (k == "on")
    conditionName_ = str(m);
  else if (k == "postfix")
    postfix_ = str(m);
  else if (k == "tag")
    tag_ = u32(m, 0xFFFFFFFF);
  else if (k == "width")
    width_ = u32(m, 0);
  else if (k == "sorted")
    sorted_ = nonZero(m);
  else if (k == "values" && m.kind == JSNodeKind::Object) {
    Expected<EnumRef> e = createEnum(m);
    if (!e)
      return e.error();
    values_ = e.value();
  } else if (k == "c" && m.kind == JSNodeKind::Array) {
    for (const JSNode& el : children(&m)) {
      Expected<SlotElement> inner = createSlotElement(el);
      if (!inner)
        return inner.error();
      if (inner->slot)
        inner_.push_back(std::move(inner->slot));
    }
  } else
    taken = false;
  return {};
}

Expected<bool> Slot::readKey(const JSNode&) { return false; }
Expected<void> Slot::finishRead() { return {}; }
Expected<void> Slot::resolve(const CType&) { return {}; }

const JSValue* Slot::option(std::string_view key) const {
  auto it = options_.find(key);
  return it == options_.end() ? nullptr : &it->second;
}

void Slot::layout() {
  if (laidOut_)
    return;
  laidOut_ = true;
  uint32_t at = 0;
  for (SlotField& f : fields_) {
    uint32_t size = 0, align = 1; // the C++ type's own needs (generic member types align to 1)
    withStore(f.store(), [&](auto* p) {
      using T = std::remove_pointer_t<decltype(p)>;
      size = sizeof(T);
      align = alignof(T);
    });
    at = alignUp(at, align);
    f.offset = at;
    at += size;
    align_ = std::max(align_, align);
  }
  for (const auto& in : inner_) {
    in->layout();
    at = alignUp(at, in->align_);
    innerOffsets_.push_back(at);
    at += in->size_;
    align_ = std::max(align_, in->align_);
  }
  size_ = alignUp(at, align_);
}

uint32_t Slot::realize(SlotMaster& master) {
  layout();
  return master.reserve(size_, align_, nonZeroDefault());
}

void Slot::bind(IPacker& packer, uint32_t base) const {
  for (const SlotField& f : fields_) {
    if (!f.letter)
      continue;
    member m(base + f.offset, storeType(f.store()));
    Reference<IPackerElement> e = elementFor(f, m);
    if (e && !name_.empty() && name_[0] == '!')
      e = Reference<IPackerElement>(new TracedElement(e, f.key));
    if (e)
      packer.add(e, nv::u32_id(f.key).id() & 0xFFFFFF);
  }
  for (size_t i = 0; i < inner_.size(); ++i)
    inner_[i]->bind(packer, base + innerOffsets_[i]);
}

member Slot::getMbr(uint32_t base) const {
  if (fields_.empty() || !fields_[0].letter)
    return member();
  return member(base + fields_[0].offset, storeType(fields_[0].store()));
}

void Slot::ctor(void* part) const {
  auto* p = static_cast<std::byte*>(part);
  for (const SlotField& f : fields_)
    withStore(f.store(),
              [&](auto* t) { construct<std::remove_pointer_t<decltype(t)>>(p + f.offset); });
  for (size_t i = 0; i < inner_.size(); ++i)
    inner_[i]->ctor(p + innerOffsets_[i]);
}

void Slot::dtor(void* part) const {
  auto* p = static_cast<std::byte*>(part);
  for (const SlotField& f : fields_)
    withStore(f.store(),
              [&](auto* t) { destroy<std::remove_pointer_t<decltype(t)>>(p + f.offset); });
  for (size_t i = 0; i < inner_.size(); ++i)
    inner_[i]->dtor(p + innerOffsets_[i]);
}

void Slot::copy(void* dst, const void* src) const {
  auto* d = static_cast<std::byte*>(dst);
  const auto* s = static_cast<const std::byte*>(src);
  for (const SlotField& f : fields_)
    withStore(f.store(), [&](auto* t) {
      assign<std::remove_pointer_t<decltype(t)>>(d + f.offset, s + f.offset);
    });
  for (size_t i = 0; i < inner_.size(); ++i)
    inner_[i]->copy(d + innerOffsets_[i], s + innerOffsets_[i]);
}

Reference<IBase> Slot::createConvertor() const {
  const auto& makers = modelContext().convertorMakers;
  auto it = makers.find(kind_);
  return it == makers.end() ? Reference<IBase>() : it->second(*this);
}

IView* Slot::createView(SkinEntry* skin, void* record, bool readOnly) {
  if (IView* v = Views::find(this))
    return v;
  const ViewFactory& factory = modelContext().viewFactory;
  return factory ? factory(*this, skin, record, readOnly) : nullptr;
}

Slot& Slot::title(std::string t) {
  title_ = std::move(t);
  return *this;
}
Slot& Slot::postfix(std::string p) {
  postfix_ = std::move(p);
  return *this;
}
Slot& Slot::on(std::string c) {
  conditionName_ = std::move(c);
  return *this;
}
Slot& Slot::flags(uint32_t bits) {
  flags_ |= bits;
  return *this;
}
Slot& Slot::tag(uint32_t t) {
  tag_ = t;
  return *this;
}
Slot& Slot::width(uint32_t w) {
  width_ = w;
  return *this;
}
Slot& Slot::values(EnumRef e) {
  values_ = std::move(e);
  return *this;
}

// ---- text ----

SString::SString(std::string kind, std::string name) : ATextSlot(std::move(kind), std::move(name)) {
  declareField("id", "s");
}

SString& SString::id(nv::string_id id) {
  bindField(0, 's', id.key);
  return *this;
}
SString& SString::def(std::string text) {
  def_ = std::move(text);
  return *this;
}
SString& SString::minLength(uint32_t n) {
  min_ = n;
  return *this;
}
SString& SString::maxLength(uint32_t n) {
  max_ = n;
  return *this;
}
SString& SString::defUser(bool on) {
  defUser_ = on;
  return *this;
}

Expected<bool> SString::readKey(const JSNode& m) {
  std::string_view k = m.key;
  if (k == "min")
    min_ = u32(m, 0);
  else if (k == "max")
    max_ = u32(m, 0xFFFFFFFF);
  else if (k == "def")
    def_ = str(m);
  else if (k == "cols")
    cols_ = u32(m, 0);
  else if (k == "big")
    big_ = nonZero(m);
  else if (k == "verybig")
    veryBig_ = nonZero(m);
  else if (k == "strict")
    strict_ = nonZero(m);
  else if (k == "defuser")
    defUser_ = nonZero(m);
  else if (k == "iplist")
    ipList_ = nonZero(m);
  else
    return false;
  if (veryBig_)
    cols_ = 20;
  else if (big_ && cols_ < 10)
    cols_ = 10;
  return true;
}

void SString::ctor(void* part) const {
  Slot::ctor(part);
  if (fields().empty())
    return;
  auto* s = reinterpret_cast<std::string*>(static_cast<std::byte*>(part) + fields()[0].offset);
  *s = defUser_ ? loggedInUser() : def_;
}

// ---- numbers ----

SNumber::SNumber(std::string kind, std::string name, std::string letters, std::string secondKey,
                 std::string secondLetters)
    : Slot(std::move(kind), std::move(name)) {
  declareField("id", std::move(letters));
  if (!secondKey.empty())
    declareField(std::move(secondKey), std::move(secondLetters));
  if (this->kind() == "integer") {
    signed_ = true;
    min_ = 0x80000000u;
    max_ = 0x7FFFFFFFu;
    hasDef_ = true; // integers start at 0
  }
}

SNumber& SNumber::id(nv::u32_id id) { return this->id(id, 1); }
SNumber& SNumber::id(nv::u32_id id, unsigned int scale) {
  bindField(0, 'u', id.key, scale);
  return *this;
}
SNumber& SNumber::id(nv::bool_id id) {
  bindField(0, 'b', id.key);
  return *this;
}
SNumber& SNumber::def(uint32_t value) {
  def_ = value;
  hasDef_ = true;
  if (!hasOptval_)
    optval_ = value;
  return *this;
}
SNumber& SNumber::range(uint32_t min, uint32_t max) {
  min_ = min;
  max_ = max;
  (void)finishRead();
  return *this;
}
SNumber& SNumber::radix(uint32_t r) {
  radix_ = r;
  return *this;
}
SNumber& SNumber::optVal(uint32_t value) {
  optval_ = value;
  hasOptval_ = true;
  return *this;
}

Expected<bool> SNumber::readKey(const JSNode& m) {
  std::string_view k = m.key;
  if (k == "def") {
    def_ = signedValue(m, 0);
    hasDef_ = true;
  } else if (k == "optval") {
    optval_ = signedValue(m, 0);
    hasOptval_ = true;
  } else if (k == "min")
    min_ = signedValue(m, min_);
  else if (k == "max")
    max_ = signedValue(m, max_);
  else if (k == "radix")
    radix_ = u32(m, 10);
  else if (k == "todaydef" || k == "nowdef") {
    if (nonZero(m))
      timeDef_ = kind() == "clocktime" || k == "nowdef" ? TimeDefault::Now
                 : kind() == "dateandtime"              ? TimeDefault::DateTime
                                                        : TimeDefault::Today;
  } else if (k == "defmask" || k == "defport")
    secondDef_ = u32(m, 0);
  else
    return false;
  return true;
}

Expected<void> SNumber::finishRead() {
  if (!hasDef_) {
    def_ = min_; // no default: new objects start at the minimum, which also means unset
    if (!hasOptval_)
      optval_ = min_;
  } else if (!hasOptval_) {
    optval_ = def_;
  }
  return {};
}

bool SNumber::nonZeroDefault() const {
  return def_ != 0 || timeDef_ != TimeDefault::None || secondDef_ != 0;
}

void SNumber::ctor(void* part) const {
  Slot::ctor(part);
  auto* p = static_cast<std::byte*>(part);
  if (fields().empty() || fields()[0].store() != Store::U32)
    return;
  auto* v = reinterpret_cast<uint32_t*>(p + fields()[0].offset);
  uint32_t now = routerTime();
  switch (timeDef_) {
  case TimeDefault::Today:
    *v = now / 86400 * 86400;
    break;
  case TimeDefault::Now:
    *v = now % 86400;
    break;
  case TimeDefault::DateTime:
    *v = now;
    break;
  case TimeDefault::None:
    if (hasDef_ || def_ != 0)
      *v = def_;
    break;
  }
  if (fields().size() > 1 && fields()[1].store() == Store::U32)
    *reinterpret_cast<uint32_t*>(p + fields()[1].offset) = secondDef_;
}

SRaw::SRaw(std::string kind, std::string name, std::string secondKey)
    : Slot(std::move(kind), std::move(name)) {
  declareField("id", "r");
  if (!secondKey.empty())
    declareField(std::move(secondKey), "r");
}

SNumberRange::SNumberRange(std::string kind, std::string name)
    : Slot(std::move(kind), std::move(name)) {
  declareField("id", "u");
  declareField("highid", "u");
}

SNumberRange& SNumberRange::id(nv::u32_id low, nv::u32_id high) {
  bindField(0, 'u', low.key);
  bindField(1, 'u', high.key);
  return *this;
}

Expected<bool> SNumberRange::readKey(const JSNode& m) {
  std::string_view k = m.key;
  if (k == "deflow")
    defLow_ = signedValue(m, 0);
  else if (k == "defhigh")
    defHigh_ = signedValue(m, 0);
  else
    return false;
  return true;
}

void SNumberRange::ctor(void* part) const {
  Slot::ctor(part);
  auto* p = static_cast<std::byte*>(part);
  *reinterpret_cast<uint32_t*>(p + fields()[0].offset) = defLow_;
  *reinterpret_cast<uint32_t*>(p + fields()[1].offset) = defHigh_;
}

SNumberList::SNumberList(std::string kind, std::string name, std::string letters,
                         std::string secondKey, std::string secondLetters)
    : Slot(std::move(kind), std::move(name)) {
  declareField("id", std::move(letters));
  if (!secondKey.empty())
    declareField(std::move(secondKey), std::move(secondLetters));
}

SNumberList& SNumberList::id(nv::u32_array_id id) {
  bindField(0, 'U', id.key);
  return *this;
}

Expected<bool> SNumberList::readKey(const JSNode& m) {
  std::string_view k = m.key;
  if (k == "deflow")
    defLow_ = u32(m, 0);
  else if (k == "defhigh")
    defHigh_ = u32(m, 0);
  else if (k == "defsize")
    defSize_ = std::min<uint32_t>(u32(m, 0), 256); // a bounded default, whatever the document says
  else
    return false;
  return true;
}

void SNumberList::ctor(void* part) const {
  Slot::ctor(part);
  if (fields()[0].store() != Store::U32List || defSize_ == 0)
    return;
  auto* v =
      reinterpret_cast<std::vector<uint32_t>*>(static_cast<std::byte*>(part) + fields()[0].offset);
  v->assign(defSize_, defLow_);
}

SAddress::SAddress(std::string name) : Slot("addr", std::move(name)) { declareField("id", "m"); }

SAddress& SAddress::allow(uint32_t bits) {
  allow_ = bits;
  return *this;
}

Expected<uint32_t> parseAllowFlags(std::string_view letters) {
  static const char kLetters[] = "46vt/iRDm%";
  uint32_t bits = 0;
  for (char c : letters) {
    const char* at = std::find(kLetters, kLetters + 10, c);
    if (at == kLetters + 10) {
      logLine("ERROR: unknown flag in saddress allow");
      return makeError("ERROR: unknown flag in saddress allow");
    }
    bits |= 1u << (at - kLetters);
  }
  return bits;
}

Expected<bool> SAddress::readKey(const JSNode& m) {
  if (std::string_view(m.key) != "allow")
    return false;
  Expected<uint32_t> bits = parseAllowFlags(str(m));
  if (!bits)
    return bits.error();
  allow_ = bits.value();
  return true;
}

// ---- code factories, pool, registries ----

namespace {
template <typename T> T& pend(std::unique_ptr<T> s) {
  T& ref = *s;
  modelContext().pendingSlots.push_back(std::move(s));
  return ref;
}
template <typename T> T& pendKind(const char* kind, const char* name) {
  std::unique_ptr<Slot> s = makeSlotOfKind(kind, name ? name : "");
  return pend(std::unique_ptr<T>(static_cast<T*>(s.release())));
}
} // namespace

SString& sstring(const char* n) { return pendKind<SString>("string", n); }
SString& ssecret(const char* n) { return pendKind<SString>("secret", n); }
SString& spassword(const char* n) { return pendKind<SString>("password", n); }
SString& sscript(const char* n) { return pendKind<SString>("script", n); }
SString& sversion(const char* n) { return pendKind<SString>("version", n); }
SString& sstringArray(const char* n) { return pendKind<SString>("stringarray", n); }
SString& smultilineString(const char* n) { return pendKind<SString>("multilinestring", n); }
SNumber& snumber(const char* n) { return pendKind<SNumber>("number", n); }
SNumber& sinteger(const char* n) { return pendKind<SNumber>("integer", n); }
SNumberRange& snumberRange(const char* n) { return pendKind<SNumberRange>("numberrange", n); }
SIntegerRange& sintegerRange(const char* n) { return pendKind<SIntegerRange>("integerrange", n); }
SNumberList& snumberList(const char* n) { return pendKind<SNumberList>("numberlist", n); }
SNumberRangeList& snumberRangeList(const char* n) {
  return pendKind<SNumberRangeList>("numberrangelist", n);
}
SNumber& sipAddress(const char* n) { return pendKind<SNumber>("ipaddr", n); }
Slot& sip6Address(const char* n) { return pendKind<Slot>("ip6addr", n); }
Slot& sip6ZonedAddress(const char* n) {
  std::unique_ptr<Slot> s = makeSlotOfKind("ip6addr", n ? n : "");
  return pend(std::move(s)); // the zone field binds through "ifaceid"
}
SAddress& saddress(const char* n) { return pendKind<SAddress>("addr", n); }
SNumber& snetmask(const char* n) { return pendKind<SNumber>("netmask", n); }
Slot& snetwork6(const char* n) { return pendKind<Slot>("network6", n); }

std::unique_ptr<Slot> adoptPendingSlot(Slot* slot) {
  auto& pending = modelContext().pendingSlots;
  auto it = std::find_if(pending.begin(), pending.end(),
                         [&](const std::unique_ptr<Slot>& p) { return p.get() == slot; });
  if (it == pending.end())
    return nullptr;
  std::unique_ptr<Slot> s = std::move(*it);
  pending.erase(it);
  return s;
}

void clearPendingSlots() { modelContext().pendingSlots.clear(); }

void installConvertorMaker(const std::string& kind, ConvertorMaker maker) {
  modelContext().convertorMakers[kind] = std::move(maker);
}
void clearConvertorMakers() { modelContext().convertorMakers.clear(); }

void setViewFactory(ViewFactory factory) { modelContext().viewFactory = std::move(factory); }
void Views::add(Slot* slot, IView* view) { modelContext().views[slot] = view; }
IView* Views::find(const Slot* slot) {
  const auto& views = modelContext().views;
  auto it = views.find(slot);
  return it == views.end() ? nullptr : it->second;
}
void Views::clear() { modelContext().views.clear(); }

} // namespace kestel
