#include "sim/ItemHandler.h"

namespace kestel::sim {

ItemHandler::ItemHandler(ItemSpec spec, nv::message object, const MenuOptions& options,
                         std::function<void(nv::message&)> live)
    : spec_(std::move(spec)), object_(std::move(object)), options_(options),
      live_(std::move(live)) {}

nv::message ItemHandler::current() {
  if (live_)
    live_(object_);
  return object_;
}

std::optional<nv::message> ItemHandler::handle(const RouterRequest& request) {
  const nv::message& m = request.message;
  uint32_t command = m.get(SYS_CMD);
  auto lookup = spec_.lookups.find(command);
  bool read = command == spec_.getCommand || command == CMD_GETALL || lookup != spec_.lookups.end();
  if (read && !permits(request.user, spec_.readPolicy))
    return errorReply(ERROR_NOTALLOWED);
  if (command == spec_.getCommand)
    return current();
  if (lookup != spec_.lookups.end())
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
  if (command != spec_.setCommand || spec_.setCommand == MenuStore::kNone)
    return errorReply(ERROR_NOTIMP);
  if (!permits(request.user, spec_.writePolicy))
    return errorReply(ERROR_NOTALLOWED);
  if (options_.failCommits)
    return errorReply(ERROR_FAILED, "the router refused the change (--fail-commits)");
  nv::message changed = object_;
  mergeMembers(m, changed);
  if (changed.encodedSizeBound() > MenuStore::kMaxObjectBytes)
    return errorReply(ERROR_TOOBIG, "the object is too big");
  if (EditResult refused = checkMembers(spec_.rules, changed); !refused.ok())
    return errorReply(refused.error, refused.text);
  object_ = std::move(changed);
  return nv::message();
}

} // namespace kestel::sim
