// The model context: a reset leaves nothing of the previous model behind (the sample model built
// twice in one process gives the same model), and scopes keep contexts apart.
#include "gen/ModelContext.h"

#include "gen/CType.h"
#include "gen/Service.h"
#include "gen/Skin.h"

#include "ModelTestUtil.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace kestel {
namespace {

std::string sampleDir() { return std::string(KESTEL_SOURCE_DIR) + "/sim/sample/"; }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void dumpSlot(const Slot& s, const std::string& indent, std::ostringstream& out) {
  out << indent << s.kind() << " " << s.name() << " flags=" << s.flagBits()
      << " on=" << s.conditionName() << " size=" << s.partSize();
  for (const SlotField& f : s.fields())
    out << " " << f.letter << f.key << "x" << f.scale << "@" << f.offset;
  out << "\n";
  for (const auto& in : s.inner())
    dumpSlot(*in, indent + "  ", out);
}

void dumpType(const CType& t, std::ostringstream& out) {
  out << " type " << static_cast<int>(t.kind()) << " " << t.title() << " label=" << t.label()
      << " completed=" << t.completed() << " record=" << t.recordSize() << " path=";
  for (uint32_t id : t.pathIds())
    out << id << ",";
  out << " name=" << (t.nameSlotRef() ? t.nameSlotRef()->name() : "-") << "\n";
  for (const Slot* s : t.slots())
    dumpSlot(*s, "  ", out);
  for (const SlotCondition* c : t.conditions())
    out << "  cond " << c->name() << " terms=" << c->terms().size() << "\n";
}

// Everything the current context holds, as text.
std::string dumpModel() {
  std::ostringstream out;
  const ModelContext& m = modelContext();
  for (const auto& s : services())
    out << "service " << s->group << "/" << s->name << " " << s->title << " prio=" << s->prio
        << " disabled=" << s->disabled << "\n";
  forEachType([&](CType& t, CService&) { dumpType(t, out); });
  for (const auto& [name, provider] : m.providers)
    out << "provider " << name << "\n";
  for (const auto& [name, map] : m.genericMaps)
    out << "generic " << name << " " << map->title() << "\n";
  for (uint32_t f : tracedFields())
    out << "traced " << f << "\n";
  for (const CAlias* a : registeredAliases())
    out << "alias " << a->title() << "\n";
  out << "pending types=" << m.pendingTypes.size() << " slots=" << m.pendingSlots.size()
      << " makers=" << m.convertorMakers.size() << " views=" << m.views.size()
      << " factory=" << static_cast<bool>(m.viewFactory)
      << " directory=" << (m.objectDirectory != nullptr) << "\n";
  out << "user=" << loggedInUser() << " time=" << routerTime()
      << " board=" << routerFacts().boardName << " packages=" << routerFacts().packages.size()
      << "\n";
  for (const std::string& line : Skin::dumpLines(activeSkin().root()))
    out << "skin " << line << "\n";
  return out.str();
}

// Loads the sample router's documents and skin and sets every piece of session state.
void buildSampleModel(IObjectDirectory& directory, IView& view) {
  for (const char* doc : {"nimblux.jg", "ipv6.jg", "tools.jg"})
    ASSERT_TRUE(loadDescriptors(sampleDir() + doc).ok()) << doc;
  ASSERT_TRUE(completeAllTypes().ok());
  activeSkin().load(readFile(sampleDir() + "skins/operator.json"));
  setLoggedInUser("admin");
  setRouterTime(86400);
  RouterFacts facts;
  facts.boardName = "NX-2011";
  facts.packages = {"wireless"};
  setRouterFacts(facts);
  setObjectDirectory(&directory);
  installConvertorMaker("string", [](const Slot&) { return Reference<IBase>(); });
  setViewFactory([](Slot&, SkinEntry*, void*, bool) -> IView* { return nullptr; });
  Views::add(services().front()->types().front()->slots().front(), &view);
  cmap("pending map");
  sstring("pending slot");
}

struct NoDirectory : IObjectDirectory {
  bool findObject(const std::vector<uint32_t>&, uint32_t, ObjectView&) override { return false; }
};
struct NoView : IView {
  void update() override {}
};

class ModelContextTest : public ModelTest {};

TEST_F(ModelContextTest, ResetLeavesNothingBehind) {
  const std::string empty = dumpModel();
  NoDirectory directory;
  NoView view;
  CaptureLogSink log;
  buildSampleModel(directory, view);
  const std::string first = dumpModel();
  ASSERT_NE(first, empty);
  EXPECT_NE(first.find("generic"), std::string::npos) << "the sample should have a generic map";

  resetModel();
  EXPECT_EQ(dumpModel(), empty);

  buildSampleModel(directory, view);
  EXPECT_EQ(dumpModel(), first);
}

TEST_F(ModelContextTest, ScopesKeepContextsApart) {
  makeService(nullptr, "Outer", "Outer", 1);
  setLoggedInUser("outer");
  {
    ModelContext inner;
    ModelScope scope(inner);
    EXPECT_TRUE(services().empty());
    EXPECT_EQ(loggedInUser(), "");
    makeService(nullptr, "Inner", "Inner", 1);
    resetModel(); // resets the inner context only
    EXPECT_TRUE(services().empty());
    makeService(nullptr, "Inner", "Inner", 1);
  }
  ASSERT_EQ(services().size(), 1u);
  EXPECT_EQ(services()[0]->name, "Outer");
  EXPECT_EQ(loggedInUser(), "outer");
  EXPECT_EQ(getService(nullptr, "Inner"), nullptr);
}

} // namespace
} // namespace kestel
