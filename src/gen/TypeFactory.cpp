#include "gen/TypeFactory.h"

#include "gen/SlotFactory.h"
#include "util/Log.h"

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

// The type seen as its kind's class, or null when it is of another kind.
template <typename T> T* as(CType* t) {
  TypeKind k = t->kind();
  bool match = false;
  if constexpr (std::is_same_v<T, CMap>)
    match = k == TypeKind::Map;
  else if constexpr (std::is_same_v<T, CItem>)
    match = k == TypeKind::Item;
  else if constexpr (std::is_same_v<T, CAction>)
    match = k == TypeKind::Action;
  else if constexpr (std::is_same_v<T, CQuery>)
    match = k == TypeKind::Query;
  else if constexpr (std::is_same_v<T, CDoit>)
    match = k == TypeKind::Doit || k == TypeKind::Terminal;
  else if constexpr (std::is_same_v<T, CAlias>)
    match = k == TypeKind::Alias;
  return match ? static_cast<T*>(t) : nullptr;
}

} // namespace

// Reads descriptor keys into a type (a friend of CType).
class TypeBuilder {
public:
  static Expected<std::unique_ptr<CType>> build(const JSNode& e);

private:
  static std::unique_ptr<CType> make(std::string_view kind, std::string title);
  static Expected<void> common(CType& t, const JSNode& m);
  static Expected<bool> own(CType& t, const JSNode& m, const JSNode& e);
  static Expected<void> slotList(CType& t, const JSNode* list);
  static Expected<void> mapKeys(CMap& t, const JSNode& e);
};

std::unique_ptr<CType> TypeBuilder::make(std::string_view kind, std::string title) {
  if (kind == "map")
    return std::make_unique<CMap>(std::move(title));
  if (kind == "item")
    return std::make_unique<CItem>(std::move(title));
  if (kind == "setup")
    return std::make_unique<CSetup>(std::move(title));
  if (kind == "action")
    return std::make_unique<CAction>(std::move(title));
  if (kind == "query")
    return std::make_unique<CQuery>(std::move(title));
  if (kind == "doit")
    return std::make_unique<CDoit>(std::move(title));
  if (kind == "termopen")
    return std::make_unique<CTerminal>(std::move(title));
  if (kind == "alias")
    return std::make_unique<CAlias>(std::move(title));
  return nullptr;
}

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

