#include "app/LocalSubscribers.h"

#include "api/container/ObjectMap.h"
#include "api/wire/Vocabulary.h"

#include <algorithm>

namespace kestel {

bool LocalSubscribers::handle(IHandler* handler, const nv::message& request,
                              const Current& current) {
  uint32_t command = request.get(SYS_CMD);
  if (command == CMD_NOTIFY_CREDIT)
    return true;
  if (command != CMD_SUBSCRIBE && command != CMD_UNSUBSCRIBE)
    return false;
  Path from = request.get(SYS_FROM);
  std::erase(subscribers_, from); // one subscription per return path
  if (command == CMD_UNSUBSCRIBE)
    return true;
  std::vector<nv::message> objects = current();
  nv::message reply;
  reply.set(nv::u32_id(STD_OBJ_COUNT), uint32_t(objects.size()));
  handler->reply(request, std::move(reply));
  if (from.empty() || from.front() == kNoId)
    return true; // nowhere to send notifications
  subscribers_.push_back(from);
  if (request.get(KEY_SUBSCRIBE_CURRENT) && !objects.empty()) {
    nv::message n;
    n.set(SYS_CMD, CMD_NOTIFY);
    n.set(nv::u32_id(STD_OBJ_COUNT), uint32_t(objects.size()));
    n.set(STD_OBJS, objects);
    handler->send(from, std::move(n));
  }
  return true;
}

void LocalSubscribers::notify(IHandler* handler, const std::vector<nv::message>& objects,
                              uint32_t count) const {
  for (const Path& to : subscribers_) {
    nv::message n;
    n.set(SYS_CMD, CMD_NOTIFY);
    n.set(nv::u32_id(STD_OBJ_COUNT), count);
    if (!objects.empty())
      n.set(STD_OBJS, objects);
    handler->send(to, std::move(n));
  }
}

nv::message deathNotice(uint32_t id) {
  nv::message m;
  m.set(STD_ID, id);
  m.set(nv::bool_id(STD_DEAD), true);
  return m;
}

} // namespace kestel
