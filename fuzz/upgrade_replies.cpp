// The upgrade web server's replies as the upgrade handler takes them: the input is cut into the
// LATEST.3 reply and the CHANGELOG reply (at the first 0xFF byte), each delivered in blocks of a
// size the first byte picks, with or without an announced length; "Upgrade" is pressed before
// or after. Whatever arrives, the handler must end in a status text and never download
// anything the running version is not older than.
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/wire/Vocabulary.h"
#include "app/UpgradeHandler.h"
#include "miw/Version.h"
#include "util/Assert.h"

#include <cstddef>
#include <cstdint>

namespace {

using namespace kestel;

class FuzzWeb final : public WebClient {
public:
  struct Request final : WebRequest {
    explicit Request(FuzzWeb& web) : web(web) {}
    ~Request() override {
      if (web.current == this)
        web.current = nullptr;
    }
    FuzzWeb& web;
  };
  std::unique_ptr<WebRequest> get(const std::string& url, WebListener& l) override {
    urls.push_back(url);
    listener = &l;
    auto r = std::make_unique<Request>(*this);
    current = r.get();
    return r;
  }
  // Plays `body` to the pending request.
  void play(ByteSpan body, size_t block, bool announce) {
    Request* r = current;
    if (!r)
      return;
    if (announce)
      listener->webLength(body.size());
    for (size_t at = 0; at < body.size() && current == r; at += block)
      if (!listener->webData(body.subspan(at, std::min(block, body.size() - at))))
        return;
    if (current != r)
      return;
    current = nullptr;
    listener->webDone();
  }
  Request* current = nullptr;
  WebListener* listener = nullptr;
  std::vector<std::string> urls;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  uint8_t mode = data[0];
  ByteSpan rest(data + 1, size - 1);
  size_t cut = 0;
  while (cut < rest.size() && rest[cut] != 0xFF)
    ++cut;
  ByteSpan latest = rest.first(cut);
  ByteSpan changeLog = cut < rest.size() ? rest.subspan(cut + 1) : ByteSpan();

  PollReactor reactor(PollReactor::Clock::Manual);
  ReactorScope scope(reactor);
  resetLooper();
  FuzzWeb web;
  UpgradeSetup setup;
  setup.web = &web;
  setup.server = [] { return std::string("127.0.0.1:8080"); };
  setup.program = "/nonexistent/kestel"; // a download could not be written: nothing is
  setup.runningVersion = "3.43";
  {
    UpgradeHandler handler(std::move(setup));
    Reference<IHandler> client = createHandler(nullptr);
    client->request(CMD_SUBSCRIBE, Path{0, kUpgradeHandlerId}, {});
    if (mode & 0x80)
      client->request(kCommandUpgrade, Path{0, kUpgradeHandlerId}, {});
    size_t block = 1 + (mode & 0x3F) * 37;
    web.play(latest, block, mode & 0x40);
    web.play(changeLog, block, !(mode & 0x40));
    if (!(mode & 0x80))
      client->request(kCommandUpgrade, Path{0, kUpgradeHandlerId}, {});
    std::optional<std::string> version = latestVersionText(latest);
    bool newer = version && parseVersion(*version) > parseVersion("3.43");
    KESTEL_ASSERT(handler.object().get(upgrade_key::kNewer) == (newer && web.urls.size() >= 2),
                  "fuzz/upgrade");
    KESTEL_ASSERT(!handler.object().get(upgrade_key::kStatus).empty(), "fuzz/upgrade");
    KESTEL_ASSERT(web.urls.size() <= 2, "fuzz/upgrade"); // no download started
    client->detach();
  }
  resetLooper();
  return 0;
}
