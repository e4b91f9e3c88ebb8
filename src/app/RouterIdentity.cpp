#include "app/RouterIdentity.h"

#include "api/net/Events.h"
#include "api/wire/Vocabulary.h"
#include "app/ReplyCall.h"

#include <utility>

namespace kestel {

RouterIdentity::RouterIdentity(SessionTitle title, std::function<void(const SessionTitle&)> changed)
    : title_(std::move(title)), changed_(std::move(changed)) {}

RouterIdentity::~RouterIdentity() = default;

void RouterIdentity::start() {
  ask(kIdentityPath, [this](const nv::message& m) { title_.identity = m.get(nv::string_id(1)); });
  ask(kResourcesPath, [this](const nv::message& m) {
    title_.version = m.get(nv::string_id(2));
    title_.architecture = m.get(nv::string_id(6));
    title_.board = m.get(nv::string_id(7));
  });
}

void RouterIdentity::ask(const Path& path, std::function<void(const nv::message&)> read) {
  ++waiting_;
  auto answer = makeRef<ReplyCall>(alive_, [this, read = std::move(read)](const nv::message& m) {
    --waiting_;
    if (!isError(m))
      read(m);
    if (changed_)
      changed_(title_);
  });
  getGlobalHandler()->request(CMD_GET, path, nv::message(), answer.get(), kTimeoutMs);
}

} // namespace kestel
