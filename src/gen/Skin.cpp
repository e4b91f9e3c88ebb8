#include "gen/Skin.h"

#include "gen/JSParser.h"
#include "gen/ModelContext.h"
#include "util/Log.h"

namespace kestel {

namespace {

SkinEntry& childOf(SkinEntry& parent, std::string_view n) {
  auto it = parent.children.find(n);
  if (it == parent.children.end())
    it = parent.children.emplace(std::string(n), std::make_unique<SkinEntry>()).first;
  return *it->second;
}

bool nonZeroNumber(const JSNode& n) { return n.kind == JSNodeKind::Number && n.value.number; }

// A child from a member value: a number hides it, an object fills it, a string or an array
// makes it with no fields set.
void buildChild(SkinEntry& child, const JSNode& v) {
  if (v.kind == JSNodeKind::Number)
    child.hidden = true;
  else if (v.kind == JSNodeKind::Object)
    buildSkinEntry(child, v);
}

void buildCommands(SkinEntry& entry, const JSNode& cmds) {
  for (const JSNode* c = cmds.firstChild(); c; c = c->next) {
    std::string_view key = c->key ? c->key : "";
    if (key == "title" && c->kind == JSNodeKind::String) {
      entry.title = c->value.text;
      continue;
    }
    if (!entry.commands)
      entry.commands = std::make_unique<SkinEntry>();
    buildChild(childOf(*entry.commands, key), *c);
  }
}

void dumpEntry(const SkinEntry& e, size_t indent, std::string line, std::vector<std::string>& out) {
  if (e.readOnly)
    line += "RO ";
  if (e.hidden)
    line += "HIDDEN ";
  if (!e.name.empty())
    line += "NAME=<" + e.name + "> ";
  if (!e.title.empty())
    line += "TITLE=<" + e.title + "> ";
  if (!e.note.empty())
    line += "NOTE=<" + e.note + "> ";
  out.push_back(std::move(line));
  if (e.commands)
    dumpEntry(*e.commands, indent + 4, std::string(indent, ' ') + "CMDS: ", out);
  for (const auto& [n, child] : e.children)
    dumpEntry(*child, indent + 4, std::string(indent + 4, ' ') + n + ": ", out);
}

} // namespace

SkinEntry* SkinEntry::child(std::string_view n) const {
  auto it = children.find(n);
  return it == children.end() ? nullptr : it->second.get();
}

void buildSkinEntry(SkinEntry& entry, const JSNode& object) {
  for (const JSNode* m = object.firstChild(); m; m = m->next) {
    std::string_view key = m->key ? m->key : "";
    bool text = m->kind == JSNodeKind::String;
    if (key == "&") {
      if (m->kind == JSNodeKind::Object)
        buildCommands(entry, *m);
    } else if (key == "name" || key == "note" || key == "tab") {
      if (text)
        (key == "name" ? entry.name : key == "note" ? entry.note : entry.tab) = m->value.text;
    } else if (key == "ro") {
      entry.readOnly = entry.readOnly || nonZeroNumber(*m);
    } else if (key == "separator") {
      entry.separator = entry.separator || nonZeroNumber(*m);
    } else if (key == "show") {
      entry.show = entry.show || nonZeroNumber(*m);
    } else {
      buildChild(childOf(entry, key), *m);
    }
  }
}

Skin::Skin() : root_(std::make_unique<SkinEntry>()) {}
Skin::~Skin() = default;

SkinEntry& Skin::empty() {
  static SkinEntry none;
  return none;
}

void Skin::load(std::string_view text) {
  JSParser parser;
  // The parser stops at the end of the top-level value: what follows is never read.
  (void)parser.feed(text);
  const JSNode* doc = parser.finish();
  if (!doc) {
    logLine("!!! ERROR PARSING SKIN");
    logLine("SKIN:\n" + std::string(text));
  }
  auto root = std::make_unique<SkinEntry>();
  if (doc && doc->kind == JSNodeKind::Object)
    buildSkinEntry(*root, *doc);
  retired_.push_back(std::move(root_));
  root_ = std::move(root);
  for (const std::string& line : dumpLines(*root_))
    logLine(line);
}

std::vector<std::string> Skin::dumpLines(const SkinEntry& root) {
  std::vector<std::string> out;
  dumpEntry(root, 0, std::string(), out);
  return out;
}

SkinEntry& Skin::lookupTop(std::string_view n) {
  SkinEntry* c = root_->child(n);
  return c ? *c : empty();
}

SkinEntry& Skin::lookup(SkinEntry& entry, std::string_view n) {
  SkinEntry* e = &entry;
  while (e->redirect) // each redirect points one level down, so the chain ends
    e = e->redirect;
  SkinEntry* c = e->child(n);
  return c ? *c : empty();
}

void Skin::select(SkinEntry& entry, std::string_view n) {
  if (&entry == &empty())
    return;
  entry.redirect = entry.child(n);
}

void Skin::clearRedirect(SkinEntry& entry) {
  if (&entry != &empty())
    entry.redirect = nullptr;
}

const std::string& Skin::nameOr(const SkinEntry& e, const std::string& def) {
  return e.name.empty() ? def : e.name;
}
const std::string& Skin::titleOr(const SkinEntry& e, const std::string& def) {
  return e.title.empty() ? def : e.title;
}
const std::string& Skin::tabOr(const SkinEntry& e, const std::string& def) {
  return e.tab.empty() ? def : e.tab;
}

Skin& activeSkin() { return *modelContext().skin; }

} // namespace kestel
