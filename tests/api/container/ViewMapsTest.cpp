// Container maps (filled by their owner) and filtered views over another map.
#include "MapTestSupport.h"

namespace kestel::test {
namespace {

using U32s = std::vector<uint32_t>;

void* makeItem(const nv::message&) { return new Item(itemPacker()); }
void* makeNothing(const nv::message&) { return nullptr; }

class ViewMapsTest : public ContainerTest {
protected:
  ItemFactory items;
  Reference<EventLog> log = makeRef<EventLog>();
};

TEST_F(ViewMapsTest, ContainerMapAppliesBatchesWithTheSameEventRule) {
  const unsigned p[] = {30, 1, 0xFFFFFFFF};
  auto map = createOrderedContainerMap(makeItem, p, false);
  EXPECT_EQ(getObjectMap(p), map.get());
  map->addListener(log.get());
  map->apply({element(5, "e"), element(2, "b"), element(0xFFFFFFFE, "skipped")});
  EXPECT_EQ(map->ids(), (U32s{5, 2}));
  EXPECT_EQ(log->seen,
            (std::vector<Seen>{{MapEventKind::Added, 5, true}, {MapEventKind::Added, 2, false}}));
  log->seen.clear();
  nv::message dead;
  dead.set(STD_ID, 5u);
  dead.set(nv::u32_id(STD_DEAD), 1u);
  map->apply({dead, element(2, "b2")});
  EXPECT_EQ(map->ids(), U32s{2});
  EXPECT_EQ(recOf(map->find(2)).name, "b2");
  log->seen.clear();
  map->applyObjects(withObjects(elements(100, 50)));
  EXPECT_EQ(log->seen, (std::vector<Seen>{{MapEventKind::Reset, kNoId, false}}));
  map->setStatus("query failed");
  EXPECT_EQ(map->statusText(), "query failed");
  map->clear();
  EXPECT_EQ(map->size(), 0u);
  map = nullptr;
  EXPECT_EQ(getObjectMap(p), nullptr); // a map leaves the registry when it goes

  auto none = createContainerMap(makeNothing, p, false);
  none->apply({element(1, "x")}); // a factory that makes nothing skips the element
  EXPECT_EQ(none->size(), 0u);
}

TEST_F(ViewMapsTest, FilteredMapFollowsTheSourceAndThePredicate) {
  ObjectMapOptions o;
  o.ordered = true;
  auto source = makeRef<ObjectMap>(items.factory, Path{24, 1}, o);
  source->refresh();
  answer(last(CMD_GETALL), page({element(1, "a", 1), element(2, "b", 13), element(3, "c", 3)}));
  auto view =
      createFilteredMap(source.get(), std::make_shared<ValueIsNot>(13), items.factory.get(), true);
  view->addListener(log.get());
  EXPECT_EQ(view->ids(), (U32s{1, 3}));
  EXPECT_EQ(view->find(1), source->find(1)); // the same objects
  EXPECT_EQ(source->find(1)->getOwner(), source.get());

  source->refresh(); // 2 starts to pass (in the middle), 3 stops passing
  answer(last(CMD_GETALL), page({element(1, "a", 1), element(2, "b", 2), element(3, "c", 13)}));
  EXPECT_EQ(view->ids(), (U32s{1, 2}));
  EXPECT_EQ(log->seen, (std::vector<Seen>{{MapEventKind::Changed, 1, true},
                                          {MapEventKind::Added, 2, true},
                                          {MapEventKind::Removed, 3, false}}));
  log->seen.clear();
  source->refresh();
  answerError(last(CMD_GETALL), ERROR_FAILED, "gone");
  EXPECT_EQ(view->statusText(), "ERROR: gone");
  EXPECT_EQ(view->size(), 0u);
  EXPECT_EQ(log->seen.back().kind, MapEventKind::Reset);
  EXPECT_TRUE(view->createNew());
  view = nullptr; // the view leaves the source's listeners
  source->refresh();
  answer(last(CMD_GETALL), page({element(1, "a", 1)}));
}

} // namespace
} // namespace kestel::test
