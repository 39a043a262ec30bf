// Which contract a token named on an EVM network is. A 0x address is taken
// as it is; a ticker is looked up in a short curated table of well-known
// contracts, then among DexScreener's pools on that network — one token of
// that ticker is taken, several are listed for the user to pick by address,
// never guessed. Either way decimals() and symbol() are then read from the
// chain, and a ticker must be what the contract calls itself.
// Thread-safe as far as the services are.
#pragma once

#include <optional>
#include <string>

#include "app/services.h"
#include "chains/token_info.h"
#include "chains/evm_network.h"

namespace orwenna {

struct EVMTokenChoice {
  std::string contract;  // lower case
  ERC20Info info;        // as the chain answered
  std::string source;    // "curated", "DexScreener" or "address"
};

// Throws ExecutionError ending in "Nothing was signed." when the name fits
// no token, or several (listing them), or the chain doesn't answer for it.
EVMTokenChoice resolveEVMToken(const std::string& token, const EVMNetwork& network, const Services& services);

// The curated contract of `symbol` on the network with key `networkKey`.
[[nodiscard]] std::optional<std::string> curatedEVMToken(std::string_view symbol, std::string_view networkKey);

}  // namespace orwenna
