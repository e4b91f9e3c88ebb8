#include "app/TerminalEntries.h"

namespace kestel {

std::vector<GuestRouter> guestRouters(const std::vector<nv::message>& rows, nv::string_id name,
                                      nv::u32_id link) {
  std::vector<GuestRouter> guests;
  for (const nv::message& row : rows) {
    GuestRouter guest{row.get(name), row.get(link)};
    if (!guest.name.empty())
      guests.push_back(std::move(guest));
  }
  return guests;
}

std::vector<TerminalEntry> terminalEntries(const std::vector<GuestRouter>& guests) {
  std::vector<TerminalEntry> entries(4);
  entries[0].title = "Terminal";
  entries[1].title = "Telnet";
  entries[1].kind = TerminalKind::Telnet;
  entries[1].asks = {kAskAddress, kAskUser};
  entries[2].title = "MAC Telnet";
  entries[2].kind = TerminalKind::MacTelnet;
  entries[2].asks = {kAskAddress, kAskUser};
  entries[3].title = "Nestvisor";
  entries[3].kind = TerminalKind::Guest;
  for (const GuestRouter& guest : guests) {
    TerminalEntry entry;
    entry.title = guest.name + " <" + std::to_string(guest.link) + ">";
    entry.kind = TerminalKind::Guest;
    entry.guestLink = guest.link;
    entries[3].children.push_back(std::move(entry));
  }
  return entries;
}

TerminalTarget terminalTarget(const TerminalEntry& entry, const std::string& address,
                              const std::string& user) {
  TerminalTarget target;
  target.kind = entry.kind;
  target.guestLink = entry.guestLink;
  if (!entry.asks.empty()) {
    target.address = address;
    target.user = user;
  }
  return target;
}

std::string terminalTitle(const TerminalTarget& target, const std::string& router) {
  switch (target.kind) {
  case TerminalKind::Telnet:
    return "Telnet " + target.address + " via " + router;
  case TerminalKind::MacTelnet:
    return "MAC Telnet " + target.address + " via " + router;
  case TerminalKind::Guest:
    return "Nestvisor <" + std::to_string(target.guestLink) + "> on " + router;
  case TerminalKind::Console:
    break;
  }
  return "Terminal " + router;
}

} // namespace kestel
