// The row index against a plain oracle: after every batch of random adds, changes and removes
// (one by one and in large batches, announced or as resets) its rows are exactly the passing
// objects sorted from scratch, and the calls its listener got replay into the same rows. Also the
// status line texts and find.
#include "miw/TableIndex.h"

#include "api/object/Packer.h"
#include "api/object/PackerElements.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace kestel {
namespace {

struct Row {
  std::string name;
  uint32_t number = 0;
};

class RowObject final : public RecordObject<Row> {
public:
  RowObject() : RecordObject(nullptr) {}
};

// A map the test fills by hand, announcing what it does as object maps do.
class TestMap final : public MapBase {
public:
  explicit TestMap(bool ordered) : MapBase(ordered, "rows") {}
  void open() override {}
  void put(uint32_t id, Row row) {
    auto object = makeRef<RowObject>();
    object->rec() = std::move(row);
    adopt(id, object);
  }
  void drop(uint32_t id) { disown(id); }
  Row& at(uint32_t id) { return static_cast<RowObject*>(find(id))->rec(); }
  void tell(MapEventKind kind, uint32_t id) { emit(kind, id, find(id), false); }
  void reset() { emitReset(); }
};

std::vector<std::shared_ptr<TableField>> fields() {
  std::vector<std::shared_ptr<TableField>> f(kSystemColumns);
  f.push_back(memberField("Name", memberOf(&Row::name)));
  f.push_back(memberField("Number", memberOf(&Row::number)));
  return f;
}

// Replays the listener's calls into a list of ids.
class Mirror final : public ITableRowsListener {
public:
  explicit Mirror(const TableIndex& index) : index_(index) {}
  void rowsInserting(size_t first, size_t count) override { at_ = {first, count}; }
  void rowsInserted() override {
    for (size_t i = 0; i < at_.second; ++i)
      ids.insert(ids.begin() + long(at_.first + i), index_.id(at_.first + i));
    ++singles;
  }
  void rowsRemoving(size_t first, size_t count) override {
    ids.erase(ids.begin() + long(first), ids.begin() + long(first + count));
  }
  void rowsRemoved() override { ++singles; }
  void rowMoving(size_t from, size_t to) override {
    uint32_t id = ids[from];
    ids.erase(ids.begin() + long(from));
    ids.insert(ids.begin() + long(to), id);
  }
  void rowMoved() override { ++singles; }
  void rowsChanged(size_t, size_t) override { ++singles; }
  void rowsReordering() override {}
  void rowsReordered() override {
    ids.clear();
    for (size_t i = 0; i < index_.size(); ++i)
      ids.push_back(index_.id(i));
    ++layouts;
  }
  void changesWaiting() override { ++waiting; }
  std::vector<uint32_t> ids;
  int singles = 0, layouts = 0, waiting = 0;

private:
  const TableIndex& index_;
  std::pair<size_t, size_t> at_;
};

std::vector<uint32_t> indexIds(const TableIndex& index) {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < index.size(); ++i)
    out.push_back(index.id(i));
  return out;
}

TEST(TableIndexTest, FollowsRandomChangesLikeASortFromScratch) {
  for (bool announced : {true, false}) {
    std::mt19937 random(announced ? 7 : 11);
    auto map = makeRef<TestMap>(false);
    auto index = makeRef<TableIndex>(map, fields());
    Mirror mirror(*index);
    index->setListener(&mirror);
    // Number descending, then name; rows whose name holds "7" are filtered out.
    index->setOrdering({{5, true}, {4, false}}, false);
    index->setFilters({[](const IObject& o) {
      return static_cast<const RowObject&>(o).rec().name.find('7') == std::string::npos;
    }});
    uint32_t nextId = 1;
    std::vector<uint32_t> live;
    for (int round = 0; round < 200; ++round) {
      size_t changes = round % 3 == 0 ? 1 + random() % 120 : 1 + random() % 6;
      for (size_t i = 0; i < changes; ++i) {
        int what = int(random() % 10);
        if (live.empty() || what < 3) {
          map->put(nextId, {"r" + std::to_string(random() % 50), uint32_t(random() % 20)});
          live.push_back(nextId);
          if (announced)
            map->tell(MapEventKind::Added, nextId);
          ++nextId;
        } else if (what < 8) {
          uint32_t id = live[random() % live.size()];
          map->at(id) = {"r" + std::to_string(random() % 50), uint32_t(random() % 20)};
          if (announced)
            map->tell(MapEventKind::Changed, id);
        } else {
          size_t k = random() % live.size();
          if (announced)
            map->tell(MapEventKind::Removed, live[k]);
          map->drop(live[k]);
          live.erase(live.begin() + long(k));
        }
      }
      if (!announced)
        map->reset();
      index->apply();
      std::vector<std::pair<std::tuple<uint32_t, std::string, uint32_t>, uint32_t>> oracle;
      for (uint32_t id : live)
        if (map->at(id).name.find('7') == std::string::npos)
          oracle.push_back({{~map->at(id).number, map->at(id).name, id}, id});
      std::sort(oracle.begin(), oracle.end());
      std::vector<uint32_t> expected;
      for (const auto& o : oracle)
        expected.push_back(o.second);
      ASSERT_EQ(indexIds(*index), expected) << "round " << round;
      ASSERT_EQ(mirror.ids, expected) << "round " << round;
    }
    if (announced) {
      EXPECT_GT(mirror.singles, 100); // small batches were placed row by row
    }
    index->close();
  }
}

