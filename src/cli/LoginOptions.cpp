#include "LoginOptions.h"

#include "app/PasswordInput.h"
#include "util/Log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace kestel::cli {

std::optional<Target> parseAddress(const std::string& text) {
  Target t;
  std::string rest;
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos)
      return std::nullopt;
    t.host = text.substr(1, close - 1);
    rest = text.substr(close + 1);
    if (!rest.empty() && rest[0] != ':')
      return std::nullopt;
  } else {
    size_t colon = text.find(':');
    if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos)
      return std::nullopt; // IPv6 without brackets
    t.host = text.substr(0, colon);
    if (colon != std::string::npos)
      rest = text.substr(colon);
  }
  if (!rest.empty()) {
    std::string digits = rest.substr(1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      return std::nullopt;
    unsigned long port = std::stoul(digits);
    if (port < 1 || port > 65535)
      return std::nullopt;
    t.port = uint32_t(port);
  }
  if (t.host.empty())
    return std::nullopt;
  return t;
}

std::optional<std::string> obtainPassword(std::optional<std::string> argument, const char* file) {
  if (argument) {
    std::fprintf(stderr,
                 "kestel-cli: warning: a password on the command line is visible to other "
                 "users; use --password-file or %s\n",
                 kPasswordVariable);
    return argument;
  }
  if (file) {
    auto password = readPasswordFile(file);
    if (!password) {
      std::fprintf(stderr, "kestel-cli: %s\n", password.error().text.c_str());
      return std::nullopt;
    }
    return std::move(*password);
  }
  if (auto password = takePasswordFromEnvironment())
    return password;
  int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  auto password = tty >= 0 ? promptPassword(tty, "Password: ")
                           : Expected<std::string>(makeError("no terminal"));
  if (tty >= 0)
    ::close(tty);
  if (!password) {
    std::fprintf(stderr,
                 "kestel-cli: no password (%s): give --password-file <path>, set %s or run on "
                 "a terminal\n",
                 password.error().text.c_str(), kPasswordVariable);
    return std::nullopt;
  }
  return std::move(*password);
}

void openDefaultLog() {
  std::string path = defaultLogPath();
  if (!openLogFile(path))
    std::fprintf(stderr, "kestel-cli: warning: cannot open the log file %s\n", path.c_str());
}

} // namespace kestel::cli
