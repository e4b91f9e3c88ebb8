// What a table pane's commands do to its map. The pane never changes the table itself: every
// command goes to the object map (commit, remove, move, refresh), and the table follows the map's
// events. Each command over a selection tells the pane how it went through a completion
// listener per object; the summary ("Removed 2 of 3 items") is the pane's status text, while the
// map itself shows the router's refusal of each object ("Couldn't remove …").
#pragma once

#include "api/container/ObjectMap.h"

#include <functional>
#include <string>
#include <vector>

namespace kestel {

// Opens the windows a pane hands objects to (object editors, comment windows).
class IObjectEditorOpener {
public:
  virtual ~IObjectEditorOpener() = default;
  // The editor of `object`; `isNew` for an object made by Add that is not in the map yet (the
  // editor commits it through the map).
  virtual void openObjectEditor(ObjectMap& map, IObject& object, bool isNew) = 0;
  // The comment window of `object`.
  virtual void openCommentEditor(ObjectMap& map, IObject& object) = 0;
};

// One kind of object a pane can add; `make` returns the new object (null: none could be made).
struct AddVariant {
  std::string label;
  std::function<Reference<IObject>()> make;
};

// The disabled member of an object: its descriptor type's bool member "disabled". isDisabled is
// false and setDisabled returns false (nothing changed) for an object without one.
bool hasDisabledMember(const IObject& object);
bool isDisabled(const IObject& object);
bool setDisabled(IObject& object, bool disabled);

class TablePaneActions {
public:
  // `opener` may be null (then Add, open and Comment do nothing); `statusChanged` is called
  // whenever statusText() changes.
  TablePaneActions(Reference<ObjectMap> map, IObjectEditorOpener* opener,
                   std::function<void()> statusChanged);
  ~TablePaneActions();
  TablePaneActions(const TablePaneActions&) = delete;
  TablePaneActions& operator=(const TablePaneActions&) = delete;

  ObjectMap& map() const { return *map_; }
  IObjectEditorOpener* opener() const { return opener_; }
  void setOpener(IObjectEditorOpener* opener) { opener_ = opener; }

  // The variants Add offers: those set, or else one that makes the map's new object.
  void setAddVariants(std::vector<AddVariant> variants) { variants_ = std::move(variants); }
  std::vector<std::string> addVariantLabels() const;
  size_t addVariantCount() const { return variants_.empty() ? 1 : variants_.size(); }

  // Makes a new object of the variant and opens its editor.
  void add(size_t variant = 0);
  // Removes each object of `ids` still in the map.
  void remove(const std::vector<uint32_t>& ids);
  // Sets or clears the disabled member of each object of `ids` still in the map and commits it.
  void setDisabled(const std::vector<uint32_t>& ids, bool disabled);
  // Opens the comment window of the first object of `ids` still in the map.
  void comment(const std::vector<uint32_t>& ids);
  // Adds a new object for each of `rows` (packed fields, as CopiedRows holds them): made from the
  // map's defaults, the fields laid over them, committed through the map.
  void paste(const std::vector<nv::message>& rows);
  // Moves the objects of `ids`, in that order, to stand before `beforeId` (kNoId: the end).
  void move(const std::vector<uint32_t>& ids, uint32_t beforeId);
  // A full fetch with the default mask.
  void refresh();
  // Opens the editor of the object (double click); false when it is not in the map.
  bool open(uint32_t id);

  // The last command's progress or outcome, for the status bar ("" before any).
  const std::string& statusText() const { return status_; }

private:
  class Tracker;
  // Starts tracking a command over `count` objects with its texts.
  Reference<Tracker> track(const char* doing, const char* done, const char* nothing, size_t count);
  void setStatus(std::string text);

  Reference<ObjectMap> map_;
  IObjectEditorOpener* opener_;
  std::function<void()> statusChanged_;
  std::vector<AddVariant> variants_;
  std::vector<Reference<Tracker>> trackers_; // running commands, cut loose when the pane goes
  std::string status_;
};

// "1 item" / "%d items".
std::string itemCount(size_t n);

} // namespace kestel
