// What a token contract says of itself: decimals() and symbol(), read with
// eth_call at the latest block. A symbol returned as bytes32 (older tokens)
// is read up to its first zero byte; a symbol's text is sanitized, as it is
// written by whoever deployed the token. Thread-safe as far as the EVMRPC is.
#pragma once

#include <string>

#include "chains/evm_rpc.h"

namespace orwenna {

struct ERC20Info {
  int decimals = 0;
  std::string symbol;

  // Throws ChainError "<token> doesn't answer like a token on <network>." when
  // either read fails or decimals is above 77; throws what EVMRPC throws.
  static ERC20Info read(const EVMRPC& rpc, const std::string& token, const std::string& network);
};

}  // namespace orwenna
