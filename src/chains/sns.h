// `.sol` names: the owner wallet of a name registered under the `.sol` root
// of the SPL Name Service. Thread-safe as the SolanaRPC it is given.
#pragma once

#include <string>
#include <string_view>

#include "base/bytes.h"
#include "chains/solana_rpc.h"

namespace orwenna {

struct SNS {
  // The address of the name account for a label (without ".sol").
  static std::string nameAccount(std::string_view label);
  // The wallet that owns `name` ("bonfida.sol"). Throws WalletError with the
  // sentence the user sees: not a name we read, not registered, not under
  // .sol, held by a program; or the RPC failure.
  static std::string resolve(std::string_view name, const SolanaRPC& rpc);
};

}  // namespace orwenna
