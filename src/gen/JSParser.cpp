#include "gen/JSParser.h"

#include "util/Ascii.h"

#include <climits>
#include <cstring>
#include <new>

// The state handlers are folded into feed's loop.
#define KESTEL_HOT [[gnu::always_inline]] inline

namespace kestel {

struct JSParser::Block {
  Block* link;
  size_t usable;
  char* bytes() { return reinterpret_cast<char*>(this + 1); }
};

namespace {

// Nodes hold 64-bit pointers, so every arena allocation is kept 8-aligned.
constexpr size_t kAlign = 8;
constexpr size_t roundUp(size_t n) { return (n + kAlign - 1) & ~(kAlign - 1); }

inline bool isBlank(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
inline bool isLower(unsigned char c) { return c >= 'a' && c <= 'z'; }
inline bool isAlnum(unsigned char c) { return isDigit(c) || isLower(c) || (c >= 'A' && c <= 'Z'); }
inline const char* skipBlanks(const char* p, const char* end) {
  while (p < end && isBlank(static_cast<unsigned char>(*p)))
    ++p;
  return p;
}

// Regular blocks released by parsers of this thread, reused by the next ones. A parser that
// outlives the cache (a static one at exit) frees its blocks instead.
thread_local bool tBlockCacheGone = false;
struct BlockCache {
  std::vector<void*> blocks;
  ~BlockCache() {
    for (void* b : blocks)
      ::operator delete(b);
    blocks.clear();
    tBlockCacheGone = true;
  }
};
thread_local BlockCache tBlockCache;

} // namespace

size_t JSParser::cachedBlocks() { return tBlockCacheGone ? 0 : tBlockCache.blocks.size(); }

JSParser::JSParser() {
  stack_.reserve(8);
  newBlock(kBlockBytes);
  root_ = static_cast<JSNode*>(allocate(sizeof(JSNode)));
  root_->key = nullptr;
  root_->next = nullptr;
  root_->kind = JSNodeKind::Root;
  root_->value.children = nullptr;
  stack_.push_back({root_, &root_->value.children});
}

JSParser::~JSParser() {
  std::vector<void*>* cache = tBlockCacheGone ? nullptr : &tBlockCache.blocks;
  while (blocks_) {
    Block* b = blocks_;
    blocks_ = b->link;
    if (cache && b->usable == kBlockBytes && cache->size() < kCachedBlocks)
      cache->push_back(b);
    else
      ::operator delete(b);
  }
}

bool JSParser::newBlock(size_t usable) {
  usable = roundUp(usable);
  if (arenaBytes_ + usable > arenaLimit_ && blocks_)
    return false;
  std::vector<void*>* cache = tBlockCacheGone ? nullptr : &tBlockCache.blocks;
  Block* b;
  if (cache && usable == kBlockBytes && !cache->empty()) {
    b = static_cast<Block*>(cache->back());
    cache->pop_back();
  } else {
    b = static_cast<Block*>(::operator new(sizeof(Block) + usable));
  }
  b->link = blocks_;
  b->usable = usable;
  blocks_ = b;
  free_ = b->bytes();
  limit_ = free_ + usable;
  arenaBytes_ += usable;
  return true;
}

void* JSParser::allocate(size_t bytes) {
  bytes = roundUp(bytes);
  if (static_cast<size_t>(limit_ - free_) < bytes &&
      !newBlock(bytes > kBlockBytes ? bytes : kBlockBytes))
    return nullptr;
  void* p = free_;
  free_ += bytes;
  return p;
}

// Makes room for `more` token bytes plus the terminator and padding. When the token outgrows
// the block, the part read so far moves to the start of a new block so it stays contiguous.
bool JSParser::reserveToken(size_t more) {
  size_t used = static_cast<size_t>(free_ - token_);
  if (static_cast<size_t>(limit_ - free_) >= more + kAlign)
    return true;
  size_t want = 2 * (used + more) + kAlign;
  char* old = token_;
  if (!newBlock(want > kBlockBytes ? want : kBlockBytes))
    return false;
  std::memcpy(free_, old, used);
  token_ = free_;
  free_ += used;
  return true;
}

// Copies token bytes up to the first `a` or `b` or the end of the chunk and returns where it
// stopped; null when the arena is full. Eight bytes at a time while both sides have room.
const char* JSParser::copyRun(const char* p, const char* end, char a, char b) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  const uint64_t ma = kOnes * static_cast<unsigned char>(a);
  const uint64_t mb = kOnes * static_cast<unsigned char>(b);
  for (;;) {
    size_t room = static_cast<size_t>(limit_ - free_) - kAlign; // reserveToken keeps kAlign spare
    const char* stop = static_cast<size_t>(end - p) > room ? p + room : end;
    char* d = free_;
    while (stop - p >= 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      std::memcpy(d, &w, 8);
      uint64_t xa = w ^ ma, xb = w ^ mb;
      uint64_t hit = ((xa - kOnes) & ~xa) | ((xb - kOnes) & ~xb);
      hit &= kOnes << 7;
      if (hit) {
        size_t k = static_cast<size_t>(__builtin_ctzll(hit)) / 8;
        free_ = d + k;
        return p + k;
      }
      p += 8;
      d += 8;
    }
    while (p < stop && *p != a && *p != b)
      *d++ = *p++;
    free_ = d;
    if (p < stop || p == end)
      return p;
    size_t left = static_cast<size_t>(end - p);
    if (!reserveToken(left < kBlockBytes / 2 ? left : kBlockBytes / 2))
      return nullptr;
  }
}

void JSParser::appendToken(const char* p, size_t n) {
  std::memcpy(free_, p, n);
  free_ += n;
}

// NUL-terminates and pads the token (reserveToken kept room) and hands out its start.
const char* JSParser::endToken() {
  size_t len = static_cast<size_t>(free_ - token_);
  size_t padded = roundUp(len + 1);
  static constexpr uint64_t kZero = 0;
  std::memcpy(free_, &kZero, sizeof kZero); // the terminator and padding (room was kept)
  free_ = token_ + padded;
  return token_;
}

JSNode* JSParser::makeNode(JSNodeKind kind) {
  auto* n = static_cast<JSNode*>(allocate(sizeof(JSNode)));
  if (!n)
    return nullptr;
  n->key = pendingKey_;
  pendingKey_ = nullptr;
  n->next = nullptr;
  n->kind = kind;
  n->value.number = 0;
  Open& top = stack_.back();
  *top.tail = n;
  top.tail = &n->next;
  return n;
}

void JSParser::valueDone() {
  state_ = completionDepth_ < stack_.size() ? State::AfterValue : State::Complete;
}

const char* JSParser::fail() {
  state_ = State::Error;
  return nullptr;
}

KESTEL_HOT const char* JSParser::onObjectOpened(const char* p, const char* end) {
  p = skipBlanks(p, end);
  if (p == end)
    return p;
  if (*p == '}') {
    stack_.pop_back();
    valueDone();
    return p + 1;
  }
  state_ = State::Key;
  token_ = nullptr;
  keyQuoted_ = keyClosed_ = false;
  return p;
}

// A key not yet started, or an unquoted key being read.
KESTEL_HOT const char* JSParser::onKey(const char* p, const char* end) {
  bool started = token_ != nullptr;
  if (!started) {
    p = skipBlanks(p, end);
    if (p == end)
      return p;
    unsigned char c = static_cast<unsigned char>(*p);
    token_ = free_;
    if (!reserveToken(0))
      return fail();
    if (c == '\'' || c == '"') {
      keyQuoted_ = true;
      quote_ = static_cast<char>(c);
      return p + 1;
    }
    if (!isAlnum(c))
      return fail();
  }
  const char* run = p;
  while (p < end && isAlnum(static_cast<unsigned char>(*p)))
    ++p;
  if (!reserveToken(static_cast<size_t>(p - run)))
    return fail();
  appendToken(run, static_cast<size_t>(p - run));
  if (p == end)
    return p;
  if (*p != ':')
    return fail();
  pendingKey_ = endToken();
  token_ = nullptr;
  state_ = State::Value;
  return p + 1;
}

// A quoted key (no escapes) may continue in the next chunk, and so may its colon.
KESTEL_HOT const char* JSParser::onQuotedKey(const char* p, const char* end) {
  if (!keyClosed_) {
    p = copyRun(p, end, quote_, quote_);
    if (!p)
      return fail();
    if (p == end)
      return p;
    keyClosed_ = true;
    ++p;
    if (p == end)
      return p;
  }
  if (*p != ':' || free_ == token_)
    return fail();
  pendingKey_ = endToken();
  token_ = nullptr;
  keyQuoted_ = keyClosed_ = false;
  state_ = State::Value;
  return p + 1;
}

KESTEL_HOT const char* JSParser::onValue(const char* p, const char* end) {
  p = skipBlanks(p, end);
  if (p == end)
    return p;
  unsigned char c = static_cast<unsigned char>(*p);
  if (c == '[' || c == '{') {
    if (stack_.size() >= kMaxDepth)
      return fail();
    JSNode* n = makeNode(c == '[' ? JSNodeKind::Array : JSNodeKind::Object);
    if (!n)
      return fail();
    stack_.push_back({n, &n->value.children});
    state_ = c == '[' ? State::ArrayOpened : State::ObjectOpened;
    token_ = nullptr;
    return p + 1;
  }
  if (c == '\'' || c == '"') {
    quote_ = static_cast<char>(c);
    escape_ = false;
    token_ = free_;
    if (!reserveToken(0))
      return fail();
    state_ = c == '\'' ? State::SingleQuoted : State::DoubleQuoted;
    return p + 1;
  }
  if (isDigit(c)) {
    number_ = c - '0';
    digits_ = 1;
    base_ = c == '0' ? 8 : 10;
    badDigit_ = false;
    state_ = State::Numeral;
    return p + 1;
  }
  if (c == 't' || c == 'f') {
    wordLen_ = 0;
    state_ = State::Word;
    return p;
  }
  return fail();
}

KESTEL_HOT const char* JSParser::onArrayOpened(const char* p, const char* end) {
  p = skipBlanks(p, end);
  if (p == end)
    return p;
  if (*p == ']') {
    stack_.pop_back();
    valueDone();
    return p + 1;
  }
  state_ = State::Value;
  return p;
}

KESTEL_HOT const char* JSParser::onAfterValue(const char* p, const char* end) {
  p = skipBlanks(p, end);
  if (p == end)
    return p;
  JSNodeKind inner = stack_.back().node->kind;
  char closer = inner == JSNodeKind::Object ? '}' : inner == JSNodeKind::Array ? ']' : 0;
  if (closer == 0)
    return fail();
  if (*p == closer) {
    stack_.pop_back();
    valueDone();
    return p + 1;
  }
  if (*p != ',')
    return fail();
  if (inner == JSNodeKind::Object) {
    state_ = State::Key;
    token_ = nullptr;
    keyQuoted_ = keyClosed_ = false;
  } else {
    state_ = State::Value;
  }
  return p + 1;
}

KESTEL_HOT const char* JSParser::onString(const char* p, const char* end) {
  while (p < end) {
    if (escape_) {
      char c = *p++;
      c = c == 'r' ? '\r' : c == 't' ? '\t' : c == 'n' ? '\n' : c;
      if (!reserveToken(1))
        return fail();
      appendToken(&c, 1);
      escape_ = false;
      continue;
    }
    p = copyRun(p, end, quote_, '\\');
    if (!p)
      return fail();
    if (p == end)
      return p;
    if (*p == '\\') {
      escape_ = true;
      ++p;
      continue;
    }
    const char* text = endToken();
    token_ = nullptr;
    JSNode* n = makeNode(JSNodeKind::String);
    if (!n)
      return fail();
    n->value.text = text;
    valueDone();
    return p + 1;
  }
  return p;
}

KESTEL_HOT const char* JSParser::onNumeral(const char* p, const char* end) {
  for (; p < end; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (base_ == 8 && digits_ == 1 && (c == 'x' || c == 'X')) {
      base_ = 16;
      digits_ = 0;
      continue;
    }
    int d = base_ == 16 ? hexDigitValue(c) : (isDigit(c) ? c - '0' : -1);
    if (d < 0)
      break;
    if (d >= base_)
      badDigit_ = true;
    if (digits_ < 2)
      ++digits_; // only "none" and "one" matter
    if (number_ > (UINT64_MAX - static_cast<unsigned>(d)) / base_)
      number_ = UINT64_MAX; // saturates and stays saturated
    else
      number_ = number_ * base_ + static_cast<unsigned>(d);
  }
  if (p == end)
    return p;
  if (badDigit_ || digits_ == 0)
    return fail();
  JSNode* n = makeNode(JSNodeKind::Number);
  if (!n)
    return fail();
  n->value.number = number_;
  valueDone();
  return p;
}

KESTEL_HOT const char* JSParser::onWord(const char* p, const char* end) {
  for (; p < end && isLower(static_cast<unsigned char>(*p)); ++p) {
    if (wordLen_ < sizeof(word_))
      word_[wordLen_++] = *p; // a sixth letter already rules the word out
  }
  if (p == end)
    return p;
  std::string_view w(word_, wordLen_);
  if (w != "true" && w != "false")
    return fail();
  JSNode* n = makeNode(JSNodeKind::Number);
  if (!n)
    return fail();
  n->value.number = w == "true" ? 1 : 0;
  valueDone();
  return p;
}

int32_t JSParser::feed(const char* bytes, size_t length) {
  if (state_ == State::Error)
    return -1;
  if (length > static_cast<size_t>(INT32_MAX)) {
    fail();
    return -1;
  }
  const char* p = bytes;
  const char* end = bytes + length;
  while (p < end) {
    switch (state_) {
    case State::ObjectOpened:
      p = onObjectOpened(p, end);
      break;
    case State::Key:
      p = keyClosed_ || keyQuoted_ ? onQuotedKey(p, end) : onKey(p, end);
      break;
    case State::Value:
      p = onValue(p, end);
      break;
    case State::ArrayOpened:
      p = onArrayOpened(p, end);
      break;
    case State::AfterValue:
      p = onAfterValue(p, end);
      break;
    case State::SingleQuoted:
    case State::DoubleQuoted:
      p = onString(p, end);
      break;
    case State::Numeral:
      p = onNumeral(p, end);
      break;
    case State::Word:
      p = onWord(p, end);
      break;
    case State::Complete:
      return static_cast<int32_t>(p - bytes);
    case State::Error:
      return -1;
    }
    if (state_ == State::Error)
      return -1;
  }
  return static_cast<int32_t>(length);
}

const JSNode* JSParser::result() const {
  return state_ == State::Complete ? root_->value.children : nullptr;
}

const JSNode* JSParser::finish() {
  if (state_ != State::Complete)
    (void)feed(" ", 1);
  return result();
}

const JSNode* parseDocument(JSParser& parser, std::string_view text) {
  constexpr size_t kPiece = size_t{1} << 30;
  while (!text.empty()) {
    size_t n = text.size() < kPiece ? text.size() : kPiece;
    int32_t used = parser.feed(text.data(), n);
    if (used < 0)
      return nullptr;
    text.remove_prefix(parser.complete() ? static_cast<size_t>(used) : n);
    if (parser.complete())
      break;
  }
  for (char c : text) {
    if (!isBlank(static_cast<unsigned char>(c)))
      return nullptr; // a second value after the document
  }
  return parser.finish();
}

} // namespace kestel
