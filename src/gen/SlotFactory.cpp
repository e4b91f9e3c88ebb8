#include "gen/SlotFactory.h"

#include "gen/CType.h"
#include "util/Log.h"

#include <algorithm>
#include <map>

namespace kestel {

namespace {

std::string str(const JSNode* n) { return n && n->text() ? n->text() : ""; }

Expected<void> fail(std::string text) {
  logLine(text);
  return makeError(std::move(text));
}

// "enm": an enumeration over a number or boolean field; "values" is required.
class SEnum : public SNumber {
public:
  explicit SEnum(std::string name) : SNumber("enm", std::move(name)) {}

protected:
  Expected<void> finishRead() override {
    if (!enumeration())
      return fail("senum(\"" + name() + "\") does not have values");
    return SNumber::finishRead();
  }
};

// "set": a bit set with its mask field; its bits are named by the required enumeration.
class SSet : public SNumber {
public:
  explicit SSet(std::string name) : SNumber("set", std::move(name), "uU", "maskid", "uU") {}

protected:
  Expected<void> finishRead() override {
    if (!enumeration())
      return fail("ERROR: sset" + name() + " has no enum!");
    return SNumber::finishRead();
  }
};

// "group": inner slots shown together; each of "keys" must name one of them.
class SGroup : public Slot {
public:
  explicit SGroup(std::string name) : Slot("group", std::move(name)) {}

protected:
  Expected<bool> readKey(const JSNode& m) override {
    if (std::string_view(m.key) != "keys")
      return false;
    keys_.clear();
    for (const JSNode& k : children(&m))
      keys_.push_back(str(&k));
    return true;
  }
  Expected<void> finishRead() override {
    for (const std::string& k : keys_) {
      bool found = std::any_of(inner().begin(), inner().end(),
                               [&](const std::unique_ptr<Slot>& s) { return s->name() == k; });
      if (!found)
        return fail("no sgroup slot for key " + k);
    }
    return {};
  }

private:
  std::vector<std::string> keys_;
};

// "alias" and "columnalias": show another slot of the same type ("original"; its own name
// when absent).
class SAlias : public Slot {
public:
  SAlias(std::string kind, std::string name) : Slot(std::move(kind), std::move(name)) {}
  Expected<void> resolve(const CType& type) override {
    const JSValue* o = option("original");
    std::string original = o && o->kind == JSNodeKind::String ? o->text : name();
    const Slot* s = type.slot(original);
    if (!s || s == this)
      return fail("ERROR: no original for alias <" + name() + ">");
    return {};
  }
};

enum class Family { Layout, Text, Number, Big, Raw, Range, IRange, List, RangeList, Generic };

struct KindRow {
  Family family;
  const char* letters;                                    // main field letters; "" binds nothing
  std::vector<std::pair<const char*, const char*>> extra; // second-field keys and letters
};

const std::map<std::string_view, KindRow>& kindTable() {
  using F = Family;
  static const std::map<std::string_view, KindRow> t = {
      {"about", {F::Layout, "", {}}},
      {"active", {F::Layout, "", {}}},
      {"addr", {F::Generic, "m", {}}},
      {"age", {F::Number, "u", {}}},
      {"alias", {F::Layout, "", {}}},
      {"as", {F::Number, "u", {}}},
      {"autoset", {F::Layout, "", {}}},
      {"bigbytes", {F::Big, "q", {}}},
      {"bigbitrate", {F::Big, "q", {}}},
      {"bigbitchangerate", {F::Big, "q", {}}},
      {"bigchangerate", {F::Big, "q", {}}},
      {"bigdecimal", {F::Big, "q", {}}},
      {"bignumber", {F::Big, "q", {}}},
      {"bigunit", {F::Big, "q", {}}},
      {"bitrate", {F::Number, "u", {}}},
      {"bool", {F::Number, "bu", {}}},
      {"buttonsep", {F::Layout, "", {}}},
      {"bytes", {F::Number, "u", {}}},
      {"changerate", {F::Number, "u", {}}},
      {"clockdate", {F::Number, "u", {}}},
      {"clocktime", {F::Number, "u", {}}},
      {"columnalias", {F::Layout, "", {}}},
      {"comment", {F::Text, "s", {}}},
      {"community", {F::Range, "u", {}}},
      {"concat", {F::Layout, "", {}}},
      {"cond", {F::Layout, "", {}}},
      {"contextmenu", {F::Layout, "", {}}},
      {"date", {F::Number, "u", {}}},
      {"dateandtime", {F::Number, "u", {{"timeid", "u"}}}},
      {"decimal", {F::Number, "u", {}}},
      {"deck", {F::Layout, "", {}}},
      {"doit", {F::Layout, "", {}}},
      {"dynamic", {F::Layout, "", {}}},
      {"enable", {F::Layout, "", {}}},
      {"enm", {F::Number, "ub", {}}},
      {"file", {F::Text, "s", {}}},
      {"filter", {F::Layout, "", {}}},
      {"fixedpoint", {F::Number, "u", {}}},
      {"flag", {F::Number, "bu", {}}},
      {"graph", {F::Layout, "", {}}},
      {"graphbox", {F::Layout, "", {}}},
      {"gridmultinumber", {F::List, "U", {{"optid", "u"}}}},
      {"gridcell", {F::Layout, "", {}}},
      {"grid", {F::Layout, "", {}}},
      {"group", {F::Layout, "", {}}},
      {"hyperlink", {F::Layout, "", {}}},
      {"integer", {F::Number, "u", {}}},
      {"integerrange", {F::IRange, "u", {}}},
      {"interval", {F::Number, "u", {}}},
      {"invalid", {F::Layout, "", {}}},
      {"ip6addr", {F::Generic, "a", {{"ifaceid", "u"}}}},
      {"ipaddr", {F::Number, "u", {}}},
      {"ipaddrandport", {F::Number, "u", {{"portid", "u"}}}},
      {"kbytes", {F::Number, "u", {}}},
      {"label", {F::Layout, "", {}}},
      {"lookup", {F::Layout, "", {}}},
      {"macaddr", {F::Raw, "r", {}}},
      {"macnetwork", {F::Raw, "r", {{"maskid", "r"}}}},
      {"message", {F::Generic, "m", {}}},
      {"multilinestring", {F::Text, "s", {}}},
      {"multi", {F::Generic, "", {{"optid", "u"}}}},
      {"multituple", {F::Generic, "", {{"optid", "u"}}}},
      {"multinumber", {F::List, "U", {{"optid", "u"}}}},
      {"multiipaddr", {F::List, "U", {{"optid", "u"}}}},
      {"multiip6addr", {F::Generic, "A", {{"optid", "u"}}}},
      {"multinumberrange", {F::List, "U", {{"optid", "u"}}}},
      {"multinetwork", {F::List, "U", {{"maskid", "U"}, {"optid", "u"}}}},
      {"multinetwork6", {F::Generic, "A", {{"maskid", "U"}, {"optid", "u"}}}},
      {"multimacnetwork", {F::Generic, "R", {{"maskid", "R"}, {"optid", "u"}}}},
      {"multibignumber", {F::Generic, "Q", {{"optid", "u"}}}},
      {"multibits", {F::Generic, "R", {{"maskid", "R"}, {"optid", "u"}}}},
      {"multitristate", {F::Generic, "R", {{"maskid", "R"}, {"optid", "u"}}}},
      {"multitristatearray", {F::Generic, "R", {{"optid", "u"}}}},
      {"multistring", {F::Generic, "S", {{"optid", "u"}}}},
      {"multiraw", {F::Generic, "R", {{"optid", "u"}}}},
      {"netmask", {F::Number, "u", {}}},
      {"network", {F::Number, "u", {{"maskid", "u"}}}},
      {"network6", {F::Generic, "a", {{"maskid", "u"}}}},
      {"networkmap", {F::Layout, "", {}}},
      {"not", {F::Layout, "", {}}},
      {"number", {F::Number, "ub", {}}},
      {"numberrange", {F::Range, "u", {}}},
      {"numberlist", {F::List, "U", {}}},
      {"numberrangelist", {F::RangeList, "U", {}}},
      {"numbertable", {F::List, "U", {{"optid", "u"}}}},
      {"numbar", {F::Number, "u", {}}},
      {"numflag", {F::Number, "u", {}}},
      {"object", {F::Generic, "m", {}}},
      {"objtype", {F::Number, "u", {}}},
      {"opt", {F::Layout, "", {}}},
      {"packet", {F::Text, "s", {}}},
      {"password", {F::Text, "s", {}}},
      {"prefix", {F::Layout, "", {}}},
      {"preset", {F::Layout, "", {}}},
      {"raw", {F::Raw, "r", {}}},
      {"script", {F::Text, "s", {}}},
      {"secret", {F::Text, "s", {}}},
      {"separator", {F::Layout, "", {}}},
      {"set", {F::Number, "uU", {}}},
      {"status", {F::Layout, "", {}}},
      {"statusbar", {F::Layout, "", {}}},
      {"string", {F::Text, "s", {}}},
      {"stringarray", {F::Text, "s", {}}},
      {"tab", {F::Layout, "", {}}},
      {"table", {F::Layout, "", {}}},
      {"timezone", {F::Number, "u", {}}},
      {"toggle", {F::Layout, "", {}}},
      {"toolbar", {F::Layout, "", {}}},
      {"tristate", {F::Number, "bu", {}}},
      {"tuple", {F::Layout, "", {}}},
      {"union", {F::Layout, "", {}}},
      {"unit", {F::Number, "u", {}}},
      {"version", {F::Text, "s", {}}},
  };
  return t;
}

std::unique_ptr<Slot> makeFamily(std::string_view kind, const KindRow& row, std::string name) {
  std::string k(kind);
  if (kind == "enm")
    return std::make_unique<SEnum>(std::move(name));
  if (kind == "set")
    return std::make_unique<SSet>(std::move(name));
  if (kind == "group")
    return std::make_unique<SGroup>(std::move(name));
  if (kind == "alias" || kind == "columnalias")
    return std::make_unique<SAlias>(k, std::move(name));
  if (kind == "addr")
    return std::make_unique<SAddress>(std::move(name));
  std::unique_ptr<Slot> s;
  switch (row.family) {
  case Family::Text:
    s = std::make_unique<SString>(k, std::move(name));
    break;
  case Family::Number:
    s = std::make_unique<SNumber>(k, std::move(name), row.letters);
    break;
  case Family::Raw:
    s = std::make_unique<SRaw>(k, std::move(name));
    break;
  case Family::Range:
    s = std::make_unique<SNumberRange>(k, std::move(name));
    break;
  case Family::IRange:
    s = std::make_unique<SIntegerRange>(std::move(name));
    break;
  case Family::List:
    s = std::make_unique<SNumberList>(k, std::move(name), row.letters);
    break;
  case Family::RangeList:
    s = std::make_unique<SNumberRangeList>(std::move(name));
    break;
  case Family::Big:
  case Family::Generic:
  case Family::Layout:
    s = std::make_unique<Slot>(k, std::move(name));
    if (row.letters[0])
      s->declareField("id", row.letters);
    break;
  }
  for (const auto& [key, letters] : row.extra)
    s->declareField(key, letters);
  return s;
}

} // namespace

std::unique_ptr<Slot> makeSlotOfKind(std::string_view kind, std::string name) {
  if (kind == "cond" || kind == "networkmap")
    return nullptr;
  auto it = kindTable().find(kind);
  return it == kindTable().end() ? nullptr : makeFamily(kind, it->second, std::move(name));
}

const std::vector<std::string_view>& slotKinds() {
  static const std::vector<std::string_view> kinds = [] {
    std::vector<std::string_view> v;
    for (const auto& [k, row] : kindTable())
      v.push_back(k);
    return v;
  }();
  return kinds;
}

Expected<SlotElement> createSlotElement(const JSNode& node) {
  const JSNode* type = node.typeName();
  std::string kind = str(type);
  SlotElement out;
  if (kind == "cond") {
    Expected<std::unique_ptr<SlotCondition>> c = SlotCondition::fromNode(node);
    if (!c)
      return c.error();
    out.condition = std::move(c.value());
    return out;
  }
  if (kind == "networkmap")
    return out;
  out.slot = makeSlotOfKind(kind, str(node.find("name")));
  if (!out.slot) {
    logLine("unknown slot type " + kind);
    return makeError("unknown slot type " + kind);
  }
  Expected<void> r = out.slot->read(node);
  if (!r)
    return r.error();
  return out;
}

} // namespace kestel
