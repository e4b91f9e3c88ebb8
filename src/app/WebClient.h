// Plain HTTP GET for the self-upgrade, behind an interface: the core never talks to a web server
// itself; the desktop program gives it a client (QtWebClient). Replies arrive on the reactor's
// thread; only the status kWebConnecting may come from inside get(), everything else later.
#pragma once

#include "util/Bytes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kestel {

// The web client's own status texts.
inline constexpr const char* kWebConnecting = "connecting...";
inline constexpr const char* kWebReceiving = "receiving data...";
inline constexpr const char* kWebDone = "done";
inline constexpr const char* kWebNoServer = "could not resolve server name";
inline constexpr const char* kWebNoConnection = "could not connect to server";
inline constexpr const char* kWebFailed = "failed: "; // followed by the error

// What one request reports, in this order: statuses and the length at any time, data blocks,
// then exactly one of done or failed. Nothing comes after those, or after data() said stop.
class WebListener {
public:
  virtual ~WebListener() = default;
  // kWebConnecting, kWebReceiving or kWebDone.
  virtual void webStatus(std::string_view text) = 0;
  // The length the server announced for the body.
  virtual void webLength(uint64_t length) = 0;
  // A block of the body; false stops the request (it is cancelled and reports nothing more).
  virtual bool webData(ByteSpan block) = 0;
  // The whole body has arrived (a 2xx status).
  virtual void webDone() = 0;
  // kWebNoServer, kWebNoConnection, or kWebFailed followed by the error (an error status, a
  // connection lost, too many redirections, ...).
  virtual void webFailed(const std::string& text) = 0;
};

// A running request; destroying it cancels it without any further report.
class WebRequest {
public:
  virtual ~WebRequest() = default;
};

class WebClient {
public:
  virtual ~WebClient() = default;
  // Starts a GET of `url` ("http://host[:port]/path") that bypasses every cache.
  virtual std::unique_ptr<WebRequest> get(const std::string& url, WebListener& listener) = 0;
};

} // namespace kestel
