// The traffic monitor ("Torch" in "Tools"): the filter the user fills in, checked and turned into
// the router's query, and a monitor that asks the torch handler once a second (after each reply)
// and keeps the flows of the last answer, busiest first, with the cell texts of the result
// columns. Runs on the reactor's thread through a handler of the looper.
#pragma once

#include "api/net/Looper.h"
#include "api/net/Reactor.h"
#include "api/net/TorchHandler.h"
#include "util/Expected.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestel {

// The filter fields in the window's order.
inline constexpr std::array<const char*, 7> kTorchFilterFields = {
    "Protocol", "Src. Address", "Src. Port", "Dst. Address", "Dst. Port", "VLAN Id", "Port"};
// The result columns: the flow, then its rates (ours: bits and packets per second each way).
inline constexpr std::array<const char*, 10> kTorchColumns = {
    "Protocol", "Src. Address", "Src. Port", "Dst. Address",   "Dst. Port",
    "VLAN Id",  "Tx Rate",      "Rx Rate",   "Tx Packet Rate", "Rx Packet Rate"};

// The filter as typed, one text per field of kTorchFilterFields; empty matches everything.
using TorchFilterText = std::array<std::string, kTorchFilterFields.size()>;

// Checks the filter and builds the query: the protocol by name (tcp, udp, icmp, ...) or number,
// addresses as IPv4/IPv6 addresses or prefixes, ports 0-65535, VLAN ids 0-4095. The error names
// the field.
Expected<nv::message> torchQuery(const TorchFilterText& filter);

struct TorchFlow {
  uint32_t protocol = 0;
  std::string srcAddress, dstAddress;
  uint32_t srcPort = 0, dstPort = 0;
  std::optional<uint32_t> vlan;
  uint64_t txBits = 0, rxBits = 0;
  uint32_t txPackets = 0, rxPackets = 0;
};

// The flows of a reply, busiest (tx + rx bits) first; at most kTorchMaxFlows.
std::vector<TorchFlow> torchFlows(const nv::message& reply);
// The text of column `column` (kTorchColumns) for `flow`.
std::string torchCell(const TorchFlow& flow, size_t column);
// A rate in bits per second as shown: "0 bps", "950 bps", "12.5 kbps", "1.2 Mbps", "3.4 Gbps".
std::string torchRate(uint64_t bitsPerSecond);

class TorchMonitor {
public:
  static constexpr uint32_t kPeriodMs = 1000;
  static constexpr uint32_t kReplyTimeoutMs = 10000;

  // `changed` hears after each answer (flows or error).
  TorchMonitor(Reactor& reactor, std::function<void()> changed);
  ~TorchMonitor();
  TorchMonitor(const TorchMonitor&) = delete;
  TorchMonitor& operator=(const TorchMonitor&) = delete;

  // Starts (or restarts with a new filter); false with error() set when the filter is wrong.
  bool start(const TorchFilterText& filter);
  void stop();
  bool running() const { return running_; }

  const std::vector<TorchFlow>& flows() const { return flows_; }
  // The last failure: a wrong filter or the router's error; empty otherwise.
  const std::string& error() const { return error_; }

private:
  class Link;
  friend class Link;

  void ask();
  void onReply(const nv::message& reply);

  Reactor& reactor_;
  std::function<void()> changed_;
  Reference<Link> link_;
  nv::message query_;
  bool running_ = false;
  bool waiting_ = false;
  Reactor::TimerId timer_ = 0;
  std::vector<TorchFlow> flows_;
  std::string error_;
};

} // namespace kestel
