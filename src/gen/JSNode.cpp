#include "gen/JSNode.h"

#include "util/Ascii.h"

#include <cstring>

namespace kestel {

namespace {

uint64_t accumulate(std::string_view s, unsigned base) {
  uint64_t v = 0;
  for (unsigned char c : s) {
    const int digit = hexDigitValue(c);
    if (digit < 0 || unsigned(digit) >= base)
      break;
    const unsigned d = unsigned(digit);
    v = v > (UINT64_MAX - d) / base ? UINT64_MAX : v * base + d;
  }
  return v;
}

} // namespace

uint64_t parseDecimalPrefix(std::string_view s) { return accumulate(s, 10); }

uint64_t parseAutoBasePrefix(std::string_view s) {
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
    return accumulate(s.substr(2), 16);
  if (!s.empty() && s[0] == '0')
    return accumulate(s.substr(1), 8);
  return accumulate(s, 10);
}

int32_t JSNode::intValue(int32_t def) const {
  return kind == JSNodeKind::Number ? static_cast<int32_t>(static_cast<uint32_t>(value.number))
                                    : def;
}

uint64_t JSNode::u64Value(uint64_t def) const {
  return kind == JSNodeKind::Number ? value.number : def;
}

std::optional<std::string> JSNode::dupString() const {
  if (kind != JSNodeKind::String)
    return std::nullopt;
  return std::string(value.text);
}

bool JSNode::is(std::string_view s) const {
  return kind == JSNodeKind::String && std::string_view(value.text) == s;
}

const JSNode* JSNode::firstChild() const {
  return kind == JSNodeKind::Object || kind == JSNodeKind::Array ? value.children : nullptr;
}

size_t JSNode::childCount() const {
  size_t n = 0;
  for (const JSNode* c = firstChild(); c; c = c->next)
    ++n;
  return n;
}

const JSNode* JSNode::find(std::string_view k) const {
  for (const JSNode* c = firstChild(); c; c = c->next) {
    if (c->key && std::string_view(c->key) == k)
      return c;
  }
  return nullptr;
}

const JSNode* JSNode::typeName() const {
  const JSNode* t = find("type");
  return t && t->kind == JSNodeKind::String ? t : nullptr;
}

std::vector<uint32_t> JSNode::idArray() const {
  std::vector<uint32_t> ids;
  for (const JSNode* c = firstChild(); c; c = c->next)
    ids.push_back(static_cast<uint32_t>(c->u64Value(0)));
  ids.push_back(0xFFFFFFFFu);
  return ids;
}

NumberMap JSNode::numberMap() const {
  NumberMap map;
  if (kind != JSNodeKind::Object)
    return map;
  for (const JSNode* c = value.children; c; c = c->next) {
    NumberMapEntry e;
    e.key = static_cast<uint32_t>(parseAutoBasePrefix(c->key ? c->key : ""));
    e.value = c->intValue(0);
    map.push_back(std::move(e));
  }
  return map;
}

JSValue JSValue::copy(const JSNode& node) {
  JSValue v;
  v.key = node.key ? node.key : "";
  v.kind = node.kind;
  if (node.kind == JSNodeKind::Number)
    v.number = node.value.number;
  else if (node.kind == JSNodeKind::String)
    v.text = node.value.text;
  for (const JSNode* c = node.firstChild(); c; c = c->next)
    v.children.push_back(copy(*c)); // depth bounded by the parser's nesting limit
  return v;
}

} // namespace kestel
