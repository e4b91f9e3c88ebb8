#include "CommandSupport.h"

#include "api/net/Looper.h"
#include "app/FieldText.h"
#include "app/MenuCatalog.h"

#include <chrono>
#include <cstdio>

namespace kestel::cli {

void StderrBoxes::showMessageBox(const std::string& title, const std::string& text) {
  (void)title;
  std::fprintf(stderr, "%s\n", text.c_str());
  shown = true;
}

bool CommandContext::waitFor(const std::function<bool()>& done) {
  auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (!routerConnection()) {
      std::fprintf(stderr, "kestel-cli: the connection to the router closed\n");
      return false;
    }
    if (std::chrono::steady_clock::now() >= limit) {
      std::fprintf(stderr, "kestel-cli: the router did not answer\n");
      return false;
    }
    reactor.runOnce(100);
  }
  return true;
}

bool parseAssignments(const std::vector<std::string>& args, std::vector<Assignment>& out) {
  for (const std::string& a : args) {
    size_t eq = a.find('=');
    if (eq == std::string::npos || eq == 0) {
      std::fprintf(stderr, "kestel-cli: expected field=value, got \"%s\"\n", a.c_str());
      return false;
    }
    out.push_back({a.substr(0, eq), a.substr(eq + 1)});
  }
  return true;
}

bool applyAssignments(IObject& object, const CType& type, const std::vector<Assignment>& values) {
  for (const Assignment& a : values) {
    const Slot* slot = findField(type, a.field);
    if (!slot) {
      std::fprintf(stderr, "kestel-cli: %s has no field %s\n", type.title().c_str(),
                   a.field.c_str());
      return false;
    }
    if (auto set = setFieldText(object, *slot, a.value); !set) {
      std::fprintf(stderr, "%s\n", set.error().text.c_str());
      return false;
    }
  }
  return true;
}

std::string objectLine(const IObject& object, const CType& type) {
  std::string line;
  for (const Slot* slot : valueSlots(type)) {
    if (slot->has(SLOT_HIDE))
      continue;
    std::string value = fieldText(object, *slot);
    if (value.empty() || value.find(' ') != std::string::npos)
      value = "\"" + value + "\"";
    line += (line.empty() ? "" : " ") + slot->name() + "=" + value;
  }
  return line;
}

bool parseObjectId(const std::string& text, uint32_t& id) {
  bool hex = !text.empty() && text[0] == '*';
  std::string digits = hex ? text.substr(1) : text;
  if (digits.empty() || digits.size() > 10)
    return false;
  uint64_t v = 0;
  for (char c : digits) {
    int d = c >= '0' && c <= '9'          ? c - '0'
            : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
            : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
    if (d < 0)
      return false;
    v = v * (hex ? 16 : 10) + uint64_t(d);
  }
  if (v >= 0xFFFFFFFFu)
    return false;
  id = uint32_t(v);
  return true;
}

} // namespace kestel::cli
