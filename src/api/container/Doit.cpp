#include "api/container/Doit.h"

#include "api/object/Packer.h"
#include "api/wire/Vocabulary.h"
#include "util/Log.h"

namespace kestel {

ObjectDoit::ObjectDoit(IObject* object, uint32_t command, Path path)
    : ContainerBase(std::move(path)), object_(object), command_{command, true, true} {}

void ObjectDoit::send(IChangeListener* completion) {
  Reference<IChangeListener> done(completion);
  if (!command_.exists()) {
    logLine("WARNING: a command without command number was not sent");
    tellChange(done.get(), object_.get(), ChangeResult::Failed);
    return;
  }
  nv::message msg;
  if (object_ && object_->getPacker())
    object_->getPacker()->pack(msg, object_.get());
  // Replies are matched by request id, so a router that answers out of order still answers
  // the right caller.
  auto pending = request(command_.command, std::move(msg),
                         [this, done](const nv::message& reply) { onReply(reply, done.get()); });
  if (!pending)
    tellChange(done.get(), object_.get(), ChangeResult::Failed);
}

void ObjectDoit::onReply(const nv::message& reply, IChangeListener* completion) {
  Reference<ObjectDoit> keep(this);
  if (isError(reply)) {
    showError(errorText_.empty() ? kDoitFailedText : errorText_, reply);
    tellChange(completion, object_.get(), ChangeResult::Failed);
    return;
  }
  tellChange(completion, object_.get(), ChangeResult::Succeeded);
}

Reference<ObjectDoit> createObjectDoit(IObject* object, uint32_t command, const Path& path) {
  return makeRef<ObjectDoit>(object, command, path);
}

} // namespace kestel
