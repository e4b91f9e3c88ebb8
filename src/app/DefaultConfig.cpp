#include "app/DefaultConfig.h"

#include "api/wire/Vocabulary.h"
#include "app/ReplyCall.h"

namespace kestel {

DefaultConfig::DefaultConfig() = default;
DefaultConfig::~DefaultConfig() = default;

void DefaultConfig::ask(std::function<void(const DefaultConfigNote&)> offered) {
  auto reply = makeRef<ReplyCall>(alive_, [offered = std::move(offered)](const nv::message& m) {
    if (isError(m))
      return;
    DefaultConfigNote note{m.get(kNote), m.get(kScript)};
    if (!note.note.empty() && offered)
      offered(note);
  });
  getGlobalHandler()->request(CMD_GET, kPath, nv::message(), reply.get(), kTimeoutMs);
}

void DefaultConfig::remove(std::function<void(bool)> done) {
  auto reply = makeRef<ReplyCall>(alive_, [done = std::move(done)](const nv::message& m) {
    bool failed = isError(m);
    if (failed)
      showError(kRemoveConfigFailedText, m);
    if (done)
      done(!failed);
  });
  getGlobalHandler()->request(status::kRemoveCommand, kPath, nv::message(), reply.get(),
                              kTimeoutMs);
}

} // namespace kestel
