// The typed key/value message that carries every request, reply, notification and object record.
// A message is a handle to a shared, reference-counted body that is copied only when a shared body
// is about to change; nested messages stay in their encoded form until read. Not thread-safe: a
// body may be shared between threads only while nobody mutates it. The byte encoding ("M2" and the
// older record format) is read and written here too; the decoder trusts nothing in its input.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nv {

using addr6 = std::array<uint8_t, 16>;

// Kind tags (bits 27 to 31 of a field id). Bit 31 marks an array.
inline constexpr uint32_t kTagBool = 0x00000000;
inline constexpr uint32_t kTagU32 = 0x08000000;
inline constexpr uint32_t kTagU64 = 0x10000000;
inline constexpr uint32_t kTagAddr6 = 0x18000000;
inline constexpr uint32_t kTagString = 0x20000000;
inline constexpr uint32_t kTagMessage = 0x28000000;
inline constexpr uint32_t kTagRaw = 0x30000000;
inline constexpr uint32_t kTagArray = 0x80000000;
inline constexpr uint32_t kTagMask = 0xF8000000;
// Bit 24: the short form on the wire (for bools the value); never part of a stored id.
inline constexpr uint32_t kShortForm = 0x01000000;
// The key: handler namespace in bits 16 to 23, number in bits 0 to 15.
inline constexpr uint32_t kKeyMask = 0x00FFFFFF;
// Work on nested messages (dump, equal, commonFields) descends at most this many levels; deeper
// ones compare by their encoded bytes and dump as one line.
inline constexpr int kMaxNesting = 32;
// The largest array count and value length the encoding can carry.
inline constexpr size_t kMaxWireLength = 65535;

// A key wrapped with its kind; id() combines them. Passed by value.
template <uint32_t Tag> struct typed_id {
  static constexpr uint32_t tag = Tag;
  uint32_t key;
  constexpr explicit typed_id(uint32_t k) : key(k) {}
  constexpr uint32_t id() const { return (key & 0x7FFFFFF) | Tag; }
  friend constexpr bool operator==(typed_id a, typed_id b) { return a.id() == b.id(); }
};

using bool_id = typed_id<kTagBool>;
using u32_id = typed_id<kTagU32>;
using u64_id = typed_id<kTagU64>;
using addr6_id = typed_id<kTagAddr6>;
using string_id = typed_id<kTagString>;
using message_id = typed_id<kTagMessage>;
using raw_id = typed_id<kTagRaw>;
using bool_array_id = typed_id<kTagArray | kTagBool>;
using u32_array_id = typed_id<kTagArray | kTagU32>;
using u64_array_id = typed_id<kTagArray | kTagU64>;
using addr6_array_id = typed_id<kTagArray | kTagAddr6>;
using string_array_id = typed_id<kTagArray | kTagString>;
using message_array_id = typed_id<kTagArray | kTagMessage>;
using raw_array_id = typed_id<kTagArray | kTagRaw>;

namespace detail {
struct Body;
}

class message {
public:
  message() noexcept : body_(nullptr) {}
  // Parse at once; a failed parse keeps the fields decoded before the failure (see fromBytes).
  explicit message(std::span<const uint8_t> bytes);
  message(const uint8_t* data, size_t len);
  message(const message& other);
  message(message&& other) noexcept : body_(other.body_) { other.body_ = nullptr; }
  message& operator=(const message& other);
  message& operator=(message&& other) noexcept;
  ~message();

  // Decodes bytes into a fresh message; *ok (when given) is false for malformed input, in which
  // case the result holds the fields decoded before the fault.
  static message fromBytes(std::span<const uint8_t> bytes, bool* ok = nullptr);

  // True if the field exists.
  template <uint32_t Tag> bool has(typed_id<Tag> id) const { return hasField(id.id()); }
  bool hasField(uint32_t fieldId) const;

