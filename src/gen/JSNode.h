// One value of a descriptor document as the document parser builds it, and the read-only
// accessors every builder of the descriptor model uses. Nodes, keys and texts live in the
// parser's arena and stay valid until that parser is destroyed; nothing here allocates except
// the copying accessors (dupString, idArray, numberMap).
#pragma once

#include "util/Base.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestel {

enum class JSNodeKind : uint32_t { Number = 0, String = 1, Object = 2, Array = 3, Root = 4 };

// Keys of a map from numbers to numbers ("icons": value → icon index). Each entry has an object
// slot that its user fills on first lookup.
struct NumberMapEntry {
  uint32_t key = 0;
  int32_t value = 0;
  Reference<IBase> object;
};
using NumberMap = std::vector<NumberMapEntry>;

struct JSNode {
  const char* key; // member name inside an object; null for array elements and the root
  JSNode* next;    // next sibling in document order
  JSNodeKind kind;
  union {
    uint64_t number;  // Number: the unsigned value (true is 1, false is 0)
    const char* text; // String: NUL-terminated text
    JSNode* children; // Object, Array, Root: first child, null when empty
  } value;

  // The number as a signed 32-bit value (low 32 bits); def when this is not a number.
  int32_t intValue(int32_t def) const;
  uint64_t u64Value(uint64_t def) const;
  // The text when this is a string, else null.
  const char* text() const { return kind == JSNodeKind::String ? value.text : nullptr; }
  // A copy of the text; nothing when this is not a string.
  std::optional<std::string> dupString() const;
  // True when this is a string equal to `s` (a number never equals "true").
  bool is(std::string_view s) const;
  bool isContainer() const { return kind == JSNodeKind::Object || kind == JSNodeKind::Array; }
  size_t childCount() const;
  // The first child of an object or array; null for scalars and empty containers.
  const JSNode* firstChild() const;
  // The first child whose key equals `k` (later duplicates are never found); null when absent.
  const JSNode* find(std::string_view k) const;
  // The "type" member when it is a string; null when absent or not a string.
  const JSNode* typeName() const;
  // One value per child (0 for a child that is not a number), then the terminator 0xFFFFFFFF.
  std::vector<uint32_t> idArray() const;
  // For an object: each member's key read as an unsigned number with automatic base ("0x" hex,
  // leading 0 octal, else decimal; conversion stops at the first foreign byte) and its value as
  // a signed 32-bit number. Empty for other kinds.
  NumberMap numberMap() const;
};

static_assert(sizeof(JSNode) == 32, "nodes are 32 bytes");

// A deep copy of a node that outlives its parser (for configuration kept after loading).
struct JSValue {
  std::string key; // empty when the node had none
  JSNodeKind kind = JSNodeKind::Number;
  uint64_t number = 0;
  std::string text;
  std::vector<JSValue> children;

  static JSValue copy(const JSNode& node);
};

// Reads the longest numeral prefix of `s` with automatic base; a value beyond 64 bits saturates.
uint64_t parseAutoBasePrefix(std::string_view s);
// Reads the longest decimal prefix of `s`, saturating beyond 64 bits ("0x10" gives 0).
uint64_t parseDecimalPrefix(std::string_view s);

// Iterates the children of a container: for (const JSNode& c : children(node)).
class JSChildren {
public:
  class Iterator {
  public:
    explicit Iterator(const JSNode* n) : n_(n) {}
    const JSNode& operator*() const { return *n_; }
    Iterator& operator++() {
      n_ = n_->next;
      return *this;
    }
    bool operator!=(const Iterator& o) const { return n_ != o.n_; }

  private:
    const JSNode* n_;
  };
  explicit JSChildren(const JSNode* parent) : first_(parent ? parent->firstChild() : nullptr) {}
  Iterator begin() const { return Iterator(first_); }
  Iterator end() const { return Iterator(nullptr); }

private:
  const JSNode* first_;
};
inline JSChildren children(const JSNode* parent) { return JSChildren(parent); }

} // namespace kestel
