#include "app/SessionTexts.h"

#include "miw/ConvertorTime.h"
#include "util/Log.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace kestel {

std::string sessionTitleText(const SessionTitle& t) {
  std::string who = t.login + "@" + t.address;
  if (t.identity.empty())
    return who + " - Kestel (64bit)";
  std::string text = who + " (" + t.identity + ")";
  if (!t.agent.empty())
    text += " via " + t.agent;
  text += " - Kestel (64bit) v" + t.version;
  if (!t.architecture.empty()) {
    text += " on " + t.architecture;
    if (!t.architectureSuffix.empty())
      text += "+" + t.architectureSuffix;
  }
  if (!t.board.empty())
    text += " (" + t.board + ")";
  return text;
}

std::string connectionStatusText(ConnectionPhase phase, std::string_view address, uint16_t port) {
  const char* lead = phase == ConnectionPhase::Connecting  ? "Connecting to "
                     : phase == ConnectionPhase::LoggingIn ? "Logging in "
                                                           : "Retrieving preferences from ";
  return lead + std::string(address) + " (port " + std::to_string(port) + ")...";
}

std::string couldNotConnectText(std::string_view address) {
  return "Could not connect to " + std::string(address) + "!";
}

void StatusBar::setClock(std::string time, std::string date) {
  time_ = std::move(time);
  date_ = std::move(date);
}

void StatusBar::setResources(std::string cpu, std::string memory, uint32_t uptimeSeconds,
                             int64_t nowSeconds) {
  cpu_ = std::move(cpu);
  memory_ = std::move(memory);
  int64_t boot = nowSeconds - int64_t(uptimeSeconds);
  // Both clocks count whole seconds, each from its own start: a boot time one second off is the
  // two clocks ticking out of step, not a reboot.
  if (bootTime_ && std::abs(boot - *bootTime_) <= 1)
    return;
  if (bootTime_)
    logLine("INF: updating bootTime " + std::to_string(*bootTime_) + " -> " + std::to_string(boot) +
            " diff:" + std::to_string(boot - *bootTime_));
  bootTime_ = boot;
}

std::string StatusBar::field(std::string_view name, int64_t nowSeconds) const {
  if (name == "Time")
    return time_;
  if (name == "Date")
    return date_;
  if (name == "CPU Load")
    return cpu_;
  if (name == "Free Memory")
    return memory_;
  if (name == "Uptime" && bootTime_) {
    int64_t up = nowSeconds - *bootTime_;
    // An uptime beyond the interval's range is shown at its end rather than wrapped.
    return intervalText(static_cast<uint32_t>(std::clamp<int64_t>(up, 0, UINT32_MAX)), 1);
  }
  return "";
}

} // namespace kestel
