// The program's start-up, headless, so the desktop program's main only calls it: decide what
// this run is (the upgrade hand-off's raw forms, the command line, a session handed over on
// standard input), then either start the handed-over session or bring up the loader in its
// order: prune the descriptor cache, make the local handlers (address book, groups, session
// list), build the loader window with its accelerators, load the settings and place the main
// window, and hand it the parameters, connecting by itself 100 ms later when the address, the
// login and the password are all given. The window itself is the caller's, behind LoaderHooks.
#pragma once

#include "api/net/Reactor.h"
#include "app/AddressBookStore.h"
#include "app/CommandLine.h"
#include "app/Discovery.h"
#include "app/InstanceCensus.h"
#include "app/NeighbourHandler.h"
#include "app/UpgradeHandler.h"

#include <ctime>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kestel {

// What the framework needs before anything else: the looper and, before any descriptor is
// loaded, the convertor makers of the slot kinds.
void initialiseFramework();

// What this run of the program is.
struct StartupDecision {
  enum class Kind {
    Exit,          // end with exitCode: 0 after a request for the usage (logged; a terminal
                   // user also wants kUsageText on standard output), 1 after a bad argument
    FinishUpgrade, // "\c <path>": the self-upgrade code copies itself to `path`
    Loader,        // show the loader with `parameters`
    Session,       // a session was handed over (parameters hold 1003): start it at once
                   // (ChildSession) and show the session window, no loader
  };
  Kind kind = Kind::Loader;
  int exitCode = 0;
  std::string path;       // FinishUpgrade: the target; Loader after "\d <path>": the old file
  nv::message parameters; // Loader, Session
};

// Raw forms first ("\c <path>", "\d <path>": the latter then starts with an empty command line),
// then the command line; "-" reads the parameters from `standardInput`.
StartupDecision decideStartup(std::span<char*> args, int standardInput);

// The loader's window commands the keyboard reaches: Ctrl with "=" or the keypad's "+" zooms in,
// Ctrl with "-" or the keypad's "-" zooms out.
inline constexpr uint32_t kCommandZoomIn = 1007;
inline constexpr uint32_t kCommandZoomOut = 1008;
struct Accelerator {
  enum class Key { Equal, Minus, KeypadPlus, KeypadMinus };
  bool control = true;
  Key key;
  uint32_t command;
};
const std::vector<Accelerator>& loaderAccelerators();

// The loader window as the start-up sees it.
struct LoaderHooks {
  // Builds the window: menus, tables and these accelerators.
  std::function<void(const std::vector<Accelerator>&)> build;
  // After the settings are loaded: place the main window, moved by (dx, dy).
  std::function<void(int32_t dx, int32_t dy)> place;
  // Parameters with 1005: the disconnected panel.
  std::function<void(const nv::message&)> showDisconnected;
  // The address book was opened (the store's open reply: bool 2 when it needs its password).
  std::function<void(const nv::message& openReply)> bookOpened;
  // Fill the form from the parameters.
  std::function<void(const nv::message&)> apply;
  // Connect with the parameters (the auto-connect).
  std::function<void(const nv::message&)> connect;
  // Another instance asked every loader to quit (before an upgrade), or the upgraded program
  // has started.
  std::function<void()> quit;
  // The self-upgrade's web client; null: no upgrade handler (4).
  WebClient* web = nullptr;
};

inline constexpr uint32_t kAutoConnectDelayMs = 100;
inline constexpr const char* kSettingsFileName = "settings.cfg.viw";

class LoaderStart {
public:
  // `censusFolder`: where the instances meet (censusFolder()); empty for none.
  LoaderStart(Reactor& reactor, std::string appData, std::string censusFolder, LoaderHooks hooks);
  ~LoaderStart();
  LoaderStart(const LoaderStart&) = delete;
  LoaderStart& operator=(const LoaderStart&) = delete;

  // Runs the steps up to handing over the parameters; `now` dates the cache pruning.
  void run(const nv::message& parameters, std::time_t now);
  // The loader window closes: the settings go back to the file they came from.
  bool close();

  AddressBookStore* addressBook() const { return book_.get(); }
  // The loader's "Discover neighbors" switch: saved in the settings, then discovery starts or
  // stops (KESTEL_DISCOVERY still overrides the saved value).
  void setDiscovery(bool on);
  bool discoveryRunning() const { return discovery_ != nullptr; }
  // This loader's place in the census of running instances; null without one.
  InstanceCensus* census() const { return census_.get(); }
  bool autoConnectPending() const { return autoConnect_ != 0; }
  // The self-upgrade (handler 4); null without a web client.
  UpgradeHandler* upgrade() const { return upgrade_.get(); }

private:
  // Starts or stops discovery as discoveryWanted() now says.
  void applyDiscovery();

  Reactor& reactor_;
  std::string appData_;
  std::string censusFolder_;
  LoaderHooks hooks_;
  std::unique_ptr<InstanceCensus> census_;
  std::unique_ptr<AddressBookStore> book_;
  NeighbourTable neighbours_;
  std::unique_ptr<Discovery> discovery_; // while discovery runs
  std::unique_ptr<NeighbourHandler> neighbourHandler_;
  std::unique_ptr<UpgradeHandler> upgrade_;
  Reactor::TimerId autoConnect_ = 0;
};

} // namespace kestel
