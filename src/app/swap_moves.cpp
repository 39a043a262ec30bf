#include "app/swap_moves.h"

#include <utility>

#include "chains/solana_rpc.h"
#include "chains/spl.h"
#include "execution/execution_error.h"

namespace orwenna {

namespace {

const SwapSide kUsdcSide{Jupiter::kUSDC, 6, false, "USDC"};

SwapSide sideOf(const SpotAsset& asset) { return {asset.mint, asset.decimals, asset.token2022, asset.symbol}; }

Decimal fromUnits(std::uint64_t units, int decimals) {
  return Decimal::parse(std::to_string(units)).scaledByPowerOfTen(-decimals);
}

ExecutionResult swapFailed(std::string sentence) {
  ExecutionResult r;
  r.outcome = ExecutionResult::Outcome::failed;
  r.reply = std::move(sentence);
  return r;
}

}  // namespace

SwapMoves::SwapMoves(const Services& services, TradeSigner& signer, Journal& journal,
                     std::function<WalletAddresses()> addresses, WalletMoveRunner* next)
    : services_(services), signer_(signer), journal_(journal), addresses_(std::move(addresses)), next_(next) {}

std::optional<SwapMoves::Pair> SwapMoves::pairOf(const WalletCommand& command) {
  if (const auto* c = std::get_if<wallet::buy>(&command.value)) return Pair{kUsdcSide, sideOf(c->asset), c->usdc};
  if (const auto* c = std::get_if<wallet::sell>(&command.value)) return Pair{sideOf(c->asset), kUsdcSide, c->amount};
  return std::nullopt;
}

Decimal SwapMoves::spendable(const Pair& pair, const std::string& owner) {
  SolanaRPC rpc = services_.solana();
  if (pair.input.isSol()) {
    const std::uint64_t lamports = rpc.balance(owner);
    const std::uint64_t kept = JupiterSwapper::kSolFeeAllowance;
    return lamports > kept ? fromUnits(lamports - kept, 9) : Decimal(0);
  }
  const std::string program(pair.input.token2022 ? SolanaPrograms::kToken2022 : SolanaPrograms::kToken);
  auto info = rpc.accountInfo(SPL::associatedTokenAddress(owner, pair.input.mint, program));
  return info ? fromUnits(SPL::accountAmount(info->data), pair.input.decimals) : Decimal(0);
}

std::optional<SwapMoves::Card> SwapMoves::card(const WalletCommand& command) {
  auto pair = pairOf(command);
  if (!pair) return std::nullopt;
  Card out;
  try {
    if (pair->input.mint.empty() || pair->output.mint.empty()) {
      throw ExecutionError(nothingSigned("Jupiter swaps only known Solana tokens"));
    }
    auto owner = addresses_().solana;
    if (!owner) throw ExecutionError(nothingSigned("The signer has no Solana wallet"));
    out.amount = pair->amount ? *pair->amount : spendable(*pair, *owner);
    auto units = JupiterSwapper::baseUnits(out.amount, pair->input.decimals);
    if (!units) {
      throw ExecutionError(nothingSigned(out.amount.isPositive()
                                             ? "The amount is finer than one unit of " + pair->input.symbol
                                             : "There is no " + pair->input.symbol + " to swap" +
                                                   (pair->input.isSol() ? " (0.01 SOL is kept for fees)" : "")));
    }
    Jupiter jupiter(services_.http, services_.endpoints.jupiter);
    auto quote = jupiter.quote(pair->input.mint, pair->output.mint, *units, Jupiter::kSlippageBps, {});
    out.minOut = fromUnits(quote.minOut, pair->output.decimals);
    out.text = "Swap " + out.amount.toString() + " " + pair->input.symbol + " for about " +
               fromUnits(quote.outAmount, pair->output.decimals).toString() + " " + pair->output.symbol +
               " (at least " + out.minOut.toString() + ") through " + quote.route + " on Jupiter" +
               (pair->input.isSol() && !pair->amount ? " (0.01 SOL is kept for fees)" : "") + ".";
  } catch (const Error& e) {
    std::string text = e.what();
    out.refusal = text.ends_with(kNothingWasSigned) ? text : nothingSigned(text);
  }
  return out;
}

std::optional<ExecutionResult> SwapMoves::swap(const WalletCommand& command, const std::optional<Card>& approved) {
  auto pair = pairOf(command);
  if (!pair) return std::nullopt;
  std::optional<Card> shown = approved;
  if (!shown) shown = card(command);
  if (shown->refusal) return swapFailed(*shown->refusal);
  try {
    auto owner = addresses_().solana;
    if (!owner) return swapFailed(nothingSigned("The signer has no Solana wallet"));
    SolanaRPC rpc = services_.solana();
    Jupiter jupiter(services_.http, services_.endpoints.jupiter);
    SolanaSender sender(rpc, signer_, journal_, services_.clock);
    JupiterSwapper swapper(jupiter, sender);
    SwapOrder order{*owner, pair->input, pair->output, shown->amount,
                    Envelope{shown->amount, shown->minOut, std::nullopt, services_.clock.nowMillis() + kApprovalMillis}};
    std::vector<std::string> lines;
    ChainSendOutcome o = swapper.swap(order, [&](const std::string& line) { lines.push_back(line); });
    ExecutionResult r;
    r.lines = lines;
    r.lines.insert(r.lines.end(), o.checks.begin(), o.checks.end());
    const std::string what = shown->amount.toString() + " " + pair->input.symbol + " for " + pair->output.symbol;
    switch (o.kind) {
      case ChainSendOutcome::Kind::confirmed:
        r.outcome = ExecutionResult::Outcome::done;
        r.reply = "Swapped " + what + " on Jupiter. Transaction: " + o.id;
        break;
      case ChainSendOutcome::Kind::failed:
        r.outcome = ExecutionResult::Outcome::failed;
        r.reply = "The swap " + o.id + " failed on Solana: " + o.detail +
                  ". The money stayed in your wallet, less the network fee.";
        break;
      case ChainSendOutcome::Kind::expired:
        r.outcome = ExecutionResult::Outcome::failed;
        r.reply = "The swap didn't make it into a block in time. The money stayed in your wallet; you can retry.";
        break;
      case ChainSendOutcome::Kind::unknown:
        r.outcome = ExecutionResult::Outcome::unknown;
        r.reply = "Sent the swap of " + what + ", but its outcome isn't known yet (" + o.detail +
                  "). Check transaction " + o.id + " in a block explorer before swapping again.";
        break;
    }
    return r;
  } catch (const ExecutionError& e) {
    return swapFailed(e.what());
  } catch (const Error& e) {
    // The pipeline words its own stops; anything else came before a signature.
    return swapFailed(nothingSigned(e.what()));
  }
}

std::optional<ExecutionResult> SwapMoves::run(const PendingAction& step) {
  if (const auto* command = std::get_if<WalletCommand>(&step.value); command && pairOf(*command)) {
    return swap(*command, std::nullopt);
  }
  return next_ ? next_->run(step) : std::nullopt;
}

}  // namespace orwenna
