// A value or the Error that kept a platform call from making it: the calls
// that yield something return this instead of an optional beside an errno.
#pragma once

#include <utility>
#include <variant>

#include "platform/error.h"

namespace platform {

template <typename T>
class Result {
  public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool Ok() const { return state_.index() == 0; }
    explicit operator bool() const { return Ok(); }

    T& operator*() { return std::get<0>(state_); }
    const T& operator*() const { return std::get<0>(state_); }
    T* operator->() { return &std::get<0>(state_); }
    const T* operator->() const { return &std::get<0>(state_); }

    // The value, or `fallback` after a failure.
    T ValueOr(T fallback) const& { return Ok() ? std::get<0>(state_) : std::move(fallback); }
    T ValueOr(T fallback) && { return Ok() ? std::move(std::get<0>(state_)) : std::move(fallback); }

    // The failure; a success gives an Error with code 0.
    Error GetError() const { return Ok() ? Error{} : std::get<1>(state_); }

  private:
    std::variant<T, Error> state_;
};

// A call that yields nothing: success, or the Error that stopped it.
template <>
class Result<void> {
  public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool Ok() const { return !error_.Failed(); }
    explicit operator bool() const { return Ok(); }
    const Error& GetError() const { return error_; }

  private:
    Error error_;
};

}  // namespace platform
