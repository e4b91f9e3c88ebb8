// A value or an error, for functions that fail on input. No exceptions cross module boundaries.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace kestel {

// A failure: a kind chosen by the module (0 when it has only one) and a human-readable text.
struct Error {
  int kind = 0;
  std::string text;
};

template <typename T> class [[nodiscard]] Expected {
public:
  Expected(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Expected(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  const Error& error() const { return std::get<1>(v_); }

private:
  std::variant<T, Error> v_;
};

// Success without a value.
template <> class [[nodiscard]] Expected<void> {
public:
  Expected() = default;
  Expected(Error error) : error_(std::move(error)), ok_(false) {}
  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  const Error& error() const { return error_; }

private:
  Error error_;
  bool ok_ = true;
};

inline Error makeError(std::string text, int kind = 0) { return Error{kind, std::move(text)}; }

} // namespace kestel
