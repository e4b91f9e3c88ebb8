#include "app/PasswordInput.h"

#include "crypto/Secure.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace kestel {
namespace {

constexpr size_t kMaxPassword = 4096;

void dropLineEnd(std::string& text) {
  if (!text.empty() && text.back() == '\n')
    text.pop_back();
  if (!text.empty() && text.back() == '\r')
    text.pop_back();
}

// Wipes a string's bytes before it is dropped.
void wipe(std::string& text) {
  secureWipe(text.data(), text.size());
  text.clear();
}

} // namespace

Expected<std::string> readPasswordFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return makeError("cannot read password file " + path + ": " + std::strerror(errno));
  std::string text;
  char buf[512];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      int error = n < 0 ? errno : 0;
      ::close(fd);
      secureWipe(buf, sizeof buf);
      if (error) {
        wipe(text);
        return makeError("cannot read password file " + path + ": " + std::strerror(error));
      }
      break;
    }
    text.append(buf, size_t(n));
    if (text.size() > kMaxPassword + 2) {
      ::close(fd);
      secureWipe(buf, sizeof buf);
      wipe(text);
      return makeError("password file " + path + " is longer than a password");
    }
  }
  dropLineEnd(text);
  return text;
}

std::optional<std::string> takePasswordFromEnvironment() {
  char* value = std::getenv(kPasswordVariable);
  if (!value)
    return std::nullopt;
  std::string password(value);
  secureWipe(value, std::strlen(value));
  ::unsetenv(kPasswordVariable);
  return password;
}

Expected<std::string> promptPassword(int fd, const char* prompt) {
  termios saved{};
  if (!::isatty(fd) || ::tcgetattr(fd, &saved) != 0)
    return makeError("no terminal to ask for the password on");
  termios quiet = saved;
  quiet.c_lflag &= ~tcflag_t(ECHO);
  quiet.c_lflag |= ECHONL; // the line end still shows, so the next output starts on a new line
  // Echo goes off before the prompt shows: whatever is typed once the prompt is there stays
  // unseen, and nothing of it is flushed away with the type-ahead.
  if (::tcsetattr(fd, TCSAFLUSH, &quiet) != 0)
    return makeError("cannot turn off echo on the terminal");
  [[maybe_unused]] ssize_t shown = ::write(fd, prompt, std::strlen(prompt));
  std::string line;
  bool ended = false;
  for (;;) {
    char c;
    ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0 || line.size() > kMaxPassword) {
      ended = true;
      break;
    }
    if (c == '\n')
      break;
    line += c;
  }
  ::tcsetattr(fd, TCSAFLUSH, &saved);
  if (ended) {
    wipe(line);
    return makeError("no password given");
  }
  dropLineEnd(line);
  return line;
}

void wipeArgument(char* argument) {
  if (argument)
    secureWipe(argument, std::strlen(argument));
}

} // namespace kestel
