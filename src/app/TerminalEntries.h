// The terminal kinds as the launcher and the session window's menus offer them: "Terminal" (the
// router's own console), "Telnet" and "MAC Telnet" (relayed by the router; they ask "addr" and
// "user" first) and "Nestvisor", whose entries are the guest routers of the router's guest table
// (fields "Name" and "link"), each shown as "<name> <<link>>".
#pragma once

#include "api/wire/Message.h"
#include "app/TerminalSession.h"

#include <string>
#include <vector>

namespace kestel {

inline constexpr const char* kAskAddress = "addr";
inline constexpr const char* kAskUser = "user";

struct TerminalEntry {
  std::string title;
  TerminalKind kind = TerminalKind::Console;
  std::vector<std::string> asks; // fields the user fills in before the session opens
  uint32_t guestLink = 0;        // a guest router's entry
  std::vector<TerminalEntry> children;
};

// A row of the router's guest table.
struct GuestRouter {
  std::string name;
  uint32_t link = 0;
};

// Rows of the guest table as the router sends them (string field "Name", u32 field "link" by the
// ids given); rows without a name are skipped.
std::vector<GuestRouter> guestRouters(const std::vector<nv::message>& rows, nv::string_id name,
                                      nv::u32_id link);

// The four kinds; "Nestvisor" lists `guests` (and has no entries when there are none).
std::vector<TerminalEntry> terminalEntries(const std::vector<GuestRouter>& guests);

// The target an entry opens, with the asked fields filled in (relayed kinds).
TerminalTarget terminalTarget(const TerminalEntry& entry, const std::string& address = {},
                              const std::string& user = {});

// The window title of a session to `target` on the router named `router`.
std::string terminalTitle(const TerminalTarget& target, const std::string& router);

} // namespace kestel
