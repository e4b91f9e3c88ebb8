// The router's status objects and its default-configuration note: where they are served and the
// keys they carry. The session window's status bar holds the two status objects (read with
// CMD_GET, the object holder's read command) and asks for the note once after login.
#pragma once

#include "api/wire/Message.h"

#include <array>
#include <cstdint>

namespace kestel::status {

// The clock status at handler (24, 0): "Time" and "Date" in the router's local time.
inline constexpr std::array<uint32_t, 2> kClockPath{24, 0};
inline constexpr nv::u32_id kDate{0x1}; // the day's midnight, seconds since 1970-01-01
inline constexpr nv::u32_id kTime{0x2}; // seconds since midnight

// The system status at handler (24, 2): "CPU", "Memory" and "Uptime". The path also serves the
// IPv6 neighbour table; the status object answers only CMD_GET there, the table keeps its own
// commands.
inline constexpr std::array<uint32_t, 2> kSystemPath{24, 2};
inline constexpr nv::u32_id kCpu{0x1};    // load in percent
inline constexpr nv::u64_id kMemory{0x2}; // free memory in bytes
inline constexpr nv::u32_id kUptime{0x3}; // seconds since the router started

// The default-configuration note at handler (24, 3). CMD_GET answers kNote and kScript while the
// router still runs the configuration it came with (nothing when it does not); kRemoveCommand
// removes that configuration, after which the note is no longer offered.
inline constexpr std::array<uint32_t, 2> kDefaultConfigPath{24, 3};
inline constexpr nv::string_id kNote{0x1};   // what the configuration does, for the reader
inline constexpr nv::string_id kScript{0x2}; // the commands that made it ("Show Script...")
inline constexpr uint32_t kRemoveCommand = 0xFE0042;

} // namespace kestel::status
