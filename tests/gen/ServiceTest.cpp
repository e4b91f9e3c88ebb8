#include "gen/Service.h"

#include "ModelTestUtil.h"
#include "api/object/Packer.h"
#include "api/wire/Message.h"

#include <gtest/gtest.h>

#include <functional>

namespace kestel {
namespace {

class ServiceTest : public ModelTest {};

std::string svc(const std::string& types, const std::string& keys = "name:'S',title:'S'") {
  return "{" + keys + ",c:[" + types + "]}";
}

TEST_F(ServiceTest, ServiceKeysAndOrder) {
  ASSERT_EQ(loadText("[" + svc("", "name:'A',title:'Interface List'") + "," +
                     svc("", "name:'B',title:'IP',prio:0,group:'G',groupIcon:3,icon:7,"
                             "nonpublic:1,selector:1,unknown:5") +
                     ",7,'x'," + svc("", "name:'C',title:' Tab\tX'") + "]"),
            "");
  ASSERT_EQ(services().size(), 3u);
  const CService& a = *services()[0];
  const CService& b = *services()[1];
  EXPECT_EQ(a.prio, 500u);
  EXPECT_EQ(b.prio, 0u);
  EXPECT_EQ(a.shortId(), "interface-");
  EXPECT_EQ(services()[2]->shortId(), "-tab-x");
  EXPECT_EQ(b.groupIconIndex, 3u);
  EXPECT_EQ(b.iconIndex, 7u);
  EXPECT_TRUE(b.isNonPublic && b.isSelector);
  EXPECT_EQ(getService(nullptr, "A"), services()[0].get());
  EXPECT_EQ(getService(nullptr, "B"), nullptr); // a null group matches only ungrouped services
  EXPECT_EQ(getService("G", "B"), services()[1].get());
  EXPECT_TRUE(disableService("G", "B"));
  EXPECT_FALSE(services()[1]->offered());
  EXPECT_FALSE(disableService("G", "nothing"));
  EXPECT_NE(findProvider("srvc"), nullptr);
  EXPECT_EQ(services()[0]->types().size(), 0u);
}

TEST_F(ServiceTest, MapKeysAndInvertedFlags) {
  ASSERT_EQ(loadText("[" +
                     svc("{type:'map',title:'D'},"
                         "{type:'map',title:'M',nonaddable:0,nonmovable:0,nonclonable:1,"
                         "removable:1,ordered:0,getallcmd:5,maxobjs:3,writeperm:64},"
                         "{type:'map',title:'N',nonaddable:1,nonmovable:1}") +
                     "]"),
            "");
  auto& types = services()[0]->types();
  auto* d = static_cast<CMap*>(types[0].get());
  auto* m = static_cast<CMap*>(types[1].get());
  auto* n = static_cast<CMap*>(types[2].get());
  EXPECT_TRUE(d->addable && d->clonable && !d->movable && d->ordered && !d->removable);
  EXPECT_EQ(d->getAllCmd, 0xFFFFFFFFu);
  EXPECT_EQ(d->writePerm, 128u);
  EXPECT_TRUE(m->addable && m->movable && !m->clonable && m->removable && !m->ordered);
  EXPECT_EQ(m->getAllCmd, 5u);
  EXPECT_EQ(m->maxObjs, 3u);
  EXPECT_FALSE(n->addable || n->movable);
}

// Every kind reads its own keys and ignores the keys of the other kinds.
TEST_F(ServiceTest, EachKindReadsItsOwnKeys) {
  struct Case {
    const char* type;
    const char* keys;
    std::function<bool(const CType&)> check;
  } cases[] = {
      {"map",
       "fulltitle:'F',nonpublic:1,autostart:1,autorefresh:9,refetchonchange:1,refetchonopen:4,"
       "refreshfilter:6,maxobjsmsg:'full',logstyle:1,cmd:5,uptime:'u'",
       [](const CType& t) {
         auto& m = static_cast<const CMap&>(t);
         return m.fullTitle == "F" && m.nonPublic && m.autoStart && m.autoRefresh == 9 &&
                m.refetchOnChange && m.refetchOnOpen == 4 && m.refreshFilter == 6 &&
                m.maxObjsMsg == "full" && m.logStyle;
       }},
      {"item", "autorefresh:9,autostart:1,refreshfilter:6,nonpublic:1",
       [](const CType& t) {
         auto& i = static_cast<const CItem&>(t);
         return i.autoRefresh == 9 && i.autoStart && i.refreshFilter == 6;
       }},
      {"action",
       "startcmd:1,pollcmd:2,cancelcmd:3,autorefresh:9,autoclose:1,nonpublic:1,uptime:'u',"
       "autolimit:4",
       [](const CType& t) {
         auto& a = static_cast<const CAction&>(t);
         return a.startCmd == 1 && a.pollCmd == 2 && a.cancelCmd == 3 && a.autoRefresh == 9 &&
                a.autoClose && a.nonPublic && a.uptime == "u";
       }},
      {"action", "startcmd:'x',pollcmd:'x',cancelcmd:'x',autorefresh:'x'",
       [](const CType& t) {
         auto& a = static_cast<const CAction&>(t);
         return a.startCmd == CMD_START && a.pollCmd == CMD_POLL && a.cancelCmd == CMD_CANCEL &&
                a.autoRefresh == 1000;
       }},
      {"query",
       "startcmd:1,cancelcmd:3,getallcmd:4,autorefresh:9,refreshfilter:6,autolimit:7,"
       "autoclose:1,autoscroll:1,nonpublic:1,ordered:1,pollcmd:2",
       [](const CType& t) {
         auto& q = static_cast<const CQuery&>(t);
         return q.startCmd == 1 && q.cancelCmd == 3 && q.getAllCmd == 4 && q.autoRefresh == 9 &&
                q.refreshFilter == 6 && q.autoLimit == 7 && q.autoClose && q.autoScroll &&
                q.nonPublic && q.ordered;
       }},
      {"doit", "cmd:1,confirm:'c',errorprefix:'e',progress:'p',autoreset:1",
       [](const CType& t) {
         auto& d = static_cast<const CDoit&>(t);
         return d.cmd == 1 && d.confirm == "c" && d.errorPrefix == "e" && d.progress == "p" &&
                d.autoReset;
       }},
      {"termopen", "cmd:1,confirm:'c'",
       [](const CType& t) {
         auto& d = static_cast<const CDoit&>(t);
         return t.kind() == TypeKind::Terminal && d.cmd == 1 && d.confirm == "c";
       }},
      {"alias", "open:'o',tab:'t',group:'g',link:['a','b'],cmd:1",
       [](const CType& t) {
         auto& a = static_cast<const CAlias&>(t);
         return a.open == "o" && a.tab == "t" && a.group == "g" && a.links.size() == 2 &&
                a.registered();
       }},
      {"setup", "cmd:1,open:'o'", [](const CType& t) { return t.kind() == TypeKind::Setup; }},
  };
  for (const Case& c : cases) {
    resetModel();
    ASSERT_EQ(
        loadText("[" + svc(std::string("{type:'") + c.type + "',title:'T'," + c.keys + "}") + "]"),
        "")
        << c.type << " " << c.keys;
    EXPECT_TRUE(c.check(lastType())) << c.type << " " << c.keys;
  }
}

TEST_F(ServiceTest, ItemCommandRules) {
  struct Case {
    const char* keys;
    uint32_t get, set;
    bool setGet, setSet;
  } cases[] = {
      {"", CMD_DEFAULT, CMD_DEFAULT, false, false},
      {"setcmd:5", CMD_NONE, 5, true, true},
      {"getcmd:6", 6, CMD_DEFAULT, true, false},
      {"setcmd:5,getcmd:6", 6, 5, true, true},
      {"getcmd:6,setcmd:5", 6, 5, true, true},
      {"getcmd:'x'", CMD_NONE, CMD_DEFAULT, true, false},
      {"ro:1", CMD_DEFAULT, CMD_NONE, false, true},
      {"ro:1,setcmd:5", CMD_NONE, CMD_NONE, true, true},
  };
  for (const Case& c : cases) {
    resetModel();
    ASSERT_EQ(loadText("[" +
                       svc(std::string("{type:'item',title:'I',path:[1]") + (*c.keys ? "," : "") +
                           c.keys + "}") +
                       "]"),
              "")
        << c.keys;
    HolderConfig h = static_cast<CItem&>(lastType()).holderConfig();
    EXPECT_EQ(h.getCmd, c.get) << c.keys;
    EXPECT_EQ(h.setCmd, c.set) << c.keys;
    EXPECT_EQ(h.setGet, c.setGet) << c.keys;
    EXPECT_EQ(h.setSet, c.setSet) << c.keys;
    EXPECT_EQ(h.path, (std::vector<uint32_t>{1, 0xFFFFFFFF}));
  }
}

TEST_F(ServiceTest, QuerySlotsGoToTheirTypes) {
  ASSERT_EQ(loadAndComplete(
                "[" +
                svc("{type:'query',title:'Q',name:'row',nameval:'host',treeon:'host',"
                    "request:[{type:'ipaddr',name:'target',id:'u1'}],"
                    "status:[{type:'number',name:'sent',id:'u2'}],"
                    "c:[{type:'string',name:'host',id:'s3'},{type:'number',name:'time',id:'u4'}],"
                    "startcmd:'bad',autorefresh:250}") +
                "]"),
            "");
  auto& q = static_cast<CQuery&>(lastType());
  EXPECT_NE(q.slot("target"), nullptr);
  EXPECT_EQ(q.slot("host"), nullptr);
  EXPECT_NE(q.result().slot("host"), nullptr);
  EXPECT_NE(q.status().slot("sent"), nullptr);
  EXPECT_TRUE(q.result().isReadOnly());
  EXPECT_EQ(q.result().nameSlotRef(), q.result().slot("host"));
  EXPECT_EQ(q.result().label(), "row");
  EXPECT_EQ(q.result().treeSlot(), q.result().slot("host"));
  EXPECT_TRUE(q.nameVal.empty() && q.nameText.empty() && q.treeOn_.empty());
  EXPECT_EQ(q.startCmd, CMD_START);
  EXPECT_EQ(q.autoRefresh, 250u);
}

TEST_F(ServiceTest, ActionRequestAndReply) {
  ASSERT_EQ(loadAndComplete("[" +
                            svc("{type:'action',title:'Ping',path:[5,6],pollcmd:9,"
                                "request:[{type:'ipaddr',name:'to',id:'u1'}],"
                                "c:[{type:'number',name:'rtt',id:'u2'}]}") +
                            "]"),
            "");
  auto& a = static_cast<CAction&>(lastType());
  EXPECT_NE(a.slot("to"), nullptr);
  EXPECT_NE(a.replyType().slot("rtt"), nullptr);
  ActionConfig cfg = a.createAction();
  ASSERT_TRUE(cfg.request && cfg.reply);
  EXPECT_EQ(cfg.pollCmd, 9u);
  EXPECT_EQ(cfg.startCmd, CMD_START);
  EXPECT_EQ(cfg.cancelCmd, CMD_CANCEL);
  EXPECT_EQ(cfg.pollInterval, 1000u);
  EXPECT_EQ(cfg.path, (std::vector<uint32_t>{5, 6, 0xFFFFFFFF}));

  CAction& code = caction("Code");
  code.path(1, 2).add(sstring("req")).reply().add(snumber("rep"));
  makeService(nullptr, "C", "C", 1).add(code);
  EXPECT_NE(code.slot("req"), nullptr);
  EXPECT_EQ(code.slot("rep"), nullptr);
  EXPECT_NE(code.replyType().slot("rep"), nullptr);
}

TEST_F(ServiceTest, GenericAndInherit) {
  std::string doc =
      "[" +
      svc("{type:'map',title:'Interfaces',path:[1,2],generic:'iface',typeon:'kind',"
          "nameval:'name',c:[{type:'string',name:'name',id:'s1'},{type:'enm',name:'kind',"
          "id:'u2',values:{type:'static',map:['ether','vlan']}},"
          "{type:'cond',name:'up',c:[]}]},"
          "{type:'map',title:'VLAN',inherit:'iface',typevalue:1,"
          "c:[{type:'number',name:'vid',id:'u3',on:'own'},{type:'cond',name:'own'}]}") +
      "]";
  ASSERT_EQ(loadAndComplete(doc), "");
  auto& types = services()[0]->types();
  auto& vlan = static_cast<CMap&>(*types[1]);
  EXPECT_EQ(vlan.typeValue, 1u);
  ASSERT_EQ(vlan.slots().size(), 3u);
  EXPECT_EQ(vlan.slots()[0]->name(), "name");
  EXPECT_EQ(vlan.slots()[2]->name(), "vid");
  ASSERT_EQ(vlan.conditions().size(), 2u);
  EXPECT_EQ(vlan.conditions()[0]->name(), "up"); // parent's conditions first
  EXPECT_EQ(vlan.nameSlotRef(), types[0]->slot("name"));
  EXPECT_EQ(vlan.pathIds(), types[0]->pathIds());

  // Both maps pack the shared field the same way.
  Reference<IObject> o = vlan.createObject();
  nv::message m;
  m.set(nv::string_id(1), std::string("vlan5"));
  m.set(nv::u32_id(3), 5u);
  o->getPacker()->unpack(m, o.get());
  EXPECT_EQ(o->toString(), "vlan5");
  nv::message back;
  o->getPacker()->pack(back, o.get());
  EXPECT_EQ(back.get(nv::u32_id(3)), 5u);
}

TEST_F(ServiceTest, InheritNeedsAnEarlierGenericMap) {
  CaptureLogSink log;
  std::string later = "[" + svc("{type:'map',title:'VLAN',inherit:'iface'}") + "," +
                      svc("{type:'map',title:'I',generic:'iface',typeon:'kind',"
                          "c:[{type:'number',name:'kind',id:'u2'}]}") +
                      "]";
  EXPECT_NE(loadText(later), "");
  EXPECT_TRUE(services().empty());
  EXPECT_EQ(findGenericMap("iface"), nullptr);

  resetModel();
  // A rejected element takes its generic map with it.
  EXPECT_NE(loadText("[" + svc("{type:'map',title:'I',generic:'g',typeon:'k'},{type:'zap'}") + "]"),
            "");
  EXPECT_EQ(findGenericMap("g"), nullptr);
  EXPECT_TRUE(log.contains("unkown container type zap"));
  log.clear();
  EXPECT_EQ(loadText("[" + svc("{type:'map',title:'Empty',generic:''}") + "]"), "");
  EXPECT_TRUE(log.contains("generic NULL Empty"));
}

TEST_F(ServiceTest, ColoursAndIcons) {
  ASSERT_EQ(loadAndComplete("[" +
                            svc("{type:'map',title:'M',colors:[{on:'c',color:'#FF8000'},"
                                "{on:'c',color:'red'},{color:'#000000'},{on:'c',color:'#12345'},"
                                "{on:'c',color:'#12345g'}],icons:{'0x10':4,'3':5},iconon:'n',"
                                "c:[{type:'number',name:'n',id:'u1'},{type:'cond',name:'c'}]}") +
                            "]"),
            "");
  const CType& t = lastType();
  ASSERT_EQ(t.colors().size(), 1u);
  EXPECT_EQ(t.colors()[0].color, (Color{0xFF, 0x80, 0x00}));
  EXPECT_EQ(t.colors()[0].condition, t.condition("c"));
  ASSERT_EQ(t.icons().size(), 2u);
  EXPECT_EQ(t.icons()[0].key, 0x10u);
  EXPECT_EQ(t.iconSlot(), t.slot("n"));
}

TEST_F(ServiceTest, CompletionErrors) {
  struct Case {
    const char* type;
    const char* error;
  } cases[] = {
      {"{type:'map',title:'M',nameval:'nope',c:[{type:'string',name:'a'}]}",
       "non existing name slot for nope in M"},
      {"{type:'map',title:'M',c:[{type:'string',name:'a',on:'x'},{type:'cond',name:'c1'},"
       "{type:'cond',name:'c2'}]}",
       "ERRROR: could not find cond <x> for <a>\nconds:\nc1\nc2"},
      {"{type:'map',title:'M',c:[{type:'cond',name:'c',c:[{on:'zz',pred:{type:'kestel'}}]}]}",
       "no slot <zz> found for cond <c>"},
      {"{type:'map',title:'M',c:[{type:'cond',name:'c',c:[{on:['o','a'],pred:{type:'kestel'}}]}]}",
       "no owner slot <o> found for cond <c>"},
      {"{type:'map',title:'M',c:[{type:'cond',name:'c',oron:'d'}]}",
       "no cond <d> found for cond <c>"},
      {"{type:'map',title:'M',c:[{type:'alias',name:'al',original:'none'}]}",
       "ERROR: no original for alias <al>"},
  };
  CaptureLogSink log;
  for (const Case& c : cases) {
    resetModel();
    EXPECT_EQ(loadAndComplete("[" + svc(c.type) + "]"), c.error) << c.type;
    EXPECT_TRUE(services()[0]->disabled);
    EXPECT_FALSE(lastType().createObject()) << c.type;
  }
  resetModel();
  EXPECT_EQ(loadText("[" + svc("{type:'map',title:'M',alias:'x'}") + "]"),
            "non existing alias slot: x");
  EXPECT_EQ(loadText("[" + svc("{type:'map',title:'M',nameval:{type:'bogus'}}") + "]"),
            "unknown name slot");
}

TEST_F(ServiceTest, DesignatedSlotAndAliases) {
  ASSERT_EQ(
      loadAndComplete(
          "[" +
          svc("{type:'map',title:'M',c:[{type:'string',name:'a',tag:3},"
              "{type:'string',name:'b',tag:4},{type:'string',name:'c',tag:4}]},"
              "{type:'alias',title:'A1',open:'Win',tab:'T'},{type:'alias',title:'A2',open:'W'},"
              "{type:'termopen',title:'Term',cmd:7},"
              "{type:'doit',title:'Reboot',cmd:8,confirm:'Sure?',autoreset:1}") +
          "]"),
      "");
  auto& types = services()[0]->types();
  EXPECT_EQ(types[0]->designated(), types[0]->slot("b"));
  ASSERT_EQ(registeredAliases().size(), 1u);
  EXPECT_EQ(registeredAliases()[0]->title(), "A1");
  EXPECT_EQ(types[3]->kind(), TypeKind::Terminal);
  EXPECT_EQ(static_cast<CDoit&>(*types[4]).confirm, "Sure?");
}

TEST_F(ServiceTest, PackAndUnpackThroughDescriptorObjects) {
  ASSERT_EQ(loadAndComplete(
                "[" +
                svc("{type:'map',title:'M',c:[{type:'string',name:'s',id:'s1'},"
                    "{type:'number',name:'n',id:'u2',scale:1000},{type:'bool',name:'b',id:'b3'},"
                    "{type:'network',name:'net',id:'u4',maskid:'u5'},"
                    "{type:'numberlist',name:'l',id:'U6'},{type:'ip6addr',name:'v6',id:'a7'},"
                    "{type:'macaddr',name:'mac',id:'r8'},{type:'bignumber',name:'big',id:'q9'},"
                    "{type:'addr',name:'ad',id:'mA'},{type:'multistring',name:'ms',id:'SB'},"
                    "{type:'group',name:'g',c:[{type:'number',name:'in',id:'uC'}]}]}") +
                "]"),
            "");
  CType& t = lastType();
  nv::message in;
  in.set(nv::string_id(1), std::string("hello"));
  in.set(nv::u32_id(2), 3u);
  in.set(nv::bool_id(3), true);
  in.set(nv::u32_id(4), 0x0A000000u);
  in.set(nv::u32_id(5), 0xFF000000u);
  in.set(nv::u32_array_id(6), std::vector<uint32_t>{1, 2, 3});
  in.set(nv::addr6_id(7), nv::addr6{1, 2, 3});
  in.set(nv::raw_id(8), std::vector<uint8_t>{1, 2, 3, 4, 5, 6});
  in.set(nv::u64_id(9), uint64_t{1} << 40);
  nv::message inner;
  inner.set(nv::u32_id(1), 7u);
  in.set(nv::message_id(10), inner);
  in.set(nv::string_array_id(11), std::vector<std::string>{"x", "y"});
  in.set(nv::u32_id(12), 99u);
  Reference<IObject> a = t.createObject();
  a->getPacker()->unpack(in, a.get());
  uint32_t scaled = 0;
  ASSERT_TRUE(a->getPacker()->getValue(2, a.get(), scaled));
  EXPECT_EQ(scaled, 3000u);
  nv::message out;
  a->getPacker()->pack(out, a.get());
  EXPECT_EQ(out, in);

  // A copy of the record holds the same values and outlives the original.
  Reference<IObject> b = t.createObject();
  t.copyRecord(b->record().data(), a->record().data());
  a = nullptr;
  nv::message copied;
  b->getPacker()->pack(copied, b.get());
  EXPECT_EQ(copied, in);
}

TEST_F(ServiceTest, CodeRouteMatchesDescriptorRoute) {
  CMap& m = cmap("Addresses");
  m.path(10, 1)
      .add(sipAddress("address").id(nv::u32_id(1)))
      .add(sstring("comment").id(nv::string_id(4)));
  m.add(snumber("n").id(nv::u32_id(2), 10)).add(false, sstring("skipped"));
  CService& s = makeService("IP", "Addresses", "Addresses", 10);
  s.add(m).icon(3).nonpublic();
  ASSERT_TRUE(completeAllTypes().ok());
  EXPECT_EQ(getService("IP", "Addresses"), &s);
  EXPECT_EQ(m.slots().size(), 3u);
  EXPECT_EQ(m.pathIds(), (std::vector<uint32_t>{10, 1, 0xFFFFFFFF}));
  Reference<IObject> o = m.create();
  nv::message in;
  in.set(nv::u32_id(1), 0x7F000001u);
  in.set(nv::string_id(4), std::string("lo"));
  in.set(nv::u32_id(2), 4u);
  o->getPacker()->unpack(in, o.get());
  nv::message out;
  o->getPacker()->pack(out, o.get());
  EXPECT_EQ(out, in);
  EXPECT_EQ(findProvider("srvc")->lookupType("addresses", "Addresses"), &m);
}

TEST_F(ServiceTest, BadInputNeverStopsTheModel) {
  CaptureLogSink log;
  EXPECT_EQ(loadText("[" + svc("{type:'map',title:'A',c:[{type:'string',name:'a',id:'s1'}]}") +
                     "," + svc("{type:'map',title:'B',pred:{type:'zz'}}") + "," + svc("") + "]"),
            "unknown pred type zz");
  ASSERT_EQ(services().size(), 1u); // the element before the error stays
  EXPECT_TRUE(completeAllTypes().ok());
  EXPECT_TRUE(lastType().createObject());
}

} // namespace
} // namespace kestel