  // Scalar getters: the value, or def when absent.
  bool get(bool_id id, bool def = false) const;
  uint32_t get(u32_id id, uint32_t def = 0) const;
  uint64_t get(u64_id id, uint64_t def = 0) const;
  addr6 get(addr6_id id, addr6 def = {}) const;
  std::string get(string_id id, std::string def = {}) const;
  // The nested message decoded (a malformed one yields what decodes); empty when absent.
  message get(message_id id) const;
  std::vector<uint8_t> get(raw_id id) const;
  // The nested message's bytes as stored; empty when absent.
  std::vector<uint8_t> getEncoded(message_id id) const;

  // Array getters: a copy of the elements, empty when absent. Bools are bytes 0 or 1.
  std::vector<uint8_t> get(bool_array_id id) const;
  std::vector<uint32_t> get(u32_array_id id) const;
  std::vector<uint64_t> get(u64_array_id id) const;
  std::vector<addr6> get(addr6_array_id id) const;
  std::vector<std::string> get(string_array_id id) const;
  std::vector<message> get(message_array_id id) const;
  // Decodes the elements of a message array one at a time, in order, and calls f(const message&)
  // with each; nothing when absent. Cheaper than get() when the elements are read once: only one
  // decoded element lives at a time.
  template <typename F> void forEach(message_array_id id, F&& f) const {
    forEachElement(
        id.id(), [](void* fn, const message& m) { (*static_cast<F*>(fn))(m); },
        static_cast<void*>(&f));
  }
  std::vector<std::vector<uint8_t>> get(raw_array_id id) const;
  // Number of elements of an array field (0 when absent).
  template <uint32_t Tag>
  requires((Tag & kTagArray) != 0) size_t count(typed_id<Tag> id)
  const { return countOf(id.id()); }

  // Create or overwrite a field. Nothing here fails; values beyond the wire limits are kept and
  // refused later by flatten.
  void set(bool_id id, bool value);
  void set(u32_id id, uint32_t value);
  void set(u64_id id, uint64_t value);
  void set(addr6_id id, const addr6& value);
  void set(string_id id, std::string_view value);
  // Stores the nested message encoded; one that cannot be encoded is logged ("ERROR:") and the
  // field is removed instead.
  void set(message_id id, const message& value);
  void set(raw_id id, std::vector<uint8_t> value);
  void set(bool_array_id id, std::vector<uint8_t> value);
  void set(u32_array_id id, std::vector<uint32_t> value);
  void set(u64_array_id id, std::vector<uint64_t> value);
  void set(addr6_array_id id, std::vector<addr6> value);
  void set(string_array_id id, std::vector<std::string> value);
  // Elements that cannot be encoded are logged ("ERROR:") and stored empty.
  void set(message_array_id id, const std::vector<message>& value);
  // Appends one element to a message array, creating the array when absent; an element that
  // cannot be encoded is logged ("ERROR:") and stored empty, as by set().
  void append(message_array_id id, const message& value);
  // Appends one element given as its encoding (what flatten() wrote for a message), copied as it
  // is: the bytes are not checked, so they must come from this program's own encoder. Returns
  // false and appends nothing when they are longer than an element can be.
  bool appendEncodedUnchecked(message_array_id id, std::span<const uint8_t> encoded);
  void set(raw_array_id id, std::vector<std::vector<uint8_t>> value);

  // A writable reference to the value, creating it zero or empty when absent. Pins the body: every
  // later copy of this message is a deep copy. A bool or u32 reference stays valid until another
  // bool or u32 field is added (the table may grow); any other until its field is removed or the
  // message is parsed into.
  bool& ref(bool_id id);
  uint32_t& ref(u32_id id);
  uint64_t& ref(u64_id id);
  addr6& ref(addr6_id id);
  std::string& ref(string_id id);
  std::vector<uint8_t>& ref(raw_id id);
  std::vector<uint8_t>& ref(bool_array_id id);
  std::vector<uint32_t>& ref(u32_array_id id);
  std::vector<uint64_t>& ref(u64_array_id id);
  std::vector<addr6>& ref(addr6_array_id id);
  std::vector<std::string>& ref(string_array_id id);
  std::vector<std::vector<uint8_t>>& ref(raw_array_id id);

