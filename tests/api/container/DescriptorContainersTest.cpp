#include "RunHarness.h"

#include "api/container/DescriptorContainers.h"
#include "api/container/MapFactories.h"
#include "gen/CType.h"
#include "gen/ModelTestUtil.h"

#include <fstream>
#include <optional>
#include <sstream>

namespace kestel::test {
namespace {

using namespace runs;

using U32s = std::vector<uint32_t>;

// Slot ids "s1" and "u2" of the documents below.
constexpr nv::string_id kS1{1};
constexpr nv::u32_id kU2{2};

class DescriptorContainersTest : public ContainerTest {
protected:
  // Loads one service holding `type` and completes it; the type made.
  CType& load(const std::string& type) {
    std::string error = loadAndComplete("[{name:'S',title:'S',c:[" + type + "]}]");
    EXPECT_EQ(error, "");
    return *services().back()->types().front();
  }
};

TEST_F(DescriptorContainersTest, ItemMakesAHolderWithItsCommandsAndRefresh) {
  auto& item = static_cast<CItem&>(load("{type:'item',title:'Identity',path:[3,1],"
                                        "autorefresh:500,refreshfilter:64,"
                                        "c:[{type:'string',name:'name',id:'s1'}]}"));
  auto holder = createObjectHolder(item);
  ASSERT_TRUE(holder);
  EXPECT_EQ(getObjectHolder({3, 1}), holder.get());
  holder->refresh();
  EXPECT_EQ(last(CMD_GET).get(SYS_TO), (U32s{3, 1}));
  EXPECT_EQ(last(CMD_GET).get(STD_FILTER), kHolderDefaultFilter | 64);
  nv::message values;
  values.set(kS1, "gw-1");
  answer(last(CMD_GET), values);
  holder->commit();
  EXPECT_EQ(last(CMD_SET).get(kS1), "gw-1");
  clock().advance(500);
  EXPECT_EQ(countOf(CMD_GET), 2u);
}

TEST_F(DescriptorContainersTest, ItemCommandsFollowTheDescriptor) {
  auto& own = static_cast<CItem&>(load("{type:'item',title:'A',path:[3,2],setcmd:77}"));
  auto holder = createObjectHolder(own, HolderRegistration::DoNotRegister);
  EXPECT_EQ(getObjectHolder({3, 2}), nullptr);
  holder->refresh(); // a set command alone leaves no get command
  holder->commit();
  EXPECT_EQ(countOf(CMD_GET), 0u);
  EXPECT_EQ(countOf(77), 1u);

  auto& readOnly = static_cast<CItem&>(load("{type:'item',title:'B',path:[3,3],ro:1}"));
  auto done = makeRef<ChangeRecorder>();
  createObjectHolder(readOnly)->commit(done.get());
  EXPECT_EQ(countOf(CMD_SET), 0u);
  EXPECT_EQ(done->results, std::vector<ChangeResult>{ChangeResult::Succeeded});
}

TEST_F(DescriptorContainersTest, ActionUsesItsRequestReplyCommandsAndInterval) {
  auto& type = static_cast<CAction&>(load("{type:'action',title:'Ping',path:[5,6],pollcmd:9,"
                                          "autorefresh:250,"
                                          "request:[{type:'string',name:'to',id:'s1'}],"
                                          "c:[{type:'number',name:'rtt',id:'u2'}]}"));
  auto action = createObjectAction(type);
  ASSERT_TRUE(action);
  ASSERT_TRUE(action->parameters()->getPacker()->setValue(kS1.key, action->parameters(),
                                                          std::string("10.0.0.1")));
  action->start();
  nv::message start = last(CMD_START);
  EXPECT_EQ(start.get(SYS_TO), (U32s{5, 6}));
  EXPECT_EQ(start.get(kS1), "10.0.0.1");
  answer(start);
  nv::message rtt;
  rtt.set(kU2, 33u);
  answer(last(9), rtt);
  uint32_t got = 0;
  ASSERT_TRUE(action->status()->getPacker()->getValue(kU2.key, action->status(), got));
  EXPECT_EQ(got, 33u);
  clock().advance(250);
  EXPECT_EQ(countOf(9), 2u);
}

TEST_F(DescriptorContainersTest, SetupAndDoitSendTheirObjects) {
  auto& wizard = static_cast<CSetup&>(
      load("{type:'setup',title:'Quick Set',path:[8,1],c:[{type:'string',name:'ssid',id:'s1'}]}"));
  auto setup = createSetupManager(wizard);
  ASSERT_TRUE(setup && setup->object());
  setup->object()->getPacker()->setValue(kS1.key, setup->object(), std::string("home"));
  setup->next(false);
  EXPECT_EQ(last(CMD_SETFORM).get(SYS_TO), (U32s{8, 1}));
  EXPECT_EQ(last(CMD_SETFORM).get(STD_PAGE).get(kS1), "home");

  auto& reboot = static_cast<CDoit&>(
      load("{type:'doit',title:'Reboot',path:[9],cmd:" + std::to_string(0xFE0020) +
           ",errorprefix:'Reboot failed'}"));
  auto doit = createObjectDoit(reboot);
  ASSERT_TRUE(doit);
  doit->send();
  answerError(last(0xFE0020), ERROR_BUSY, "busy");
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].rfind("Reboot failed - busy", 0), 0u) << boxes.boxes[0];
}

