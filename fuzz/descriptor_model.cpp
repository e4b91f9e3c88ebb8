// Loads arbitrary documents through the whole descriptor model: services and types are built,
// completed, and every type makes an object that packs, unpacks the tail of the input as a
// message, and packs again. Every predicate the model holds (type predicates, condition terms,
// "slot" predicates inside them, enumeration filters) is evaluated on the object before and after
// the unpack: a predicate kind paired with a slot of another storage type must read nothing. The
// model is reset after each input.
#include "gen/DescriptorLoader.h"
#include "gen/Enumerations.h"
#include "gen/Service.h"
#include "util/Log.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

namespace {

class Quiet : public kestel::LogSink {
public:
  void writeLine(std::string_view) override {}
};

// Evaluates every predicate reachable from the type on the object.
void evaluateAll(kestel::CType& t, kestel::IObject& o) {
  using namespace kestel;
  ObjectView view{&t, o.record().data()};
  (void)holds(t.predicate());
  (void)holds(t.predicate(), objectRef(view));
  for (const SlotCondition* c : t.conditions())
    (void)c->holds(view);
  for (const Slot* s : t.slots()) {
    if (s->condition())
      (void)s->condition()->holds(view);
    auto* filter = dynamic_cast<FilterEnum*>(s->enumeration().get());
    if (!filter)
      continue;
    filter->bind(view);
    for (size_t i = 0; i < filter->count() && i < 64; ++i)
      (void)filter->nameAt(i);
    filter->bind({});
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestel;
  static Quiet quiet;
  static bool once = (addLogSink(&quiet), true);
  (void)once;
  // Input: a document, optionally followed by a NUL and message bytes to unpack.
  std::string_view all(reinterpret_cast<const char*>(data), size);
  size_t cut = all.find('\0');
  std::string doc(all.substr(0, cut));
  std::string_view tail = cut == std::string_view::npos ? std::string_view() : all.substr(cut + 1);
  std::istringstream in(doc);
  (void)loadDescriptorStream(in, buildService);
  (void)completeAllTypes();
  nv::message extra = nv::message::fromBytes(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(tail.data()), tail.size()));
  forEachType([&](CType& t, CService&) {
    Reference<IObject> o = t.createObject();
    if (!o)
      return;
    nv::message m;
    evaluateAll(t, *o);
    o->getPacker()->pack(m, o.get());
    o->getPacker()->unpack(extra, o.get());
    evaluateAll(t, *o);
    Reference<IObject> copy = t.createObject();
    t.copyRecord(copy->record().data(), o->record().data());
    nv::message again;
    copy->getPacker()->pack(again, copy.get());
    (void)o->toString();
    o->setToDefaults();
  });
  resetModel();
  return 0;
}
