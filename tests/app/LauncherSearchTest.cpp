// The launcher's search over the sample router's descriptors and a stand-in for the open tables:
// what each kind of hit carries, the ranking, the cap, and that typing on (which searches only
// the previous matches) finds exactly what a fresh search finds.
#include "app/LauncherSearch.h"
#include "api/object/PackerElements.h"
#include "app/OpenTableValues.h"
#include "support/ModelFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace kestel::test {
namespace {

struct Tables final : ITableValues {
  void forEachValue(const std::function<bool(const TableValue&)>& visit) const override {
    ++scans;
    for (const TableValue& v : values)
      if (!visit(v))
        return;
  }
  std::vector<TableValue> values;
  mutable size_t scans = 0;
};

class LauncherSearchTest : public ModelFixture {
protected:
  LauncherSearchTest() {
    for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"})
      EXPECT_TRUE(loadDescriptors(std::string(KESTEL_SAMPLE_DIR) + "/" + name).ok()) << name;
    EXPECT_TRUE(completeAllTypes().ok());
    auto* map = reinterpret_cast<const MapBase*>(&tables); // an identity only, never used as a map
    const char* texts[] = {"192.168.88.1/24", "10.0.0.1/8", "ether1", "uplink to 192.0.2.1",
                           "Firewall note"};
    for (uint32_t i = 0; i < 5; ++i)
      tables.values.push_back(
          {map, "IP/Addresses", i == 2 ? "Interface" : "Address", i + 1, texts[i]});
  }
  static std::vector<std::string> labels(const std::vector<SearchHit>& hits) {
    std::vector<std::string> out;
    for (const SearchHit& h : hits)
      out.push_back(h.label);
    return out;
  }
  Tables tables;
};

TEST_F(LauncherSearchTest, KindsRankingAndCap) {
  LauncherSearch search(buildLauncher(), &tables);
  EXPECT_TRUE(search.search("").empty());

  // Case does not matter; the launcher entry comes first, then the field, then the value; all
  // of them start with the query, the substring matches follow.
  for (const char* query : {"fire", "FIRE", "Fire"}) {
    std::vector<SearchHit> hits = search.search(query);
    ASSERT_GE(hits.size(), 2u) << query;
    EXPECT_EQ(hits[0].kind, SearchHit::Kind::Launcher);
    EXPECT_EQ(hits[0].label, "IP / Firewall");
    ASSERT_NE(hits[0].entry.service, nullptr);
    auto value = std::find_if(hits.begin(), hits.end(),
                              [](const SearchHit& h) { return h.kind == SearchHit::Kind::Value; });
    ASSERT_NE(value, hits.end());
    EXPECT_TRUE(value->prefix);
    EXPECT_EQ(value->value.id, 5u);
    EXPECT_EQ(value->value.column, "Address");
  }

  // A field: the menu that shows it, with the slot.
  std::vector<SearchHit> mac = search.search("mac address");
  ASSERT_FALSE(mac.empty());
  for (const SearchHit& h : mac) {
    EXPECT_EQ(h.kind, SearchHit::Kind::Field);
    EXPECT_TRUE(h.prefix);
    ASSERT_NE(h.slot, nullptr);
    EXPECT_EQ(h.slot->titleText(), "MAC Address");
    EXPECT_EQ(h.label, "MAC Address in " + h.menu.name);
  }

  // Prefix matches before substring matches, each group in the order of kinds.
  std::vector<SearchHit> address = search.search("address");
  bool substring = false;
  for (const SearchHit& h : address) {
    EXPECT_FALSE(substring && h.prefix) << h.label;
    substring = substring || !h.prefix;
  }
  EXPECT_TRUE(substring);
  EXPECT_EQ(address[0].label, "IP / Addresses");

  // Values: the table's map, column and row come with the hit.
  std::vector<SearchHit> values = search.search("192.");
  ASSERT_EQ(labels(values),
            (std::vector<std::string>{"192.168.88.1/24 in IP/Addresses, Address",
                                      "uplink to 192.0.2.1 in IP/Addresses, Address"}));
  EXPECT_EQ(values[0].value.map, reinterpret_cast<const MapBase*>(&tables));
  EXPECT_EQ(values[1].value.id, 4u);

  // The cap keeps the best.
  std::vector<SearchHit> all = search.search("e", 1000);
  ASSERT_GT(all.size(), 5u);
  std::vector<SearchHit> three = search.search("e", 3);
  ASSERT_EQ(three.size(), 3u);
  for (size_t i = 0; i < 3; ++i)
    EXPECT_EQ(three[i].label, all[i].label);
}

TEST_F(LauncherSearchTest, TypingOnFindsWhatAFreshSearchFinds) {
  LauncherSearch typing(buildLauncher(), &tables);
  std::mt19937 random(7);
  const std::string letters = "aEinRst.1 /"; // either case
  for (int round = 0; round < 40; ++round) {
    std::string query;
    size_t before = tables.scans;
    for (int n = 0; n < 4; ++n) {
      query += letters[random() % letters.size()];
      LauncherSearch fresh(buildLauncher(), &tables);
      EXPECT_EQ(labels(typing.search(query)), labels(fresh.search(query))) << query;
    }
    // Of the typed searches only the first asked the tables (the fresh ones ask once each).
    EXPECT_EQ(tables.scans - before, 5u) << query;
    typing.search(""); // the box cleared
  }
  // Tables that changed are asked again.
  typing.search("ether");
  tables.values[2].text = "ether9";
  typing.tablesChanged();
  EXPECT_EQ(typing.search("ether9").size(), 1u);
}

struct Row {
  std::string name;
  uint32_t number = 0;
};

class RowObject final : public RecordObject<Row> {
public:
  RowObject() : RecordObject(nullptr) {}
};

class RowMap final : public MapBase {
public:
  RowMap() : MapBase(false, "rows") {}
  void open() override {}
  void put(uint32_t id, Row row) {
    auto object = makeRef<RowObject>();
    object->rec() = std::move(row);
    adopt(id, object);
    emit(MapEventKind::Added, id, find(id), false);
  }
};

// An open table's values are the texts it shows, in display order, with the column titles.
TEST_F(LauncherSearchTest, ValuesOfOpenTables) {
  auto map = makeRef<RowMap>();
  std::vector<std::shared_ptr<TableField>> fields(kSystemColumns);
  fields.push_back(memberField("Name", memberOf(&Row::name)));
  fields.push_back(memberField("Number", memberOf(&Row::number)));
  auto index = makeRef<TableIndex>(map, fields);
  index->setOrdering({{kSystemColumns, true}}, false); // by name, descending
  map->put(1, {"bridge-lan", 12});
  map->put(2, {"ether2", 120});
  map->put(3, {"", 7}); // no name: nothing to find in that column
  index->apply();

  OpenTableValues open;
  open.add(*index, "Interfaces");
  open.add(*index, "Interfaces"); // once only
  std::vector<std::string> seen;
  open.forEachValue([&](const TableValue& v) {
    EXPECT_EQ(v.map, map.get());
    seen.push_back(v.column + "=" + v.text + "#" + std::to_string(v.id));
    return true;
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"Name=ether2#2", "Number=120#2", "Name=bridge-lan#1",
                                            "Number=12#1", "Number=7#3"}));

  LauncherSearch search({}, &open);
  std::vector<SearchHit> hits = search.search("12");
  ASSERT_EQ(labels(hits),
            (std::vector<std::string>{"12 in Interfaces, Number", "120 in Interfaces, Number"}));
  EXPECT_EQ(hits[1].value.id, 2u);
  open.remove(*index);
  search.tablesChanged();
  EXPECT_TRUE(search.search("12").empty());
  index->close(); // the map lets go of its listener
}

} // namespace
} // namespace kestel::test
