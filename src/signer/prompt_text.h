// The words of an approval prompt, built only from what the signer re-derived
// itself: the Hyperliquid action it will hash, the Solana message it parsed,
// the EVM call it decoded. Text sent by the app never reaches a prompt.
// Pure; thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/uint.h"
#include "chains/evm_call.h"
#include "chains/solana_transaction.h"
#include "signing/msgpack.h"

namespace orwenna {

struct PromptWords {
  // One line per order, transfer or call: coin or asset, side, size,
  // destination, amount.
  static std::string hyperliquid(const MsgPack& action, bool mainnet);
  static std::string solana(const SolanaMessage& message, const std::vector<std::string>& accounts);
  static std::string evmCall(const EVMCall& call, std::uint64_t chainId, const UInt256& value);
  // "1.5" for 1500000 with 6 decimals: exact, any size.
  static std::string units(const UInt256& amount, int decimals);
  // Printable text as it is; anything else as hex.
  static std::string message(ByteView bytes);
};

}  // namespace orwenna
