#include "gen/DescriptorLoader.h"

#include "gen/JSParser.h"
#include "util/Log.h"

#include <fstream>
#include <memory>

namespace kestel {

namespace {

Error parseError() {
  logLine("parse error");
  return makeError("parse error");
}

bool allBlank(const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    char c = p[i];
    if (c != ' ' && (c < '\t' || c > '\r'))
      return false;
  }
  return true;
}

// Reads element by element: after each completed element the parser is replaced by a fresh
// one primed to stand after a placeholder element inside a container of the same kind, so the
// next element reads as if the document had never been cut.
class ElementReader {
public:
  explicit ElementReader(const ServiceBuilder& build) : build_(build) {
    parser_ = std::make_unique<JSParser>();
    parser_->setCompletionDepth(2);
  }

  // Feeds one chunk, handling every completion inside it.
  Expected<void> chunk(const char* p, size_t n) {
    size_t at = 0;
    while (at < n) {
      if (closed_)
        return allBlank(p + at, n - at) ? Expected<void>() : Expected<void>(parseError());
      int32_t used = parser_->feed(p + at, n - at);
      if (used < 0)
        return parseError();
      // A completion can consume nothing (a numeral ended by the chunk's first byte) or the
      // whole chunk (an element closed by its last byte): the state tells, not the count.
      if (!parser_->complete())
        return {};
      at += static_cast<size_t>(used);
      if (Expected<void> r = completed(); !r)
        return r;
    }
    return {};
  }

  bool closed() const { return closed_; }

private:
  Expected<void> completed() {
    const JSNode* top = parser_->result();
    closed_ = parser_->depth() == 1; // the top-level value itself is finished
    if (!top->isContainer())
      return {};
    for (const JSNode* c = top->firstChild(); c; c = c->next) {
      if (c->kind != JSNodeKind::Object)
        continue;
      if (Expected<void> r = build_(*c); !r)
        return r;
    }
    if (!closed_)
      prime(top->kind);
    return {};
  }

  void prime(JSNodeKind kind) {
    parser_ = std::make_unique<JSParser>();
    (void)parser_->feed(kind == JSNodeKind::Object ? std::string_view("{k:[]") : "[[]");
    parser_->setCompletionDepth(2);
  }

  const ServiceBuilder& build_;
  std::unique_ptr<JSParser> parser_;
  bool closed_ = false;
};

} // namespace

Expected<void> loadDescriptorStream(std::istream& in, const ServiceBuilder& build) {
  ElementReader reader(build);
  char buf[kDescriptorChunkBytes];
  while (in) {
    in.read(buf, sizeof buf);
    auto n = static_cast<size_t>(in.gcount());
    if (n == 0)
      break;
    if (Expected<void> r = reader.chunk(buf, n); !r)
      return r;
  }
  if (!reader.closed())
    return parseError(); // truncated: the top-level value never ended
  return {};
}

Expected<void> loadDescriptorDocument(const std::string& path, const ServiceBuilder& build) {
  logf("loading ", path);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    logf("could not open ", path);
    return makeError("could not open " + path);
  }
  return loadDescriptorStream(in, build);
}

} // namespace kestel
