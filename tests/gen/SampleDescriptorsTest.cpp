// The sample router's descriptor set: it loads and completes without error and uses every slot,
// predicate and enumeration kind at least once; its skin applies to the services it names.
#include "gen/Service.h"
#include "gen/Skin.h"
#include "gen/SlotFactory.h"

#include "ModelTestUtil.h"
#include "api/object/Packer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

namespace kestel {
namespace {

const char* kDocuments[] = {"nimblux.jg", "ipv6.jg", "tools.jg"};

std::string sampleDir() { return std::string(KESTEL_SOURCE_DIR) + "/sim/sample/"; }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Kinds a document names, by the role of the node that names them.
struct Used {
  std::set<std::string> slots, preds, enums;
};

void walkPred(const JSNode& n, Used& u);
void walkEnum(const JSNode& n, Used& u);
void walkSlot(const JSNode& n, Used& u);

std::string typeOf(const JSNode& n) { return n.typeName() ? n.typeName()->text() : ""; }

void walkPredValue(const JSNode* p, Used& u) {
  if (!p)
    return;
  if (p->kind == JSNodeKind::Array) {
    for (const JSNode& each : children(p))
      walkPred(each, u);
  } else {
    walkPred(*p, u);
  }
}

void walkPred(const JSNode& n, Used& u) {
  u.preds.insert(typeOf(n));
  walkPredValue(n.find("pred"), u);
}

void walkEnum(const JSNode& n, Used& u) {
  std::string t = typeOf(n);
  if (t == "static") {
    const JSNode* map = n.find("map");
    u.enums.insert(map && map->kind == JSNodeKind::Object ? "static-object" : "static-array");
  } else {
    u.enums.insert(t);
  }
  if (const JSNode* v = n.find("values"); v && v->kind == JSNodeKind::Object)
    walkEnum(*v, u);
  for (const JSNode& e : children(n.find("c")))
    walkEnum(e, u);
  for (const JSNode& f : children(n.find("filters")))
    walkPredValue(f.find("pred"), u);
  walkPredValue(n.find("pred"), u);
}

void walkSlot(const JSNode& n, Used& u) {
  std::string t = typeOf(n);
  u.slots.insert(t);
  if (t == "cond") {
    for (const JSNode& term : children(n.find("c")))
      walkPredValue(term.find("pred"), u);
    return;
  }
  if (const JSNode* v = n.find("values"); v && v->kind == JSNodeKind::Object)
    walkEnum(*v, u);
  for (const JSNode& inner : children(n.find("c")))
    walkSlot(inner, u);
}

void walkService(const JSNode& s, Used& u) {
  walkPredValue(s.find("pred"), u);
  for (const JSNode& type : children(s.find("c"))) {
    walkPredValue(type.find("pred"), u);
    for (const char* list : {"c", "request", "status"})
      for (const JSNode& slot : children(type.find(list)))
        walkSlot(slot, u);
  }
}

class SampleDescriptorsTest : public ModelTest {
protected:
  void loadAll() {
    for (const char* doc : kDocuments) {
      Expected<void> r = loadDescriptors(sampleDir() + doc);
      ASSERT_TRUE(r.ok()) << doc << ": " << r.error().text;
    }
  }
};

TEST_F(SampleDescriptorsTest, LoadsAndCompletesWithoutError) {
  CaptureLogSink log;
  loadAll();
  Expected<void> r = completeAllTypes();
  ASSERT_TRUE(r.ok()) << r.error().text;
  size_t types = 0;
  forEachType([&](CType& t, CService& s) {
    ++types;
    EXPECT_TRUE(t.completed()) << s.name << "/" << t.title();
    EXPECT_FALSE(s.disabled) << s.name;
    // Every type makes objects whose packing survives a round trip.
    Reference<IObject> a = t.createObject();
    ASSERT_TRUE(a) << t.title();
    nv::message m;
    a->getPacker()->pack(m, a.get());
    Reference<IObject> b = t.createObject();
    b->getPacker()->unpack(m, b.get());
    nv::message again;
    b->getPacker()->pack(again, b.get());
    EXPECT_EQ(m, again) << t.title();
  });
  EXPECT_GT(types, 25u);
  EXPECT_FALSE(log.contains("ERROR"));
  CService* pw = getService("System", "Password");
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(pw->types().front()->title(), "Change Now");
  EXPECT_EQ(registeredAliases().size(), 1u);
}

TEST_F(SampleDescriptorsTest, UsesEveryKind) {
  Used u;
  for (const char* doc : kDocuments) {
    std::string text = readFile(sampleDir() + doc);
    std::istringstream in(text);
    Expected<void> r = loadDescriptorStream(in, [&](const JSNode& s) -> Expected<void> {
      walkService(s, u);
      return {};
    });
    ASSERT_TRUE(r.ok()) << doc;
  }
  for (std::string_view k : slotKinds())
    EXPECT_TRUE(u.slots.count(std::string(k))) << "slot kind not used: " << k;
  for (const char* p : {"bool", "number", "numarrayany", "bitmap", "string", "message", "addon",
                        "arch", "board", "daughterboard", "syscap", "quickset", "haspwd", "kestel",
                        "supportmsgid", "not", "or", "slot", "object"})
    EXPECT_TRUE(u.preds.count(p)) << "predicate kind not used: " << p;
  for (const char* e : {"static-array", "static-object", "dynamic", "defenum", "remapenum",
                        "slotenum", "queryenum", "pair", "offsetenum", "enumfilter"})
    EXPECT_TRUE(u.enums.count(e)) << "enumeration kind not used: " << e;
}

TEST_F(SampleDescriptorsTest, SkinAppliesToTheSampleServices) {
  CaptureLogSink log;
  loadAll();
  ASSERT_TRUE(completeAllTypes().ok());
  Skin skin;
  skin.load(readFile(sampleDir() + "skins/operator.json"));
  EXPECT_FALSE(log.contains("ERROR PARSING SKIN"));
  // Launcher: hidden entries and renamed groups and entries.
  EXPECT_TRUE(skin.lookupTop("Log").hidden);
  ASSERT_NE(getService(nullptr, "Log"), nullptr);
  SkinEntry& ip = skin.lookupTop("IP");
  EXPECT_EQ(Skin::nameOr(ip, "IP"), "IP Networking");
  SkinEntry& fw = skin.lookup(ip, "Firewall");
  EXPECT_EQ(Skin::nameOr(fw, "Firewall"), "Firewall Rules");
  EXPECT_TRUE(skin.lookup(skin.lookupTop("System"), "Reboot").hidden);
  // Types and slots: every entry the skin names below a service exists in the model.
  CService* firewall = getService("IP", "Firewall");
  ASSERT_NE(firewall, nullptr);
  const CType& rules = *firewall->types().front();
  SkinEntry& typeEntry = skin.lookup(fw, rules.title());
  EXPECT_EQ(Skin::titleOr(typeEntry, rules.title()), "Rules");
  for (const auto& [slotName, entry] : typeEntry.children)
    EXPECT_NE(rules.slot(slotName), nullptr) << slotName;
  EXPECT_TRUE(skin.lookup(typeEntry, "content").hidden);
  EXPECT_TRUE(skin.lookup(typeEntry, "comment").readOnly);
  EXPECT_EQ(Skin::nameOr(skin.lookup(typeEntry, "comment"), "Comment"), "Note");
  const CType& ifaces = *getService(nullptr, "Interfaces")->types().front();
  ASSERT_NE(ifaces.slot("l2mtu"), nullptr);
  EXPECT_TRUE(ifaces.slot("l2mtu")->has(SLOT_HIDEBYDEFAULT));
  EXPECT_TRUE(skin.lookup(skin.lookup(skin.lookupTop("Interfaces"), "Interfaces"), "l2mtu").show);
}

} // namespace
} // namespace kestel
