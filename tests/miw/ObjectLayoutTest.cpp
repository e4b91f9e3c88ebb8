// The object window's field pane worked out headless: pages from tabs, groups, separators and
// labels in slot order, the slots that get no field, skin renames, hides, shows, locks, notes
// and separators, and the conditions that hide or lock fields for the values at hand (the
// record is written through the fields' own parts, so a wrong offset shows as a wrong state).
#include "miw/ObjectLayout.h"

#include "gen/CType.h"
#include "gen/ModelTestUtil.h"
#include "gen/Skin.h"
#include "miw/ValueCell.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

const char* kDocument =
    R"([{"name": "Rules", "c": [{"type": "map", "title": "Rules", "path": [9, 1],
  "c": [
   {"type": "string", "name": "name", "id": "s1", "title": "Name"},
   {"type": "enm", "name": "action", "id": "u2", "title": "Action",
    "values": {"type": "static", "map": ["accept", "drop", "log", "jump"]}},
   {"type": "string", "name": "target", "id": "s3", "title": "Jump Target", "on": "isjump"},
   {"type": "number", "name": "limit", "id": "u4", "title": "Limit", "on": "limited"},
   {"type": "number", "name": "burst", "id": "u5", "title": "Burst", "on": "plain"},
   {"type": "separator", "name": "sep"},
   {"type": "label", "name": "lab", "title": "Matching"},
   {"type": "number", "name": "hidden", "id": "u6", "hide": 1},
   {"type": "number", "name": "secret", "id": "u7", "nonpublic": 1},
   {"type": "number", "name": "ttl", "id": "u8", "title": "TTL", "hidebydefault": 1},
   {"type": "tab", "name": "adv", "title": "Advanced"},
   {"type": "group", "name": "ports", "title": "Ports", "keys": ["src"],
    "c": [{"type": "number", "name": "src", "id": "u9", "title": "Source Port"},
          {"type": "number", "name": "dst", "id": "uA", "title": "Destination Port"}]},
   {"type": "number", "name": "prio", "id": "uB", "title": "Priority", "ro": 1},
   {"type": "bool", "name": "disabled", "id": "bC", "title": "Disabled"},
   {"type": "comment", "name": "comment", "id": "sD", "title": "Comment"},
   {"type": "active", "name": "act"},
   {"type": "tab", "name": "empty", "title": "Nothing Public"},
   {"type": "number", "name": "np", "id": "uE", "nonpublic": 1},
   {"type": "cond", "name": "isjump", "c": [{"on": "action", "pred": {"type": "number", "value": [3]}}],
    "hide": 1, "hidedynamicly": 1},
   {"type": "cond", "name": "limited", "c": [{"on": "action", "pred": {"type": "number", "value": [2]}}],
    "makero": 1},
   {"type": "cond", "name": "plain", "c": [{"on": "action", "pred": {"type": "number", "value": [0]}}]}
  ]}]}])";

class ObjectLayoutTest : public ModelTest {
protected:
  void SetUp() override {
    ASSERT_EQ(loadAndComplete(kDocument), "");
    type = &lastType();
  }
  std::vector<std::string> labels(const ObjectLayout& l) const {
    std::vector<std::string> out;
    for (const LayoutField& f : l.fields)
      out.push_back(f.label);
    return out;
  }
  const LayoutField* field(const ObjectLayout& l, const std::string& slot) const {
    for (const LayoutField& f : l.fields)
      if (f.slot->name() == slot)
        return &f;
    return nullptr;
  }
  CType* type = nullptr;
};

// Page, group and item structure as a short text: F<label> S L<text> G<title>[...].
std::string shape(const std::vector<LayoutItem>& items, const ObjectLayout& l) {
  std::string out;
  for (const LayoutItem& i : items) {
    switch (i.kind) {
    case LayoutItemKind::Field:
      out += "F" + l.fields[i.field].label + " ";
      break;
    case LayoutItemKind::Separator:
      out += "S ";
      break;
    case LayoutItemKind::Label:
      out += "L" + i.text + " ";
      break;
    case LayoutItemKind::Group:
      out += "G" + i.text + "[" + shape(i.items, l) + "] ";
      break;
    }
  }
  return out;
}

