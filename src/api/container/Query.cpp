#include "api/container/Query.h"

#include "api/object/Packer.h"
#include "api/wire/Vocabulary.h"

#include <vector>

namespace kestel {

namespace {

// Adds the keys of the packed query request to every request of the results map. Keys the
// map's request already has (an object's STD_ID, the filter) keep the map's values.
class RequestKeys final : public IRequestExtender {
public:
  explicit RequestKeys(nv::message keys) : keys_(std::move(keys)) {}
  void extend(nv::message& request) const override {
    std::vector<uint8_t> own;
    if (!request.flatten(own))
      return; // too large to merge; logged by flatten
    nv::message merged = keys_;
    if (!merged.parse(own))
      return;
    request = std::move(merged);
  }

private:
  nv::message keys_;
};

} // namespace

ObjectQuery::ObjectQuery(IObject* request, IObjectFactory* rowFactory, IObject* status, Path path,
                         const QueryResultsOptions& results, uint32_t extra)
    : ContainerBase(path), request_(request), status_(status), extra_(extra) {
  ObjectMapOptions options;
  options.ordered = results.ordered;
  options.fetchAllCommand = results.fetchAllCommand;
  options.type = results.type;
  options.noDefaults = true;
  results_ = makeRef<ObjectMap>(Reference<IObjectFactory>(rowFactory), std::move(path),
                                std::move(options));
}

void ObjectQuery::setCommands(uint32_t start, uint32_t stop) {
  start_ = CommandEntry{start, true, true};
  stop_ = CommandEntry{stop, true, true};
}

void ObjectQuery::setRefresh(uint32_t intervalMs, uint32_t policy) {
  intervalMs_ = intervalMs;
  policy_ = policy;
}

void ObjectQuery::start() {
  Reference<ObjectQuery> keep(this);
  stop();
  ++run_;
  nv::message msg;
  if (request_ && request_->getPacker())
    request_->getPacker()->pack(msg, request_.get());
  queryId_ = msg.get(STD_ID, kNoId);
  if (start_.exists()) {
    uint64_t run = run_;
    if (!request(start_.command, std::move(msg),
                 [this, run](const nv::message& reply) { onStartReply(run, reply); }))
      return; // no router connection
  } else {
    results_->setRequestExtender(makeRef<RequestKeys>(std::move(msg)).get());
    results_->setRefresh(intervalMs_, policy_);
    if (intervalMs_ == 0)
      results_->refresh();
  }
  setRunning(true);
}

void ObjectQuery::onStartReply(uint64_t run, const nv::message& reply) {
  Reference<ObjectQuery> keep(this);
  bool failed = isError(reply);
  if (run != run_) {
    // Stopped (or started again) before the router answered: a query it did start is ended.
    if (!failed && reply.has(STD_ID))
      sendStop(reply.get(STD_ID));
    return;
  }
  if (failed) {
    setRunning(false);
    showError("Couldn't start", reply);
    return;
  }
  queryId_ = reply.get(STD_ID, queryId_);
  results_->setKey(STD_ID.key, queryId_);
  results_->setRefresh(intervalMs_, policy_);
}

void ObjectQuery::stop() {
  if (!running_)
    return;
  Reference<ObjectQuery> keep(this);
  ++run_;
  setRunning(false);
  if (queryId_ != kNoId)
    sendStop(queryId_);
  queryId_ = kNoId;
  results_->setRefresh(0, 0);
}

void ObjectQuery::sendStop(uint32_t id) {
  if (!stop_.exists())
    return;
  nv::message msg;
  msg.set(STD_ID, id);
  send(stop_.command, std::move(msg));
}

void ObjectQuery::setRunning(bool running) {
  if (running_ == running)
    return;
  running_ = running;
  listeners_.dispatch(nullptr, [&](IQueryListener& l) { l.runStateChanged(*this, running); });
}

Reference<ObjectQuery> createObjectQuery(IObject* request, IObjectFactory* rowFactory,
                                         IObject* status, const Path& path, bool ordered,
                                         uint32_t extra) {
  QueryResultsOptions results;
  results.ordered = ordered;
  return makeRef<ObjectQuery>(request, rowFactory, status, path, results, extra);
}

} // namespace kestel
