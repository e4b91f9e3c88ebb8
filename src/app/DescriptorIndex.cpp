#include "app/DescriptorIndex.h"

#include "gen/JSParser.h"
#include "util/Log.h"

namespace kestel {
namespace {

bool endsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool endsWithPng(std::string_view s) {
  if (s.size() < 4)
    return false;
  std::string_view t = s.substr(s.size() - 4);
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  return lower(t[0]) == '.' && lower(t[1]) == 'p' && lower(t[2]) == 'n' && lower(t[3]) == 'g';
}

std::string textOf(const JSNode& node) {
  const char* t = node.text();
  return t ? std::string(t) : std::string();
}

} // namespace

bool isPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..")
    return false;
  for (char c : name)
    if (c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) < 0x20)
      return false;
  return true;
}

Expected<std::vector<IndexEntry>> parseIndex(ByteSpan bytes) {
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  size_t comma = text.rfind(',');
  std::vector<IndexEntry> entries;
  if (comma == std::string_view::npos)
    return entries;
  text = text.substr(0, comma);
  JSParser parser;
  if (parser.feed("[") != 1 || parser.feed(text) != static_cast<int32_t>(text.size()) ||
      parser.complete() || parser.feed("]") != 1 || !parser.complete())
    return makeError(kCorruptIndex);
  const JSNode* list = parser.result();
  for (const JSNode* item = list->firstChild(); item; item = item->next) {
    if (item->kind != JSNodeKind::Object)
      continue;
    IndexEntry e;
    for (const JSNode* m = item->firstChild(); m; m = m->next) {
      std::string_view key = m->key ? m->key : "";
      if (key == "crc")
        e.crc = static_cast<uint32_t>(m->u64Value(0));
      else if (key.substr(0, 4) == "name")
        e.name = textOf(*m);
      else if (key.substr(0, 4) == "size")
        e.size = static_cast<uint32_t>(m->u64Value(0));
      else if (key.substr(0, 4) == "vers")
        e.version = textOf(*m);
    }
    bool png = endsWith(e.name, ".png");
    if (!endsWith(e.name, ".jg") && !png) {
      logf("WARN: unsupported index file:", e.name);
      continue;
    }
    if (e.name.empty() || (!png && e.version.empty()) || e.size == 0)
      continue;
    if (!isPlainFileName(e.name)) {
      logf("WARN: refused index file name:", e.name);
      continue;
    }
    if (e.name == kMainDocument && !isPlainFileName(e.version)) {
      logf("WARN: refused version of ", kMainDocument, ":", e.version);
      return makeError(kCorruptIndex);
    }
    e.compressed = !endsWithPng(e.name);
    entries.push_back(std::move(e));
  }
  return entries;
}

} // namespace kestel
