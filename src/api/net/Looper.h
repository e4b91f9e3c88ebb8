// The looper and its handlers: every message of the client passes through here. Handlers have a
// small numeric id (their slot in the looper's table), send requests addressed by a path of handler
// ids, match replies to their requests by request id (with an optional time-out that synthesizes an
// ERROR_TIMEOUT reply), and receive notifications. Messages for the router go to the session layer
// (ISession), which encodes and sends them; the session hands decoded incoming messages back with
// ILooper::deliver. Single-threaded: everything runs on the reactor's thread.
#pragma once

#include "api/net/IConnection.h"
#include "api/wire/Message.h"
#include "util/Base.h"
#include "util/Event.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestel {

inline constexpr uint32_t kNoId = 0xFFFFFFFF;
inline constexpr unsigned int kLooperInterface = 1002;
// Fixed handler ids above this are refused: the table grows to id + 1.
inline constexpr uint32_t kMaxHandlerId = 0xFFFF;

// A destination path: handler ids, first the next hop. A 0xFFFFFFFF element ends it early.
using Path = std::vector<uint32_t>;

class ILooper;
class IHandler;

// The session layer of the router connection (secure or legacy login). It takes messages the
// looper addressed to the router, and gives decoded incoming ones to ILooper::deliver.
class ISession : public IBase {
public:
  // Encodes and sends `message`, or queues it until the login has finished.
  virtual void post(const nv::message& message) = 0;
  // The overlay (Hoplink) agent the router is reached through; kNoId for a direct connection.
  virtual uint32_t agentId() const = 0;
};

// Makes the session object for a looper (createProxy: the secure session by default).
using SessionFactory = std::function<Reference<ISession>(ILooper*)>;

// Receives what a handler does not match itself.
class IHandlerHooks {
public:
  virtual ~IHandlerHooks() = default;
  // Every message that is not a reply: requests, commands and notifications.
  virtual void onRequest(IHandler* handler, const nv::message& message) = 0;
  // A reply whose request id matches no pending request (late, cancelled or never asked).
  virtual void onUnmatchedReply(IHandler* handler, const nv::message& reply,
                                uint32_t requestId) = 0;
};

class ILooper : public IBase {
public:
  // The session object; made with the session factory on first call (null without a factory).
  virtual ISession* session() = 0;
  // Replaces the session object (the connect flow installs the legacy session this way).
  virtual void setSession(ISession* session) = 0;
  // Puts the handler in the table (see Handler); called by the handler itself.
  virtual void registerHandler(IHandler* handler) = 0;
  // Empties the handler's slot, resets its id and drops empty slots at the end of the table.
  virtual void unregisterHandler(IHandler* handler) = 0;
  // Sends a message from a local handler: to 0 routes locally by SYS_TO, any other value goes to
  // that router handler through the session layer.
  virtual void post(uint32_t to, nv::message message) = 0;
  // Takes a message the session layer decoded and routes it by SYS_TO; unroutable messages are
  // logged and dropped.
  virtual void deliver(const nv::message& message) = 0;

  // Inspection and set-up beyond the original operations.
  virtual size_t tableSize() const = 0;
  virtual IHandler* handlerAt(uint32_t id) const = 0;
  // Hooks of the global handler (the application's own); null drops what it receives.
  virtual void setHooks(IHandlerHooks* hooks) = 0;
  virtual void setSessionFactory(SessionFactory factory) = 0;
};

class IHandler : public IBase {
public:
  // Unregisters and drops the notification listener.
  virtual void detach() = 0;
  virtual uint32_t id() const = 0;
  virtual void setId(uint32_t id) = 0;
  virtual void registerSelf() = 0;
  virtual void unregisterSelf() = 0;

  // False (nothing sent) when a notification listener is already set; otherwise sets it and sends
  // CMD_SUBSCRIBE with `message` to `path` as a request.
  virtual bool subscribe(EventListener* listener, const Path& path, nv::message message = {}) = 0;
  // Only for the current listener: sends CMD_UNSUBSCRIBE to the subscribed path and clears it.
  virtual void unsubscribe(EventListener* listener) = 0;
  virtual bool isSubscribed() const = 0;

  // Prepends the handler's id to SYS_FROM and posts; for the router (to != 0) nothing is sent
  // while there is no router connection.
  virtual void send(uint32_t to, nv::message message) = 0;
  // SYS_TO becomes path[1..], sent to path[0]; an empty path sends nothing.
  virtual void send(const Path& path, nv::message message) = 0;
  virtual void send(uint32_t command, uint32_t to, nv::message message) = 0;
  virtual void send(uint32_t command, const Path& path, nv::message message) = 0;

  // Marks the message as expecting a reply with the next request id (from 1), sends it, and
  // returns the id.
  virtual uint32_t request(uint32_t to, nv::message message) = 0;
  virtual uint32_t request(const Path& path, nv::message message) = 0;
  virtual uint32_t request(uint32_t command, uint32_t to, nv::message message) = 0;
  virtual uint32_t request(uint32_t command, const Path& path, nv::message message) = 0;

  // Answers `request` along its return path; sends nothing for a reply, for a request that
  // expects none, or when the return path starts with 0xFFFFFFFF.
  virtual void reply(const nv::message& request, nv::message reply) = 0;
  // A reply with SYS_STATUS 2, SYS_ERRNO `code` and, when not empty, SYS_ERRSTR `text`.
  virtual void replyError(const nv::message& request, uint32_t code, const std::string& text) = 0;

  // request, then the reply (or, after `timeoutMs` when not 0, a synthesized ERROR_TIMEOUT reply)
  // goes to `listener` as a message event, exactly once.
  virtual uint32_t request(uint32_t to, nv::message message, EventListener* listener,
                           uint32_t timeoutMs) = 0;
  virtual uint32_t request(const Path& path, nv::message message, EventListener* listener,
                           uint32_t timeoutMs) = 0;
  virtual uint32_t request(uint32_t command, uint32_t to, nv::message message,
                           EventListener* listener, uint32_t timeoutMs) = 0;
  virtual uint32_t request(uint32_t command, const Path& path, nv::message message,
                           EventListener* listener, uint32_t timeoutMs) = 0;

  // Forgets the first pending request (by request id) of this listener, telling no one.
  virtual void cancel(EventListener* listener) = 0;

  // A message the looper routed here.
  virtual void receive(const nv::message& message) = 0;

  // Requests still waiting for a reply; for tests and diagnostics.
  virtual size_t pendingCount() const = 0;
};

// The process-wide looper, made on first call.
ILooper* getLooper();
// The process-wide global handler (hooks: the looper's), made on first call.
IHandler* getGlobalHandler();
// Makes a handler and registers it: at slot `id`, or at the first free slot for kNoId.
Reference<IHandler> createHandler(IHandlerHooks* hooks, uint32_t id = kNoId);

// The current router connection, used to decide whether router messages can be sent at all and
// ended by the looper when the overlay agent drops us. Held by counted reference; null for none.
IConnection* routerConnection();
void setRouterConnection(IConnection* connection);

// Tests: releases the looper (its session and global handler) and the router connection, so the
// next getLooper() starts afresh. Handlers still alive keep the old looper until they go.
void resetLooper();

} // namespace kestel
