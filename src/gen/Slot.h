// Slots: the fields of a descriptor type. A slot binds one or two message fields (its "id" and
// a second-field key such as "maskid") to storage in the object record of its type, keeps the
// default rules for fresh records, and names the enumeration, condition and postfix the windows
// use. Container kinds (groups, tabs, multi-values …) hold inner slots whose storage lies inside
// the container's part of the record. Slots never touch storage outside the part handed to them.
#pragma once

#include "api/object/MemberType.h"
#include "api/object/Packer.h"
#include "gen/Enumerations.h"
#include "gen/JSNode.h"
#include "util/Base.h"
#include "util/Expected.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestel {

class CType;
class SlotCondition;
class IView;
struct SkinEntry;

inline constexpr uint32_t NO_INDEX = 0xFFFFFFFF;

// Flag bits of every slot, each from a numeric key (non-zero sets it).
enum SlotFlag : uint32_t {
  SLOT_HIDE = 0x1,
  SLOT_NONPUBLIC = 0x2,
  SLOT_OVERRIDE = 0x4,
  SLOT_HARDFILTER = 0x8,
  SLOT_INLINEPOSTFIX = 0x10,
  SLOT_HIDEBYDEFAULT = 0x20,
  SLOT_LASTCOL = 0x40,
};

// What one field of a slot holds in the record.
enum class Store : uint8_t {
  U32,       // uint32_t (numbers, booleans as a 32-bit word, IPv4 addresses)
  U64,       // uint64_t
  Addr6,     // nv::addr6
  Text,      // std::string
  Raw,       // std::vector<uint8_t>
  U32List,   // std::vector<uint32_t>
  U64List,   // std::vector<uint64_t>
  Addr6List, // std::vector<nv::addr6>
  TextList,  // std::vector<std::string>
  RawList,   // std::vector<std::vector<uint8_t>>
  Message,   // nv::message
};

// The store a field-id letter names; false for an unknown letter. Letters: s string, u u32,
// b boolean (kept as a u32 word), U u32 array, r raw, R raw array, a addr6, m message, q u64,
// Q u64 array, A addr6 array, S string array.
bool storeOfLetter(char letter, Store& store);
const member_type* storeType(Store store);

// One bound field of a slot.
struct SlotField {
  std::string letters; // the id letters this field accepts
  char letter = 0;     // the letter it was bound with; 0 binds nothing
  uint32_t key = 0;    // the message field number
  uint32_t scale = 1;  // a u32 number stored as the wire value times this
  uint32_t offset = 0; // within the slot's part of the record (set by layout)
  Store store() const; // from the bound letter, else the first accepted one
};

// The type side of realize: reserves the slot's part of the object record.
class SlotMaster {
public:
  virtual ~SlotMaster() = default;
  // Reserves `size` bytes aligned to `alignment` and returns their offset in the record.
  virtual uint32_t reserve(uint32_t size, uint32_t alignment, bool nonZeroDefault) = 0;
};

// What the session tells the default rules: the logged-in user and the router clock.
void setLoggedInUser(std::string user);
const std::string& loggedInUser();
// Seconds since 1970 as last received from the router's clock object.
void setRouterTime(uint32_t seconds);
uint32_t routerTime();

class Slot {
public:
  Slot(std::string kind, std::string name);
  virtual ~Slot();
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;

  // Reads the common keys and then the kind's own keys from a descriptor element; fails with
  // the descriptor error text (already logged).
  [[nodiscard]] Expected<void> read(const JSNode& node);
  // Checks names this slot refers to inside its type (alias originals, group keys); fails with
  // the descriptor error text (logged).
  [[nodiscard]] virtual Expected<void> resolve(const CType& type);

  // Storage: reserves this slot's part of the record (fields, then inner slots) and returns
  // its offset.
  uint32_t realize(SlotMaster& master);
  uint32_t partSize() const { return size_; }
  uint32_t partAlignment() const { return align_; }
  // Adds the packer elements of the bound fields whose part starts at `base` in the record.
  void bind(IPacker& packer, uint32_t base) const;
  // Constructs a fresh part with its defaults; releases it; copies one part over another.
  virtual void ctor(void* part) const;
  virtual void dtor(void* part) const;
  virtual void copy(void* dst, const void* src) const;
  // The address of the first field inside the part (what predicates on the slot read).
  uint32_t valueOffset() const { return fields_.empty() ? 0 : fields_[0].offset; }
  bool hasNonZeroDefault() const { return nonZeroDefault(); }

  // The convertor the editors use, from the makers installed for this kind (IConvertor);
  // null when none is installed.
  Reference<IBase> createConvertor() const;
  // The attached custom view, else the view factory's; null when there is neither.
  IView* createView(SkinEntry* skin, void* record, bool readOnly);

