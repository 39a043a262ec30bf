// WalletError: a failure of the key and address code, carrying the finished
// sentence the chat shows word for word.
#pragma once

#include <stdexcept>
#include <string>

namespace orwenna {

class WalletError : public std::runtime_error {
 public:
  explicit WalletError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace orwenna