TEST_F(ObjectLayoutTest, PagesGroupsAndTheSlotsLeftOut) {
  ObjectLayout l = layoutObject(*type, nullptr, false);
  ASSERT_EQ(l.pages.size(), 2u); // the tab whose fields are all hidden is not shown
  EXPECT_EQ(l.pages[0].title, "Rules");
  EXPECT_EQ(l.pages[1].title, "Advanced");
  EXPECT_EQ(shape(l.pages[0].items, l), "FName FAction FJump Target FLimit FBurst S LMatching ");
  EXPECT_EQ(shape(l.pages[1].items, l), "GPorts[FSource Port FDestination Port ] FPriority ");
  EXPECT_TRUE(l.dynamicConditions);
  EXPECT_TRUE(field(l, "prio")->readOnly);
  EXPECT_FALSE(field(l, "name")->readOnly);
  // A read-only window locks every field.
  for (const LayoutField& f : layoutObject(*type, nullptr, true).fields)
    EXPECT_TRUE(f.readOnly) << f.label;
}

TEST_F(ObjectLayoutTest, SkinRenamesHidesShowsAndLocks) {
  Skin skin;
  skin.load(R"({"Rules": {"target": {"name": "Jump To", "note": "shown in logs"},
    "ttl": {"show": 1, "separator": 1}, "burst": 0, "action": {"ro": 1},
    "adv": {"tab": "More"}, "src": {"name": ""}}})");
  ObjectLayout l = layoutObject(*type, &skin.lookupTop("Rules"), false);
  EXPECT_EQ(labels(l), (std::vector<std::string>{"Name", "Action", "Jump To", "Limit", "TTL",
                                                 "Source Port", "Destination Port", "Priority"}));
  EXPECT_EQ(field(l, "target")->note, "shown in logs");
  EXPECT_TRUE(field(l, "action")->readOnly);
  EXPECT_EQ(l.pages[1].title, "More");
  EXPECT_EQ(shape(l.pages[0].items, l), "FName FAction FJump To FLimit S LMatching S FTTL ");
}

TEST_F(ObjectLayoutTest, ConditionsFollowTheValues) {
  ObjectLayout l = layoutObject(*type, nullptr, false);
  Reference<IObject> object = type->createObject();
  const LayoutField* action = field(l, "action");
  RecordCell cell(*action->slot, object->record().data() + action->part);
  auto index = [&](const char* slot) { return size_t(field(l, slot) - l.fields.data()); };
  struct Case {
    uint32_t action;
    bool targetShown, limitLocked, burstShown;
  };
  const Case cases[] = {{3, true, true, false}, {2, false, false, false}, {0, false, true, true}};
  for (const Case& c : cases) {
    ASSERT_TRUE(cell.set(c.action));
    std::vector<FieldState> s = fieldStates(l, *type, object->record().data());
    EXPECT_EQ(s[index("target")].visible, c.targetShown) << c.action;
    EXPECT_TRUE(s[index("limit")].visible) << c.action; // "makero" locks, never hides
    EXPECT_EQ(s[index("limit")].readOnly, c.limitLocked) << c.action;
    EXPECT_EQ(s[index("burst")].visible, c.burstShown) << c.action; // neither: hidden
    EXPECT_TRUE(s[index("prio")].readOnly);
    EXPECT_TRUE(s[index("name")].visible && !s[index("name")].readOnly);
  }
}

TEST_F(ObjectLayoutTest, EveryFieldPartHoldsItsSlotsValue) {
  // Each field's part is where the object keeps the slot's value: a value written through the
  // packer by field id reads back through the part.
  ObjectLayout l = layoutObject(*type, nullptr, false);
  Reference<IObject> object = type->createObject();
  nv::message m;
  uint32_t n = 100;
  for (const LayoutField& f : l.fields)
    if (f.slot->fields()[0].store() == Store::U32)
      m.set(nv::u32_id(f.slot->fields()[0].key), n++);
  type->packer()->unpack(m, object.get());
  n = 100;
  for (const LayoutField& f : l.fields) {
    if (f.slot->fields()[0].store() != Store::U32)
      continue;
    RecordCell cell(*f.slot, object->record().data() + f.part);
    EXPECT_EQ(std::get<uint32_t>(cell.get()), n++) << f.label;
  }
}

} // namespace
} // namespace kestel
