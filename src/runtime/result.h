// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A result that carries its failure with it: either the value, or an error code
// (the Win32-style codes of types.h) and the text a user is shown for it. It
// takes the place of a thread-wide "last error" read after the call, which a
// call in between can overwrite.
#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace pling::runtime {

struct TError {
  std::uint32_t code = 0;
  std::string text;
};

template <typename T>
class [[nodiscard]] TResult {
 public:
  TResult(T value) : FState(std::in_place_index<0>, std::move(value)) {}
  TResult(TError error) : FState(std::in_place_index<1>, std::move(error)) {}

  bool HasValue() const { return FState.index() == 0; }
  explicit operator bool() const { return HasValue(); }
  // Only when HasValue().
  T& Value() & { return std::get<0>(FState); }
  const T& Value() const& { return std::get<0>(FState); }
  T&& Value() && { return std::get<0>(std::move(FState)); }
  // Only when !HasValue().
  const TError& Error() const { return std::get<1>(FState); }

 private:
  std::variant<T, TError> FState;
};

template <>
class [[nodiscard]] TResult<void> {
 public:
  TResult() = default;
  TResult(TError error) : FError(std::move(error)), FFailed(true) {}

  bool HasValue() const { return !FFailed; }
  explicit operator bool() const { return HasValue(); }
  const TError& Error() const { return FError; }

 private:
  TError FError;
  bool FFailed = false;
};

}  // namespace pling::runtime
