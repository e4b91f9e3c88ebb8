// A doit command: one command sent with the members of its object, answered with success or
// failure. Several may be in flight at once; each reply answers the completion listener of the
// request it belongs to. A refused command is shown with the command's own error text, or
// "Couldn't perform action", and the router's error.
#pragma once

#include "api/container/ContainerBase.h"
#include "api/object/Object.h"
#include "util/Base.h"

#include <cstdint>
#include <string>

namespace kestel {

inline constexpr const char* kDoitFailedText = "Couldn't perform action";

class ObjectDoit final : public IBase, public ContainerBase {
public:
  ObjectDoit(IObject* object, uint32_t command, Path path);

  // The text shown before the router's error when the command is refused; empty: the default.
  void setErrorText(std::string text) { errorText_ = std::move(text); }

  // Packs the object and sends the command. `completion` learns the outcome once: failure when
  // the router refuses, when the doit has no command, or when there is no router connection.
  void send(IChangeListener* completion = nullptr);

  IObject* object() const { return object_.get(); }
  uint32_t command() const { return command_.command; }
  // Commands sent and not yet answered.
  size_t waiting() const { return pendingCount(); }

private:
  void onReply(const nv::message& reply, IChangeListener* completion);

  Reference<IObject> object_;
  CommandEntry command_;
  std::string errorText_;
};

// A doit sending `command` (kNoId: none) with `object` to `path` (ending at the first
// 0xFFFFFFFF).
Reference<ObjectDoit> createObjectDoit(IObject* object, uint32_t command, const Path& path);

} // namespace kestel
