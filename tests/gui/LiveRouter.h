// The GUI tests' router: the simulator's login and menus served in-process over loopback on the
// test's manual-clock reactor, the sample descriptors loaded into a model context of the test's
// own, and the looper's session logged in to it, so windows built from the sample
// menus talk to a real router side. Message boxes of the core are recorded.
#pragma once

#include "api/net/Connection.h"
#include "api/net/Looper.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/net/SecureSession.h"
#include "api/wire/Vocabulary.h"
#include "gen/CType.h"
#include "gen/ModelContext.h"
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
  // Logs in as `user`: "admin" (every policy bit) or "viewer" (read only, 0x40).
  explicit LiveRouter(sim::CatalogueOptions options = {}, const std::string& user = "admin");
  ~LiveRouter();

  // Whether the descriptors loaded and the router listens.
  bool ready() const { return loaded_; }

  // The container type of the sample menu `name`; null when there is none.
  CType* menu(const char* name);
  // The type of `kind` titled `title` whether or not the router offers its service (the
  // simulator's facts are not recorded here, so services with a predicate are not offered).
  CType* type(TypeKind kind, const std::string& title);

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
