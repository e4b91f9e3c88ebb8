// Types of the descriptor model: one kind of router object or window (a table, a form, an
// action, a query, a one-shot command, a terminal opener, a launcher alias). A type owns its
// slots and conditions, is completed once all documents are loaded (names resolved, record laid
// out, packer bound) and only then makes objects. Built from descriptor elements (TypeFactory)
// or in code through the factories below and chained setters.
#pragma once

#include "api/object/Object.h"
#include "api/object/Packer.h"
#include "api/wire/Vocabulary.h"
#include "gen/JSNode.h"
#include "gen/Predicate.h"
#include "gen/Slot.h"
#include "gen/SlotCondition.h"
#include "util/Expected.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestel {

enum class TypeKind { Map, Item, Setup, Action, Query, Doit, Terminal, Alias, Plain };

inline constexpr uint32_t CMD_DEFAULT = 0xFFFFFFFE; // use the holder's default command
inline constexpr uint32_t CMD_NONE = 0xFFFFFFFF;    // no command (or: the default getall)

struct Color {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Color&, const Color&) = default;
};
// Reads "#rrggbb"; false for anything else.
bool parseColor(std::string_view text, Color& out);

struct TypeColor {
  std::string on; // condition name
  Color color;
  const SlotCondition* condition = nullptr;
};

// An ordered list of slots and conditions (kept by the model until a type takes them).
class SlotList {
public:
  SlotList& add(Slot& slot);
  SlotList& add(SlotCondition& condition);
  SlotList& add(const SlotList& other);
  const std::vector<Slot*>& slotList() const { return slots_; }
  const std::vector<SlotCondition*>& conditions() const { return conds_; }

private:
  std::vector<Slot*> slots_;
  std::vector<SlotCondition*> conds_;
};

class CType : public ISlotLookup {
public:
  CType(TypeKind kind, std::string title);
  ~CType() override;
  CType(const CType&) = delete;
  CType& operator=(const CType&) = delete;

  // Adding slots (chained; refusals are logged and leave the type unchanged).
  CType& add(Slot& slot);
  CType& add(bool when, Slot& slot);
  CType& add(SlotCondition& condition);
  CType& add(const SlotList& list);
  // Adds a slot the type takes ownership of; fails when the slot belongs to a type already or
  // an override names no existing slot.
  [[nodiscard]] Expected<void> addOwned(std::unique_ptr<Slot> slot);
  [[nodiscard]] Expected<void> addSlot(Slot& slot);
  void addOwnedCondition(std::unique_ptr<SlotCondition> condition);

  CType& name(std::string n);
  CType& nameSlot(std::string slotName);
  CType& prefix(std::string p);
  CType& alias(const char* slotName);
  CType& color(const char* on, Color c);
  CType& icon(int value, unsigned iconIndex);
  CType& iconOn(const char* slotName);
  CType& treeOn(const char* slotName);
  CType& highlight(const char* condition);
  CType& readOnly(bool on = true);
  CType& hidden(bool on = true);
  CType& on(PredicatePtr pred);
  // Copies the parent's slots, conditions and path; fails when this type has slots or
  // conditions of its own already.
  [[nodiscard]] Expected<void> inherit(CType* parent);

  // Looks a slot up by name; null when absent.
  Slot* slot(std::string_view slotName) const;
  const SlotCondition* condition(std::string_view n) const;
  bool slotField(std::string_view slotName, SlotFieldInfo& out) const override;
  bool slotField(const Slot* slot, SlotFieldInfo& out) const override;

  // Resolves names, lays out the record and binds the packer; fails with the descriptor error
  // (logged). A type that failed stays unusable.
  [[nodiscard]] virtual Expected<void> complete();
  bool completed() const { return completed_; }
  // A new object of this type with defaults; null before the type is completed.
  Reference<IObject> createObject();
  IPacker* packer() const { return packer_.get(); }
  uint32_t recordSize() const { return recordSize_; }
  bool hasNonZeroDefaults() const { return nonZeroDefaults_; }
  uint32_t slotOffsetAt(size_t i) const { return i < offsets_.size() ? offsets_[i] : 0; }

  // Storage of a record: defaults, release, copy (all slots).
  void ctorRecord(std::byte* record) const;
  void dtorRecord(std::byte* record) const;
  void copyRecord(std::byte* dst, const std::byte* src) const;