Expected<bool> TypeBuilder::own(CType& t, const JSNode& m, const JSNode& e) {
  std::string_view k = m.key;
  if (auto* map = as<CMap>(&t)) {
    if (k == "fulltitle")
      map->fullTitle = str(m);
    else if (k == "nonpublic")
      map->nonPublic = flag(m);
    else if (k == "autostart")
      map->autoStart = flag(m);
    else if (k == "autorefresh")
      map->autoRefresh = num(m, 0);
    else if (k == "nonaddable")
      map->addable = !flag(m);
    else if (k == "nonclonable")
      map->clonable = !flag(m);
    else if (k == "removable")
      map->removable = flag(m);
    else if (k == "nonmovable")
      map->movable = !flag(m);
    else if (k == "ordered")
      map->ordered = flag(m);
    else if (k == "refetchonchange")
      map->refetchOnChange = flag(m);
    else if (k == "refetchonopen")
      map->refetchOnOpen = num(m, 0);
    else if (k == "refreshfilter")
      map->refreshFilter = num(m, 0);
    else if (k == "getallcmd")
      map->getAllCmd = num(m, CMD_NONE);
    else if (k == "maxobjs")
      map->maxObjs = num(m, 0);
    else if (k == "maxobjsmsg")
      map->maxObjsMsg = str(m);
    else if (k == "writeperm")
      map->writePerm = num(m, 128);
    else if (k == "logstyle")
      map->logStyle = flag(m);
    else
      return false;
  } else if (auto* item = as<CItem>(&t)) {
    if (k == "autorefresh")
      item->autoRefresh = num(m, 0);
    else if (k == "autostart")
      item->autoStart = flag(m);
    else if (k == "refreshfilter")
      item->refreshFilter = num(m, 0);
    else if (k == "getcmd")
      item->getCmd = num(m, CMD_NONE);
    else if (k == "setcmd") {
      item->setCmd = num(m, CMD_NONE);
      if (!e.find("getcmd"))
        item->getCmd = CMD_NONE;
    } else
      return false;
  } else if (auto* a = as<CAction>(&t)) {
    if (k == "startcmd")
      a->startCmd = num(m, CMD_START);
    else if (k == "pollcmd")
      a->pollCmd = num(m, CMD_POLL);
    else if (k == "cancelcmd")
      a->cancelCmd = num(m, CMD_CANCEL);
    else if (k == "autorefresh")
      a->autoRefresh = num(m, 1000);
    else if (k == "autoclose")
      a->autoClose = flag(m);
    else if (k == "nonpublic")
      a->nonPublic = flag(m);
    else if (k == "uptime")
      a->uptime = str(m);
    else
      return false;
  } else if (auto* q = as<CQuery>(&t)) {
    if (k == "startcmd")
      q->startCmd = num(m, CMD_START);
    else if (k == "cancelcmd")
      q->cancelCmd = num(m, CMD_CANCEL);
    else if (k == "getallcmd")
      q->getAllCmd = num(m, CMD_NONE);
    else if (k == "autorefresh")
      q->autoRefresh = num(m, 1000);
    else if (k == "refreshfilter")
      q->refreshFilter = num(m, 0);
    else if (k == "autolimit")
      q->autoLimit = num(m, 0);
    else if (k == "autoclose")
      q->autoClose = flag(m);
    else if (k == "autoscroll")
      q->autoScroll = flag(m);
    else if (k == "nonpublic")
      q->nonPublic = flag(m);
    else if (k == "ordered")
      q->ordered = flag(m);
    else
      return false;
  } else if (auto* d = as<CDoit>(&t)) {
    if (k == "cmd")
      d->cmd = num(m, CMD_NONE);
    else if (k == "confirm")
      d->confirm = str(m);
    else if (k == "errorprefix")
      d->errorPrefix = str(m);
    else if (k == "progress")
      d->progress = str(m);
    else if (k == "autoreset")
      d->autoReset = flag(m);
    else
      return false;
  } else if (auto* al = as<CAlias>(&t)) {
    if (k == "open")
      al->open = str(m);
    else if (k == "tab")
      al->tab = str(m);
    else if (k == "group")
      al->group = str(m);
    else if (k == "link") {
      for (const JSNode& l : children(&m))
        al->links.push_back(JSValue::copy(l));
    } else
      return false;
  } else {
    return false;
  }
  return true;
}

Expected<std::unique_ptr<CType>> TypeBuilder::build(const JSNode& e) {
  const JSNode* type = e.typeName();
  std::unique_ptr<CType> t = type ? make(type->text(), "") : nullptr;
  if (!t)
    return fail(std::string("unkown container type ") + (type ? type->text() : ""));
  for (const JSNode& m : children(&e)) {
    if (!m.key || std::string_view(m.key) == "type" || std::string_view(m.key) == "c")
      continue;
    Expected<bool> taken = own(*t, m, e);
    if (!taken)
      return taken.error();
    if (taken.value())
      continue;
    if (Expected<void> r = common(*t, m); !r)
      return r.error();
  }
  if (auto* map = as<CMap>(t.get())) {
    if (Expected<void> r = mapKeys(*map, e); !r)
      return r.error();
  }
  Expected<void> r;
  if (auto* a = as<CAction>(t.get())) {
    r = slotList(a->replyType(), e.find("c"));
    if (r)
      r = slotList(*a, e.find("request"));
  } else if (auto* q = as<CQuery>(t.get())) {
    if (const JSNode* g = e.find("generic"); g && g->text() && e.find("typeon"))
      q->result().generic(g->text(), e.find("typeon")->text());
    r = slotList(q->result(), e.find("c"));
    if (r)
      r = slotList(*q, e.find("request"));
    if (r)
      r = slotList(q->status(), e.find("status"));
    q->moveToResult();
  } else {
    r = slotList(*t, e.find("c"));
  }
  if (!r)
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