TEST_F(DescriptorContainersTest, GenericMapMakesEachObjectOfTheTypeItsKindSelects) {
  std::string error = loadAndComplete(
      "[{name:'S',title:'S',c:["
      "{type:'map',title:'Interfaces',path:[1,2],generic:'iface',typeon:'kind',"
      "c:[{type:'string',name:'name',id:'s1'},{type:'number',name:'kind',id:'u2'}]},"
      "{type:'map',title:'VLAN',inherit:'iface',typevalue:1,"
      "c:[{type:'number',name:'vid',id:'u3'}]},"
      "{type:'map',title:'Bridge',inherit:'iface',typevalue:2}]}]");
  ASSERT_EQ(error, "");
  auto& types = services().back()->types();
  auto map = createContainer(static_cast<CMap&>(*types[0]));
  ASSERT_TRUE(map);
  struct Row {
    uint32_t id;
    std::optional<uint32_t> kind;
    CType* made;
  };
  const Row rows[] = {{1, 0, types[0].get()},
                      {2, 1, types[1].get()},
                      {3, 2, types[2].get()},
                      {4, 9, types[0].get()},
                      {5, {}, types[0].get()}};
  nv::message reply;
  for (const Row& r : rows) {
    nv::message element;
    element.set(STD_ID, r.id);
    element.set(kS1, "if" + std::to_string(r.id));
    if (r.kind)
      element.set(kU2, *r.kind);
    element.set(nv::u32_id(3), 100 + r.id);
    reply.append(STD_OBJS, element);
  }
  map->refresh();
  answer(last(CMD_GETALL), reply);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.id);
    IObject* o = map->find(r.id);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->getCType(), r.made);
    nv::message packed;
    o->getPacker()->pack(packed, o);
    EXPECT_EQ(packed.get(kS1), "if" + std::to_string(r.id));        // the shared slot
    EXPECT_EQ(packed.has(nv::u32_id(3)), r.made == types[1].get()); // VLAN's own slot
  }
}

TEST_F(DescriptorContainersTest, TypesNotCompletedMakeNothing) {
  EXPECT_FALSE(createObjectHolder(citem("I")));
  EXPECT_FALSE(createObjectAction(caction("A")));
  EXPECT_FALSE(createSetupManager(csetup("S")));
  EXPECT_FALSE(createObjectDoit(cdoit("D")));
}

// Every holder, action, query, wizard and command of the sample router's descriptors becomes live.
TEST_F(DescriptorContainersTest, SampleDescriptorsMakeTheirContainers) {
  for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"}) {
    std::ifstream in(std::string(KESTEL_SOURCE_DIR) + "/sim/sample/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    ASSERT_EQ(loadText(text.str()), "") << name;
  }
  ASSERT_EQ(completeAllTypes().ok(), true);
  size_t made = 0;
  for (const auto& service : services()) {
    for (const auto& type : service->types()) {
      SCOPED_TRACE(type->title());
      switch (type->kind()) {
      case TypeKind::Item:
        EXPECT_TRUE(createObjectHolder(static_cast<CItem&>(*type)));
        break;
      case TypeKind::Action:
        EXPECT_TRUE(createObjectAction(static_cast<CAction&>(*type)));
        break;
      case TypeKind::Setup:
        EXPECT_TRUE(createSetupManager(static_cast<CSetup&>(*type)));
        break;
      case TypeKind::Doit:
      case TypeKind::Terminal:
        EXPECT_TRUE(createObjectDoit(static_cast<CDoit&>(*type)));
        break;
      case TypeKind::Query:
        EXPECT_TRUE(createObjectQuery(static_cast<CQuery&>(*type)));
        break;
      case TypeKind::Map:
      case TypeKind::Alias:
      case TypeKind::Plain:
        continue;
      }
      ++made;
    }
  }
  EXPECT_GE(made, 9u); // five items, an action, a query, a wizard, a command, the terminal opener
}

} // namespace
} // namespace kestel::test
