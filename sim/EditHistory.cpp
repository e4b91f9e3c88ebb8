#include "sim/EditHistory.h"

#include "sim/MenuHandler.h"

#include <algorithm>

namespace kestel::sim {
namespace {

// Makes the stored object `id` equal `object`: its members set, the others cleared.
EditResult restore(MenuStore& store, MenuStore::Id id, const nv::message& object) {
  nv::message values = object;
  std::vector<uint32_t> unset;
  nv::message current = store.get(id);
  for (uint32_t field : current.keys())
    if (!object.hasField(field))
      unset.push_back(field);
  values.set(SYS_UNSET, unset);
  return store.change(id, values);
}

} // namespace

EditHistory::~EditHistory() {
  if (holderTimer_)
    reactor_.removeTimer(holderTimer_);
}

void EditHistory::recordEdit(MenuStore& store, uint32_t command, MenuStore::Id id,
                             nv::message before, const RouterRequest& request) {
  if (command != CMD_SETOBJ && command != CMD_ADDOBJ && command != CMD_REMOVEOBJ)
    return;
  Edit edit{&store, command, id, std::move(before), store.get(id), 0};
  if (holder_.id != 0 && holder_.peer.lock() == request.peer)
    edit.safeMode = holder_.id;
  done_.push_back(std::move(edit));
  if (done_.size() > kDepth)
    done_.erase(done_.begin());
  undone_.clear();
}

bool EditHistory::apply(Edit& edit, bool forwards) {
  MenuStore& store = *edit.store;
  EditResult result;
  bool removes = (edit.command == CMD_ADDOBJ) != forwards;
  if (edit.command == CMD_SETOBJ) {
    result = restore(store, edit.id, forwards ? edit.after : edit.before);
  } else if (removes) {
    result = store.remove(edit.id);
  } else {
    result = store.add(edit.command == CMD_ADDOBJ ? edit.after : edit.before);
    if (result.ok())
      renumber(&store, edit.id, result.id);
  }
  return result.ok();
}

void EditHistory::renumber(MenuStore* store, MenuStore::Id from, MenuStore::Id to) {
  for (auto* list : {&done_, &undone_})
    for (Edit& e : *list)
      if (e.store == store && e.id == from)
        e.id = to;
}

std::optional<nv::message> EditHistory::handle(const RouterRequest& request) {
  uint32_t command = request.message.get(SYS_CMD);
  if (!permits(request.user, kWritePolicy))
    return errorReply(ERROR_NOTALLOWED);
  switch (command) {
  case kUndo:
  case kRedo: {
    bool undo = command == kUndo;
    auto& from = undo ? done_ : undone_;
    auto& to = undo ? undone_ : done_;
    if (from.empty())
      return errorReply(ERROR_FAILED, undo ? "nothing to undo" : "nothing to redo");
    Edit edit = std::move(from.back());
    from.pop_back();
    if (!apply(edit, !undo))
      return errorReply(ERROR_FAILED, "the object has changed since");
    to.push_back(std::move(edit));
    return nv::message();
  }
  case kTakeSafeMode:
    return takeSafeMode(request);
  case kReleaseSafeMode:
    return releaseSafeMode(request);
  default:
    return errorReply(ERROR_NOTIMP);
  }
}

nv::message EditHistory::takeSafeMode(const RouterRequest& request) {
  std::shared_ptr<RouterPeer> holder = holder_.peer.lock();
  if (holder_.id != 0 && holder == request.peer) {
    nv::message reply;
    reply.set(STD_ID, holder_.id);
    return reply;
  }
  if (holder_.id != 0) {
    keepHolderChanges();
    if (holder && holder->alive()) {
      nv::message told;
      told.set(SYS_TO, holder_.returnPath);
      told.set(SYS_FROM, kPath);
      told.set(SYS_CMD, kSafeModeTaken);
      told.set(STD_ID, holder_.id);
      holder->send(told);
    }
  }
  holder_.id = ++lastSafeModeId_;
  holder_.peer = request.peer;
  holder_.returnPath = request.message.get(SYS_FROM);
  if (!holderTimer_)
    holderTimer_ = reactor_.addTimer(
        kHolderCheckMs, [this] { checkHolder(); }, true);
  nv::message reply;
  reply.set(STD_ID, holder_.id);
  return reply;
}

nv::message EditHistory::releaseSafeMode(const RouterRequest& request) {
  if (holder_.id == 0 || request.message.get(STD_ID) != holder_.id ||
      holder_.peer.lock() != request.peer)
    return errorReply(ERROR_FAILED, "not in safe mode");
  keepHolderChanges();
  holder_ = {};
  reactor_.removeTimer(holderTimer_);
  holderTimer_ = 0;
  return nv::message();
}

void EditHistory::keepHolderChanges() {
  for (auto* list : {&done_, &undone_})
    for (Edit& e : *list)
      if (e.safeMode == holder_.id)
        e.safeMode = 0;
}

void EditHistory::checkHolder() {
  std::shared_ptr<RouterPeer> holder = holder_.peer.lock();
  if (holder && holder->alive())
    return;
  rollBackHolder();
  holder_ = {};
  reactor_.removeTimer(holderTimer_);
  holderTimer_ = 0;
}

void EditHistory::rollBackHolder() {
  // Redone edits of the holder are undone again first; then its edits, newest first.
  std::erase_if(undone_, [this](const Edit& e) { return e.safeMode == holder_.id; });
  for (size_t i = done_.size(); i-- > 0;) {
    if (done_[i].safeMode != holder_.id)
      continue;
    apply(done_[i], false);
    done_.erase(done_.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

} // namespace kestel::sim