  // Deletes the field if present.
  template <uint32_t Tag> void remove(typed_id<Tag> id) { removeField(id.id()); }
  void removeField(uint32_t fieldId);
  // Deletes every field whose id AND mask equals key AND mask.
  void removeMatching(uint32_t key, uint32_t mask);
  // All field ids: bools, then u32 (table order), then the other scalars, then the arrays.
  std::vector<uint32_t> keys() const;
  size_t size() const;
  bool empty() const { return size() == 0; }
  // Drops every field (releases the body).
  void clear() { *this = message(); }

  // Same fields with the same values (nested messages compared decoded).
  static bool equal(const message& a, const message& b);
  friend bool operator==(const message& a, const message& b) { return equal(a, b); }
  // Ids of the fields present in both with equal values.
  static std::vector<uint32_t> commonFields(const message& a, const message& b);
  // Deletes every field that other holds with an equal value.
  void removeEqual(const message& other);

  // An upper bound of the encoded size (never below the real size).
  size_t encodedSizeBound() const;
  // Appends the encoding. Returns false, logs an "ERROR:" line and appends nothing when a value or
  // an array exceeds 65535 bytes or elements.
  [[nodiscard]] bool flatten(std::vector<uint8_t>& out) const;
  // Writes the encoding into buf and sets capacity to the bytes written, which it returns. When the
  // encoding does not fit ("WARNING: too small buffer for flatten") or exceeds the limits
  // ("ERROR:"), nothing usable is written and 0 is returned.
  size_t flatten(uint8_t* buf, size_t& capacity) const;
  // Adds the decoded fields (the same id overwrites). Returns false on malformed input, keeping the
  // fields decoded before the fault. Zero bytes decode to nothing.
  [[nodiscard]] bool parse(const uint8_t* data, size_t len);
  [[nodiscard]] bool parse(std::span<const uint8_t> bytes) {
    return parse(bytes.data(), bytes.size());
  }

  // The diagnostic dump, each line starting with prefix and four blanks per level: appended to out
  // ("\n" after each line), or written to the log stream.
  void dump(std::string& out, std::string_view prefix = "", int level = 0) const;
  void dump(std::string_view prefix = "", int level = 0) const;

private:
  size_t countOf(uint32_t fieldId) const;
  void forEachElement(uint32_t fieldId, void (*call)(void*, const message&), void* fn) const;
  detail::Body& mut();
  detail::Body& detach();
  detail::Body& pinned();
  static bool equalAt(const message& a, const message& b, int depth);
  void dumpAt(std::vector<std::string>& lines, const std::string& indent, int level,
              int depth) const;
  bool parseCurrent(const uint8_t* data, size_t len);
  bool parseOlder(const uint8_t* data, size_t len);
  size_t encodedSize(uint32_t& oversized) const;
  size_t writeBound(uint32_t& oversized) const;
  size_t listsSize(uint32_t& oversized) const;
  // Writes the encoding (at most writeBound bytes) and returns its length.
  size_t writeTo(uint8_t* out) const;
  // Nesting: nestedBound is writeBound, or kNotNestable (logged as "ERROR:") when a field exceeds
  // the wire limits; writeNested writes the encoding and returns its length, or kNotNestable
  // (logged) when the whole exceeds 65535 bytes.
  static constexpr size_t kNotNestable = ~size_t(0);
  size_t nestedBound() const;
  size_t writeNested(uint8_t* out) const;
  // One element of a packed message array at `at`: two length bytes, then the encoding of at
  // most `bound` (its nestedBound) bytes; one that cannot be encoded is stored empty. Returns the
  // bytes written.
  size_t writePackedElement(uint8_t* at, size_t bound) const;

  detail::Body* body_; // null: the shared empty body
};

} // namespace nv
