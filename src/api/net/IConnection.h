// The byte transport to a router, shared by the TCP and the MAC-layer connection: channels
// multiplexed over one stream, listeners told when the connection comes up and when it closes
// (exactly once, with a reason text), and a hand-over of an open connection to another part of
// the program or another process. All calls belong on the reactor's thread.
#pragma once

#include "util/Base.h"
#include "util/Event.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace nv {
class message;
}

namespace kestel {

// Gets the payload of each chunk of its channel: the channel byte as it stood in the chunk
// (0xFF for continuation chunks), then the payload, valid only during the call.
class IChannelReceiver {
public:
  virtual ~IChannelReceiver() = default;
  virtual void receive(uint8_t channelByte, const uint8_t* data, size_t length) = 0;
};

// The event connection listeners get (cast(kConnectionEventInterface) on the event).
class IConnectionEvent : public Event {
public:
  enum State { Closed = 0, Up = 1 };
  virtual State state() const = 0;
  virtual const std::string& reason() const = 0; // empty for "up" and for a normal close
};

Reference<Event> createConnectionEvent(IConnectionEvent::State state, std::string reason);

enum class CloseMode { Now, AfterFlush };

class IConnection : public IBase {
public:
  virtual const std::string& address() const = 0;
  virtual uint32_t port() const = 0;

  // Starts resolving and connecting; port 0 keeps the previous port (8291 by default). Ignored
  // while an attempt is under way or the connection is up; a closed connection may start again.
  virtual void connect(const std::string& address, uint32_t port) = 0;
  // AfterFlush with output pending: closes once it is sent. Otherwise closes at once, dropping
  // queued output, and tells the listeners "closed" with `reason` (empty for a normal close).
  // Closing a closed connection does nothing.
  virtual void close(CloseMode mode, const std::string& reason = {}) = 0;

  // Message for adopt(): key 1 address, 2 port, 3 socket descriptor (u64), 4 false (not MAC),
  // and what the stream holds in this process that the adopter must carry on with: raw 5 the
  // bytes queued but not yet sent, raw 6 a partial chunk received, u32 7 the channel the last
  // chunk named.
  virtual nv::message describe() const = 0;

  // The first receiver registered for a channel gets its chunks; chunks of a channel nobody
  // receives are skipped, and so are chunks on one login channel (5, 6) once the other has
  // delivered data. The caller keeps the receiver alive until it removes it.
  virtual void addReceiver(uint8_t channel, IChannelReceiver* receiver) = 0;
  virtual void removeReceiver(uint8_t channel, IChannelReceiver* receiver) = 0;

  // Queues `length` bytes as chunks on `channel`; ignored once the connection is closing or closed.
  virtual void send(uint8_t channel, const uint8_t* data, size_t length) = 0;

  // Listeners are held by counted reference until removed; each gets the connection events.
  virtual void addListener(EventListener* listener) = 0;
  virtual void removeListener(EventListener* listener) = 0;

  // ("rfile", descriptor) and ("rport", port) in decimal for another process. With `release`
  // the connection stops watching the socket and leaves it open for the process that adopts
  // it; the object is then inert. The descriptor stays close-on-exec: whoever starts the
  // adopting process passes it to that one child, and closes this process's copy afterwards.
  virtual std::vector<std::pair<std::string, std::string>> textDescription(bool release) = 0;

  // Takes over an open connection described by describe() and marks it up; false (nothing
  // changed) when the message names no usable socket, carries more stream state than a
  // connection can hold, or this object is already in use.
  [[nodiscard]] virtual bool adopt(const nv::message& description) = 0;

  virtual bool isUp() const = 0;
  virtual bool isClosed() const = 0;
};

} // namespace kestel
