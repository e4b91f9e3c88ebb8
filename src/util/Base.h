// The reference-counted object model shared by the toolkit and the framework: every object
// derives from IBase, is owned through Reference<T>, and is asked for its other interfaces with
// cast(interface number), which returns the same object or null. No run-time type information.
#pragma once

#include <cstdint>
#include <utility>

namespace kestel {

class IBase {
public:
  IBase() = default;
  IBase(const IBase&) = delete;
  IBase& operator=(const IBase&) = delete;

  // Returns this object seen as interface `id`, or null when it does not offer it.
  virtual IBase* cast(unsigned int id) {
    (void)id;
    return nullptr;
  }

  void addRef() const { ++refs_; }
  // Deletes the object when the last reference goes.
  void release() const {
    if (--refs_ == 0)
      delete this;
  }
  uint32_t refCount() const { return refs_; }

protected:
  virtual ~IBase() = default;

private:
  mutable uint32_t refs_ = 0;
};

// Owning pointer: holds one count of the object while it points at it.
template <typename T> class Reference {
public:
  Reference() = default;
  Reference(T* p) : p_(p) { acquire(); }
  Reference(const Reference& o) : p_(o.p_) { acquire(); }
  Reference(Reference&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <typename U> Reference(const Reference<U>& o) : p_(o.get()) { acquire(); }
  ~Reference() { drop(); }

  Reference& operator=(const Reference& o) { return *this = o.p_; }
  Reference& operator=(Reference&& o) noexcept {
    if (this != &o) {
      drop();
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  Reference& operator=(T* p) {
    if (p)
      p->addRef(); // before dropping: p may be kept alive only by the old pointee
    drop();
    p_ = p;
    return *this;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  friend bool operator==(const Reference& a, const Reference& b) { return a.p_ == b.p_; }

private:
  void acquire() {
    if (p_)
      p_->addRef();
  }
  void drop() {
    if (p_)
      std::exchange(p_, nullptr)->release();
  }
  T* p_ = nullptr;
};

// Makes a new object and hands out its first reference.
template <typename T, typename... Args> Reference<T> makeRef(Args&&... args) {
  return Reference<T>(new T(std::forward<Args>(args)...));
}

} // namespace kestel
