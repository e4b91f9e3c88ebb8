#include "LoginOptions.h"

#include "app/PasswordInput.h"
#include "util/Log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace kestel::cli {

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
