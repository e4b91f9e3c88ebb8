// Skins: an overlay read from a router document that renames, hides, shows or locks launcher
// groups and entries, types, slots and commands. A skin is a tree of entries looked up by name;
// a missing entry is the shared empty entry, which changes nothing. Loading never fails: a text
// that does not parse is logged and leaves an empty tree.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestel {

struct JSNode;

struct SkinEntry {
  std::string name;  // replacement display name; empty keeps the descriptor's own
  std::string title; // replacement window or type title
  std::string tab;   // replacement tab or header text
  std::string note;
  bool readOnly = false;
  bool separator = false;
  bool hidden = false;
  bool show = false; // shows an element hidden by default
  std::unique_ptr<SkinEntry> commands;
  std::map<std::string, std::unique_ptr<SkinEntry>, std::less<>> children; // byte order
  SkinEntry* redirect = nullptr; // a child used instead of this entry for lookups

  // The child of that name, or null.
  SkinEntry* child(std::string_view n) const;
};

class Skin {
public:
  Skin();
  ~Skin();

  // Parses the text's first complete value and replaces the tree, then writes the tree to the
  // log; bytes after that value are not read. When no value completes (a syntax error, or the
  // text ends first) logs "!!! ERROR PARSING SKIN" and the text, and the tree is empty. Entries
  // of earlier trees stay valid until the Skin is destroyed (views may still hold them).
  void load(std::string_view text);

  // The root's child of that name, or the empty entry.
  SkinEntry& lookupTop(std::string_view n);
  // Follows the redirect chain of `entry`, then returns the child of that name or the empty
  // entry.
  SkinEntry& lookup(SkinEntry& entry, std::string_view n);
  // Redirects `entry` to its child of that name, or clears the redirect when there is none.
  void select(SkinEntry& entry, std::string_view n);
  void clearRedirect(SkinEntry& entry);

  static const std::string& nameOr(const SkinEntry& e, const std::string& def);
  static const std::string& titleOr(const SkinEntry& e, const std::string& def);
  static const std::string& tabOr(const SkinEntry& e, const std::string& def);

  // The shared empty entry (never changed).
  static SkinEntry& empty();
  const SkinEntry& root() const { return *root_; }

  // The dump written after load, one string per line.
  static std::vector<std::string> dumpLines(const SkinEntry& root);

private:
  std::unique_ptr<SkinEntry> root_;
  std::vector<std::unique_ptr<SkinEntry>> retired_;
};

// The skin of the session (one per process, used from the interface thread).
Skin& activeSkin();

// Builds an entry from an object node (exposed for tests and the fuzz target).
void buildSkinEntry(SkinEntry& entry, const JSNode& object);

} // namespace kestel
