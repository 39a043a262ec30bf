#include "defi/jupiter_swap.h"

#include <vector>

#include "chains/solana_transaction.h"
#include "chains/spl.h"
#include "execution/execution_error.h"

namespace orwenna {

namespace {

std::string tokenProgramOf(const SwapSide& side) {
  return std::string(side.token2022 ? SolanaPrograms::kToken2022 : SolanaPrograms::kToken);
}

Decimal unitsOf(std::uint64_t baseUnits, int decimals) {
  return Decimal::parse(std::to_string(baseUnits)).scaledByPowerOfTen(-decimals);
}

std::int64_t negated(std::uint64_t v) { return -static_cast<std::int64_t>(v); }

std::string withoutVenues(const std::vector<std::string>& dexes) {
  std::string out;
  for (std::size_t i = 0; i < dexes.size(); ++i) out += (i ? ", " : "") + dexes[i];
  return out;
}

}  // namespace

JupiterSwapper::JupiterSwapper(const Jupiter& jupiter, SolanaSender& sender) : jupiter_(jupiter), sender_(sender) {}

std::optional<std::uint64_t> JupiterSwapper::baseUnits(const Decimal& amount, int decimals) {
  Decimal scaled = amount.scaledByPowerOfTen(decimals);
  if (scaled.rounded(0, RoundingMode::towardZero) != scaled) return std::nullopt;
  auto v = scaled.toInt64();
  if (!v || *v <= 0) return std::nullopt;
  return static_cast<std::uint64_t>(*v);
}

ChainSendOutcome JupiterSwapper::swap(const SwapOrder& order, const std::function<void(const std::string&)>& progress) {
  auto amount = baseUnits(order.amount, order.input.decimals);
  if (!amount) {
    throw ExecutionError(nothingSigned("The amount must be positive and no finer than one unit of " +
                                       order.input.symbol));
  }
  std::vector<std::string> excluded;
  for (int attempt = 0;; ++attempt) {
    Jupiter::Quote quote = jupiter_.quote(order.input.mint, order.output.mint, *amount, Jupiter::kSlippageBps, excluded);
    Jupiter::SwapTransaction tx = jupiter_.swapTransaction(quote, order.owner);

    auto requote = [&](const std::string& why) {
      if (attempt >= kMaxRequotes) throw ExecutionError(why);
      excluded.insert(excluded.end(), quote.dexes.begin(), quote.dexes.end());
      if (progress) progress(why + " Asking Jupiter for a route without " + withoutVenues(quote.dexes) + ".");
    };
    if (tx.transaction.size() > SolanaTransaction::kMaxTransactionBytes) {
      requote(nothingSigned("Jupiter's route is over Solana's limit of 1232 bytes"));
      continue;
    }

    SolanaMove move;
    move.owner = order.owner;
    move.received = tx.transaction;
    move.extraPrograms = {"JUP6LkbZbjS1jKKwapdHNy74zcZ3tLUZoi5QNyVTaV4"};
    const std::string inAccount =
        SPL::associatedTokenAddress(order.owner, order.input.mint, tokenProgramOf(order.input));
    const std::string outAccount =
        SPL::associatedTokenAddress(order.owner, order.output.mint, tokenProgramOf(order.output));
    move.tokenOwners[inAccount] = order.owner;
    move.tokenOwners[outAccount] = order.owner;
    // Wrapping SOL pays the owner's own wSOL account: that is still the owner.
    if (order.input.isSol() || order.output.isSol()) {
      move.recipients.insert(order.input.isSol() ? inAccount : outAccount);
    }
    if (order.input.isSol()) {
      move.watches.push_back({"SOL spent", order.owner, false, negated(quote.inAmount + kSolFeeAllowance)});
    } else {
      move.watches.push_back({order.input.symbol + " spent", inAccount, true, negated(quote.inAmount)});
    }
    if (order.output.isSol()) {
      const std::uint64_t least = quote.minOut > kSolFeeAllowance ? quote.minOut - kSolFeeAllowance : 0;
      move.watches.push_back({"SOL received", order.owner, false, static_cast<std::int64_t>(least)});
    } else {
      move.watches.push_back({order.output.symbol + " received", outAccount, true,
                              static_cast<std::int64_t>(quote.minOut)});
    }
    move.envelope = order.envelope;
    move.input = unitsOf(quote.inAmount, order.input.decimals);
    move.output = unitsOf(quote.minOut, order.output.decimals);
    move.note = "Swap " + move.input.toString() + " " + order.input.symbol + " for at least " +
                move.output.toString() + " " + order.output.symbol + " through " + quote.route;
    move.reroute = SolanaMove::Reroute{6001, " (Jupiter's 6001)"};

    // A lower minimum than approved is the price having moved, not a fault.
    if (move.output < order.envelope.minOutput) {
      throw ExecutionError(nothingSigned("The price moved past what was approved: at least " +
                                         move.output.toString() + " " + order.output.symbol + " would arrive, " +
                                         order.envelope.minOutput.toString() + " was approved"));
    }
    try {
      return sender_.send(move);
    } catch (const RouteRefused& e) {
      requote(e.what());
    }
  }
}

}  // namespace orwenna
