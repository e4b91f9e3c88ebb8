// The menu store on its own: positions stay right once moves have broken the id order, and the
// arena that keeps the records does not grow with the number of changes, only with the objects.
#include "sim/MenuStore.h"
#include "api/wire/Vocabulary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace kestel {
namespace {

using sim::MenuStore;

nv::message row(uint32_t n) {
  nv::message m;
  m.set(nv::u32_id(1), n);
  m.set(nv::string_id(3), std::string(20 + n % 40, 'x'));
  return m;
}

TEST(MenuStore, PositionsFollowMovesAndRemovals) {
  sim::MenuShape shape;
  MenuStore store(shape);
  std::vector<uint32_t> model;
  for (uint32_t n = 0; n < 50; ++n)
    model.push_back(store.append(row(n)));
  std::mt19937 random(3);
  for (int step = 0; step < 400; ++step) {
    uint32_t id = model[random() % model.size()];
    switch (random() % 3) {
    case 0: { // move in front of another (or to the end)
      uint32_t before = random() % 4 ? model[random() % model.size()] : MenuStore::kNone;
      ASSERT_TRUE(store.move(id, before).ok());
      if (before != id) {
        model.erase(std::find(model.begin(), model.end(), id));
        model.insert(before == MenuStore::kNone ? model.end()
                                                : std::find(model.begin(), model.end(), before),
                     id);
      }
      break;
    }
    case 1:
      ASSERT_TRUE(store.remove(id).ok());
      model.erase(std::find(model.begin(), model.end(), id));
      model.push_back(store.add(row(step)).id);
      break;
    default:
      ASSERT_TRUE(store.change(id, row(step)).ok());
    }
    ASSERT_EQ(model.size(), store.size());
    for (size_t i = 0; i < model.size(); ++i) {
      ASSERT_EQ(model[i], store.idAt(i));
      ASSERT_EQ(i, store.positionOf(model[i]));
    }
  }
  EXPECT_EQ(std::nullopt, store.positionOf(0xABCDEF));
}

TEST(MenuStore, ArenaStaysBoundedUnderChanges) {
  sim::MenuShape shape;
  MenuStore store(shape);
  for (uint32_t n = 0; n < 1000; ++n)
    store.append(row(n));
  size_t live = store.arenaBytes();
  std::mt19937 random(5);
  for (uint32_t n = 0; n < 200000; ++n)
    ASSERT_TRUE(store.change(store.idAt(random() % 1000), row(random())).ok());
  // Garbage is rewritten away once it passes a megabyte and half the arena.
  EXPECT_LE(store.arenaBytes(), 2 * live + 2 * (size_t(1) << 20));
  EXPECT_LE(store.garbageBytes(), store.arenaBytes());
  for (uint32_t i = 0; i < store.size(); ++i)
    EXPECT_EQ(store.idAt(i), store.get(store.idAt(i)).get(STD_ID));
}

} // namespace
} // namespace kestel