  // Chained setters for code-built slots.
  Slot& title(std::string t);
  Slot& postfix(std::string p);
  Slot& on(std::string condition);
  Slot& flags(uint32_t bits);
  Slot& tag(uint32_t t);
  Slot& width(uint32_t w);
  Slot& values(EnumRef e);

  const std::string& kind() const { return kind_; }
  const std::string& name() const { return name_; }
  const std::string& titleText() const { return title_; }
  const std::string& postfixText() const { return postfix_; }
  const std::string& conditionName() const { return conditionName_; }
  const SlotCondition* condition() const { return condition_; }
  void setCondition(const SlotCondition* c) { condition_ = c; }
  uint32_t index() const { return index_; }
  void setIndex(uint32_t i) { index_ = i; }
  uint32_t tagValue() const { return tag_; }
  uint32_t widthValue() const { return width_; }
  uint32_t flagBits() const { return flags_; }
  bool has(SlotFlag f) const { return (flags_ & f) != 0; }
  const EnumRef& enumeration() const { return values_; }
  bool sorted() const { return sorted_; }
  const std::vector<SlotField>& fields() const { return fields_; }
  const std::vector<std::unique_ptr<Slot>>& inner() const { return inner_; }
  // The storage offsets of the inner slots within this part (set by layout).
  const std::vector<uint32_t>& innerOffsets() const { return innerOffsets_; }
  // The member bound by the first field at `base`; a member without type when unbound.
  member getMbr(uint32_t base) const;
  // A kind key kept as read (keys beyond the storage of the slot's own fields); null if absent.
  const JSValue* option(std::string_view key) const;

  // Binds field `i` in code; a letter the field does not accept binds nothing.
  void bindField(size_t i, char letter, uint32_t key, uint32_t scale = 1);

  // Declares a field the kind binds; `idKey` is "id" for the first, else the second-field key.
  void declareField(std::string idKey, std::string letters);

protected:
  // The kind's own key; false when it is not one (then it is kept as an option).
  virtual Expected<bool> readKey(const JSNode& member);
  // Checks after all keys are read (required keys).
  virtual Expected<void> finishRead();
  virtual bool nonZeroDefault() const { return false; }

private:
  Expected<void> readCommon(const JSNode& member, bool& taken);
  void layout();

  std::string kind_, name_, title_, postfix_, conditionName_;
  const SlotCondition* condition_ = nullptr;
  uint32_t index_ = NO_INDEX;
  uint32_t tag_ = 0xFFFFFFFF;
  uint32_t width_ = 0;
  uint32_t flags_ = 0;
  EnumRef values_;
  bool sorted_ = false;
  std::vector<std::string> idKeys_;
  std::vector<SlotField> fields_;
  std::vector<std::unique_ptr<Slot>> inner_;
  std::vector<uint32_t> innerOffsets_;
  std::map<std::string, JSValue, std::less<>> options_;
  uint32_t size_ = 0;
  uint32_t align_ = 1;
  bool laidOut_ = false;
};

// Kinds edited as text.
class ATextSlot : public Slot {
public:
  using Slot::Slot;
};

class SString : public ATextSlot {
public:
  SString(std::string kind, std::string name);
  SString& id(nv::string_id id);
  SString& def(std::string text);
  SString& minLength(uint32_t n);
  SString& maxLength(uint32_t n);
  SString& defUser(bool on);
  uint32_t minLen() const { return min_; }
  uint32_t maxLen() const { return max_; }
  uint32_t columns() const { return cols_; }
  bool strict() const { return strict_; }
  bool ipList() const { return ipList_; }
  const std::string& defText() const { return def_; }
  void ctor(void* part) const override;

protected:
  Expected<bool> readKey(const JSNode& member) override;
  bool nonZeroDefault() const override { return !def_.empty() || defUser_; }

private:
  uint32_t min_ = 0, max_ = 0xFFFFFFFF, cols_ = 0;
  bool big_ = false, veryBig_ = false, strict_ = false, defUser_ = false, ipList_ = false;
  std::string def_;
};

// Date and time defaults of the clock kinds.
enum class TimeDefault : uint8_t { None, Today, Now, DateTime };

