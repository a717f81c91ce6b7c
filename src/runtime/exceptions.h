// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The runtime's exception classes: a message text, nothing more.
#include <stdexcept>
#include <string>

namespace pling::runtime {

// The runtime's general exception class.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// A text that is not valid integer (or colour, or font) text.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// An object used as a class it is not ("Invalid class typecast").
class EInvalidCast : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace pling::runtime
