#include "sim/ItemHandler.h"

namespace kestel::sim {

ItemHandler::ItemHandler(ItemShape shape, nv::message object, const MenuOptions& options,
                         std::function<void(nv::message&)> live)
    : shape_(std::move(shape)), object_(std::move(object)), options_(options),
      live_(std::move(live)) {}

nv::message ItemHandler::current() {
  if (live_)
    live_(object_);
  return object_;
}

std::optional<nv::message> ItemHandler::handle(const RouterRequest& request) {
  const nv::message& m = request.message;
  uint32_t command = m.get(SYS_CMD);
  auto lookup = shape_.lookups.find(command);
  bool read =
      command == shape_.getCommand || command == CMD_GETALL || lookup != shape_.lookups.end();
  if (read && !permits(request.user, shape_.readPolicy))
    return errorReply(ERROR_NOTALLOWED);
  if (command == shape_.getCommand)
    return current();
  if (lookup != shape_.lookups.end())
    return lookup->second;
  if (command == CMD_GETALL) {
    nv::message reply;
    nv::message object = current();
    object.set(STD_ID, 1u);
    reply.append(STD_OBJS, object);
    reply.set(kObjectCount, 1u);
    reply.set(STD_GETALLID, MenuStore::kNone);
    return reply;
  }
  if (command != shape_.setCommand || shape_.setCommand == MenuStore::kNone)
    return errorReply(ERROR_NOTIMP);
  if (!permits(request.user, shape_.writePolicy))
    return errorReply(ERROR_NOTALLOWED);
  if (options_.failCommits)
    return errorReply(ERROR_FAILED, "the router refused the change (--fail-commits)");
  nv::message changed = object_;
  mergeMembers(m, changed);
  if (changed.encodedSizeBound() > MenuStore::kMaxObjectBytes)
    return errorReply(ERROR_TOOBIG, "the object is too big");
  if (EditResult refused = checkMembers(shape_.rules, changed); !refused.ok())
    return errorReply(refused.error, refused.text);
  object_ = std::move(changed);
  return nv::message();
}

} // namespace kestel::sim