TEST(TableIndexTest, ChangesWaitForApplyAndAreAnnouncedOnce) {
  auto map = makeRef<TestMap>(false);
  auto index = makeRef<TableIndex>(map, fields());
  Mirror mirror(*index);
  index->setListener(&mirror);
  index->apply();
  map->put(1, {"a", 1});
  map->tell(MapEventKind::Added, 1);
  map->put(2, {"b", 2});
  map->tell(MapEventKind::Added, 2);
  EXPECT_EQ(mirror.waiting, 1);
  EXPECT_EQ(index->size(), 0u);
  index->apply();
  EXPECT_EQ(indexIds(*index), (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(index->waiting(), 0u);
  index->close();
}

TEST(TableIndexTest, OrderedMapsShowTheirOwnOrderUntilSorted) {
  auto map = makeRef<TestMap>(true);
  for (uint32_t id : {5u, 3u, 9u})
    map->put(id, {"n" + std::to_string(id), 10 - id});
  auto index = makeRef<TableIndex>(map, fields());
  index->apply();
  EXPECT_EQ(indexIds(*index), (std::vector<uint32_t>{5, 3, 9}));
  index->setOrdering({{5, false}}, false);
  EXPECT_EQ(indexIds(*index), (std::vector<uint32_t>{9, 5, 3}));
  index->setOrdering({{5, false}}, true); // strict ordering: the router's order again
  EXPECT_EQ(indexIds(*index), (std::vector<uint32_t>{5, 3, 9}));
  index->close();
}

TEST(TableIndexTest, FiltersTakeRowsAwayAndGiveThemBackInOrder) {
  auto map = makeRef<TestMap>(false);
  for (uint32_t id = 1; id <= 6; ++id)
    map->put(id, {id % 2 ? "odd" : "even", 10 - id});
  auto index = makeRef<TableIndex>(map, fields());
  Mirror mirror(*index);
  index->setListener(&mirror);
  index->setOrdering({{5, false}}, false);
  auto named = [](const char* name) {
    return [name](const IObject& o) { return static_cast<const RowObject&>(o).rec().name == name; };
  };
  index->setFilters({named("odd")}); // the first filter: the rows kept in their order
  EXPECT_EQ(indexIds(*index), (std::vector<uint32_t>{5, 3, 1}));
  index->setFilters({named("even")}); // another: read again
  EXPECT_EQ(indexIds(*index), (std::vector<uint32_t>{6, 4, 2}));
  index->setFilters({});
  EXPECT_EQ(indexIds(*index), (std::vector<uint32_t>{6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(mirror.ids, indexIds(*index));
  index->close();
}

TEST(TableIndexTest, StatusLineTexts) {
  struct Case {
    size_t shown, total, selected;
    const char* text;
  } cases[] = {
      {1, 1, 0, "1 item"},
      {0, 0, 0, "0 items"},
      {12, 12, 0, "12 items"},
      {3, 40, 0, "3 items out of 40"},
      {3, 40, 2, "3 items out of 40 (2 selected)"},
      {1, 1, 1, "1 item (1 selected)"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(tableStatusText(c.shown, c.total, c.selected), c.text);
  std::string longest = tableStatusText(size_t(-1), size_t(-2), size_t(-3));
  EXPECT_LE(longest.size(), 80u);
}

TEST(TableIndexTest, FindWrapsAroundFromTheGivenRow) {
  auto map = makeRef<TestMap>(false);
  map->put(1, {"Alpha", 1});
  map->put(2, {"beta", 2});
  map->put(3, {"alphabet", 3});
  auto index = makeRef<TableIndex>(map, fields());
  index->apply();
  std::vector<size_t> name{4};
  EXPECT_EQ(index->findNext("ALPHA", 0, name), 0u);
  EXPECT_EQ(index->findNext("alpha", 1, name), 2u);
  EXPECT_EQ(index->findNext("alpha", 3, name), 0u); // wraps
  EXPECT_EQ(index->findNext("gamma", 0, name), TableIndex::kNoRow);
  EXPECT_EQ(index->findNext("2", 0, {5}), 1u);
  index->close();
}

} // namespace
} // namespace kestel
