#include "app/Discovery.h"

#include "api/net/DiscoveryPacket.h"
#include "util/Log.h"

#include <cstdlib>
#include <cstring>

namespace kestel {

bool discoveryEnabled(const char* environmentValue, bool setting) {
  if (environmentValue && std::strcmp(environmentValue, "1") == 0)
    return true;
  if (environmentValue && std::strcmp(environmentValue, "0") == 0)
    return false;
  return setting;
}

bool discoverySetting(SettingsRegistry& settings) {
  bool on = false;
  if (const StringMap* loader = settings.getSettings(0, nullptr, kMainWindowSettingsFlags))
    (void)unpackBool(loader->get(kDiscoverySettingKey), on);
  return on;
}

bool setDiscoverySetting(SettingsRegistry& settings, bool on) {
  StringMap* loader = settings.getSettings(0, nullptr, kMainWindowSettingsFlags);
  if (!loader)
    return false;
  loader->set(kDiscoverySettingKey, packBool(on));
  return true;
}

bool discoveryWanted(SettingsRegistry& settings) {
  return discoveryEnabled(std::getenv("KESTEL_DISCOVERY"), discoverySetting(settings));
}

Discovery::Discovery(Reactor& reactor, std::unique_ptr<DiscoveryTransport> transport,
                     NeighbourTable& table, std::function<uint32_t()> random)
    : reactor_(reactor), transport_(std::move(transport)), table_(table),
      random_(std::move(random)) {}

Discovery::~Discovery() {
  cancelTimers();
  transport_->close();
  logLine("~Discovery");
}

void Discovery::start() {
  if (running_)
    return;
  running_ = true;
  logLine("neighbor discovery started");
  scan();
}

void Discovery::refresh() {
  if (!running_) {
    start();
    return;
  }
  cancelTimers();
  transport_->close();
  scan();
}

void Discovery::stop() {
  if (!running_)
    return;
  running_ = false;
  cancelTimers();
  transport_->close();
  logLine("discovery stopped");
}

void Discovery::scan() {
  logLine("rescaning");
  auto opened = transport_->open([this](const std::vector<Datagram>& d) { receive(d); });
  if (!opened) {
    logLine(opened.error().text);
    setTimer(rescanTimer_, kBindRetryMs, &Discovery::scan);
    return;
  }
  setTimer(collectTimer_, kCollectionWindowMs, &Discovery::endCollection);
  sendsLeft_ = kSendsPerScan;
  sendRequest();
}

void Discovery::sendRequest() {
  transport_->send(discoveryRequest());
  if (--sendsLeft_ > 0)
    setTimer(sendTimer_, kResendMs, &Discovery::sendRequest);
}

void Discovery::endCollection() {
  reactor_.removeTimer(sendTimer_);
  sendTimer_ = 0;
  transport_->close();
  setTimer(rescanTimer_, kRescanMs + random_() % kRescanJitterMs, &Discovery::scan);
  if (onScanEnd_)
    onScanEnd_();
}

void Discovery::receive(const std::vector<Datagram>& datagrams) {
  for (const Datagram& d : datagrams) {
    auto packet = parseDiscoveryPacket(d.bytes);
    if (!packet)
      continue;
    // Requests (ours looped back, or other clients') and answers without a 6-byte MAC address
    // name no router; they are skipped alone, so that one bad datagram cannot hide the answers
    // read after it.
    if (auto neighbour = neighbourFromAnswer(*packet, d.sender))
      table_.apply(std::move(*neighbour));
  }
}

void Discovery::cancelTimers() {
  for (Reactor::TimerId* t : {&sendTimer_, &collectTimer_, &rescanTimer_}) {
    reactor_.removeTimer(*t);
    *t = 0;
  }
}

void Discovery::setTimer(Reactor::TimerId& slot, uint32_t ms, void (Discovery::*step)()) {
  reactor_.removeTimer(slot);
  slot = reactor_.addTimer(
      ms,
      [this, &slot, step] {
        slot = 0;
        (this->*step)();
      },
      false);
}

} // namespace kestel
