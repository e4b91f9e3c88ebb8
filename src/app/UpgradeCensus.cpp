#include "app/UpgradeCensus.h"

namespace kestel {

UpgradeCensus::UpgradeCensus(Reactor& reactor, InstanceCensus* census, UpgradeCensusHooks hooks)
    : reactor_(reactor), census_(census), hooks_(std::move(hooks)) {}

UpgradeCensus::~UpgradeCensus() {
  *alive_ = false;
  reactor_.removeTimer(wait_);
}

void UpgradeCensus::start() {
  if (running_)
    return;
  running_ = true;
  if (!census_) {
    counted(0);
    return;
  }
  census_->count([this, alive = alive_](unsigned int others) {
    if (*alive)
      counted(others);
  });
}

void UpgradeCensus::counted(unsigned int others) {
  if (others == 0) {
    upgradeNow();
    return;
  }
  if (!hooks_.confirm) { // nobody to ask: the others are not closed behind the user's back
    answered(false);
    return;
  }
  hooks_.confirm([this, alive = alive_](bool yes) {
    if (*alive && running_)
      answered(yes);
  });
}

void UpgradeCensus::answered(bool yes) {
  if (!yes) {
    running_ = false;
    if (hooks_.idle)
      hooks_.idle();
    return;
  }
  census_->closeOthers();
  wait_ = reactor_.addTimer(
      kCensusWaitMs,
      [this] {
        wait_ = 0;
        upgradeNow();
      },
      false);
}

void UpgradeCensus::upgradeNow() {
  running_ = false;
  if (hooks_.upgrade)
    hooks_.upgrade();
}

} // namespace kestel
