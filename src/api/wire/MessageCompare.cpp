// Field-by-field comparison of messages: equal, commonFields and removeEqual.
#include "api/wire/Message.h"

#include "api/wire/MessageBody.h"

#include <algorithm>

namespace nv {

using detail::ArrayField;
using detail::Body;
using detail::Bytes;
using detail::kNoInlineBool;
using detail::ScalarField;

namespace {

// Nested messages are equal when their bytes are, else when they decode to equal messages; below
// the nesting bound only the bytes count.
bool nestedEqual(std::span<const uint8_t> a, std::span<const uint8_t> b, int depth,
                 bool (*equalAt)(const message&, const message&, int)) {
  if (std::ranges::equal(a, b))
    return true;
  if (depth >= kMaxNesting)
    return false;
  return equalAt(message(a.data(), a.size()), message(b.data(), b.size()), depth + 1);
}

// Lookup of the other message's list fields: a linear walk for short lists, a sorted index for
// long ones, so that comparing messages of many fields stays O(n log n).
template <typename Node> class NodeIndex {
public:
  using List = std::forward_list<Node, detail::NodeAlloc<Node>>;

  explicit NodeIndex(const List& list) : list_(list) {
    size_t n = 0;
    for (auto it = list.begin(); it != list.end() && n <= kLinear; ++it)
      ++n;
    if (n <= kLinear)
      return;
    for (const Node& node : list)
      sorted_.push_back(&node);
    std::sort(sorted_.begin(), sorted_.end(),
              [](const Node* x, const Node* y) { return x->id < y->id; });
  }

  const Node* find(uint32_t id) const {
    if (sorted_.empty()) {
      for (const Node& n : list_)
        if (n.id == id)
          return &n;
      return nullptr;
    }
    auto it = std::lower_bound(sorted_.begin(), sorted_.end(), id,
                               [](const Node* n, uint32_t v) { return n->id < v; });
    return it != sorted_.end() && (*it)->id == id ? *it : nullptr;
  }

private:
  static constexpr size_t kLinear = 16;
  const List& list_;
  std::vector<const Node*> sorted_;
};

const bool* findBool(const Body& b, uint32_t id) {
  if (b.inlineBoolId == id)
    return &b.inlineBool;
  if (b.inlineBoolId != kNoInlineBool || !b.bools)
    return nullptr;
  return b.bools->find(id);
}

using EqualAt = bool (*)(const message&, const message&, int);

bool scalarEqual(const ScalarField& a, const NodeIndex<ScalarField>& other, int depth, EqualAt eq) {
  const ScalarField* b = other.find(a.id);
  if (!b)
    return false;
  if ((a.id & kTagMask) == kTagMessage)
    return nestedEqual(detail::valueBytes(a.value), detail::valueBytes(b->value), depth, eq);
  // Strings and raw values compare by their bytes, wherever the body keeps them.
  if (a.value.index() >= 2)
    return std::ranges::equal(detail::valueBytes(a.value), detail::valueBytes(b->value));
  return a.value == b->value;
}

bool arrayEqual(const ArrayField& a, const NodeIndex<ArrayField>& other, int depth, EqualAt eq) {
  const ArrayField* b = other.find(a.id);
  if (!b)
    return false;
  if ((a.id & ~kTagArray & kTagMask) != kTagMessage)
    return a.value == b->value;
  const auto& x = std::get<detail::PackedMessages>(a.value);
  const auto& y = std::get<detail::PackedMessages>(b->value);
  if (x.size() != y.size())
    return false;
  size_t atX = 0;
  size_t atY = 0;
  for (size_t i = 0; i < x.size(); ++i)
    if (!nestedEqual(x.next(atX), y.next(atY), depth, eq))
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
  const NodeIndex<ScalarField> scalars(b.scalars);
  for (const ScalarField& s : a.scalars)
    if (scalarEqual(s, scalars, depth, eq))
      f(s.id);
  const NodeIndex<ArrayField> arrays(b.arrays);
  for (const ArrayField& s : a.arrays)
    if (arrayEqual(s, arrays, depth, eq))
      f(s.id);
}

const Body& emptyBody() {
  static const Body empty{};
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
  std::vector<uint32_t> common = commonFields(*this, other);
  if (common.empty())
    return;
  std::sort(common.begin(), common.end());
  detail::eraseFieldsIf(
      mut(), [&](uint32_t id) { return std::binary_search(common.begin(), common.end(), id); });
}

} // namespace nv
