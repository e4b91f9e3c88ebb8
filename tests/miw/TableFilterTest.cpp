// Filter rows over the columns of a descriptor type: every operator a value kind offers, values
// read through the columns' own convertors (so "on" means the enumeration's value and an
// address "in" a network means inside it), and the refusals of values and operators a column
// cannot take.
#include "miw/TableFilter.h"

#include "gen/CType.h"
#include "gen/ModelTestUtil.h"
#include "miw/SlotConvertors.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

const char kDoc[] =
    "[{name:'S',title:'S',c:[{type:'map',title:'M',path:[1,2],c:["
    "{type:'string',name:'name',id:'s1',title:'Name'},"
    "{type:'number',name:'count',id:'u2',title:'Count'},"
    "{type:'ipaddr',name:'addr',id:'u3',title:'Address'},"
    "{type:'enm',name:'kind',id:'u4',title:'Kind',values:{type:'static',map:['off','on','auto']}},"
    "{type:'bool',name:'on',id:'b5',title:'On'}]}]}]";

uint32_t ipv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) { // first octet in the lowest byte
  return uint32_t(a) | uint32_t(b) << 8 | uint32_t(c) << 16 | uint32_t(d) << 24;
}

class TableFilterTest : public ModelTest {
protected:
  void SetUp() override {
    installSlotConvertors();
    ASSERT_EQ(loadAndComplete(kDoc), "");
    CType& type = lastType();
    for (const TableColumn& c : typeColumns(type))
      columns_[c.shape.name] = c.field;
    add(type, "eth1-uplink", 5, ipv4(192, 0, 2, 10), 1, true);
    add(type, "Bridge", 50, ipv4(198, 18, 3, 4), 0, false);
    add(type, "eth2", 500, ipv4(203, 0, 113, 9), 2, true);
  }
  void add(CType& type, const char* name, uint32_t count, uint32_t addr, uint32_t kind, bool on) {
    Reference<IObject> o = type.createObject();
    nv::message m;
    m.set(nv::string_id(1), std::string(name));
    m.set(nv::u32_id(2), count);
    m.set(nv::u32_id(3), addr);
    m.set(nv::u32_id(4), kind);
    m.set(nv::bool_id(5), on);
    o->getPacker()->unpack(m, o.get());
    objects_.push_back({name, o});
  }
  // The names of the objects the filter row lets through, or the error text.
  std::string passing(const char* column, FilterOp op, const char* value) {
    Expected<RowTest> test = createFilterFor(columns_[column], op, value);
    if (!test)
      return "error: " + test.error().text;
    std::string out;
    for (const auto& [name, object] : objects_)
      if ((*test)(*object))
        out += (out.empty() ? "" : " ") + name;
    return out;
  }
  std::map<std::string, std::shared_ptr<TableField>> columns_;
  std::vector<std::pair<std::string, Reference<IObject>>> objects_;
};

TEST_F(TableFilterTest, ColumnsOfferTheOperatorsOfTheirKind) {
  EXPECT_EQ(columns_["Name"]->kind(), ValueKind::Text);
  EXPECT_EQ(columns_["Count"]->kind(), ValueKind::Number);
  EXPECT_EQ(columns_["Address"]->kind(), ValueKind::Address);
  EXPECT_EQ(columns_["Kind"]->kind(), ValueKind::Enum);
  EXPECT_EQ(columns_["On"]->kind(), ValueKind::Flag);
  EXPECT_EQ(filterOperators(ValueKind::Text).size(), 6u);
  EXPECT_FALSE(offersOperator(ValueKind::Text, FilterOp::Less));
  EXPECT_TRUE(offersOperator(ValueKind::Number, FilterOp::GreaterOrEqual));
  EXPECT_FALSE(offersOperator(ValueKind::Flag, FilterOp::In));
  const char* texts[] = {"contains", "contains not", "is", "is not", "in", "not in",
                         "<",        "<=",           ">",  ">="};
  for (uint32_t code = 0; code < kFilterOpCount; ++code)
    EXPECT_STREQ(filterOpText(FilterOp(code)), texts[code]);
}

TEST_F(TableFilterTest, EveryOperatorOnEveryKind) {
  using enum FilterOp;
  struct Case {
    const char* column;
    FilterOp op;
    const char* value;
    const char* passing;
  } cases[] = {
      {"Name", Contains, "ETH", "eth1-uplink eth2"},
      {"Name", ContainsNot, "eth", "Bridge"},
      {"Name", Is, "eth2", "eth2"},
      {"Name", Is, "ETH2", ""},
      {"Name", IsNot, "eth2", "eth1-uplink Bridge"},
      {"Name", In, "Bridge, eth2", "Bridge eth2"},
      {"Name", NotIn, "Bridge", "eth1-uplink eth2"},
      {"Count", Is, "50", "Bridge"},
      {"Count", IsNot, "50", "eth1-uplink eth2"},
      {"Count", Less, "50", "eth1-uplink"},
      {"Count", LessOrEqual, "50", "eth1-uplink Bridge"},
      {"Count", Greater, "50", "eth2"},
      {"Count", GreaterOrEqual, "5", "eth1-uplink Bridge eth2"},
      {"Count", In, "5,500", "eth1-uplink eth2"},
      {"Count", NotIn, "5", "Bridge eth2"},
      {"Address", Is, "192.0.2.10", "eth1-uplink"},
      {"Address", IsNot, "192.0.2.10", "Bridge eth2"},
      {"Address", In, "198.18.0.0/15", "Bridge"},
      {"Address", NotIn, "192.0.2.0/24, 198.18.0.0/15", "eth2"},
      {"Kind", Is, "on", "eth1-uplink"},
      {"Kind", IsNot, "on", "Bridge eth2"},
      {"Kind", In, "off,auto", "Bridge eth2"},
      {"Kind", NotIn, "off", "eth1-uplink eth2"},
      {"On", Is, "true", "eth1-uplink eth2"},
      {"On", IsNot, "true", "Bridge"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(passing(c.column, c.op, c.value), c.passing)
        << c.column << " " << filterOpText(c.op) << " " << c.value;
}

TEST_F(TableFilterTest, ValuesAndOperatorsAColumnCannotTakeAreRefused) {
  using enum FilterOp;
  EXPECT_EQ(passing("Count", Contains, "5"), "error: contains is not offered for Count");
  EXPECT_EQ(passing("On", Less, "true"), "error: < is not offered for On");
  EXPECT_EQ(passing("Address", In, "banana"), "error: Error in Address - ip address expected!");
  EXPECT_EQ(passing("Address", In, "192.0.2.0/33"),
            "error: Error in Address - ip address expected!");
  std::string bad = passing("Count", Greater, "many");
  EXPECT_EQ(bad.rfind("error: Error in Count - ", 0), 0u) << bad;
}

} // namespace
} // namespace kestel
