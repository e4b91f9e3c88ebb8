// Test helper: a compact text form of a parsed tree. Numbers in decimal, strings in single
// quotes (raw), keys bare: {a:1,b:'x',c:[1,2]}.
#pragma once

#include "gen/JSNode.h"

#include <string>

namespace kestel {

inline std::string dumpTree(const JSNode* n) {
  if (!n)
    return "NONE";
  switch (n->kind) {
  case JSNodeKind::Number:
    return std::to_string(n->value.number);
  case JSNodeKind::String:
    return std::string("'") + n->value.text + "'";
  default:
    break;
  }
  bool object = n->kind == JSNodeKind::Object;
  std::string out = object ? "{" : "[";
  for (const JSNode* c = n->firstChild(); c; c = c->next) {
    if (c != n->firstChild())
      out += ",";
    if (object)
      out += std::string(c->key ? c->key : "?") + ":";
    out += dumpTree(c);
  }
  return out + (object ? "}" : "]");
}

} // namespace kestel
