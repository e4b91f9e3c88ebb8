// The map store against a plain model of it (a std::map by id and a std::list for the display
// order): seeded random edits on ordered and unordered stores, with ids from a small range (many
// collisions, reused ids and free slots) and from a wide one (index growth).
#include "api/container/MapStore.h"
#include "api/net/Looper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <map>
#include <random>

namespace kestel {
namespace {

class Plain final : public IObject {
public:
  IPacker* getPacker() const override { return nullptr; }
};

// The display order as the store promises it, kept the obvious way.
class Model {
public:
  explicit Model(bool ordered) : ordered_(ordered) {}
  void insert(uint32_t id, IObject* o) {
    if (!objects_.count(id))
      order_.push_back(id);
    objects_[id] = o;
  }
  void erase(uint32_t id) {
    if (objects_.erase(id))
      order_.remove(id);
  }
  void placeAfter(uint32_t id, uint32_t previous) {
    if (!ordered_ || !objects_.count(id) || id == previous)
      return;
    order_.remove(id);
    auto at = std::find(order_.begin(), order_.end(), previous);
    order_.insert(at == order_.end() ? order_.begin() : std::next(at), id);
  }
  void placeBefore(uint32_t id, uint32_t next) {
    if (!ordered_ || !objects_.count(id) || id == next)
      return;
    order_.remove(id);
    order_.insert(std::find(order_.begin(), order_.end(), next), id);
  }
  std::vector<uint32_t> ids() const {
    if (!ordered_) {
      std::vector<uint32_t> out;
      for (const auto& [id, o] : objects_)
        out.push_back(id);
      return out;
    }
    return {order_.begin(), order_.end()};
  }
  IObject* find(uint32_t id) const {
    auto it = objects_.find(id);
    return it == objects_.end() ? nullptr : it->second;
  }
  void clear() {
    objects_.clear();
    order_.clear();
  }

private:
  bool ordered_;
  std::map<uint32_t, IObject*> objects_;
  std::list<uint32_t> order_;
};

void expectSame(const MapStore& store, const Model& model, uint32_t probe) {
  std::vector<uint32_t> ids = model.ids();
  ASSERT_EQ(store.ids(), ids);
  ASSERT_EQ(store.size(), ids.size());
  std::vector<uint32_t> visited;
  store.forEach([&](uint32_t id, IObject& o) {
    visited.push_back(id);
    EXPECT_EQ(&o, model.find(id));
  });
  EXPECT_EQ(visited, ids);
  EXPECT_EQ(store.find(probe), model.find(probe));
  auto at = std::find(ids.begin(), ids.end(), probe);
  uint32_t next = at == ids.end() || std::next(at) == ids.end() ? kNoId : *std::next(at);
  uint32_t previous =
      !store.ordered() || at == ids.end() || at == ids.begin() ? kNoId : *std::prev(at);
  EXPECT_EQ(store.nextOf(probe), next);
  EXPECT_EQ(store.previousOf(probe), previous);
}

TEST(MapStoreTest, RandomEditsMatchThePlainModel) {
  struct Case {
    bool ordered;
    uint32_t idRange; // ids drawn from [1, idRange]
    int steps;
  };
  const Case cases[] = {
      {true, 12, 3000}, {false, 12, 3000}, {true, 5000, 6000}, {false, 5000, 6000}};
  std::vector<Reference<IObject>> pool;
  for (int i = 0; i < 8; ++i)
    pool.push_back(makeRef<Plain>());
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "ordered " << c.ordered << ", ids 1.." << c.idRange);
    std::mt19937 random(c.idRange * 2 + c.ordered);
    auto anyId = [&] { return uint32_t(random() % (c.idRange + 1)) + 1; }; // sometimes unknown
    MapStore store(c.ordered);
    Model model(c.ordered);
    for (int step = 0; step < c.steps; ++step) {
      uint32_t id = anyId(), other = random() % 8 == 0 ? kNoId : anyId();
      IObject* object = pool[random() % pool.size()].get();
      switch (random() % 10) {
      case 0:
      case 1:
      case 2:
      case 3:
        store.insert(id, Reference<IObject>(object));
        model.insert(id, object);
        break;
      case 4:
        store.placeAfter(id, other);
        model.placeAfter(id, other);
        break;
      case 5:
        store.placeBefore(id, other);
        model.placeBefore(id, other);
        break;
      case 6:
      case 7: {
        IObject* expected = model.find(id);
        ASSERT_EQ(store.erase(id).get(), expected);
        model.erase(id);
        break;
      }
      case 8:
        if (random() % 50 == 0) {
          store.clear();
          model.clear();
        }
        break;
      default:
        break;
      }
      if (step % 7 == 0 || c.idRange < 100)
        expectSame(store, model, anyId());
    }
    expectSame(store, model, anyId());
  }
}

TEST(MapStoreTest, ClearReleasesEveryObject) {
  auto object = makeRef<Plain>();
  {
    MapStore store(true);
    for (uint32_t id = 1; id <= 100; ++id)
      store.insert(id, object);
    EXPECT_EQ(object->refCount(), 101u);
    store.clear();
    EXPECT_EQ(object->refCount(), 1u);
    store.insert(7, object);
  }
  EXPECT_EQ(object->refCount(), 1u); // the destructor releases too
}

} // namespace
} // namespace kestel
