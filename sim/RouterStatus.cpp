#include "sim/RouterStatus.h"

#include "api/wire/StatusVocabulary.h"
#include "sim/MenuHandler.h"
#include "util/Log.h"

namespace kestel::sim {
namespace {

constexpr uint32_t kReadPolicy = 0x40;
constexpr uint32_t kWritePolicy = 0x80;
constexpr uint64_t kTotalMemory = 134217728;

const char* const kNoteText =
    "This router runs the configuration it was shipped with: a bridge over the LAN ports with "
    "the address 192.168.88.1/24 and a DHCP server on it, a DHCP client on ether1 (the WAN port) "
    "and a firewall that lets the LAN reach the WAN and drops what comes in from the WAN "
    "unasked.";

const char* const kScriptText =
    "# The demo router's shipped configuration\n"
    "bridge add name=bridge ports=ether2,ether3,ether4,ether5\n"
    "address add address=192.168.88.1/24 interface=bridge\n"
    "dhcp-server add interface=bridge pool=192.168.88.10-192.168.88.254\n"
    "dhcp-client add interface=ether1\n"
    "firewall add chain=input state=established,related action=accept\n"
    "firewall add chain=input state=invalid action=drop\n"
    "firewall add chain=input in-interface=ether1 action=drop\n";

bool isGet(const RouterRequest& request) { return request.message.get(SYS_CMD) == CMD_GET; }

} // namespace

RouterStatus::RouterStatus(std::function<uint32_t()> uptimeSeconds,
                           std::function<int64_t()> wallClock)
    : uptime_(std::move(uptimeSeconds)), wall_(std::move(wallClock)) {}

void RouterStatus::offerDefaultConfig(std::vector<MenuStore*> configuration) {
  configuration_ = std::move(configuration);
  offered_ = true;
}

std::optional<nv::message> RouterStatus::clock(const RouterRequest& request) const {
  if (!isGet(request))
    return errorReply(ERROR_NOTIMP);
  if (!permits(request.user, kReadPolicy))
    return errorReply(ERROR_NOTALLOWED);
  int64_t now = wall_();
  int64_t seconds = ((now % 86400) + 86400) % 86400;
  nv::message reply;
  reply.set(status::kDate, static_cast<uint32_t>(now - seconds));
  reply.set(status::kTime, static_cast<uint32_t>(seconds));
  return reply;
}

bool RouterStatus::isSystemCommand(const nv::message& request) {
  return request.get(SYS_CMD) == CMD_GET;
}

std::optional<nv::message> RouterStatus::system(const RouterRequest& request) const {
  if (!isGet(request))
    return errorReply(ERROR_NOTIMP);
  if (!permits(request.user, kReadPolicy))
    return errorReply(ERROR_NOTALLOWED);
  uint32_t up = uptime_();
  nv::message reply;
  reply.set(status::kCpu, 3 + up * 7 % 23);
  reply.set(status::kMemory, kTotalMemory - 1048576ull * (40 + up % 17));
  reply.set(status::kUptime, up);
  return reply;
}

std::optional<nv::message> RouterStatus::defaultConfig(const RouterRequest& request) {
  uint32_t command = request.message.get(SYS_CMD);
  if (command == CMD_GET) {
    if (!permits(request.user, kReadPolicy))
      return errorReply(ERROR_NOTALLOWED);
    nv::message reply;
    if (offered_) {
      reply.set(status::kNote, kNoteText);
      reply.set(status::kScript, kScriptText);
    }
    return reply;
  }
  if (command != status::kRemoveCommand)
    return errorReply(ERROR_NOTIMP);
  if (!permits(request.user, kWritePolicy))
    return errorReply(ERROR_NOTALLOWED);
  if (!offered_)
    return errorReply(ERROR_FAILED, "the router does not run its shipped configuration");
  for (MenuStore* store : configuration_)
    while (store->size() > 0)
      store->remove(store->idAt(store->size() - 1));
  offered_ = false;
  logf("sim: default configuration removed");
  return nv::message();
}

} // namespace kestel::sim
