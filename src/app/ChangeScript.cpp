#include "app/ChangeScript.h"

#include <map>

namespace kestel {

std::string shellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

namespace {

// The object a command names: a variable for objects added by the script, else the id.
std::string objectRef(const std::map<uint32_t, std::string>& added, const ChangeRecord& c) {
  auto it = added.find(c.id);
  return it == added.end() ? std::to_string(c.id) : "\"$" + it->second + "\"";
}

std::string assignments(const ChangeRecord& c) {
  std::string out;
  for (const FieldDiff& d : c.fields)
    if (d.slot)
      out += " " + shellQuoted(d.slot->name() + "=" + d.after);
  return out;
}

} // namespace

std::string changeScript(const ChangeLog& log) {
  std::string script =
      "#!/bin/sh\n"
      "# Changes made with Kestel. Run with ADDRESS, LOGIN and KESTEL_PASSWORD set.\n"
      "set -e\n"
      ": \"${ADDRESS:?set ADDRESS to the router's address}\" \"${LOGIN:?set LOGIN}\"\n"
      "k() { \"${KESTEL_CLI:-kestel-cli}\" \"$ADDRESS\" \"$LOGIN\" \"$@\"; }\n";
  // Per map, the ids of objects the script adds (ids of different menus may be equal).
  std::map<const ObjectMap*, std::map<uint32_t, std::string>> added;
  for (const ChangeRecord& c : log.records()) {
    if (c.state != ChangeState::Succeeded || c.undone)
      continue;
    auto& mine = added[c.map.get()];
    std::string menu = shellQuoted(c.menu);
    switch (c.kind) {
    case ChangeKind::Set:
      if (!c.fields.empty())
        script += "k set " + menu + " " + objectRef(mine, c) + assignments(c) + "\n";
      break;
    case ChangeKind::Add: {
      std::string name = "added" + std::to_string(c.number);
      script += name + "=$(k add " + menu + assignments(c) + ")\n";
      mine[c.id] = name;
      break;
    }
    case ChangeKind::Remove:
      script += "k rm " + menu + " " + objectRef(mine, c) + "\n";
      break;
    }
  }
  return script;
}

} // namespace kestel
