// A value or an error, for functions that fail on input (docs/errors.md). No exceptions cross
// module boundaries: asking an error for its value, or a value for its error, is a programming
// error and asserts.
#pragma once

#include <string>
#include <utility>
#include <variant>

#include "util/Assert.h"

namespace kestel {

// Why an operation failed, as a human-readable text for the log or the user.
struct Error {
  std::string text;
};

template <typename T> class [[nodiscard]] Expected {
public:
  Expected(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Expected(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & {
    KESTEL_ASSERT(ok(), "util/expected");
    return *std::get_if<0>(&v_);
  }
  const T& value() const& {
    KESTEL_ASSERT(ok(), "util/expected");
    return *std::get_if<0>(&v_);
  }
  T&& value() && {
    KESTEL_ASSERT(ok(), "util/expected");
    return std::move(*std::get_if<0>(&v_));
  }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  const Error& error() const {
    KESTEL_ASSERT(!ok(), "util/expected");
    return *std::get_if<1>(&v_);
  }

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
  const Error& error() const {
    KESTEL_ASSERT(!ok_, "util/expected");
    return error_;
  }

private:
  Error error_;
  bool ok_ = true;
};

inline Error makeError(std::string text) { return Error{std::move(text)}; }

} // namespace kestel
