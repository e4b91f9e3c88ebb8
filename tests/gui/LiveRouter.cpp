#include "LiveRouter.h"

#include "app/MenuCatalog.h"
#include "gen/DescriptorLoader.h"
#include "gen/Service.h"
#include "miw/SlotConvertors.h"

namespace kestel::test {

LiveRouter::LiveRouter(sim::CatalogueOptions options, const std::string& user) : server_(reactor) {
  resetLooper();
  installSlotConvertors();
  for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"})
    loaded_ =
        loaded_ && loadDescriptors(std::string(KESTEL_SOURCE_DIR) + "/sim/sample/" + name).ok();
  loaded_ = loaded_ && completeAllTypes().ok();
  login_.addUser("admin", "pw");
  login_.addUser("viewer", "pw", 0x40);
  login_.install(server_);
  catalogue = std::make_unique<sim::MenuCatalogue>(reactor, std::move(options));
  std::string error;
  loaded_ = loaded_ && catalogue->install(login_, error) && server_.listen(0).ok();
  connection_ = createConnection(reactor);
  setRouterConnection(connection_.get());
  getLooper()->setSessionFactory(createProxy);
  connection_->connect("127.0.0.1", server_.port());
  static_cast<SecureSession*>(getLooper()->session())->start(user, "pw", nullptr);
}

LiveRouter::~LiveRouter() {
  setRouterConnection(nullptr);
  resetLooper();
}

CType* LiveRouter::menu(const char* name) {
  auto found = findMenu(name);
  return found.ok() ? found->type : nullptr;
}

CType* LiveRouter::type(TypeKind kind, const std::string& title) {
  CType* found = nullptr;
  forEachType([&](CType& t, CService&) {
    if (!found && t.kind() == kind && t.title() == title)
      found = &t;
  });
  return found;
}

} // namespace kestel::test
