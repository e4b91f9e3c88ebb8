// Bounds-checked reading and writing of byte sequences. Every read checks the remaining length
// first; a failed read returns false and leaves both the output and the cursor untouched, so a
// decoder can never look past the end of its input.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestel {

using Bytes = std::vector<uint8_t>;
using ByteSpan = std::span<const uint8_t>;

inline ByteSpan asBytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

class ByteReader {
public:
  ByteReader() = default;
  explicit ByteReader(ByteSpan data) : data_(data) {}
  ByteReader(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data), size) {}

  size_t remaining() const { return data_.size() - pos_; }
  size_t position() const { return pos_; }
  bool atEnd() const { return pos_ == data_.size(); }
  ByteSpan rest() const { return data_.subspan(pos_); }

  [[nodiscard]] bool u8(uint8_t& out) {
    if (pos_ == data_.size())
      return false;
    out = data_[pos_++];
    return true;
  }
  [[nodiscard]] bool u16le(uint16_t& out) { return word<false>(out); }
  [[nodiscard]] bool u16be(uint16_t& out) { return word<true>(out); }
  [[nodiscard]] bool u32le(uint32_t& out) { return word<false>(out); }
  [[nodiscard]] bool u32be(uint32_t& out) { return word<true>(out); }
  [[nodiscard]] bool u64le(uint64_t& out) { return word<false>(out); }
  [[nodiscard]] bool u64be(uint64_t& out) { return word<true>(out); }

  // Hands out a view of the next n bytes; fails when fewer remain.
  [[nodiscard]] bool span(size_t n, ByteSpan& out) {
    if (n > remaining())
      return false;
    out = data_.subspan(pos_, n);
    pos_ += n;
    return true;
  }
  // Copies the next n bytes into out (which must hold n bytes).
  [[nodiscard]] bool copy(void* out, size_t n) {
    if (n > remaining())
      return false;
    if (n)
      std::memcpy(out, data_.data() + pos_, n);
    pos_ += n;
    return true;
  }
  [[nodiscard]] bool skip(size_t n) {
    if (n > remaining())
      return false;
    pos_ += n;
    return true;
  }

private:
  // One whole-word load of the next sizeof(T) bytes, swapped when their order is not the host's.
  template <bool BigEndian, typename T> bool word(T& out) {
    if (sizeof(T) > remaining())
      return false;
    T v;
    std::memcpy(&v, data_.data() + pos_, sizeof(T));
    if constexpr (sizeof(T) > 1 && BigEndian != (std::endian::native == std::endian::big))
      v = byteSwap(v);
    out = v;
    pos_ += sizeof(T);
    return true;
  }
  static uint16_t byteSwap(uint16_t v) { return __builtin_bswap16(v); }
  static uint32_t byteSwap(uint32_t v) { return __builtin_bswap32(v); }
  static uint64_t byteSwap(uint64_t v) { return __builtin_bswap64(v); }

  ByteSpan data_;
  size_t pos_ = 0;
};

// Appends to a growable byte vector.
class ByteWriter {
public:
  explicit ByteWriter(Bytes& out) : out_(out) {}

  void u8(uint8_t v) { out_.push_back(v); }
  void u16le(uint16_t v) { little(v, 2); }
  void u16be(uint16_t v) { big(v, 2); }
  void u32le(uint32_t v) { little(v, 4); }
  void u32be(uint32_t v) { big(v, 4); }
  void u64le(uint64_t v) { little(v, 8); }
  void u64be(uint64_t v) { big(v, 8); }
  void bytes(ByteSpan b) { out_.insert(out_.end(), b.begin(), b.end()); }
  void bytes(std::string_view s) { bytes(asBytes(s)); }
  size_t size() const { return out_.size(); }

private:
  void little(uint64_t v, size_t n) {
    for (size_t i = 0; i < n; ++i)
      out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void big(uint64_t v, size_t n) {
    for (size_t i = 0; i < n; ++i)
      out_.push_back(static_cast<uint8_t>(v >> (8 * (n - 1 - i))));
  }
  Bytes& out_;
};

} // namespace kestel
