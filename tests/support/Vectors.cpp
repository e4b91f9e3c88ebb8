#include "support/Vectors.h"

#include <fstream>
#include <stdexcept>
#include <string>

namespace kestel::test {

const nlohmann::json& vectors() {
  static const nlohmann::json doc = [] {
    const std::string path = std::string(KESTEL_TESTVECTORS_DIR) + "/standard-vectors.json";
    std::ifstream in(path);
    if (!in)
      throw std::runtime_error("cannot open " + path);
    return nlohmann::json::parse(in);
  }();
  return doc;
}

long long asNumber(const nlohmann::json& value) {
  return value.is_string() ? std::stoll(value.get<std::string>()) : value.get<long long>();
}

} // namespace kestel::test
