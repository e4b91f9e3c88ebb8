// Field-by-field comparison of messages: equal, commonFields and removeEqual.
#include "api/wire/Message.h"

#include "api/wire/MessageBody.h"

namespace nv {

using detail::ArrayField;
using detail::Body;
using detail::Bytes;
using detail::kNoInlineBool;
using detail::ScalarField;

namespace {

// Nested messages are equal when their bytes are, else when they decode to equal messages; below
// the nesting bound only the bytes count.
bool nestedEqual(const Bytes& a, const Bytes& b, int depth,
                 bool (*equalAt)(const message&, const message&, int)) {
  if (a == b)
    return true;
  if (depth >= kMaxNesting)
    return false;
  return equalAt(message(a.data(), a.size()), message(b.data(), b.size()), depth + 1);
}

template <typename List> auto findNode(const List& list, uint32_t id) -> decltype(&*list.begin()) {
  for (const auto& node : list)
    if (node.id == id)
      return &node;
  return nullptr;
}

const bool* findBool(const Body& b, uint32_t id) {
  if (b.inlineBoolId == id)
    return &b.inlineBool;
  if (b.inlineBoolId != kNoInlineBool || !b.bools)
    return nullptr;
  return b.bools->find(id);
}

using EqualAt = bool (*)(const message&, const message&, int);

bool scalarEqual(const ScalarField& a, const Body& other, int depth, EqualAt eq) {
  const ScalarField* b = findNode(other.scalars, a.id);
  if (!b)
    return false;
  if ((a.id & kTagMask) == kTagMessage)
    return nestedEqual(std::get<Bytes>(a.value), std::get<Bytes>(b->value), depth, eq);
  return a.value == b->value;
}

bool arrayEqual(const ArrayField& a, const Body& other, int depth, EqualAt eq) {
  const ArrayField* b = findNode(other.arrays, a.id);
  if (!b)
    return false;
  if ((a.id & ~kTagArray & kTagMask) != kTagMessage)
    return a.value == b->value;
  const auto& x = std::get<std::vector<Bytes>>(a.value);
  const auto& y = std::get<std::vector<Bytes>>(b->value);
  if (x.size() != y.size())
    return false;
  for (size_t i = 0; i < x.size(); ++i)
    if (!nestedEqual(x[i], y[i], depth, eq))
      return false;
  return true;
}

// Calls f(id) for every field of a that b holds with an equal value, in keys() order.
template <typename F>
void forEachEqual(const Body& a, const Body& b, int depth, EqualAt eq, F&& f) {
  auto boolVisit = [&](uint32_t id, bool v) {
    if (const bool* w = findBool(b, id); w && *w == v)
      f(id);
  };
  if (a.inlineBoolId != kNoInlineBool)
    boolVisit(a.inlineBoolId, a.inlineBool);
  else if (a.bools)
    a.bools->forEach(boolVisit);
  a.u32s.forEach([&](uint32_t id, uint32_t v) {
    if (const uint32_t* w = b.u32s.find(id); w && *w == v)
      f(id);
  });
  for (const ScalarField& s : a.scalars)
    if (scalarEqual(s, b, depth, eq))
      f(s.id);
  for (const ArrayField& s : a.arrays)
    if (arrayEqual(s, b, depth, eq))
      f(s.id);
}

const Body& emptyBody() {
  static const Body empty;
  return empty;
}

} // namespace

bool message::equalAt(const message& a, const message& b, int depth) {
  if (a.body_ == b.body_)
    return true;
  const size_t n = a.size();
  if (n != b.size())
    return false;
  const Body& x = a.body_ ? *a.body_ : emptyBody();
  const Body& y = b.body_ ? *b.body_ : emptyBody();
  size_t same = 0;
  forEachEqual(x, y, depth, &message::equalAt, [&](uint32_t) { ++same; });
  return same == n;
}

bool message::equal(const message& a, const message& b) { return equalAt(a, b, 0); }

std::vector<uint32_t> message::commonFields(const message& a, const message& b) {
  std::vector<uint32_t> out;
  if (!a.body_ || !b.body_)
    return out;
  forEachEqual(*a.body_, *b.body_, 0, &message::equalAt, [&](uint32_t id) { out.push_back(id); });
  return out;
}

void message::removeEqual(const message& other) {
  for (uint32_t id : commonFields(*this, other))
    removeField(id);
}

} // namespace nv
