// The diagnostic dump of a message ("--- nv::message --------" and one line per field).
#include "api/wire/Message.h"

#include "api/wire/MessageBody.h"
#include "api/wire/Vocabulary.h"
#include "util/Log.h"

#include <arpa/inet.h>

namespace nv {

using detail::ArrayField;
using detail::Body;
using detail::Bytes;
using detail::kNoInlineBool;
using detail::ScalarField;

namespace {

std::string addrText(const addr6& a) {
  char buf[INET6_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET6, a.data(), buf, sizeof buf))
    return "?";
  return buf;
}

std::string head(const char* kind, uint32_t id) {
  return std::string(" ") + kind + " [" + kestel::keyName(id) + "]";
}

template <typename V, typename F> std::string elements(const V& v, F&& text) {
  std::string out;
  for (const auto& e : v)
    out += text(e) + ", ";
  return out;
}

std::string arrayLine(const ArrayField& f) {
  switch (f.value.index()) {
  case 0:
    return head("bool[]", f.id) + "=" + elements(std::get<Bytes>(f.value), [](uint8_t b) {
             return std::string(b ? "true" : "false");
           });
  case 1:
    return head("u32[]", f.id) + "=" +
           elements(std::get<std::vector<uint32_t>>(f.value),
                    [](uint32_t v) { return std::to_string(v); });
  case 2:
    return head("u64[]", f.id) + "=" +
           elements(std::get<std::vector<uint64_t>>(f.value),
                    [](uint64_t v) { return std::to_string(v); });
  case 3:
    return head("addr6[]", f.id) + "=" + elements(std::get<std::vector<addr6>>(f.value), addrText);
  case 4:
    return head("string[]", f.id) + "=" +
           elements(std::get<std::vector<std::string>>(f.value),
                    [](const std::string& s) { return s; });
  case 5:
    return head("raw[]", f.id) + "=" +
           elements(std::get<std::vector<Bytes>>(f.value),
                    [](const Bytes& b) { return "#" + std::to_string(b.size()); });
  default:
    return head("message[]", f.id) + "..";
  }
}

std::string scalarLine(const ScalarField& f) {
  switch (f.value.index()) {
  case 0:
    return head("u64", f.id) + "=" + std::to_string(std::get<uint64_t>(f.value));
  case 1:
    return head("addr6", f.id) + "=" + addrText(std::get<addr6>(f.value));
  default: {
    const std::span<const uint8_t> bytes = detail::valueBytes(f.value);
    if ((f.id & kTagMask) == kTagString)
      return head("string", f.id) + "=" +
             std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if ((f.id & kTagMask) == kTagMessage)
      return head("message", f.id) + "...";
    return head("raw", f.id) + "=#" + std::to_string(bytes.size());
  }
  }
}

} // namespace

void message::dumpAt(std::vector<std::string>& lines, const std::string& prefix, int level,
                     int depth) const {
  const std::string lead = prefix + std::string(size_t(std::max(level, 0)) * 4, ' ');
  lines.push_back(lead + "--- nv::message --------");
  if (!body_)
    return;
  const Body& b = *body_;
  auto boolLine = [&](uint32_t id, bool v) {
    lines.push_back(lead + head("bool", id) + "=" + (v ? "true" : "false"));
  };
  if (b.inlineBoolId != kNoInlineBool)
    boolLine(b.inlineBoolId, b.inlineBool);
  else if (b.bools)
    b.bools->forEach(boolLine);
  b.u32s.forEach([&](uint32_t id, uint32_t v) {
    lines.push_back(lead + head("u32", id) + "=" + kestel::valueName(id, v));
  });
  auto nested = [&](std::span<const uint8_t> bytes) {
    if (depth >= kMaxNesting) {
      lines.push_back(lead + "    (nested deeper than " + std::to_string(kMaxNesting) + " levels)");
      return;
    }
    message(bytes.data(), bytes.size()).dumpAt(lines, prefix, level + 1, depth + 1);
  };
  for (const ScalarField& f : b.scalars) {
    lines.push_back(lead + scalarLine(f));
    if ((f.id & kTagMask) == kTagMessage)
      nested(detail::valueBytes(f.value));
  }
  for (const ArrayField& f : b.arrays) {
    lines.push_back(lead + arrayLine(f));
    if ((f.id & kTagMask & ~kTagArray) == kTagMessage)
      std::get<detail::PackedMessages>(f.value).forEach(nested);
  }
}

void message::dump(std::string& out, std::string_view prefix, int level) const {
  std::vector<std::string> lines;
  dumpAt(lines, std::string(prefix), level, 0);
  for (const std::string& line : lines) {
    out += line;
    out += '\n';
  }
}

void message::dump(std::string_view prefix, int level) const {
  std::vector<std::string> lines;
  dumpAt(lines, std::string(prefix), level, 0);
  for (const std::string& line : lines)
    kestel::logLine(line);
}

} // namespace nv
