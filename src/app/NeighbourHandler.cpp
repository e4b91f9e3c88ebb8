#include "app/NeighbourHandler.h"

#include "api/wire/Vocabulary.h"

namespace kestel {

NeighbourHandler::NeighbourHandler(NeighbourTable& table, std::function<void()> refresh)
    : table_(table), refresh_(std::move(refresh)),
      handler_(createHandler(this, kDiscoveryHandlerId)) {
  table_.addListener(this);
}

NeighbourHandler::~NeighbourHandler() {
  table_.removeListener(this);
  handler_->detach();
}

void NeighbourHandler::onRequest(IHandler* handler, const nv::message& request) {
  if (subscribers_.handle(handler, request, [this] { return records(); }))
    return;
  switch (request.get(SYS_CMD)) {
  case CMD_GETALL: {
    std::vector<nv::message> all = records();
    nv::message reply;
    reply.set(nv::u32_id(STD_OBJ_COUNT), uint32_t(all.size()));
    reply.set(STD_OBJS, std::move(all));
    handler->reply(request, std::move(reply));
    return;
  }
  case kRefreshNeighbours:
    if (refresh_) {
      refresh_();
      handler->reply(request, {});
      return;
    }
    break;
  default:
    break;
  }
  handler->replyError(request, ERROR_NOTIMP, {});
}

void NeighbourHandler::neighbourAdded(const Neighbour& neighbour) {
  subscribers_.notify(handler_.get(), {neighbourRecord(neighbour)}, uint32_t(table_.list().size()));
}

void NeighbourHandler::neighbourChanged(const Neighbour& neighbour) { neighbourAdded(neighbour); }

std::vector<nv::message> NeighbourHandler::records() const {
  std::vector<nv::message> out;
  out.reserve(table_.list().size());
  for (const Neighbour& n : table_.list())
    out.push_back(neighbourRecord(n));
  return out;
}

} // namespace kestel
