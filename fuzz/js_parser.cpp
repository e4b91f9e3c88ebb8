// Feeds arbitrary bytes to the descriptor parser cut into chunks chosen by the input's first
// bytes, and checks the tree equals the one from a single feed. The same bytes also go through
// the element-at-a-time loader with builders that read predicates, enumerations and conditions.
#include "gen/DescriptorLoader.h"
#include "gen/Enumerations.h"
#include "gen/JSParser.h"
#include "gen/Predicate.h"
#include "gen/SlotCondition.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

using namespace kestel;

void dump(const JSNode* n, std::string& out) {
  if (!n) {
    out += "~";
    return;
  }
  out += std::to_string(static_cast<int>(n->kind)) + (n->key ? n->key : "") + "=";
  if (n->kind == JSNodeKind::Number)
    out += std::to_string(n->value.number);
  else if (n->kind == JSNodeKind::String)
    out += n->value.text;
  for (const JSNode* c = n->firstChild(); c; c = c->next)
    dump(c, out);
  out += ";";
}

std::string parse(std::string_view text, std::string_view cuts) {
  JSParser p;
  size_t at = 0, k = 0;
  while (at < text.size() && !p.complete()) {
    size_t n = cuts.empty() ? text.size() : 1 + static_cast<unsigned char>(cuts[k++ % cuts.size()]);
    n = std::min(n, text.size() - at);
    int32_t used = p.feed(text.data() + at, n);
    if (used < 0)
      return "ERR";
    at += n;
  }
  std::string out;
  dump(p.finish(), out);
  return out;
}

Expected<void> buildEverything(const JSNode& e) {
  for (const JSNode* c = e.firstChild(); c; c = c->next) {
    if (!c->isContainer())
      continue;
    (void)createPredicate(*c);
    (void)createEnum(*c);
    (void)SlotCondition::fromNode(*c);
    (void)c->numberMap();
    (void)c->idArray();
  }
  return {};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  size_t ncuts = data[0] % 8;
  if (size < 1 + ncuts)
    return 0;
  std::string_view cuts(reinterpret_cast<const char*>(data + 1), ncuts);
  std::string_view text(reinterpret_cast<const char*>(data + 1 + ncuts), size - 1 - ncuts);
  if (parse(text, cuts) != parse(text, {}))
    std::abort();
  std::istringstream in{std::string(text)};
  (void)loadDescriptorStream(in, buildEverything);
  return 0;
}
