// Streaming parser of the descriptor dialect: objects, arrays, quoted texts (' or "), unquoted
// keys, unsigned numerals with automatic base, true and false. No null, no sign, no fraction,
// no trailing comma. Input may be fed in chunks cut anywhere, including inside a quoted key.
// All nodes and texts live in one arena released with the parser. Documents come from the
// router: nesting is limited to kMaxDepth containers and the arena to kMaxArenaBytes; going
// beyond either is a syntax error, never a crash.
#pragma once

#include "gen/JSNode.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kestel {

class JSParser {
public:
  enum class State : uint8_t {
    ObjectOpened = 0,
    Key = 1,
    Value = 2,
    ArrayOpened = 3,
    AfterValue = 4,
    SingleQuoted = 5,
    DoubleQuoted = 6,
    Numeral = 7,
    Word = 8,
    Complete = 9,
    Error = 10,
  };
  static constexpr size_t kMaxDepth = 128;             // open containers, the root included
  static constexpr size_t kMaxArenaBytes = 256u << 20; // per parse
  static constexpr size_t kBlockBytes = 65536;         // usable bytes of a regular block
  // Regular blocks of destroyed parsers are kept per thread for the next parser, up to this many
  // (256 KiB): enough for the descriptor loader, which makes a parser per element. Blocks beyond
  // that go back to the allocator, which hands them out again without new page faults.
  static constexpr size_t kCachedBlocks = 4;
  // Blocks this thread keeps for reuse now (at most kCachedBlocks).
  static size_t cachedBlocks();

  // Makes the root (depth 1), completion depth 1, state Value.
  JSParser();
  ~JSParser(); // destroy(): releases the stack and every arena block
  JSParser(const JSParser&) = delete;
  JSParser& operator=(const JSParser&) = delete;

  // The parse completes when a value finishes while the stack is at most this deep.
  void setCompletionDepth(size_t depth) { completionDepth_ = depth; }
  // Lowers (or restores) the arena bound of this parse; a parse that needs more is an error.
  void setArenaLimit(size_t bytes) {
    arenaLimit_ = bytes < kMaxArenaBytes ? bytes : kMaxArenaBytes;
  }

  // Bytes consumed when the parse completed inside this chunk (0 when it was already complete
  // or completed by a byte it did not consume), length when all was consumed, -1 on a syntax
  // error (and on every feed after one). A completion on the chunk's last byte also returns
  // length: callers tell completion by complete(), never by the count. Chunks over 2 GiB are
  // an error.
  int32_t feed(const char* bytes, size_t length);
  int32_t feed(std::string_view s) { return feed(s.data(), s.size()); }
  // The top-level value when complete, else null.
  const JSNode* result() const;
  // Ends a numeral or word standing last (feeds one blank) and returns result().
  const JSNode* finish();

  State state() const { return state_; }
  bool complete() const { return state_ == State::Complete; }
  bool failed() const { return state_ == State::Error; }
  size_t depth() const { return stack_.size(); }
  // Bytes of arena blocks held (bounded by the arena limit).
  size_t arenaBytes() const { return arenaBytes_; }

private:
  struct Open {
    JSNode* node;
    JSNode** tail; // where the next child is linked
  };
  struct Block;

  const char* onObjectOpened(const char* p, const char* end);
  const char* onKey(const char* p, const char* end);
  const char* onValue(const char* p, const char* end);
  const char* onArrayOpened(const char* p, const char* end);
  const char* onAfterValue(const char* p, const char* end);
  const char* onString(const char* p, const char* end);
  const char* onQuotedKey(const char* p, const char* end);
  const char* onNumeral(const char* p, const char* end);
  const char* onWord(const char* p, const char* end);

  void* allocate(size_t bytes);
  bool newBlock(size_t usable);
  bool reserveToken(size_t more);
  void appendToken(const char* p, size_t n);
  const char* copyRun(const char* p, const char* end, char a, char b);
  const char* endToken();
  JSNode* makeNode(JSNodeKind kind);
  void valueDone();
  const char* fail();

  State state_ = State::Value;
  // Word/quoted key/string sub-state
  char quote_ = 0;
  bool escape_ = false;
  bool keyQuoted_ = false;
  bool keyClosed_ = false; // a quoted key saw its closing quote; the colon is next
  // numeral being read
  uint64_t number_ = 0;
  uint32_t digits_ = 0;
  uint8_t base_ = 10;
  bool badDigit_ = false;
  // word being read
  char word_[6] = {};
  uint32_t wordLen_ = 0;

  Block* blocks_ = nullptr; // newest first
  char* free_ = nullptr;    // free end of the newest block
  char* limit_ = nullptr;
  char* token_ = nullptr; // start of the token being read
  size_t arenaBytes_ = 0;
  size_t arenaLimit_ = kMaxArenaBytes;

  const char* pendingKey_ = nullptr;
  std::vector<Open> stack_;
  size_t completionDepth_ = 1;
  JSNode* root_ = nullptr;
};

// Parses a whole text with the default completion depth; the tree lives in `parser`. Returns
// null on a syntax error, an incomplete document, or anything but blanks after the document
// (parser.result() still holds what completed).
const JSNode* parseDocument(JSParser& parser, std::string_view text);

} // namespace kestel