  TypeKind kind() const { return kind_; }
  const std::string& title() const { return title_; }
  std::string label() const; // "name", else the title
  const std::vector<Slot*>& slots() const { return slots_; }
  const std::vector<SlotCondition*>& conditions() const { return conds_; }
  const std::vector<uint32_t>& pathIds() const { return path_; }
  const Slot* nameSlotRef() const { return nameSlot_; }
  const Slot* designated() const { return designated_; }
  const Slot* aliasSlot() const { return aliasSlot_; }
  const Slot* iconSlot() const { return iconSlot_; }
  const Slot* treeSlot() const { return treeSlot_; }
  const SlotCondition* highlightCond() const { return highlight_; }
  const std::vector<TypeColor>& colors() const { return colors_; }
  const NumberMap& icons() const { return icons_; }
  const Predicate* predicate() const { return pred_.get(); }
  bool isReadOnly() const { return ro_; }
  bool isHidden() const { return hide_; }
  uint32_t defaultMessage() const { return defMsg_; }
  const CType* parent() const { return parent_; }

  // Descriptor fields (read by TypeFactory).
  std::string nameText, nameVal, prefixText, treeOn_, iconOn_, highlight_name, aliasName;
  uint32_t defMsg_ = 0;
  NumberMap icons_;

protected:
  void setPath(std::vector<uint32_t> ids);
  Expected<void> resolveNames();
  Expected<void> resolveConditions();

  TypeKind kind_;
  std::string title_;
  std::vector<uint32_t> path_;
  bool ro_ = false, hide_ = false;
  PredicatePtr pred_;
  std::vector<TypeColor> colors_;

private:
  friend class TypeBuilder;
  Expected<void> layoutAndBind();

  std::vector<std::unique_ptr<Slot>> ownedSlots_;
  std::vector<std::unique_ptr<SlotCondition>> ownedConds_;
  std::vector<Slot*> slots_;
  std::vector<SlotCondition*> conds_;
  std::vector<uint32_t> offsets_;
  std::vector<uint32_t> overrideAt_; // index of each override slot (same order as overrides_)
  std::vector<Slot*> overrides_;
  const Slot* nameSlot_ = nullptr;
  const Slot* designated_ = nullptr;
  const Slot* aliasSlot_ = nullptr;
  const Slot* iconSlot_ = nullptr;
  const Slot* treeSlot_ = nullptr;
  const SlotCondition* highlight_ = nullptr;
  const CType* parent_ = nullptr;
  Reference<IPacker> packer_;
  uint32_t recordSize_ = 0;
  uint32_t recordAlign_ = 1;
  bool nonZeroDefaults_ = false;
  bool completed_ = false;
  bool failed_ = false;
};

class CMap : public CType {
public:
  explicit CMap(std::string title) : CType(TypeKind::Map, std::move(title)) {}
  CMap& path(uint32_t a, uint32_t b);
  CMap& path(uint32_t a, uint32_t b, uint32_t c);
  CMap& path(uint32_t a, uint32_t b, uint32_t c, uint32_t d);
  // Registers this map as the generic map `name`, whose `typeOn` slot selects the inheriting
  // map. An empty name logs "generic NULL <title>".
  CMap& generic(const char* name, const char* typeOn);
  // Inherits from the generic map `name` and answers to `value` of its "typeon" slot; fails
  // when no such generic map exists yet.
  [[nodiscard]] Expected<void> inherit(const char* name, unsigned value);
  // A new object (the containers make the table around it).
  Reference<IObject> create() { return createObject(); }

  std::string fullTitle, maxObjsMsg, genericName, typeOn, inheritName;
  bool nonPublic = false, autoStart = false, addable = true, clonable = true, removable = false;
  bool movable = false, ordered = true, refetchOnChange = false, logStyle = false;
  uint32_t autoRefresh = 0, refetchOnOpen = 0, refreshFilter = 0, getAllCmd = CMD_NONE;
  uint32_t maxObjs = 0, typeValue = 0, writePerm = 128;
  const CMap* genericParent = nullptr;
};

// What an item's holder is made with.
struct HolderConfig {
  std::vector<uint32_t> path;
  bool setRefresh = false;
  uint32_t refresh = 0, refreshFilter = 0;
  bool setGet = false, setSet = false;
  uint32_t getCmd = CMD_DEFAULT, setCmd = CMD_DEFAULT;
};

class CItem : public CType {
public:
  explicit CItem(std::string title) : CType(TypeKind::Item, std::move(title)) {}
  CItem& path(uint32_t a, uint32_t b);
  CItem& path(uint32_t a, uint32_t b, uint32_t c);
  // The holder configuration the item is created with.
  HolderConfig holderConfig() const;
  uint32_t autoRefresh = 0, refreshFilter = 0, getCmd = CMD_DEFAULT, setCmd = CMD_DEFAULT;
  bool autoStart = false;
};

