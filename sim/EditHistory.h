// The router's history of menu edits, served at handler 17: Undo (0x80001) and Redo (0x80002) of
// the last edit of any client, and safe mode (0x80003 takes it and answers its id, 0x80005 with
// that id releases it and keeps the changes). The edits a client makes while it holds safe mode
// are rolled back when its connection drops; when another client takes safe mode, the holder's
// changes stay and it is told with 0x80004. Object changes, adds and removes are undoable; moves
// are not kept.
#pragma once

#include "api/net/Reactor.h"
#include "sim/MenuStore.h"
#include "sim/RouterLogin.h"

#include <memory>
#include <optional>
#include <vector>

namespace kestel::sim {

class EditHistory {
public:
  static constexpr uint32_t kUndo = 0x80001;
  static constexpr uint32_t kRedo = 0x80002;
  static constexpr uint32_t kTakeSafeMode = 0x80003;
  static constexpr uint32_t kSafeModeTaken = 0x80004; // told to a holder another client displaced
  static constexpr uint32_t kReleaseSafeMode = 0x80005;
  static inline const std::vector<uint32_t> kPath{17};
  // How often the holder's connection is checked while safe mode is held.
  static constexpr uint32_t kHolderCheckMs = 250;
  // Policy bits a client needs for any of it (those that let it change menus).
  static constexpr uint32_t kWritePolicy = 0x80;
  // Edits kept for undo; the oldest go first.
  static constexpr size_t kDepth = 100;

  explicit EditHistory(Reactor& reactor) : reactor_(reactor) {}
  ~EditHistory();
  EditHistory(const EditHistory&) = delete;
  EditHistory& operator=(const EditHistory&) = delete;

  // A menu handler made an edit for `request`: `before` is the object as it was (empty for an
  // add), the store now holds the result under `id`.
  void recordEdit(MenuStore& store, uint32_t command, MenuStore::Id id, nv::message before,
                  const RouterRequest& request);
  std::optional<nv::message> handle(const RouterRequest& request);

  size_t undoable() const { return done_.size(); }
  size_t redoable() const { return undone_.size(); }
  bool safeModeHeld() const { return holder_.id != 0; }

private:
  struct Edit {
    MenuStore* store = nullptr;
    uint32_t command = 0;
    MenuStore::Id id = 0;
    nv::message before, after;
    uint32_t safeMode = 0; // the safe-mode id it was made under; 0: none
  };
  struct Holder {
    uint32_t id = 0; // 0: nobody holds safe mode
    std::weak_ptr<RouterPeer> peer;
    std::vector<uint32_t> returnPath;
  };

  // Applies the edit backwards (undo) or forwards (redo); false when the store refuses.
  bool apply(Edit& edit, bool forwards);
  // An object the store gave a new id (re-added): later entries follow it.
  void renumber(MenuStore* store, MenuStore::Id from, MenuStore::Id to);
  nv::message takeSafeMode(const RouterRequest& request);
  nv::message releaseSafeMode(const RouterRequest& request);
  void keepHolderChanges();
  void checkHolder();
  void rollBackHolder();

  Reactor& reactor_;
  std::vector<Edit> done_, undone_;
  Holder holder_;
  uint32_t lastSafeModeId_ = 0;
  Reactor::TimerId holderTimer_ = 0;
};

} // namespace kestel::sim
