// The router's terminal handler (76): the commands of a terminal session and the fields of its
// messages. The client's terminal sessions and the simulator's console both speak it; the
// exchange is described in docs/protocol-terminal.md.
#pragma once

#include "api/wire/Message.h"

#include <cstdint>

namespace kestel {

inline constexpr uint32_t kTerminalHandler = 76;

// Opens a session (a request; the reply carries STD_ID, the session id).
inline constexpr uint32_t kTerminalOpen = 0xA0065;
// Ends a session; sent by either side.
inline constexpr uint32_t kTerminalClose = 0xA0066;
// Bytes of the session, or (without kTerminalBytes) an acknowledgement; both sides.
inline constexpr uint32_t kTerminalData = 0xA0067;
// The client's window size changed.
inline constexpr uint32_t kTerminalWindowSize = 0xA0068;

// No session id held.
inline constexpr uint32_t kNoTerminalSession = 0xFFFFFFFF;

// Fields of the open request.
inline constexpr nv::string_id kTerminalLogin{1};
inline constexpr nv::string_id kTerminalType{7};
inline constexpr nv::u32_id kTerminalColumns{5};
inline constexpr nv::u32_id kTerminalRows{6};
inline constexpr nv::u32_id kTerminalKind{8};
inline constexpr nv::string_id kTerminalTargetAddress{9};
inline constexpr nv::string_id kTerminalTargetUser{10};
inline constexpr nv::message_id kTerminalOptions{11};
// Inside kTerminalOptions: the link number of a guest router's console.
inline constexpr nv::u32_id kTerminalGuestLink{1};

// Fields of the data message.
inline constexpr nv::raw_id kTerminalBytes{2};
// The sender's count of session bytes it has taken so far (modulo 2^32).
inline constexpr nv::u32_id kTerminalReceived{3};

// The terminal kinds (u32 8 of the open request).
enum class TerminalKind : uint32_t {
  Console = 0,   // the router's own console
  Telnet = 1,    // relayed by the router to another address
  MacTelnet = 2, // relayed by the router to another device by its MAC address
  Guest = 3,     // the console of a guest router
};

// The terminal type the client announces.
inline constexpr const char* kTerminalTypeName = "vt102";

} // namespace kestel
