// Which services the launcher shows: "nonpublic" on a service or on every container it holds
// keeps it out, while its menus are still found by name.
#include "app/MenuCatalog.h"
#include "gen/ModelTestUtil.h"

namespace kestel {
namespace {

class MenuCatalogTest : public test::ModelFixture {};

TEST_F(MenuCatalogTest, NonPublicServicesAndContainersStayOutOfTheLauncher) {
  struct Case {
    const char* service; // the service's keys and containers
    bool shown;
  };
  const Case cases[] = {
      {"name:'A',title:'A',c:[{type:'map',title:'M',path:[1,1]}]", true},
      {"name:'B',title:'B',nonpublic:1,c:[{type:'map',title:'M',path:[1,2]}]", false},
      {"name:'C',title:'C',c:[{type:'map',title:'M',path:[1,3],nonpublic:1}]", false},
      {"name:'D',title:'D',c:[{type:'map',title:'M',path:[1,4],nonpublic:1},"
       "{type:'action',title:'Run',path:[1,5]}]",
       true},
      {"name:'E',title:'E',c:[{type:'action',title:'Run',path:[1,6],nonpublic:1},"
       "{type:'query',title:'Q',path:[1,7],nonpublic:1}]",
       false},
      {"name:'F',title:'F',c:[{type:'alias',title:'Go',open:'A',tab:'x'}]", true},
      {"name:'G',title:'G',nonpublic:1,c:[{type:'alias',title:'Go',open:'A',tab:'y'}]", false},
  };
  std::string doc = "[";
  for (const Case& c : cases)
    doc += std::string(doc.size() > 1 ? "," : "") + "{" + c.service + "}";
  ASSERT_EQ(loadAndComplete(doc + "]"), "");
  ASSERT_EQ(services().size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].service);
    EXPECT_EQ(inLauncher(*services()[i]), cases[i].shown);
  }
  Expected<MenuRef> hidden = findMenu("C");
  ASSERT_TRUE(hidden.ok());
  EXPECT_FALSE(isPublic(*hidden->type));
}

} // namespace
} // namespace kestel
