// The object map's edits: add and change (commit), remove, move and refetch, their replies, the
// user texts of failures and the notifications held while adds are outstanding.
#include "api/container/ObjectMap.h"

#include "api/object/Packer.h"
#include "api/wire/Vocabulary.h"

namespace kestel {

namespace {

void packInto(nv::message& request, IObject* object) {
  if (IPacker* packer = object->getPacker())
    packer->pack(request, object);
}

} // namespace

Reference<IObject> ObjectMap::createNew() {
  Reference<IObject> object = factory_->create(defaults_);
  if (!object)
    return {};
  if (IPacker* packer = object->getPacker())
    packer->unpack(defaults_, object.get());
  object->setID(NO_ID);
  return object;
}

void ObjectMap::commit(IObject* object, IChangeListener* done) {
  if (!object)
    return;
  Reference<ObjectMap> self(this);
  Reference<IObject> keep(object);
  Reference<IChangeListener> listener(done);
  if (!object->hasID()) {
    if (!ContainerBase::commands().exists(Op::Add))
      return tellChange(done, object, ChangeResult::Failed);
    if (auto it = pendingAdds_.find(object); it != pendingAdds_.end())
      return it->second.done.add(done); // the add is out already: wait for its reply
    nv::message request;
    address(request, defaultMask_);
    packInto(request, object);
    PendingAdd& pending = pendingAdds_[object];
    pending.object = keep;
    pending.done.add(done);
    ++outstandingAdds_;
    auto sent =
        ContainerBase::request(ContainerBase::commands()[Op::Add].command, std::move(request),
                               [this, keep](const nv::message& r) { onAddReply(keep, r); });
    if (!sent) {
      pendingAdds_.erase(object);
      --outstandingAdds_;
      tellChange(done, object, ChangeResult::Failed);
    }
    return;
  }
  if (!ContainerBase::commands().exists(Op::Change))
    return tellChange(done, object, ChangeResult::Succeeded);
  nv::message request;
  address(request, defaultMask_);
  packInto(request, object);
  request.set(STD_ID, object->getID());
  auto onReply = [this, keep, listener](const nv::message& reply) {
    Reference<ObjectMap> self(this);
    if (isError(reply))
      return failChange("Couldn't change ", keep.get(), reply, listener.get());
    tellChange(listener.get(), keep.get(), ChangeResult::Succeeded);
    if (!keep->hasID() || store_.find(keep->getID()) != keep.get())
      return; // removed meanwhile
    emit(MapEventKind::Changed, keep->getID(), keep.get(), false);
    if (options_.refetchAfterCommit)
      refetch(keep.get());
  };
  if (!ContainerBase::request(ContainerBase::commands()[Op::Change].command, std::move(request),
                              std::move(onReply)))
    tellChange(done, object, ChangeResult::Failed);
}

void ObjectMap::onAddReply(const Reference<IObject>& object, const nv::message& reply) {
  Reference<ObjectMap> self(this);
  CompletionList done;
  if (auto it = pendingAdds_.find(object.get()); it != pendingAdds_.end()) {
    done = std::move(it->second.done);
    pendingAdds_.erase(it);
  }
  if (outstandingAdds_ > 0)
    --outstandingAdds_;
  uint32_t id = reply.get(STD_ID, kNoId);
  if (isError(reply) || id >= 0xFFFFFFFE) {
    // An accepted add without a usable id cannot be placed: the fetch brings it.
    bool failed = isError(reply);
    refresh();
    if (failed)
      showError("Couldn't add " + object->getName(), reply);
    done.tellAll(object.get(), failed ? ChangeResult::Failed : ChangeResult::Succeeded);
    if (outstandingAdds_ == 0)
      replayHeld(kNoId);
    return;
  }
  IObject* known = store_.find(id);
  bool replaced = known && known != object.get();
  // It came by notification or a page before the reply: this object takes its place.
  uint32_t next = replaced ? store_.nextOf(id) : kNoId;
  bool fetchAnchor = replaced && previousId_ == id;
  if (replaced)
    dropObject(id);
  // Ordered maps: the objects held that arrived before this one's own notification (or before
  // the reply when it had none) were added before it on the router; each is placed before it
  // when applied, not after it at the end.
  if (ordered()) {
    for (auto& [heldId, element] : held_) {
      if (heldId == id)
        break;
      if (!element.has(STD_NEXTID))
        element.set(STD_NEXTID, id);
    }
  }
  if (!object->hasID()) {
    if (count_ != kNoId)
      ++count_;
    adopt(id, object);
    if (replaced)
      store_.placeBefore(id, next);
    if (fetchAnchor)
      previousId_ = id;
  }
  done.tellAll(object.get(), ChangeResult::Succeeded);
  emit(MapEventKind::Added, id, object.get(), false);
  if (options_.refetchAfterCommit)
    refetch(object.get());
  replayHeld(id);
  if (outstandingAdds_ == 0)
    replayHeld(kNoId);
}

void ObjectMap::replayHeld(uint32_t id) {
  std::vector<std::pair<uint32_t, nv::message>> now;
  std::vector<std::pair<uint32_t, nv::message>> keep;
  for (auto& entry : held_)
    (id == kNoId || entry.first == id ? now : keep).push_back(std::move(entry));
  held_ = std::move(keep);
  if (now.empty())
    return;
  Batch batch(outstandingAdds_ == 0 && now.size() >= kQuietBatch);
  for (const auto& [heldId, notification] : now)
    applyNotified(notification, batch);
  flush(batch, false);
}

void ObjectMap::failChange(const char* what, IObject* object, const nv::message& reply,
                           IChangeListener* done) {
  refresh();
  showError(what + object->getName(), reply);
  tellChange(done, object, ChangeResult::Failed);
}

void ObjectMap::dropObject(uint32_t id) {
  if (Reference<IObject> object = takeOut(id))
    emit(MapEventKind::Removed, id, object.get(), false);
}

Reference<IObject> ObjectMap::takeOut(uint32_t id) {
  if (id == previousId_)
    previousId_ = store_.previousOf(id);
  return disown(id);
}

void ObjectMap::remove(IObject* object, IChangeListener* done) {
  if (!object)
    return;
  if (!object->hasID() || !ContainerBase::commands().exists(Op::Remove))
    return tellChange(done, object, ChangeResult::Failed);
  Reference<IObject> keep(object);
  Reference<IChangeListener> listener(done);
  nv::message request;
  address(request, defaultMask_);
  request.set(STD_ID, object->getID());
  auto onReply = [this, keep, listener](const nv::message& reply) {
    Reference<ObjectMap> self(this);
    unsigned int code = 0;
    // The router no longer knowing the object means it is gone: as good as removed.
    if (isError(reply, &code) && code != ERROR_UNKNOWNID)
      return failChange("Couldn't remove ", keep.get(), reply, listener.get());
    uint32_t id = keep->getID();
    bool mine = keep->hasID() && store_.find(id) == keep.get();
    if (mine && count_ != kNoId && count_ > 0)
      --count_;
    Reference<IObject> gone = mine ? takeOut(id) : Reference<IObject>();
    tellChange(listener.get(), keep.get(), ChangeResult::Succeeded);
    if (gone)
      emit(MapEventKind::Removed, id, gone.get(), false);
  };
  if (!ContainerBase::request(ContainerBase::commands()[Op::Remove].command, std::move(request),
                              std::move(onReply)))
    tellChange(done, object, ChangeResult::Failed);
}

void ObjectMap::move(IObject* object, uint32_t nextId, IChangeListener* done) {
  if (!object)
    return;
  if (object->hasID() && object->getID() == nextId)
    return tellChange(done, object, ChangeResult::Succeeded);
  if (!object->hasID() || !ContainerBase::commands().exists(Op::Move))
    return tellChange(done, object, ChangeResult::Failed);
  Reference<IObject> keep(object);
  Reference<IChangeListener> listener(done);
  nv::message request;
  address(request, defaultMask_);
  request.set(STD_ID, object->getID());
  if (nextId != kNoId)
    request.set(STD_NEXTID, nextId);
  auto onReply = [this, keep, listener, nextId](const nv::message& reply) {
    Reference<ObjectMap> self(this);
    if (isError(reply))
      return failChange("Couldn't move ", keep.get(), reply, listener.get());
    tellChange(listener.get(), keep.get(), ChangeResult::Succeeded);
    if (!keep->hasID() || store_.find(keep->getID()) != keep.get())
      return;
    store_.placeBefore(keep->getID(), nextId);
    emit(MapEventKind::Moved, keep->getID(), keep.get(), false);
  };
  if (!ContainerBase::request(ContainerBase::commands()[Op::Move].command, std::move(request),
                              std::move(onReply)))
    tellChange(done, object, ChangeResult::Failed);
}

void ObjectMap::refetch(IObject* object, uint32_t mask) {
  if (!object || !object->hasID())
    return;
  Reference<IObject> keep(object);
  nv::message request;
  address(request, mask | defaultMask_);
  request.set(STD_ID, object->getID());
  auto onReply = [this, keep](const nv::message& reply) {
    Reference<ObjectMap> self(this);
    if (!keep->hasID() || store_.find(keep->getID()) != keep.get())
      return; // gone meanwhile
    uint32_t id = keep->getID();
    unsigned int code = 0;
    if (isError(reply, &code)) {
      if (code == ERROR_UNKNOWNID) {
        if (count_ != kNoId && count_ > 0)
          --count_;
        dropObject(id);
      }
      return;
    }
    // The object comes as the reply itself or as its only element.
    nv::message fields = reply.count(STD_OBJS) > 0 ? reply.get(STD_OBJS).front() : reply;
    if (IPacker* packer = keep->getPacker())
      packer->unpack(fields, keep.get());
    if (hides(*keep))
      return dropObject(id);
    emit(MapEventKind::Changed, id, keep.get(), false);
  };
  ContainerBase::request(ContainerBase::commands()[Op::FetchOne].command, std::move(request),
                         std::move(onReply));
}

} // namespace kestel
