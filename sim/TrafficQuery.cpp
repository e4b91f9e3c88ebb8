#include "sim/TrafficQuery.h"

#include "sim/SampleAddresses.h"

#include <bit>

namespace kestel::sim {

namespace {

MenuShape flowShape(std::vector<uint32_t> path) {
  MenuShape shape;
  shape.title = "Traffic";
  shape.path = std::move(path);
  shape.readOnly = true;
  shape.addable = false;
  return shape;
}

} // namespace

TrafficQuery::TrafficQuery(Reactor& reactor, std::vector<uint32_t> path, const MenuOptions& options)
    : reactor_(reactor), path_(std::move(path)), options_(options), noFlows_(flowShape(path_)),
      policies_(reactor, noFlows_, options) {}

TrafficQuery::~TrafficQuery() {
  for (auto& [id, run] : runs_)
    reactor_.removeTimer(run.timer);
}

std::optional<nv::message> TrafficQuery::handle(const RouterRequest& request) {
  const nv::message& m = request.message;
  uint32_t command = m.get(SYS_CMD);
  if (command == CMD_START)
    return start(request);
  uint32_t id = m.get(STD_ID, 0xFFFFFFFF);
  auto it = runs_.find(id);
  if (command == CMD_CANCEL) {
    if (it == runs_.end())
      return m.get(SYS_REPLYEXP) ? std::optional(errorReply(ERROR_UNKNOWNID)) : std::nullopt;
    stop(id);
    return m.get(SYS_REPLYEXP) ? std::optional(nv::message()) : std::nullopt;
  }
  if (it == runs_.end() && command == CMD_GETPOLICIES)
    return policies_.handle(request); // the results map asks before it names a run
  if (it == runs_.end())
    return m.get(SYS_REPLYEXP) ? std::optional(errorReply(ERROR_UNKNOWNID)) : std::nullopt;
  switch (command) {
  case CMD_GETALL:
  case CMD_SUBSCRIBE:
  case CMD_UNSUBSCRIBE:
  case CMD_GETPOLICIES:
  case kCreditCommand:
    return it->second.handler->handle(request);
  default:
    return errorReply(ERROR_NOTIMP);
  }
}

nv::message TrafficQuery::start(const RouterRequest& request) {
  std::erase_if(runs_, [this](auto& entry) {
    bool gone = entry.second.peer.expired();
    if (gone)
      reactor_.removeTimer(entry.second.timer);
    return gone;
  });
  if (runs_.size() >= kMaxRuns)
    return errorReply(ERROR_BUSY, "too many traffic queries running");
  const nv::message& m = request.message;
  // The filter is a network as the descriptor's "network" field sends it: the mask is held like
  // the address, and only a contiguous one names a prefix.
  const uint32_t bits = sample::toNetworkOrder(m.get(kFilterMask));
  const uint32_t mask = static_cast<uint32_t>(std::popcount(bits));
  if (bits != 0 && std::countl_one(bits) != static_cast<int>(mask))
    return errorReply(ERROR_FAILED, "the filter's mask must be contiguous");
  uint32_t id = nextId_++;
  Run& run = runs_[id];
  run.peer = request.peer;
  run.filter = m.get(kFilter);
  run.mask = mask;
  run.flows = std::make_unique<MenuStore>(flowShape(path_));
  run.handler = std::make_unique<MenuHandler>(reactor_, *run.flows, options_);
  for (int i = 0; i < 3; ++i)
    tick(id);
  run.timer = reactor_.addTimer(
      kTickMs, [this, id] { tick(id); }, true);
  nv::message reply;
  reply.set(STD_ID, id);
  return reply;
}

void TrafficQuery::stop(uint32_t id) {
  auto it = runs_.find(id);
  if (it == runs_.end())
    return;
  reactor_.removeTimer(it->second.timer);
  runs_.erase(it);
}

uint32_t TrafficQuery::sourceFor(const Run& run) {
  if (run.filter == 0 || run.mask == 0)
    return sample::documentationHost(random_());
  // Keep the filter's first `mask` bits (in network order) and draw the rest.
  uint32_t host = sample::toNetworkOrder(run.filter);
  uint32_t keep = run.mask >= 32 ? 0xFFFFFFFF : ~(0xFFFFFFFFu >> run.mask);
  return sample::fromNetworkOrder((host & keep) | (random_() & ~keep));
}

// One second of traffic: every flow's rates move, one new flow appears, the oldest goes.
void TrafficQuery::tick(uint32_t id) {
  auto it = runs_.find(id);
  if (it == runs_.end())
    return;
  Run& run = it->second;
  if (run.peer.expired()) {
    stop(id);
    return;
  }
  MenuStore& flows = *run.flows;
  for (size_t i = 0; i < flows.size(); ++i) {
    nv::message rates;
    rates.set(kTx, random_() % 100000000);
    rates.set(kRx, random_() % 100000000);
    flows.change(flows.idAt(i), rates);
  }
  nv::message flow;
  flow.set(kSource, sourceFor(run));
  flow.set(kDestination, sample::benchmarkHost(random_()));
  flow.set(kTx, random_() % 100000000);
  flow.set(kRx, random_() % 100000000);
  flows.add(flow);
  if (flows.size() > kMaxFlows)
    flows.remove(flows.idAt(0));
}

} // namespace kestel::sim