class CSetup : public CType {
public:
  explicit CSetup(std::string title) : CType(TypeKind::Setup, std::move(title)) {}
  CSetup& path(uint32_t a, uint32_t b);
  CSetup& path(uint32_t a, uint32_t b, uint32_t c);
};

// What the object action is made with.
struct ActionConfig {
  Reference<IObject> request, reply;
  std::vector<uint32_t> path;
  uint32_t pollInterval = 1000, startCmd = CMD_START, pollCmd = CMD_POLL, cancelCmd = CMD_CANCEL;
};

class CAction : public CType {
public:
  explicit CAction(std::string title);
  CAction& path(uint32_t a, uint32_t b);
  CAction& path(uint32_t a, uint32_t b, uint32_t c);
  // Slots added from now on go to the reply type.
  CAction& reply();
  CAction& add(Slot& slot);
  CType& replyType() { return reply_; }
  // Request and reply objects and the commands; both types must be completed.
  ActionConfig createAction();
  Expected<void> complete() override;
  uint32_t startCmd = CMD_START, pollCmd = CMD_POLL, cancelCmd = CMD_CANCEL, autoRefresh = 1000;
  bool autoClose = false, nonPublic = false;
  std::string uptime;

private:
  CType reply_;
  bool toReply_ = false;
};

class CQuery : public CType {
public:
  explicit CQuery(std::string title);
  CQuery& path(uint32_t a, uint32_t b);
  CQuery& path(uint32_t a, uint32_t b, uint32_t c);
  CMap& result() { return result_; }
  CType& status() { return status_; }
  // Moves name, name slot, prefix, "treeon" and "iconon" to the result type.
  void moveToResult();
  Expected<void> complete() override;
  uint32_t startCmd = CMD_START, cancelCmd = CMD_CANCEL, getAllCmd = CMD_NONE, autoRefresh = 1000;
  uint32_t refreshFilter = 0, autoLimit = 0;
  bool autoClose = false, autoScroll = false, nonPublic = false, ordered = false;

private:
  CMap result_;
  CType status_;
};

class CDoit : public CType {
public:
  explicit CDoit(std::string title, TypeKind kind = TypeKind::Doit)
      : CType(kind, std::move(title)) {}
  CDoit& path(uint32_t a, uint32_t b);
  CDoit& path(uint32_t a, uint32_t b, uint32_t c);
  uint32_t cmd = CMD_NONE;
  std::string confirm, errorPrefix, progress;
  bool autoReset = false;
};

// The terminal opener: a one-shot command whose window is a terminal.
class CTerminal : public CDoit {
public:
  explicit CTerminal(std::string title) : CDoit(std::move(title), TypeKind::Terminal) {}
};

class CAlias : public CType {
public:
  explicit CAlias(std::string title) : CType(TypeKind::Alias, std::move(title)) {}
  std::string open, tab, group;
  std::vector<JSValue> links;
  // Registered when both "open" and "tab" are given.
  bool registered() const { return !open.empty() && !tab.empty(); }
};

// Code factories: each returns a new type kept by the model until a service takes it.
CMap& cmap(const char* title);
CItem& citem(const char* title);
CSetup& csetup(const char* title);
CAction& caction(const char* title);
CQuery& cquery(const char* title);
CDoit& cdoit(const char* title);
CTerminal& cterminal(const char* title);
CAlias& calias(const char* title);
std::unique_ptr<CType> adoptPendingType(CType* type);
void clearPendingTypes();

// Generic maps by name (registered in load order).
CMap* findGenericMap(std::string_view name);
void registerGenericMap(const std::string& name, CMap* map);
void unregisterGenericMaps(const CMap* owner);
void clearGenericMaps();
// For undoing a rejected document element: how many are registered, and forgetting the later ones.
size_t genericMapCount();
void dropGenericMapsFrom(size_t count);

// A slot looked up by name in the type of an object.
class ASlotRef {
public:
  explicit ASlotRef(std::string name) : name_(std::move(name)) {}
  // Logs "SlotRef<name>: slot not found" and gives null when the type has none.
  Slot* lookupSlot(IObject* object) const;

private:
  std::string name_;
};

// Slot names starting with "!" enter their field id here; loading and packing them is traced.
const std::vector<uint32_t>& tracedFields();
void clearTracedFields();

} // namespace kestel
