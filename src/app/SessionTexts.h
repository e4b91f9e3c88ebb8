// The session window's texts without the window: its title as the router's values arrive, the
// connection status line, and the status bar fields fed from the router's clock object (handler
// 24, 0) and resources object (24, 2).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kestel {

inline constexpr const char* kSessionWindowClass = "nimbalux_main";
inline constexpr const char* kCouldNotConnectTitle = "Could not connect";
inline constexpr const char* kWrongCredentialsText = "Wrong username or password";

struct SessionTitle {
  std::string login, address;
  // Read from the router; empty until they arrive (the identity first of all).
  std::string identity, version, architecture, board;
  std::string agent;              // the Hoplink agent's address; empty for a direct session
  std::string architectureSuffix; // process-wide; shown after "+" when set
};
// "<login>@<address> - Kestel (64bit)" until the identity is known; then
// "<login>@<address> (<identity>)[ via <agent>] - Kestel (64bit) v<version>[ on <arch>[+<suffix>]]
// [ (<board>)]".
std::string sessionTitleText(const SessionTitle& title);

enum class ConnectionPhase { Connecting, LoggingIn, RetrievingPreferences };
// "Connecting to %s (port %d)...", "Logging in %s (port %d)...",
// "Retrieving preferences from %s (port %d)...".
std::string connectionStatusText(ConnectionPhase phase, std::string_view address, uint16_t port);
// "Could not connect to %s!" (shown when the connection never stood).
std::string couldNotConnectText(std::string_view address);

// The status bar: "Time" and "Date" from the clock object, "CPU Load", "Free Memory" and "Uptime"
// from the resources object. The uptime is kept as a boot time, so the field counts on between
// updates; a boot time that moves is logged ("INF: updating bootTime <old> -> <new> diff:<d>").
class StatusBar {
public:
  static constexpr const char* kFields[] = {"Time", "Date", "CPU Load", "Free Memory", "Uptime"};

  // The clock object's "Time" and "Date" values as text.
  void setClock(std::string time, std::string date);
  // The resources object's "CPU" and "Memory" values as text and "Uptime" in seconds, read at
  // `nowSeconds` (the session's monotonic clock).
  void setResources(std::string cpu, std::string memory, uint32_t uptimeSeconds,
                    int64_t nowSeconds);
  // A field's text at `nowSeconds`; "" for an unknown field or a value not received yet.
  std::string field(std::string_view name, int64_t nowSeconds) const;
  std::optional<int64_t> bootTime() const { return bootTime_; }

private:
  std::string time_, date_, cpu_, memory_;
  std::optional<int64_t> bootTime_;
};

} // namespace kestel
