// The GUI tests' router: the simulator's login and menus served in-process over loopback on the
// test's manual-clock reactor, the sample descriptors loaded into a model context of the test's
// own, and the looper's session logged in to it as "admin", so windows built from the sample
// menus talk to a real router side. Message boxes of the core are recorded.
#pragma once

#include "api/net/Connection.h"
#include "api/net/Looper.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/net/SecureSession.h"
#include "api/wire/Vocabulary.h"
#include "app/MenuCatalog.h"
#include "gen/CType.h"
#include "gen/DescriptorLoader.h"
#include "gen/ModelContext.h"
#include "gen/Service.h"
#include "miw/SlotConvertors.h"
#include "sim/MenuCatalogue.h"
#include "sim/RouterLogin.h"
#include "sim/SimServer.h"

#include <QCoreApplication>
#include <QEvent>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestel::test {

struct RecordedBoxes final : MessageBoxSink {
  void showMessageBox(const std::string&, const std::string& text) override {
    texts.push_back(text);
  }
  std::vector<std::string> texts;
};

class LiveRouter {
public:
  explicit LiveRouter(sim::CatalogueOptions options = {}) : server_(reactor) {
    resetLooper();
    installSlotConvertors();
    for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"})
      loaded_ =
          loaded_ && loadDescriptors(std::string(KESTEL_SOURCE_DIR) + "/sim/sample/" + name).ok();
    loaded_ = loaded_ && completeAllTypes().ok();
    login_.addUser("admin", "pw");
    login_.install(server_);
    catalogue = std::make_unique<sim::MenuCatalogue>(reactor, std::move(options));
    std::string error;
    loaded_ = loaded_ && catalogue->install(login_, error) && server_.listen(0).ok();
    connection_ = createConnection(reactor);
    setRouterConnection(connection_.get());
    getLooper()->setSessionFactory(createProxy);
    connection_->connect("127.0.0.1", server_.port());
    static_cast<SecureSession*>(getLooper()->session())->start("admin", "pw", nullptr);
  }
  ~LiveRouter() {
    setRouterConnection(nullptr);
    resetLooper();
  }

  // Whether the descriptors loaded and the router listens.
  bool ready() const { return loaded_; }

  // The container type of the sample menu `name`; null when there is none.
  CType* menu(const char* name) {
    auto found = findMenu(name);
    return found.ok() ? found->type : nullptr;
  }
  // The type of `kind` titled `title` whether or not the router offers its service (the
  // simulator's facts are not recorded here, so services with a predicate are not offered).
  CType* type(TypeKind kind, const std::string& title) {
    CType* found = nullptr;
    forEachType([&](CType& t, CService&) {
      if (!found && t.kind() == kind && t.title() == title)
        found = &t;
    });
    return found;
  }

  // Turns the reactor and Qt's queue until `done` holds; false after five seconds of real time,
  // which only happens when the code under test is broken.
  bool runUntil(const std::function<bool()>& done) {
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done() && std::chrono::steady_clock::now() < limit) {
      reactor.runOnce(10);
      QCoreApplication::processEvents();
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return done();
  }
  // Moves the router's and the client's clock on by `ms` and lets everything due happen.
  void advance(int64_t ms) {
    reactor.advance(ms);
    reactor.runOnce(0);
  }

  ModelContext model;
  ModelScope modelScope{model};
  PollReactor reactor{PollReactor::Clock::Manual};
  ReactorScope reactorScope{reactor};
  RecordedBoxes boxes;
  MessageBoxScope boxScope{boxes};

private:
  sim::SimServer server_;
  sim::RouterLogin login_;

public:
  std::unique_ptr<sim::MenuCatalogue> catalogue;

private:
  Reference<Connection> connection_;
  bool loaded_ = true;
};

} // namespace kestel::test
