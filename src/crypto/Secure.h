// Helpers for secret bytes: wiping memory so that keys do not linger after use, a byte vector
// that wipes every buffer it gives back, and comparison whose time does not depend on where two
// equal-length inputs differ.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace kestel {

// Overwrites n bytes with zeros in a way the compiler may not drop.
void secureWipe(void* data, size_t n);

// True when a and b have the same length and the same content. The time taken depends on the
// length only, never on the position of the first difference.
bool constantTimeEqual(std::span<const uint8_t> a, std::span<const uint8_t> b);

// Allocator that wipes each block before handing it back to the heap.
template <typename T> struct WipingAllocator {
  using value_type = T;
  WipingAllocator() = default;
  template <typename U> WipingAllocator(const WipingAllocator<U>&) {}
  T* allocate(size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* p, size_t n) {
    secureWipe(p, n * sizeof(T));
    std::allocator<T>().deallocate(p, n);
  }
  template <typename U> bool operator==(const WipingAllocator<U>&) const { return true; }
};

// Bytes that hold key material: wiped when dropped or reallocated.
using SecureBytes = std::vector<uint8_t, WipingAllocator<uint8_t>>;

// Wipes a fixed-size object (an array of key bytes, a cipher state) when the scope ends.
template <typename T> class WipeOnExit {
public:
  explicit WipeOnExit(T& object) : object_(object) {}
  ~WipeOnExit() { secureWipe(&object_, sizeof(T)); }
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
  T& object_;
};

} // namespace kestel
