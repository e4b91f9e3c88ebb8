#include "app/Startup.h"

#include "api/net/Looper.h"
#include "app/CacheFolders.h"
#include "app/HandOff.h"
#include "app/ParameterPipe.h"
#include "miw/Settings.h"
#include "miw/SlotConvertors.h"
#include "util/Log.h"

#include <random>

namespace kestel {

void initialiseFramework() {
  getLooper();
  installSlotConvertors();
}

StartupDecision decideStartup(std::span<char*> args, int standardInput) {
  StartupDecision out;
  RawForm raw = parseRawForm(args);
  if (raw.kind == RawForm::Kind::FinishUpgrade) {
    out.kind = StartupDecision::Kind::FinishUpgrade;
    out.path = raw.path;
    return out;
  }
  if (raw.kind == RawForm::Kind::DeleteFile) {
    out.path = raw.path; // the loader starts as with an empty command line
    return out;
  }
  CommandLine line =
      parseCommandLine(args, [standardInput] { return readSessionParameters(standardInput); });
  if (line.exitCode) {
    out.kind = StartupDecision::Kind::Exit;
    out.exitCode = *line.exitCode;
    return out;
  }
  out.parameters = std::move(line.parameters);
  if (out.parameters.has(param::kConnectionState))
    out.kind = StartupDecision::Kind::Session;
  return out;
}

const std::vector<Accelerator>& loaderAccelerators() {
  using Key = Accelerator::Key;
  static const std::vector<Accelerator> table = {
      {true, Key::Equal, kCommandZoomIn},
      {true, Key::KeypadPlus, kCommandZoomIn},
      {true, Key::Minus, kCommandZoomOut},
      {true, Key::KeypadMinus, kCommandZoomOut},
  };
  return table;
}

LoaderStart::LoaderStart(Reactor& reactor, std::string appData, std::string censusFolder,
                         LoaderHooks hooks)
    : reactor_(reactor), appData_(std::move(appData)), censusFolder_(std::move(censusFolder)),
      hooks_(std::move(hooks)) {}

LoaderStart::~LoaderStart() { reactor_.removeTimer(autoConnect_); }

void LoaderStart::run(const nv::message& parameters, std::time_t now) {
  if (!censusFolder_.empty()) {
    auto census = InstanceCensus::open(reactor_, censusFolder_, [this] {
      if (hooks_.quit)
        hooks_.quit();
    });
    if (census)
      census_ = std::move(*census);
    else
      logf("ERROR: ", census.error().text); // the upgrade then counts no other instance
  }
  if (!appData_.empty())
    pruneCache(appData_, false, now);
  book_ = std::make_unique<AddressBookStore>(reactor_);
  // "Refresh" scans at once only while discovery is switched on.
  neighbourHandler_ = std::make_unique<NeighbourHandler>(neighbours_, [this] {
    if (discovery_)
      discovery_->refresh();
  });
  if (hooks_.web) {
    Expected<std::string> program = ownProgramPath();
    UpgradeSetup setup;
    setup.web = hooks_.web;
    setup.server = [] { return upgradeServerSetting(settingsRegistry()); };
    setup.program = program ? *program : std::string();
    setup.publicKey = builtInUpgradeKey();
    setup.quit = [this] {
      if (hooks_.quit)
        hooks_.quit();
    };
    upgrade_ = std::make_unique<UpgradeHandler>(std::move(setup));
  }
  if (hooks_.build)
    hooks_.build(loaderAccelerators());

  SettingsRegistry& settings = settingsRegistry();
  settings.loadSettings(appData_ + "/" + kSettingsFileName);
  settings.loadAllSettings();
  applyDiscovery();
  if (hooks_.place)
    hooks_.place(int32_t(parameters.get(param::kOffsetX)),
                 int32_t(parameters.get(param::kOffsetY)));

  if (hooks_.apply)
    hooks_.apply(parameters);
  if (parameters.get(param::kDisconnected)) {
    if (hooks_.showDisconnected)
      hooks_.showDisconnected(parameters);
    return;
  }
  nv::message opened = book_->openAtStart(appData_, parameters.get(param::kAddressBook),
                                          parameters.get(param::kMasterPassword));
  if (hooks_.bookOpened)
    hooks_.bookOpened(opened);
  // An empty password is a password: routers leave the factory with one.
  bool complete = parameters.has(param::kAddress) && parameters.has(param::kLogin) &&
                  parameters.has(param::kPassword);
  if (parameters.get(param::kNoAutoConnect) || !complete)
    return;
  autoConnect_ = reactor_.addTimer(
      kAutoConnectDelayMs,
      [this, parameters] {
        autoConnect_ = 0;
        if (hooks_.connect)
          hooks_.connect(parameters);
      },
      false);
}

void LoaderStart::setDiscovery(bool on) {
  (void)setDiscoverySetting(settingsRegistry(), on);
  applyDiscovery();
}

void LoaderStart::applyDiscovery() {
  if (discoveryWanted(settingsRegistry()) == bool(discovery_))
    return;
  if (discovery_) {
    discovery_->stop();
    discovery_.reset();
    return;
  }
  discovery_ = std::make_unique<Discovery>(
      reactor_, createUdpDiscoveryTransport(reactor_), neighbours_,
      [random = std::mt19937(std::random_device{}())]() mutable { return uint32_t(random()); });
  discovery_->start();
}

bool LoaderStart::close() {
  reactor_.removeTimer(autoConnect_);
  autoConnect_ = 0;
  if (book_)
    book_->flush();
  return settingsRegistry().saveSettings();
}

} // namespace kestel
