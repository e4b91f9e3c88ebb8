// What every kestel-cli command that logs in to a router shares: the password sources and the
// log file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestel::cli {

// The password from the first source there is: the argument (warned about and wiped), the
// file, the environment, the terminal. nullopt after saying why there is none.
std::optional<std::string> obtainPassword(std::optional<std::string> argument, const char* file);

// Opens the default log file; --verbose also mirrors it to stderr.
void openDefaultLog();

} // namespace kestel::cli
