// Helpers of the descriptor cache tests: whole-file reads and folder snapshots for comparisons
// (the scratch folder itself is the shared TempFolder).
#pragma once

#include "support/TempFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace kestel::test {

inline std::string readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writeWhole(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// Every regular file below `folder` by relative path, with its bytes.
inline std::map<std::string, std::string> snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    if (it->is_regular_file())
      files[std::filesystem::relative(it->path(), folder).string()] =
          readWhole(it->path().string());
  return files;
}

} // namespace kestel::test
