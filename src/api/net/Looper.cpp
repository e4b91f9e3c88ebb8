#include "api/net/Looper.h"

#include "api/net/Handler.h"
#include "api/wire/Vocabulary.h"
#include "util/Log.h"

#include <kestel/Version.h>

namespace kestel {

namespace {

// The looper is its own global handler's hooks; it forwards to the application's hooks.
class Looper final : public ILooper, private IHandlerHooks {
public:
  IBase* cast(unsigned int id) override { return id == kLooperInterface ? this : nullptr; }

  ISession* session() override {
    if (!session_ && factory_)
      session_ = factory_(this);
    return session_.get();
  }
  void setSession(ISession* session) override { session_ = session; }
  void registerHandler(IHandler* handler) override;
  void unregisterHandler(IHandler* handler) override;
  void post(uint32_t to, nv::message message) override;
  void deliver(const nv::message& message) override;

  size_t tableSize() const override { return table_.size(); }
  IHandler* handlerAt(uint32_t id) const override {
    return id < table_.size() ? table_[id] : nullptr;
  }
  void setHooks(IHandlerHooks* hooks) override { hooks_ = hooks; }
  void setSessionFactory(SessionFactory factory) override { factory_ = std::move(factory); }

  IHandler* globalHandler() {
    if (!global_)
      global_ = createHandler(this, kNoId);
    return global_.get();
  }
  // Breaks the cycle with the global handler and drops the session.
  void shutDown() {
    global_ = nullptr;
    session_ = nullptr;
  }

private:
  void onRequest(IHandler* handler, const nv::message& message) override {
    if (hooks_)
      hooks_->onRequest(handler, message);
  }
  void onUnmatchedReply(IHandler* handler, const nv::message& reply, uint32_t id) override {
    if (hooks_)
      hooks_->onUnmatchedReply(handler, reply, id);
  }
  void route(uint32_t to, const nv::message& message);

  std::vector<IHandler*> table_;
  Reference<IHandler> global_;
  Reference<ISession> session_;
  SessionFactory factory_;
  IHandlerHooks* hooks_ = nullptr;
};

// Raw pointers holding one count each: never destroyed at exit (handlers may still refer to
// them), yet reachable, so leak checkers stay quiet.
Looper* g_looper = nullptr;
IConnection* g_connection = nullptr;

template <typename T> void assignCounted(T*& slot, T* value) {
  if (value)
    value->addRef();
  if (slot)
    slot->release();
  slot = value;
}

std::vector<uint32_t> prepended(std::vector<uint32_t> path, uint32_t first) {
  path.insert(path.begin(), first);
  return path;
}

} // namespace

void Looper::registerHandler(IHandler* handler) {
  uint32_t id = handler->id();
  if (id == kNoId) {
    size_t slot = 0;
    while (slot < table_.size() && table_[slot])
      ++slot;
    if (slot == table_.size())
      table_.push_back(nullptr);
    table_[slot] = handler;
    handler->setId(static_cast<uint32_t>(slot));
    return;
  }
  if (id > kMaxHandlerId) {
    logf("ERROR: handler id too large id=", id);
    return;
  }
  if (table_.size() <= id)
    table_.resize(size_t(id) + 1, nullptr);
  if (!table_[id])
    table_[id] = handler; // an occupied slot stays with its handler
}

void Looper::unregisterHandler(IHandler* handler) {
  uint32_t id = handler->id();
  handler->setId(kNoId);
  if (id >= table_.size() || table_[id] != handler)
    return; // never got the slot: leave its owner alone
  table_[id] = nullptr;
  while (!table_.empty() && !table_.back())
    table_.pop_back();
}

void Looper::post(uint32_t to, nv::message message) {
  if (to != 0) {
    message.set(SYS_TO, prepended(message.get(SYS_TO), to));
    auto agents = message.get(SYS_AGENT);
    agents.emplace_back(kKestelAgent);
    message.set(SYS_AGENT, std::move(agents));
    message.set(SYS_FROM, prepended(message.get(SYS_FROM), 0));
    if (ISession* s = session())
      s->post(message);
    return;
  }
  message.set(SYS_FROM, prepended(message.get(SYS_FROM), 0));
  auto path = message.get(SYS_TO);
  if (path.empty())
    return;
  uint32_t first = path.front();
  path.erase(path.begin());
  message.set(SYS_TO, std::move(path));
  route(first, message);
}

void Looper::route(uint32_t to, const nv::message& message) {
  if (to < table_.size() && table_[to]) {
    Reference<IHandler> keep(table_[to]); // the handler may drop its last reference meanwhile
    keep->receive(message);
    return;
  }
  logf("ERROR: no where to route message to=", to, ", size=", table_.size());
  message.dump();
}

void Looper::deliver(const nv::message& message) {
  auto path = message.get(SYS_TO);
  if (!path.empty()) {
    if (path[0] != 0 || path.size() < 2) {
      logLine("WARNING: routing back message:");
      message.dump();
      return;
    }
    path.erase(path.begin());
    nv::message routed = message;
    routed.set(SYS_TO, path);
    route(path[0], routed);
    return;
  }
  if (message.get(SYS_CMD) != CMD_DISCONNECTED)
    return;
  ISession* s = session();
  uint32_t agent = s ? s->agentId() : kNoId;
  auto from = message.get(SYS_FROM);
  if (agent == kNoId || from.size() < 2 || from[0] != 2 || from[1] != agent)
    return;
  logLine("hoplink disconnected us");
  if (IConnection* connection = routerConnection())
    connection->close(CloseMode::Now, {});
}

ILooper* getLooper() {
  if (!g_looper)
    assignCounted(g_looper, new Looper());
  return g_looper;
}

IHandler* getGlobalHandler() {
  getLooper();
  return g_looper->globalHandler();
}

IConnection* routerConnection() { return g_connection; }

void setRouterConnection(IConnection* connection) { assignCounted(g_connection, connection); }

void resetLooper() {
  if (g_looper)
    g_looper->shutDown();
  assignCounted<Looper>(g_looper, nullptr);
  assignCounted<IConnection>(g_connection, nullptr);
}

} // namespace kestel
