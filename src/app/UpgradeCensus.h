// The loader's "Upgrade" button: before the upgrade handler replaces the program, every other
// running instance must be gone. The census counts them (kCensusWaitMs); with none the upgrade
// starts at once, else the user is asked kConfirmUpgradeText ("Confirm Upgrade"): yes tells them
// all to quit and starts the upgrade kCensusWaitMs later, no returns to the idle form.
#pragma once

#include "api/net/Reactor.h"
#include "app/InstanceCensus.h"

#include <functional>
#include <memory>

namespace kestel {

inline constexpr const char* kConfirmUpgradeTitle = "Confirm Upgrade";
inline constexpr const char* kConfirmUpgradeText =
    "To upgrade Kestel, all Kestel instances needs to be closed. Proceed?";

struct UpgradeCensusHooks {
  // Asks the question; the answer goes to `answer` (at once or later).
  std::function<void(std::function<void(bool yes)> answer)> confirm;
  // Command 1 to the upgrade handler.
  std::function<void()> upgrade;
  // The user said no.
  std::function<void()> idle;
};

class UpgradeCensus {
public:
  // `census` may be null (this loader has none): the upgrade then starts at once.
  UpgradeCensus(Reactor& reactor, InstanceCensus* census, UpgradeCensusHooks hooks);
  ~UpgradeCensus();
  UpgradeCensus(const UpgradeCensus&) = delete;
  UpgradeCensus& operator=(const UpgradeCensus&) = delete;

  void start();
  bool running() const { return running_; }

private:
  void counted(unsigned int others);
  void answered(bool yes);
  void upgradeNow();

  Reactor& reactor_;
  InstanceCensus* census_;
  UpgradeCensusHooks hooks_;
  Reactor::TimerId wait_ = 0;
  bool running_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace kestel