class SNumber : public Slot {
public:
  // `secondKey` names the second field ("maskid", "portid", "timeid", …) or is empty.
  SNumber(std::string kind, std::string name, std::string letters = "ub",
          std::string secondKey = {}, std::string secondLetters = "u");
  SNumber& id(nv::u32_id id);
  SNumber& id(nv::u32_id id, unsigned int scale);
  SNumber& id(nv::bool_id id);
  SNumber& def(uint32_t value);
  SNumber& range(uint32_t min, uint32_t max);
  SNumber& radix(uint32_t r);
  // The unset value, as "optval".
  SNumber& optVal(uint32_t value);
  uint32_t defValue() const { return def_; }
  uint32_t unsetValue() const { return optval_; }
  uint32_t minValue() const { return min_; }
  uint32_t maxValue() const { return max_; }
  uint32_t radixValue() const { return radix_; }
  bool hasDefault() const { return hasDef_; }
  // The second field's default ("defmask", "defport"); 0 when not given.
  uint32_t secondDefault() const { return secondDef_; }
  bool isSigned() const { return signed_; }
  void ctor(void* part) const override;

protected:
  Expected<bool> readKey(const JSNode& member) override;
  Expected<void> finishRead() override;
  bool nonZeroDefault() const override;

private:
  uint32_t def_ = 0, optval_ = 0, min_ = 0, max_ = 0xFFFFFFFF, radix_ = 10;
  bool hasDef_ = false, hasOptval_ = false, signed_ = false;
  TimeDefault timeDef_ = TimeDefault::None;
  uint32_t secondDef_ = 0;
};

class SRaw : public Slot {
public:
  SRaw(std::string kind, std::string name, std::string secondKey = {});
};

class SNumberRange : public Slot {
public:
  SNumberRange(std::string kind, std::string name);
  SNumberRange& id(nv::u32_id low, nv::u32_id high);
  void ctor(void* part) const override;

protected:
  Expected<bool> readKey(const JSNode& member) override;
  bool nonZeroDefault() const override { return defLow_ || defHigh_; }
  uint32_t defLow_ = 0, defHigh_ = 0;
};

class SIntegerRange : public SNumberRange {
public:
  explicit SIntegerRange(std::string name) : SNumberRange("integerrange", std::move(name)) {}
};

class SNumberList : public Slot {
public:
  SNumberList(std::string kind, std::string name, std::string letters = "U",
              std::string secondKey = {}, std::string secondLetters = "U");
  SNumberList& id(nv::u32_array_id id);
  void ctor(void* part) const override;

protected:
  Expected<bool> readKey(const JSNode& member) override;
  bool nonZeroDefault() const override { return defSize_ != 0; }
  uint32_t defLow_ = 0, defHigh_ = 0, defSize_ = 0;
};

class SNumberRangeList : public SNumberList {
public:
  explicit SNumberRangeList(std::string name) : SNumberList("numberrangelist", std::move(name)) {}
};

// An address of any family ("addr"): a nested message, with the "allow" flag letters.
class SAddress : public Slot {
public:
  explicit SAddress(std::string name);
  SAddress& allow(uint32_t bits);
  uint32_t allowBits() const { return allow_; }

protected:
  Expected<bool> readKey(const JSNode& member) override;

private:
  uint32_t allow_ = 0;
};

// Reads the "allow" letters into bits; fails with "ERROR: unknown flag in saddress allow".
[[nodiscard]] Expected<uint32_t> parseAllowFlags(std::string_view letters);

// Code-side factories: each returns a new slot kept by the model until a type takes it.
SString& sstring(const char* name);
SString& ssecret(const char* name);
SString& spassword(const char* name);
SString& sscript(const char* name);
SString& sversion(const char* name);
SString& sstringArray(const char* name);
SString& smultilineString(const char* name);
SNumber& snumber(const char* name);
SNumber& sinteger(const char* name);
SNumberRange& snumberRange(const char* name);
SIntegerRange& sintegerRange(const char* name);
SNumberList& snumberList(const char* name);
SNumberRangeList& snumberRangeList(const char* name);
SNumber& sipAddress(const char* name);
Slot& sip6Address(const char* name);
Slot& sip6ZonedAddress(const char* name);
SAddress& saddress(const char* name);
SNumber& snetmask(const char* name);
Slot& snetwork6(const char* name);

// Takes a code-made slot out of the model's pending pool; null when it is not pending (it
// belongs to a type already, or was not made by a factory).
std::unique_ptr<Slot> adoptPendingSlot(Slot* slot);
// Frees every pending slot (model reset).
void clearPendingSlots();

// Convertors are made by the layer that knows them: it installs one maker per slot kind.
using ConvertorMaker = std::function<Reference<IBase>(const Slot&)>;
void installConvertorMaker(const std::string& kind, ConvertorMaker maker);
void clearConvertorMakers();

// Views: the GUI implements them and installs the factory; custom views attach to one slot.
class IView {
public:
  virtual ~IView() = default;
  // Refreshes the editor from the record.
  virtual void update() = 0;
};
using ViewFactory = std::function<IView*(Slot&, SkinEntry*, void*, bool)>;
void setViewFactory(ViewFactory factory);
struct Views {
  // Attaches a custom view to a slot (replacing an earlier one); the caller keeps the view.
  static void add(Slot* slot, IView* view);
  static IView* find(const Slot* slot);
  static void clear();
};

} // namespace kestel
