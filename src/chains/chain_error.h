// ChainError: a node or chain that failed us, kept apart from WalletError (our
// own key and address code) so a caller can tell the two apart.
#pragma once

#include "base/error.h"

namespace orwenna {

class ChainError : public Error {
 public:
  using Error::Error;
};

}  // namespace orwenna
