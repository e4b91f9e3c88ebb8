// Where the command line gets the password from without leaving it where other local users can
// read it: a file, the environment, or a prompt on the terminal with echo off. A password given
// as an argument still works, but /proc/<pid>/cmdline shows arguments to everyone, so it is
// overwritten in the process's argument memory as soon as it is read.
#pragma once

#include "util/Expected.h"

#include <optional>
#include <string>

namespace kestel {

// The environment variable the password may come from.
inline constexpr const char* kPasswordVariable = "KESTEL_PASSWORD";

// The file's content without one trailing line end ("\n" or "\r\n"); fails when it cannot be
// read or holds more than 4 KiB.
Expected<std::string> readPasswordFile(const std::string& path);

// The value of KESTEL_PASSWORD when it is set (an empty value is an empty password), then
// removed from the environment so that child processes do not inherit it.
std::optional<std::string> takePasswordFromEnvironment();

// Shows `prompt` on the terminal `fd` and reads one line with echo off (restored afterwards);
// fails when `fd` is not a terminal or the input ends first.
Expected<std::string> promptPassword(int fd, const char* prompt);

// Overwrites an argument in place, so /proc/<pid>/cmdline no longer shows it.
void wipeArgument(char* argument);

} // namespace kestel
