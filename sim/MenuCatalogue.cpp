#include "sim/MenuCatalogue.h"

#include "api/wire/StatusVocabulary.h"
#include "util/Log.h"

#include <cstdlib>
#include <ctime>

namespace kestel::sim {
namespace {

// Sample records are small; this much arena per generated row avoids regrowing it.
constexpr size_t kBytesPerRowGuess = 96;
constexpr uint32_t kMaxRows = 50000000;

} // namespace

MenuCatalogue::MenuCatalogue(Reactor& reactor, CatalogueOptions options)
    : reactor_(reactor), options_(std::move(options)), bootedAt_(reactor.now()), ping_(reactor),
      traffic_(reactor, kTrafficPath, options_.menus), history_(reactor),
      status_([this] { return static_cast<uint32_t>((reactor_.now() - bootedAt_) / 1000); },
              [] { return static_cast<int64_t>(std::time(nullptr)); }) {
  for (MenuDefinition& definition : sampleMenus()) {
    Menu menu;
    menu.store = std::make_unique<MenuStore>(definition.shape);
    bool large = options_.fill && definition.name == options_.table && definition.row;
    if (large) {
      menu.store->reserve(options_.rows, size_t(options_.rows) * kBytesPerRowGuess);
      for (uint32_t n = 0; n < options_.rows; ++n)
        menu.store->append(definition.row(n));
    } else {
      definition.seed(*menu.store);
    }
    menu.handler = std::make_unique<MenuHandler>(reactor_, *menu.store, options_.menus);
    menu.handler->setHistory(&history_);
    menu.definition = std::move(definition);
    menus_.emplace(menu.definition.name, std::move(menu));
  }
  live_ = std::make_unique<LiveValues>(reactor_, *menus_.at("interfaces").store, options_.live);
  auto uptime = [this] { return static_cast<uint32_t>((reactor_.now() - bootedAt_) / 1000); };
  auto load = [this] { return live_->cpuLoad(); };
  for (ItemDefinition& definition : sampleItems(uptime, load))
    items_[definition.name] =
        std::make_unique<ItemHandler>(std::move(definition.shape), std::move(definition.object),
                                      options_.menus, std::move(definition.live));
  if (options_.defaultConfig)
    status_.offerDefaultConfig({store("addresses"), store("firewall")});
  if (options_.churn > 0)
    if (Menu* m = menus_.count(options_.table) ? &menus_.at(options_.table) : nullptr;
        m && m->definition.row)
      churn_ = std::make_unique<Churn>(reactor_, *m->store, m->definition.row, options_.churn);
}

MenuStore* MenuCatalogue::store(const std::string& name) {
  auto it = menus_.find(name);
  return it == menus_.end() ? nullptr : it->second.store.get();
}

MenuHandler* MenuCatalogue::handler(const std::string& name) {
  auto it = menus_.find(name);
  return it == menus_.end() ? nullptr : it->second.handler.get();
}

ItemHandler* MenuCatalogue::item(const std::string& name) {
  auto it = items_.find(name);
  return it == items_.end() ? nullptr : it->second.get();
}

std::optional<nv::message> MenuCatalogue::reboot(const RouterRequest& request) {
  if (request.message.get(SYS_CMD) != kRebootCommand)
    return errorReply(ERROR_NOTIMP);
  if (!permits(request.user, 0x80))
    return errorReply(ERROR_NOTALLOWED);
  if (options_.menus.failCommits)
    return errorReply(ERROR_FAILED, "the router refused to reboot (--fail-commits)");
  // The demo router stays up: a reboot only starts its uptime again.
  ++reboots_;
  bootedAt_ = reactor_.now();
  logf("sim: reboot requested");
  return nv::message();
}

std::vector<MenuCatalogue::Route> MenuCatalogue::routes() {
  std::vector<Route> out;
  const std::vector<uint32_t> systemPath(status::kSystemPath.begin(), status::kSystemPath.end());
  for (auto& [name, menu] : menus_) {
    MenuHandler* handler = menu.handler.get();
    if (menu.definition.shape.path == systemPath) {
      // The system status shares the path: its read command is the status object's.
      out.push_back({systemPath,
                     [this, handler](const RouterRequest& r) {
                       return RouterStatus::isSystemCommand(r.message) ? status_.system(r)
                                                                       : handler->handle(r);
                     },
                     true});
      continue;
    }
    out.push_back({menu.definition.shape.path,
                   [handler](const RouterRequest& r) { return handler->handle(r); }, true});
  }
  out.push_back({{status::kClockPath.begin(), status::kClockPath.end()},
                 [this](const RouterRequest& r) { return status_.clock(r); }});
  out.push_back({{status::kDefaultConfigPath.begin(), status::kDefaultConfigPath.end()},
                 [this](const RouterRequest& r) { return status_.defaultConfig(r); }});
  for (auto& [name, item] : items_) {
    ItemHandler* handler = item.get();
    out.push_back(
        {handler->shape().path, [handler](const RouterRequest& r) { return handler->handle(r); }});
  }
  out.push_back({kPingPath, [this](const RouterRequest& r) { return ping_.handle(r); }});
  out.push_back({kTrafficPath, [this](const RouterRequest& r) { return traffic_.handle(r); }});
  out.push_back({kSetupPath, [this](const RouterRequest& r) { return setup_.handle(r); }});
  out.push_back({kRebootPath, [this](const RouterRequest& r) { return reboot(r); }});
  out.push_back(
      {EditHistory::kPath, [this](const RouterRequest& r) { return history_.handle(r); }});
  return out;
}

bool MenuCatalogue::install(RouterLogin& login, std::string& error) {
  if (options_.fill || options_.churn > 0) {
    auto it = menus_.find(options_.table);
    if (it == menus_.end() || !it->second.definition.row) {
      error = "--table: no large table named \"" + options_.table + "\"";
      return false;
    }
  }
  for (const auto& [name, policy] : options_.policies) {
    SimUser* user = login.findUser(name);
    if (!user) {
      error = "--user-policy: no user \"" + name + "\"";
      return false;
    }
    user->policy = policy;
  }
  for (Route& route : routes()) {
    if (route.withSubHandler)
      login.addPrefixHandler(route.path, route.handler);
    login.addHandler(std::move(route.path), std::move(route.handler));
  }
  return true;
}

namespace {

bool parseUnsigned(const char* text, unsigned long max, unsigned long& out, int base = 10) {
  char* end = nullptr;
  out = std::strtoul(text, &end, base);
  return end && *end == '\0' && end != text && text[0] != '-' && out <= max;
}

} // namespace

int applyMenuOption(CatalogueOptions& options, int argc, char** argv, int i) {
  if (int used = applyLiveOption(options.live, argc, argv, i); used != 0)
    return used;
  std::string arg = argv[i];
  if (arg == "--fail-commits") {
    options.menus.failCommits = true;
    return 1;
  }
  if (arg == "--default-config") {
    options.defaultConfig = true;
    return 1;
  }
  bool valued = arg == "--rows" || arg == "--page-size" || arg == "--churn" || arg == "--table" ||
                arg == "--slow-pages" || arg == "--drop-subscription" || arg == "--user-policy";
  if (!valued)
    return 0;
  if (i + 1 >= argc)
    return -1;
  const char* value = argv[i + 1];
  unsigned long n = 0;
  if (arg == "--table") {
    options.table = value;
  } else if (arg == "--user-policy") {
    std::string text = value;
    size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 ||
        !parseUnsigned(text.c_str() + colon + 1, 0xFFFFFFFF, n, 0))
      return -1;
    options.policies.emplace_back(text.substr(0, colon), uint32_t(n));
  } else if (arg == "--churn") {
    char* end = nullptr;
    double rate = std::strtod(value, &end);
    if (!end || *end || end == value || !(rate >= 0) || rate > 1e7)
      return -1;
    options.churn = rate;
  } else {
    unsigned long max = arg == "--rows" ? kMaxRows : arg == "--page-size" ? 10000 : 0xFFFFFFFF;
    if (!parseUnsigned(value, max, n) || (arg == "--page-size" && n == 0))
      return -1;
    if (arg == "--rows") {
      options.fill = true;
      options.rows = uint32_t(n);
    } else if (arg == "--page-size") {
      options.menus.pageSize = uint32_t(n);
    } else if (arg == "--slow-pages") {
      options.menus.slowPagesMs = uint32_t(n);
    } else {
      options.menus.dropSubscriptionAfter = uint32_t(n);
    }
  }
  return 2;
}

const char* menuOptionsUsage() {
  return "  menus: --rows <n>          fill the large table with n generated objects\n"
         "         --table <menu>      the large table: log (default), routes, leases,\n"
         "                             addresses, firewall or interfaces\n"
         "         --page-size <n>     objects per page and per notification (default 100)\n"
         "         --churn <r>         r random changes per second to the large table\n"
         "         --user-policy <name>:<bits>  a login user's policy bits (default all)\n"
         "         --default-config    offer the note on the shipped configuration at (24, 3)\n"
         "  menu faults: --fail-commits       every change is refused\n"
         "               --slow-pages <ms>    every page is answered that much later\n"
         "               --drop-subscription <n>  subscriptions are forgotten after n objects\n";
}

} // namespace kestel::sim
