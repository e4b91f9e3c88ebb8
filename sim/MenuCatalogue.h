// Everything the demo router serves beyond the login and the files: the menus of the sample
// descriptors with their objects, the settings pages, the ping action, the traffic query, the
// quick-setup wizard and the reboot command, plus the large-table, churn and fault switches.
#pragma once

#include "api/net/Reactor.h"
#include "sim/Churn.h"
#include "sim/EditHistory.h"
#include "sim/ItemHandler.h"
#include "sim/LiveValues.h"
#include "sim/MenuHandler.h"
#include "sim/MenuSamples.h"
#include "sim/PingAction.h"
#include "sim/RouterLogin.h"
#include "sim/RouterStatus.h"
#include "sim/SetupWizard.h"
#include "sim/TrafficQuery.h"

#include <map>
#include <memory>
#include <string>

namespace kestel::sim {

struct CatalogueOptions {
  MenuOptions menus;
  std::string table = "log"; // the menu that --rows fills and --churn changes
  bool fill = false;         // --rows given: the table holds exactly `rows` generated objects
  uint32_t rows = 0;
  double churn = 0; // changes per second
  // --default-config: the router offers the note on the configuration it was shipped with.
  bool defaultConfig = false;
  LiveOptions live; // --live-values, --live-seed: the interfaces' traffic and the CPU load
  // --user-policy: policy bits given to a login user.
  std::vector<std::pair<std::string, uint32_t>> policies;
};

class MenuCatalogue {
public:
  // The reboot command (a doit) and where it is served.
  static constexpr uint32_t kRebootCommand = 0xFE0040;
  static inline const std::vector<uint32_t> kRebootPath{23, 4};
  static inline const std::vector<uint32_t> kPingPath{23, 1};
  static inline const std::vector<uint32_t> kTrafficPath{23, 2};
  static inline const std::vector<uint32_t> kSetupPath{23, 3};

  MenuCatalogue(Reactor& reactor, CatalogueOptions options);
  MenuCatalogue(const MenuCatalogue&) = delete;
  MenuCatalogue& operator=(const MenuCatalogue&) = delete;

  // Serves every path through `login` and gives the login users their policies; false (with
  // the reason in `error`) when an option names an unknown menu or user.
  bool install(RouterLogin& login, std::string& error);

  // Every path served, with its handler; `withSubHandler` paths also serve longer paths that
  // begin with them (a map's sub-handler appended).
  struct Route {
    std::vector<uint32_t> path;
    RouterHandler handler;
    bool withSubHandler = false;
  };
  std::vector<Route> routes();

  MenuStore* store(const std::string& name);
  MenuHandler* handler(const std::string& name);
  ItemHandler* item(const std::string& name);
  PingAction& ping() { return ping_; }
  TrafficQuery& traffic() { return traffic_; }
  SetupWizard& setup() { return setup_; }
  unsigned reboots() const { return reboots_; }
  EditHistory& history() { return history_; }
  RouterStatus& status() { return status_; }
  LiveValues& live() { return *live_; }

private:
  struct Menu {
    MenuDefinition definition;
    std::unique_ptr<MenuStore> store;
    std::unique_ptr<MenuHandler> handler;
  };
  std::optional<nv::message> reboot(const RouterRequest& request);

  Reactor& reactor_;
  CatalogueOptions options_;
  int64_t bootedAt_;
  std::map<std::string, Menu> menus_;
  std::map<std::string, std::unique_ptr<ItemHandler>> items_;
  PingAction ping_;
  TrafficQuery traffic_;
  SetupWizard setup_;
  EditHistory history_;
  RouterStatus status_;
  std::unique_ptr<Churn> churn_;
  std::unique_ptr<LiveValues> live_;
  unsigned reboots_ = 0;
};

// Applies the menu option at argv[i]: returns how many arguments it took, 0 when argv[i] is not
// a menu option, -1 when its value is missing or malformed.
int applyMenuOption(CatalogueOptions& options, int argc, char** argv, int i);
const char* menuOptionsUsage();

} // namespace kestel::sim
