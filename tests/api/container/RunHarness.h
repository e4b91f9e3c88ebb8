// Shared pieces of the holder, action, query, setup and doit tests: a small record object with a
// number, a text and (optionally) its router id in the packer, and listeners that record what
// the containers tell them.
#pragma once

#include "ContainerHarness.h"

#include "api/container/ContainerBase.h"
#include "api/object/Packer.h"
#include "api/object/PackerElements.h"

#include <string>
#include <utility>
#include <vector>

namespace kestel::test::runs {

inline constexpr nv::u32_id kValue{0x10001};
inline constexpr nv::string_id kText{0x10002};

struct RunRec {
  uint32_t value = 0;
  std::string text;
  uint32_t id = NO_ID;
};

enum class WithId { No, Yes };

// A packer for RunRec: value and text, and STD_ID when asked.
inline Reference<IPacker> runPacker(WithId withId = WithId::No) {
  auto packer = createPacker();
  packer->add(createNumber(memberOf(&RunRec::value), kValue), kValue.key);
  packer->add(createText(memberOf(&RunRec::text), kText), kText.key);
  if (withId == WithId::Yes)
    packer->add(createNumber(memberOf(&RunRec::id), STD_ID), STD_ID.key);
  return packer;
}

class RunObject final : public RecordObject<RunRec> {
public:
  explicit RunObject(WithId withId = WithId::No) : RecordObject<RunRec>(runPacker(withId)) {}
  std::string toString() const override { return rec().text; }
};

inline Reference<RunObject> runObject(uint32_t value = 0, std::string text = {},
                                      WithId withId = WithId::No) {
  auto o = makeRef<RunObject>(withId);
  o->rec().value = value;
  o->rec().text = std::move(text);
  return o;
}

struct ChangeRecorder final : IChangeListener {
  void changeDone(IObject* object, ChangeResult result) override {
    objects.push_back(object);
    results.push_back(result);
  }
  std::vector<IObject*> objects;
  std::vector<ChangeResult> results;
};

inline nv::message withValue(uint32_t value) {
  nv::message m;
  m.set(kValue, value);
  return m;
}

} // namespace kestel::test::runs
