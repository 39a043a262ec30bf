// A Jupiter swap carried out: quote, the swap transaction, and then the
// Solana send pipeline (checks for signing, guard, simulation with balance
// bounds, the approved Envelope, the signer, journal, send, confirmation).
// A route that is too large for one transaction, or whose simulation says it
// would give less than its minimum (Jupiter's 6001), is not signed; Jupiter is
// asked again without that route's venues, at most kMaxRequotes times.
//
// Calls block. A JupiterSwapper keeps no state between swaps; its
// collaborators must outlive it, and it is used from one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/decimal.h"
#include "defi/jupiter.h"
#include "execution/chain_send.h"
#include "execution/envelope.h"
#include "execution/solana_send.h"

namespace orwenna {

struct SwapSide {
  std::string mint;
  int decimals = 0;
  bool token2022 = false;
  std::string symbol;

  bool isSol() const { return mint == Jupiter::kWrappedSol; }
};

struct SwapOrder {
  std::string owner;
  SwapSide input;
  SwapSide output;
  Decimal amount;  // of the input, in its own units
  // maxInput bounds the amount; minOutput is the card quote's minimum, so a
  // re-quote that promises less is refused.
  Envelope envelope;
};

class JupiterSwapper {
 public:
  static constexpr int kMaxRequotes = 2;
  static constexpr std::uint64_t kSolFeeAllowance = 10'000'000;  // lamports; 0.01 SOL kept for fees

  JupiterSwapper(const Jupiter& jupiter, SolanaSender& sender);

  // Throws JupiterError or ExecutionError; every stop before the signature
  // ends in "Nothing was signed.". `progress` hears each re-quote.
  ChainSendOutcome swap(const SwapOrder& order, const std::function<void(const std::string&)>& progress = {});

  // The amount in base units. REQUIRES: nothing. Nothing when it is not
  // positive or carries a fraction below one base unit.
  [[nodiscard]] static std::optional<std::uint64_t> baseUnits(const Decimal& amount, int decimals);

 private:
  const Jupiter& jupiter_;
  SolanaSender& sender_;
};

}  // namespace orwenna
