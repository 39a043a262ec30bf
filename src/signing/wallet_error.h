// WalletError: a failure of the key and address code, carrying the finished
// sentence the chat shows word for word.
#pragma once

#include <string>

#include "base/error.h"

namespace orwenna {

class WalletError : public Error {
 public:
  explicit WalletError(const std::string& message) : Error(message) {}
};

}  // namespace orwenna
