// Column ids, the byte forms of "cols", "order" and "mode" (hand-made bytes both ways), the
// filter rows' records, stored values that are short, unknown or contradictory, and the column
// order coming back exactly for every order of five columns.
#include "miw/TableState.h"

#include "util/Log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

namespace kestel {
namespace {

std::string bytes(std::initializer_list<int> b) {
  std::string out;
  for (int v : b)
    out.push_back(static_cast<char>(v));
  return out;
}

std::vector<ColumnShape> shapes(std::vector<std::string> names) {
  std::vector<ColumnShape> out{{"#"}, {"f"}, {"i"}, {"m"}};
  for (std::string& n : names)
    out.push_back({std::move(n), 80, true});
  return out;
}

// Column numbers of the layout's order after the system columns.
std::vector<size_t> shownOrder(const TableLayout& l) {
  return {l.order().begin() + kSystemColumns, l.order().end()};
}

TEST(TableStateTest, ColumnIdsOfNames) {
  struct Case {
    const char* name;
    uint16_t id;
  } cases[] = {
      {"", 1},     // both halves 0: equal, so 1
      {"A", 0x41}, // one byte
      {"Name", 0x34B},
      {"Dst. Address", 0x2212},
      {"abcdefghijklmnopqrstu", 0x3A13}, // long enough to fill the high half
  };
  for (const Case& c : cases)
    EXPECT_EQ(columnId(c.name), c.id) << c.name;
}

TEST(TableStateTest, CollidingColumnsAreLoggedAndAlwaysWritten) {
  ASSERT_EQ(columnId("AG"), columnId("BA"));
  CaptureLogSink log;
  TableLayout layout(shapes({"AG", "X", "BA"}));
  EXPECT_TRUE(log.contains("WARNING: column BA collides with AG"));
  std::string cols = writeColsRecords(layout);
  ASSERT_EQ(cols.size(), 12u); // both, though neither differs from its defaults
  // The n-th record of an id goes to the n-th column of that id.
  cols[2] = 0x03 | 0x1C | char(0xC0); // first: visibility 3 means nothing, so the default
  cols[8] = 0x00 | 0x1C | char(0xC0); // second: hidden
  TableLayout back(shapes({"AG", "X", "BA"}));
  readColsRecords(back, cols);
  EXPECT_TRUE(back.visible(4));
  EXPECT_FALSE(back.visible(6));
}

TEST(TableStateTest, ColsRecordsByteForByte) {
  TableLayout layout(shapes({"A", "B", "C"}));
  layout.setVisible(5, false);
  layout.setWidth(6, 1500);
  layout.setSortKeys({{6, true}, {4, false}});
  uint16_t a = columnId("A"), b = columnId("B"), c = columnId("C");
  std::string expected = bytes({a & 0xFF,  a >> 8, 0x02 | 1 << 2 | 0xC0,
                                0xFF,      0,      0, // A: sort key 1
                                b & 0xFF,  b >> 8, 0x00 | 7 << 2 | 0xC0,
                                0xFF,      0,      0, // B: hidden
                                c & 0xFF,  c >> 8, 0x02 | 0 << 2 | 0x20 | 2 << 6,
                                0xFF,      0,      0, // C: key 0, down, 1022
                                0,         0,      1500 & 0xFF,
                                1500 >> 8, 0,      0}); // C's width
  EXPECT_EQ(writeColsRecords(layout), expected);

  TableLayout back(shapes({"A", "B", "C"}));
  readColsRecords(back, expected);
  EXPECT_FALSE(back.visible(5));
  EXPECT_EQ(back.width(6), 1500u);
  EXPECT_EQ(back.width(4), 80u);
  EXPECT_EQ(back.sortKeys(), (std::vector<SortKey>{{6, true}, {4, false}}));
}

TEST(TableStateTest, BadColsRecordsLeaveDefaults) {
  uint16_t a = columnId("A"), b = columnId("B");
  struct Case {
    const char* what;
    std::string cols;
    uint32_t widthA, widthB;
    bool visibleB;
  } cases[] = {
      {"shorter than a record", bytes({a & 0xFF, a >> 8, 0x00, 0x05, 0}), 80, 80, true},
      {"unknown id before a good record",
       bytes({0x77, 0x77, 0x00, 0x00, 0, 0, b & 0xFF, b >> 8, 0x00 | 0x1C | 0xC0, 0xFF, 0, 0}), 80,
       80, false},
      {"1022 without extension",
       bytes({a & 0xFF, a >> 8, 0x02 | 0x1C | 0x80, 0xFF, 0, 0, b & 0xFF, b >> 8,
              0x00 | 0x1C | 0xC0, 0xFF, 0, 0}),
       80, 80, false},
      {"extension without 1022",
       bytes({a & 0xFF, a >> 8, 0x02 | 0x1C | 0xC0, 0xFF, 0, 0, 0, 0, 9, 9, 0, 0}), 80, 80, true},
      {"a width itself", bytes({b & 0xFF, b >> 8, 0x02 | 0x1C | (123 & 3) << 6, 123 >> 2, 0, 0}),
       80, 123, true},
  };
  for (const Case& c : cases) {
    TableLayout layout(shapes({"A", "B"}));
    readColsRecords(layout, c.cols);
    EXPECT_EQ(layout.width(4), c.widthA) << c.what;
    EXPECT_EQ(layout.width(5), c.widthB) << c.what;
    EXPECT_EQ(layout.visible(5), c.visibleB) << c.what;
    EXPECT_TRUE(layout.sortKeys().empty()) << c.what;
  }
}

TEST(TableStateTest, ModeRecord) {
  TableMode mode;
  mode.strictOrder = mode.categories = true;
  EXPECT_EQ(writeModeRecord(mode), bytes({0x05, 0, 0, 0}));
  struct Case {
    std::string stored;
    TableMode expected;
  } cases[] = {
      {bytes({0x1F, 0, 0, 0}), {true, true, true, true, true}},
      {bytes({0x08, 0, 0, 0}), {}}, // inline comments only count when chosen for the table
      {bytes({0x10, 0, 0, 0}), {false, false, false, false, true}},
      {bytes({0x1F, 0, 0}), {}}, // too short: defaults
      {bytes({0x02, 9, 9, 9, 9}), {false, true, false, false, false}},
  };
  for (const Case& c : cases) {
    TableMode m;
    readModeRecord(m, c.stored);
    EXPECT_EQ(m, c.expected) << c.stored.size();
  }
}

TEST(TableStateTest, OrderOfAMovedBlockComesBack) {
  TableLayout layout(shapes({"A", "B", "C", "D"}));
  ASSERT_TRUE(layout.setOrder({0, 1, 2, 3, 6, 7, 4, 5})); // C D A B
  uint16_t a = columnId("A"), c = columnId("C"), d = columnId("D"), last = columnId("m");
  // A is now after D, C after the system columns; B and D follow their default predecessors.
  std::string order =
      bytes({a & 0xFF, a >> 8, d & 0xFF, d >> 8, c & 0xFF, c >> 8, last & 0xFF, last >> 8});
  EXPECT_EQ(writeOrderRecords(layout), order);
  TableLayout back(shapes({"A", "B", "C", "D"}));
  readOrderRecords(back, order);
  EXPECT_EQ(shownOrder(back), (std::vector<size_t>{6, 7, 4, 5}));
}

// The column chooser: the listed columns fill the places they held, in the new order; a column
// not listed (the comment) stays where it was; bad lists change nothing.
TEST(TableStateTest, ColumnChoiceRefillsTheListedPlaces) {
  using Choice = TableLayout::ColumnChoice;
  struct Case {
    const char* what;
    std::vector<Choice> listed;
    bool ok;
    std::vector<size_t> order; // after the system columns
    std::vector<bool> visible; // of A B Comment D
  };
  const Case cases[] = {
      {"reversed, B hidden",
       {{7, true}, {5, false}, {4, true}},
       true,
       {7, 5, 6, 4},
       {true, false, true, true}},
      {"unchanged",
       {{4, true}, {5, true}, {7, true}},
       true,
       {4, 5, 6, 7},
       {true, true, true, true}},
      {"only two listed", {{5, true}, {4, false}}, true, {5, 4, 6, 7}, {false, true, true, true}},
      {"a system column", {{4, true}, {1, true}}, false, {4, 5, 6, 7}, {true, true, true, true}},
      {"twice", {{4, false}, {4, false}}, false, {4, 5, 6, 7}, {true, true, true, true}},
      {"unknown", {{4, false}, {9, true}}, false, {4, 5, 6, 7}, {true, true, true, true}},
  };
  for (const Case& c : cases) {
    TableLayout layout(shapes({"A", "B", "Comment", "D"}));
    EXPECT_EQ(layout.applyChoice(c.listed), c.ok) << c.what;
    EXPECT_EQ(shownOrder(layout), c.order) << c.what;
    std::vector<bool> visible;
    for (size_t col = 4; col < 8; ++col)
      visible.push_back(layout.visible(col));
    EXPECT_EQ(visible, c.visible) << c.what;
  }
}

TEST(TableStateTest, EveryOrderOfFiveColumnsComesBack) {
  std::vector<std::string> names{"A", "B", "C", "D", "E"};
  std::vector<size_t> perm{4, 5, 6, 7, 8};
  int count = 0;
  do {
    TableLayout layout(shapes(names));
    std::vector<size_t> order{0, 1, 2, 3};
    order.insert(order.end(), perm.begin(), perm.end());
    ASSERT_TRUE(layout.setOrder(order));
    TableLayout back(shapes(names));
    readOrderRecords(back, writeOrderRecords(layout));
    EXPECT_EQ(shownOrder(back), perm);
    ++count;
  } while (std::next_permutation(perm.begin(), perm.end()));
  EXPECT_EQ(count, 120);
}

TEST(TableStateTest, ContradictoryOrderRecordsStillGiveEveryColumn) {
  uint16_t a = columnId("A"), b = columnId("B"), c = columnId("C");
  struct Case {
    const char* what;
    std::string order;
    std::vector<size_t> expected;
  } cases[] = {
      {"a cycle",
       bytes({a & 0xFF, a >> 8, b & 0xFF, b >> 8, b & 0xFF, b >> 8, a & 0xFF, a >> 8}),
       {4, 5, 6}}, // nothing reaches them: the default order
      {"unknown ids",
       bytes({0x55, 0x55, a & 0xFF, a >> 8, a & 0xFF, a >> 8, 0x66, 0x66}),
       {4, 5, 6}},
      {"a column after itself", bytes({c & 0xFF, c >> 8, c & 0xFF, c >> 8}), {4, 5, 6}},
      {"two after one column", bytes({c & 0xFF, c >> 8, a & 0xFF, a >> 8}), {4, 6, 5}},
      {"a half record", bytes({c & 0xFF, c >> 8, a & 0xFF}), {4, 5, 6}},
  };
  for (const Case& k : cases) {
    TableLayout layout(shapes({"A", "B", "C"}));
    readOrderRecords(layout, k.order);
    EXPECT_EQ(shownOrder(layout), k.expected) << k.what;
  }
}

TEST(TableStateTest, FilterRowsLiveInRecordsOfTheirOwn) {
  SettingsRegistry registry;
  TableLayout layout(shapes({"A", "B"}));
  std::vector<FilterRow> rows{{5, FilterOp::Is, "x"}, {4, FilterOp::Greater, "7"}};
  StringMap settings;
  saveTableState(layout, rows, settings, registry);
  ASSERT_NE(rows[0].record, kNoSettingsId);
  std::string ids = packData(rows[0].record) + packData(rows[1].record);
  EXPECT_EQ(settings.get("filters"), ids);
  EXPECT_EQ(registry.getSettings(rows[1].record, nullptr, 0)->get("op"), packData(8u));

  // Saving again reuses the records; a removed row's record goes.
  uint32_t first = rows[0].record, second = rows[1].record;
  rows.pop_back();
  rows[0].value = "y";
  saveTableState(layout, rows, settings, registry);
  EXPECT_EQ(rows[0].record, first);
  EXPECT_EQ(registry.getSettings(second, nullptr, 0), nullptr);

  TableLayout back(shapes({"A", "B"}));
  std::vector<FilterRow> loaded;
  loadTableState(back, loaded, settings, registry);
  EXPECT_EQ(loaded, (std::vector<FilterRow>{{5, FilterOp::Is, "y"}}));

  // Ids of records that do not exist, short ids and rows of unknown columns are skipped.
  StringMap other;
  StringMap unknownColumn;
  unknownColumn.set("col", packData(0x7777u));
  unknownColumn.set("op", packData(2u));
  unknownColumn.set("value", packData(std::string_view("z")));
  uint32_t stray = registry.registerSettings(unknownColumn, 0);
  other.set("filters", packData(0x12345u) + packData(stray) + packData(first) + "\x01\x02");
  loadTableState(back, loaded, other, registry);
  EXPECT_EQ(loaded, (std::vector<FilterRow>{{5, FilterOp::Is, "y"}}));
}

TEST(TableStateTest, NamedViewsCarryTheirFilterRowsAndStartFromDefaults) {
  TableLayout layout(shapes({"A", "B", "C"}));
  layout.setVisible(5, false);
  ASSERT_TRUE(layout.moveAfter(6, 3)); // C A B
  layout.setSortKeys({{4, true}});
  layout.mode.strictOrder = true;
  std::vector<FilterRow> rows{{6, FilterOp::Contains, "x,y"}, {4, FilterOp::Less, "7"}};
  StringMap view = writeTableView(layout, rows);
  EXPECT_FALSE(view.has("filters")); // no settings records behind a view

  // Into a table changed otherwise: what the view does not name goes back to the defaults.
  TableLayout back(shapes({"A", "B", "C"}));
  back.setWidth(4, 300);
  back.setSortKeys({{6, false}, {5, false}});
  std::vector<FilterRow> loaded{{5, FilterOp::Is, "old"}};
  readTableView(back, loaded, view);
  EXPECT_EQ(loaded, rows);
  EXPECT_EQ(back.order(), layout.order());
  EXPECT_EQ(back.sortKeys(), layout.sortKeys());
  EXPECT_EQ(back.width(4), 80u);
  EXPECT_FALSE(back.visible(5));
  EXPECT_EQ(back.mode, layout.mode);

  // Rows cut short, unreadable or naming no column of the table: the rows before them stay.
  std::string good = *view.get("filter rows");
  std::string firstRow = good.substr(0, 2 + (uint8_t(good[0]) | uint8_t(good[1]) << 8));
  struct Case {
    std::string bytes;
    size_t kept;
  } cases[] = {
      {good.substr(0, good.size() - 1), 1},
      {firstRow + bytes({3, 0, 1, 2, 3}) + good.substr(firstRow.size()), 2},
      {firstRow + bytes({0xFF, 0xFF, 1}), 1},
      {bytes({1}), 0},
      {"", 0},
  };
  for (const Case& c : cases) {
    StringMap damaged = view;
    damaged.set("filter rows", c.bytes);
    readTableView(back, loaded, damaged);
    EXPECT_EQ(loaded, std::vector<FilterRow>(rows.begin(), rows.begin() + long(c.kept)));
  }
  TableLayout fewer(shapes({"A"}));
  readTableView(fewer, loaded, view);
  EXPECT_EQ(loaded, (std::vector<FilterRow>{{4, FilterOp::Less, "7"}}));
}

} // namespace
} // namespace kestel
