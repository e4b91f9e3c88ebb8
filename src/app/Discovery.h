// Neighbour discovery: scans by sending the discovery request on every broadcast address and to
// ff02::1, collects answers for 2400 ms into the neighbour table (which NeighbourHandler serves
// as local handler 3), then closes its sockets and scans again 30 to 33 seconds later.
// Neighbours stay in the table between scans. It sends nothing until start() or refresh();
// whether the program starts it at all is decided by discoveryWanted(): off unless the loader's
// saved switch or KESTEL_DISCOVERY=1 turns it on. Timers run on the reactor given.
#pragma once

#include "api/net/Reactor.h"
#include "app/DiscoveryTransport.h"
#include "app/NeighbourTable.h"
#include "miw/Settings.h"

#include <functional>
#include <memory>
#include <optional>

namespace kestel {

inline constexpr uint32_t kCollectionWindowMs = 2400;
inline constexpr uint32_t kRescanMs = 30000;
inline constexpr uint32_t kRescanJitterMs = 3000; // the rescan waits 0 to 2999 ms more
inline constexpr uint32_t kBindRetryMs = 500;
inline constexpr uint32_t kResendMs = 100;
inline constexpr unsigned kSendsPerScan = 3; // the request goes out this often per scan
// The loader's switch, and its key in the loader's settings (id 0 of the registry).
inline constexpr const char* kDiscoverNeighborsText = "Discover neighbors";
inline constexpr const char* kDiscoverySettingKey = "discover";

// Whether discovery may run: KESTEL_DISCOVERY "1" or "0" (when set) decides, else the saved
// setting. Anything else in the variable counts as not set.
bool discoveryEnabled(const char* environmentValue, bool setting);

// The saved switch; off when it was never saved or its value is malformed.
bool discoverySetting(SettingsRegistry& settings);
// Saves the switch in id 0, which a loaded registry always has; false (nothing kept) without it.
bool setDiscoverySetting(SettingsRegistry& settings, bool on);
// discoveryEnabled with this process's KESTEL_DISCOVERY and the saved switch.
bool discoveryWanted(SettingsRegistry& settings);

class Discovery {
public:
  // `random` gives the rescan's extra delay (taken modulo kRescanJitterMs); `onScanEnd` (when
  // set) is told at the end of each collection window.
  Discovery(Reactor& reactor, std::unique_ptr<DiscoveryTransport> transport, NeighbourTable& table,
            std::function<uint32_t()> random);
  ~Discovery();
  Discovery(const Discovery&) = delete;
  Discovery& operator=(const Discovery&) = delete;

  // Logs "neighbor discovery started" and scans. Ignored while running.
  void start();
  // "Refresh": ends any scan or wait under way and scans at once; starts discovery if stopped.
  void refresh();
  // Logs "discovery stopped", closes the sockets and cancels every timer.
  void stop();
  bool running() const { return running_; }
  bool scanning() const { return collectTimer_ != 0; }

  void setScanEndListener(std::function<void()> onScanEnd) { onScanEnd_ = std::move(onScanEnd); }

private:
  void scan();
  void sendRequest();
  void endCollection();
  void receive(const std::vector<Datagram>& datagrams);
  void cancelTimers();
  void setTimer(Reactor::TimerId& slot, uint32_t ms, void (Discovery::*step)());

  Reactor& reactor_;
  std::unique_ptr<DiscoveryTransport> transport_;
  NeighbourTable& table_;
  std::function<uint32_t()> random_;
  std::function<void()> onScanEnd_;
  bool running_ = false;
  unsigned sendsLeft_ = 0;
  Reactor::TimerId sendTimer_ = 0;
  Reactor::TimerId collectTimer_ = 0;
  Reactor::TimerId rescanTimer_ = 0;
};

} // namespace kestel
