// A holder keeps one router object (a settings page) in step with the router: refresh() reads
// it (CMD_GET), commit() writes it (CMD_SET), and an optional refresh interval reads it again
// after every answer. Replies are unpacked into the held object and announced to listeners. A
// holder is found by its handler path (getObjectHolder) unless made with kDoNotRegister.
#pragma once

#include "api/container/ContainerBase.h"
#include "api/object/Object.h"
#include "util/Base.h"

#include <cstdint>
#include <string>

namespace kestel {

class ObjectHolder;

// STD_FILTER of the holder's requests before its refresh filter is added.
inline constexpr uint32_t kHolderDefaultFilter = 5;

class IHolderListener : public IBase {
public:
  // The held object was read or written, or the status text changed.
  virtual void holderChanged(ObjectHolder& holder) = 0;
};

enum class HolderRegistration { Register, DoNotRegister };

class ObjectHolder final : public IBase, public ContainerBase, public IObjectOwner {
public:
  ObjectHolder(IObject* object, Path path);
  ~ObjectHolder() override;

  // The read and write commands; kNoId for one that does not exist. Defaults: CMD_GET, CMD_SET.
  void setCommands(uint32_t get, uint32_t set);
  // Reads the object again `intervalMs` after every answer to a read (0: never), with
  // `filter` ORed into STD_FILTER. Takes effect with the next read.
  void setRefresh(uint32_t intervalMs, uint32_t filter);

  // Reads the object; a read in flight is replaced. A refused read empties nothing: the object
  // keeps its values and the status text says "ERROR: " and the router's description.
  void refresh();
  // Writes the object. Without a write command `completion` is told of success at once; a
  // refused write shows "Couldn't change " and the object's name with the router's error, reads
  // the object again and tells `completion` of failure; no connection is a failure too.
  void commit(IChangeListener* completion = nullptr);

  IObject* object() const { return object_.get(); }
  // Empty while healthy; the text of the last failed read otherwise.
  const std::string& statusText() const { return status_; }
  bool reading() const { return bool(read_); }
  uint32_t refreshInterval() const { return intervalMs_; }

  void addListener(IHolderListener* listener) { listeners_.add(listener); }
  void removeListener(IHolderListener* listener) { listeners_.remove(listener); }

  // IObjectOwner: the type text of the held object's descriptor type (empty without one).
  std::string getType() const override;

private:
  class RefreshTimer;

  void onRead(const nv::message& reply);
  void onWritten(const nv::message& reply, IChangeListener* completion);
  void announce();
  void stopTimer();

  Reference<IObject> object_;
  CommandEntry get_, set_;
  uint32_t intervalMs_ = 0, filter_ = 0;
  std::string status_;
  Reference<PendingReply> read_;
  Reference<RefreshTimer> timer_;
  bool timerArmed_ = false;
  bool registered_ = false;
  ListenerList<IHolderListener> listeners_;

  friend Reference<ObjectHolder> createObjectHolder(IObject*, const Path&, HolderRegistration);
};

// A holder for `object` at `path` (ending at the first 0xFFFFFFFF), registered for that path
// unless asked not to; it takes the place of a holder registered there before.
Reference<ObjectHolder> createObjectHolder(IObject* object, const Path& path,
                                           HolderRegistration registration);
// The holder registered for the path; null when none (a holder is registered while it lives).
ObjectHolder* getObjectHolder(const Path& path);

} // namespace kestel
