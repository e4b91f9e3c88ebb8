#include "gen/TypeFactory.h"

#include "gen/SlotFactory.h"
#include "util/Log.h"

#include <functional>
#include <map>

namespace kestel {

namespace {

Error fail(std::string text) {
  logLine(text);
  return makeError(std::move(text));
}

std::string str(const JSNode& n) { return n.text() ? n.text() : ""; }
bool flag(const JSNode& n) { return n.u64Value(0) != 0; }
uint32_t num(const JSNode& n, uint32_t def) {
  return n.kind == JSNodeKind::Number ? static_cast<uint32_t>(n.u64Value(def)) : def;
}

// Reads one key of a kind into the type (already made as that kind's class); `e` is the whole
// element, for keys whose meaning depends on another key.
using KeyReader = std::function<void(CType& t, const JSNode& m, const JSNode& e)>;
using KeyTable = std::map<std::string_view, KeyReader>;

template <typename T> KeyReader text(std::string T::*field) {
  return [field](CType& t, const JSNode& m, const JSNode&) { static_cast<T&>(t).*field = str(m); };
}
template <typename T> KeyReader flagOf(bool T::*field) {
  return [field](CType& t, const JSNode& m, const JSNode&) { static_cast<T&>(t).*field = flag(m); };
}
// "non…" keys: a set flag clears the field.
template <typename T> KeyReader inverse(bool T::*field) {
  return
      [field](CType& t, const JSNode& m, const JSNode&) { static_cast<T&>(t).*field = !flag(m); };
}
template <typename T> KeyReader number(uint32_t T::*field, uint32_t def) {
  return [field, def](CType& t, const JSNode& m, const JSNode&) {
    static_cast<T&>(t).*field = num(m, def);
  };
}

const KeyTable& mapKeyTable() {
  static const KeyTable table = {
      {"autorefresh", number(&CMap::autoRefresh, 0)},
      {"autostart", flagOf(&CMap::autoStart)},
      {"fulltitle", text(&CMap::fullTitle)},
      {"getallcmd", number(&CMap::getAllCmd, CMD_NONE)},
      {"logstyle", flagOf(&CMap::logStyle)},
      {"maxobjs", number(&CMap::maxObjs, 0)},
      {"maxobjsmsg", text(&CMap::maxObjsMsg)},
      {"nonaddable", inverse(&CMap::addable)},
      {"nonclonable", inverse(&CMap::clonable)},
      {"nonmovable", inverse(&CMap::movable)},
      {"nonpublic", flagOf(&CMap::nonPublic)},
      {"ordered", flagOf(&CMap::ordered)},
      {"refetchonchange", flagOf(&CMap::refetchOnChange)},
      {"refetchonopen", number(&CMap::refetchOnOpen, 0)},
      {"refreshfilter", number(&CMap::refreshFilter, 0)},
      {"removable", flagOf(&CMap::removable)},
      {"writeperm", number(&CMap::writePerm, 128)},
  };
  return table;
}

const KeyTable& itemKeyTable() {
  static const KeyTable table = {
      {"autorefresh", number(&CItem::autoRefresh, 0)},
      {"autostart", flagOf(&CItem::autoStart)},
      {"getcmd", number(&CItem::getCmd, CMD_NONE)},
      {"refreshfilter", number(&CItem::refreshFilter, 0)},
      // An item that sets with a command of its own gets with none, unless told otherwise.
      {"setcmd",
       [](CType& t, const JSNode& m, const JSNode& e) {
         auto& item = static_cast<CItem&>(t);
         item.setCmd = num(m, CMD_NONE);
         if (!e.find("getcmd"))
           item.getCmd = CMD_NONE;
       }},
  };
  return table;
}

const KeyTable& actionKeyTable() {
  static const KeyTable table = {
      {"autoclose", flagOf(&CAction::autoClose)},
      {"autorefresh", number(&CAction::autoRefresh, 1000)},
      {"cancelcmd", number(&CAction::cancelCmd, CMD_CANCEL)},
      {"nonpublic", flagOf(&CAction::nonPublic)},
      {"pollcmd", number(&CAction::pollCmd, CMD_POLL)},
      {"startcmd", number(&CAction::startCmd, CMD_START)},
      {"uptime", text(&CAction::uptime)},
  };
  return table;
}

const KeyTable& queryKeyTable() {
  static const KeyTable table = {
      {"autoclose", flagOf(&CQuery::autoClose)},
      {"autolimit", number(&CQuery::autoLimit, 0)},
      {"autorefresh", number(&CQuery::autoRefresh, 1000)},
      {"autoscroll", flagOf(&CQuery::autoScroll)},
      {"cancelcmd", number(&CQuery::cancelCmd, CMD_CANCEL)},
      {"getallcmd", number(&CQuery::getAllCmd, CMD_NONE)},
      {"nonpublic", flagOf(&CQuery::nonPublic)},
      {"ordered", flagOf(&CQuery::ordered)},
      {"refreshfilter", number(&CQuery::refreshFilter, 0)},
      {"startcmd", number(&CQuery::startCmd, CMD_START)},
  };
  return table;
}

const KeyTable& doitKeyTable() {
  static const KeyTable table = {
      {"autoreset", flagOf(&CDoit::autoReset)}, {"cmd", number(&CDoit::cmd, CMD_NONE)},
      {"confirm", text(&CDoit::confirm)},       {"errorprefix", text(&CDoit::errorPrefix)},
      {"progress", text(&CDoit::progress)},
  };
  return table;
}

const KeyTable& aliasKeyTable() {
  static const KeyTable table = {
      {"group", text(&CAlias::group)},
      {"link",
       [](CType& t, const JSNode& m, const JSNode&) {
         for (const JSNode& l : children(&m))
           static_cast<CAlias&>(t).links.push_back(JSValue::copy(l));
       }},
      {"open", text(&CAlias::open)},
      {"tab", text(&CAlias::tab)},
  };
  return table;
}

const KeyTable& noKeys() {
  static const KeyTable table;
  return table;
}

// One row per type kind: how to make it and the keys of its own.
struct TypeKindRow {
  std::function<std::unique_ptr<CType>(std::string title)> make;
  const KeyTable& keys;
};

template <typename T> std::unique_ptr<CType> makeKind(std::string title) {
  return std::make_unique<T>(std::move(title));
}

const std::map<std::string_view, TypeKindRow>& typeKindTable() {
  static const std::map<std::string_view, TypeKindRow> table = {
      {"action", {makeKind<CAction>, actionKeyTable()}},
      {"alias", {makeKind<CAlias>, aliasKeyTable()}},
      {"doit", {makeKind<CDoit>, doitKeyTable()}},
      {"item", {makeKind<CItem>, itemKeyTable()}},
      {"map", {makeKind<CMap>, mapKeyTable()}},
      {"query", {makeKind<CQuery>, queryKeyTable()}},
      {"setup", {makeKind<CSetup>, noKeys()}},
      {"termopen", {makeKind<CTerminal>, doitKeyTable()}},
  };
  return table;
}

} // namespace

// Reads descriptor keys into a type (a friend of CType).
class TypeBuilder {
public:
  static Expected<std::unique_ptr<CType>> build(const JSNode& e);

private:
  static Expected<void> common(CType& t, const JSNode& m);
  static Expected<void> slotList(CType& t, const JSNode* list);
  // The slot lists of a kind: "c" (an action's reply, a query's result, else the type's own),
  // "request" (actions and queries) and "status" (queries).
  static Expected<void> slotLists(CType& t, const JSNode& e);
  static Expected<void> mapKeys(CMap& t, const JSNode& e);
};

Expected<void> TypeBuilder::slotList(CType& t, const JSNode* list) {
  if (!list || list->kind != JSNodeKind::Array)
    return {};
  for (const JSNode& el : children(list)) {
    Expected<SlotElement> built = createSlotElement(el);
    if (!built)
      return built.error();
    if (built->condition)
      t.addOwnedCondition(std::move(built->condition));
    if (built->slot) {
      Expected<void> r = t.addOwned(std::move(built->slot));
      if (!r)
        return r;
    }
  }
  return {};
}

Expected<void> TypeBuilder::common(CType& t, const JSNode& m) {
  std::string_view k = m.key;
  if (k == "title")
    t.title_ = str(m);
  else if (k == "name")
    t.nameText = str(m);
  else if (k == "nameval" && m.kind == JSNodeKind::Object) {
    Expected<SlotElement> s = createSlotElement(m);
    if (!s || !s->slot)
      return fail("unknown name slot");
    // A query's name slot names the rows of its result, so it is a slot of the result type.
    CType& owner = t.kind() == TypeKind::Query ? static_cast<CQuery&>(t).result() : t;
    owner.nameSlot_ = s->slot.get();
    return owner.addOwned(std::move(s->slot));
  } else if (k == "nameval")
    t.nameVal = str(m);
  else if (k == "prefix")
    t.prefixText = str(m);
  else if (k == "path" && m.kind == JSNodeKind::Array)
    t.path_ = m.idArray();
  else if (k == "hide")
    t.hide_ = flag(m);
  else if (k == "ro")
    t.ro_ = flag(m);
  else if (k == "pred") {
    Expected<PredicatePtr> p = createPredicate(m);
    if (!p)
      return p.error();
    t.pred_ = std::move(p.value());
  } else if (k == "treeon")
    t.treeOn_ = str(m);
  else if (k == "iconon")
    t.iconOn_ = str(m);
  else if (k == "icons")
    t.icons_ = m.numberMap();
  else if (k == "colors") {
    for (const JSNode& c : children(&m)) {
      const JSNode* on = c.find("on");
      const JSNode* color = c.find("color");
      Color rgb;
      if (on && on->text() && color && color->text() && parseColor(color->text(), rgb))
        t.colors_.push_back({on->text(), rgb, nullptr});
    }
  } else if (k == "highlight")
    t.highlight_name = str(m);
  else if (k == "def") {
    std::string d = str(m);
    if (!d.empty() && d[0] == 'm')
      t.defMsg_ = static_cast<uint32_t>(parseAutoBasePrefix("0x" + d.substr(1)));
  }
  return {};
}

Expected<void> TypeBuilder::mapKeys(CMap& t, const JSNode& e) {
  const JSNode* g = e.find("generic");
  const JSNode* on = e.find("typeon");
  if (g) {
    std::string name = str(*g);
    if (name.empty())
      logLine("generic NULL " + t.title());
    else if (on && on->text())
      t.generic(name.c_str(), on->text());
  }
  if (const JSNode* inh = e.find("inherit")) {
    const JSNode* tv = e.find("typevalue");
    Expected<void> r = t.inherit(str(*inh).c_str(), tv ? num(*tv, 0) : 0);
    if (!r)
      return r;
  }
  if (const JSNode* tv = e.find("typevalue"))
    t.typeValue = num(*tv, 0);
  return {};
}

Expected<void> TypeBuilder::slotLists(CType& t, const JSNode& e) {
  if (t.kind() == TypeKind::Action) {
    auto& a = static_cast<CAction&>(t);
    Expected<void> r = slotList(a.replyType(), e.find("c"));
    return r ? slotList(a, e.find("request")) : r;
  }
  if (t.kind() != TypeKind::Query)
    return slotList(t, e.find("c"));
  auto& q = static_cast<CQuery&>(t);
  if (const JSNode* g = e.find("generic"); g && g->text() && e.find("typeon"))
    q.result().generic(g->text(), e.find("typeon")->text());
  Expected<void> r = slotList(q.result(), e.find("c"));
  if (r)
    r = slotList(q, e.find("request"));
  if (r)
    r = slotList(q.status(), e.find("status"));
  q.moveToResult();
  return r;
}

Expected<std::unique_ptr<CType>> TypeBuilder::build(const JSNode& e) {
  const JSNode* type = e.typeName();
  const auto& kinds = typeKindTable();
  auto row = type ? kinds.find(type->text()) : kinds.end();
  if (row == kinds.end())
    return fail(std::string("unkown container type ") + (type ? type->text() : ""));
  std::unique_ptr<CType> t = row->second.make("");
  const KeyTable& own = row->second.keys;
  for (const JSNode& m : children(&e)) {
    if (!m.key || std::string_view(m.key) == "type" || std::string_view(m.key) == "c")
      continue;
    if (auto key = own.find(m.key); key != own.end()) {
      key->second(*t, m, e);
      continue;
    }
    if (Expected<void> r = common(*t, m); !r)
      return r.error();
  }
  if (t->kind() == TypeKind::Map) {
    if (Expected<void> r = mapKeys(static_cast<CMap&>(*t), e); !r)
      return r.error();
  }
  if (Expected<void> r = slotLists(*t, e); !r)
    return r.error();
  if (const JSNode* alias = e.find("alias")) {
    t->aliasName = str(*alias);
    if (!(t->aliasSlot_ = t->slot(t->aliasName)))
      return fail("non existing alias slot: " + t->aliasName);
  }
  return t;
}

Expected<std::unique_ptr<CType>> buildType(const JSNode& element) {
  return TypeBuilder::build(element);
}

} // namespace kestel
