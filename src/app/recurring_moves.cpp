#include "app/recurring_moves.h"

#include <utility>

#include "chains/solana_transaction.h"
#include "chains/spl.h"
#include "defi/jupiter_recurring.h"
#include "execution/execution_error.h"
#include "execution/solana_send.h"

namespace orwenna {

namespace {

using RecurringOutcome = ExecutionResult::Outcome;

ExecutionResult recurringFailed(std::string sentence) {
  ExecutionResult r;
  r.outcome = RecurringOutcome::failed;
  r.reply = std::move(sentence);
  return r;
}

std::string symbolOfMint(const std::string& mint) {
  if (mint == SolanaPrograms::kUsdcMint) return "USDC";
  for (const char* ticker : {"SOL", "BTC", "ETH", "JUP", "JitoSOL"}) {
    if (auto known = SpotAsset::known(ticker); known && known->mint == mint) return known->symbol;
  }
  return mint.substr(0, 6) + "…";
}

}  // namespace

std::string everyText(std::int64_t seconds) {
  struct Unit {
    std::int64_t size;
    const char* name;
  };
  for (Unit u : {Unit{604800, "week"}, Unit{86400, "day"}, Unit{3600, "hour"}, Unit{60, "minute"}}) {
    if (seconds >= u.size && seconds % u.size == 0) {
      const std::int64_t n = seconds / u.size;
      return std::to_string(n) + " " + u.name + (n == 1 ? "" : "s");
    }
  }
  return std::to_string(seconds) + " s";
}

RecurringMoves::RecurringMoves(const Services& services, TradeSigner& signer, Journal& journal,
                               std::function<WalletAddresses()> addresses, WalletMoveRunner* next)
    : services_(services), signer_(signer), journal_(journal), addresses_(std::move(addresses)), next_(next) {}

ExecutionResult RecurringMoves::create(const wallet::jupiterDCA& order, const std::string& owner) {
  if (!order.usdc || !order.usdc->isPositive()) return recurringFailed(nothingSigned("Say how much USDC to spend"));
  if (order.asset.mint.empty()) {
    return recurringFailed(nothingSigned("Jupiter DCA buys only known Solana tokens"));
  }
  Decimal scaled = order.usdc->scaledByPowerOfTen(6);
  if (!scaled.isInteger()) return recurringFailed(nothingSigned("The amount is finer than one cent of USDC"));
  const auto units = static_cast<std::uint64_t>(scaled.toInt64().value_or(0));
  const int orders = order.orders.value_or(kDefaultOrders);
  JupiterRecurring jupiter(services_.http, services_.endpoints.jupiterRecurring);
  JupiterRecurring::Request request =
      jupiter.create(owner, std::string(SolanaPrograms::kUsdcMint), order.asset.mint, units, orders, order.every);

  const std::string what = order.usdc->toString() + " USDC into " + order.asset.symbol + " in " +
                           std::to_string(orders) + " orders, every " + everyText(order.every);
  SolanaMove m;
  m.owner = owner;
  m.received = std::move(request.transaction);
  m.extraPrograms = {kRecurringProgram};
  const std::string mine = SPL::associatedTokenAddress(owner, SolanaPrograms::kUsdcMint, SolanaPrograms::kToken);
  m.watches = {{"USDC", mine, true, -static_cast<std::int64_t>(units)}, {"SOL", owner, false, -20'000'000}};
  m.envelope = Envelope{*order.usdc, Decimal(0), std::nullopt, services_.clock.nowMillis() + kApprovalMillis};
  m.input = *order.usdc;
  m.note = "Jupiter DCA " + what + " (request " + request.requestId + ")";
  SolanaRPC rpc = services_.solana();
  SolanaSender sender(rpc, signer_, journal_, services_.clock);
  ChainSendOutcome o = sender.send(m);
  ExecutionResult r;
  r.lines = o.checks;
  switch (o.kind) {
    case ChainSendOutcome::Kind::confirmed:
      r.outcome = RecurringOutcome::done;
      r.reply = "Jupiter DCA set: " + what + ". Transaction: " + o.id;
      break;
    case ChainSendOutcome::Kind::failed:
      r.reply = "The DCA order " + o.id + " failed on Solana: " + o.detail +
                ". The money stayed in your wallet, less the network fee.";
      break;
    case ChainSendOutcome::Kind::expired:
      r.reply = "The DCA order didn't make it into a block in time. The money stayed in your wallet; you can retry.";
      break;
    case ChainSendOutcome::Kind::unknown:
      r.outcome = RecurringOutcome::unknown;
      r.reply = "Sent the DCA order, but its outcome isn't known yet (" + o.detail + "). Check transaction " + o.id +
                " before setting it again.";
      break;
  }
  return r;
}

ExecutionResult RecurringMoves::list(const std::string& owner) {
  JupiterRecurring jupiter(services_.http, services_.endpoints.jupiterRecurring);
  ExecutionResult r;
  r.outcome = RecurringOutcome::done;
  for (const auto& o : jupiter.orders(owner)) {
    r.lines.push_back(symbolOfMint(o.outputMint) + ": " + o.perCycle.toString() + " " + symbolOfMint(o.inputMint) +
                      " every " + everyText(o.every) + ", " + o.used.toString() + " of " + o.deposited.toString() +
                      " spent in " + std::to_string(o.fills) + " fills, " + o.received.toString() + " received.");
  }
  r.reply = r.lines.empty() ? "No Jupiter DCA orders are active."
                            : std::to_string(r.lines.size()) + " Jupiter DCA order" + (r.lines.size() == 1 ? "" : "s") +
                                  " active.";
  return r;
}

ExecutionResult RecurringMoves::cancel(const wallet::jupiterDCACancel& which, const std::string& owner) {
  JupiterRecurring jupiter(services_.http, services_.endpoints.jupiterRecurring);
  std::optional<std::string> mint;
  if (which.asset) {
    auto known = SpotAsset::known(*which.asset);
    if (!known || known->mint.empty()) return recurringFailed(nothingSigned("orwenna doesn't know " + *which.asset));
    mint = known->mint;
  }
  std::vector<JupiterRecurring::Order> chosen;
  for (auto& o : jupiter.orders(owner)) {
    if (!mint || o.outputMint == *mint) chosen.push_back(std::move(o));
  }
  if (chosen.empty()) {
    return recurringFailed(nothingSigned("No Jupiter DCA order" + (which.asset ? " into " + *which.asset : std::string()) +
                                         " is active"));
  }
  ExecutionResult r;
  r.outcome = RecurringOutcome::done;
  SolanaRPC rpc = services_.solana();
  SolanaSender sender(rpc, signer_, journal_, services_.clock);
  const std::string mine = SPL::associatedTokenAddress(owner, SolanaPrograms::kUsdcMint, SolanaPrograms::kToken);
  std::size_t done = 0;
  for (const auto& o : chosen) {
    JupiterRecurring::Request request = jupiter.cancel(owner, o.key);
    SolanaMove m;
    m.owner = owner;
    m.received = std::move(request.transaction);
    m.extraPrograms = {kRecurringProgram};
    // A cancel only gives back: the USDC may not fall.
    m.watches = {{"USDC", mine, true, 0}, {"SOL", owner, false, -5'000'000}};
    m.envelope = Envelope{Decimal(0), Decimal(0), std::nullopt, services_.clock.nowMillis() + kApprovalMillis};
    m.note = "Cancel Jupiter DCA " + o.key;
    ChainSendOutcome out;
    try {
      out = sender.send(m);
    } catch (const ExecutionError& e) {
      r.outcome = done == 0 ? RecurringOutcome::failed : RecurringOutcome::unknown;
      r.reply = (done == 0 ? std::string() : std::to_string(done) + " cancelled; then: ") + e.what();
      return r;
    }
    r.lines.insert(r.lines.end(), out.checks.begin(), out.checks.end());
    if (out.kind != ChainSendOutcome::Kind::confirmed) {
      r.outcome = RecurringOutcome::unknown;
      r.reply = std::to_string(done) + " of " + std::to_string(chosen.size()) + " DCA orders cancelled; the cancel of " +
                o.key + " didn't confirm (" + out.detail + ").";
      return r;
    }
    ++done;
  }
  r.reply = "Cancelled " + std::to_string(done) + " Jupiter DCA order" + (done == 1 ? "" : "s") +
            "; what was left in them goes back to your wallet.";
  return r;
}

std::optional<ExecutionResult> RecurringMoves::run(const PendingAction& step) {
  const auto* command = std::get_if<WalletCommand>(&step.value);
  const bool ours = command && (std::holds_alternative<wallet::jupiterDCA>(command->value) ||
                                std::holds_alternative<wallet::jupiterDCAOrders>(command->value) ||
                                std::holds_alternative<wallet::jupiterDCACancel>(command->value));
  if (!ours) return next_ ? next_->run(step) : std::nullopt;
  try {
    auto owner = addresses_().solana;
    if (!owner) return recurringFailed(nothingSigned("The signer has no Solana wallet"));
    if (const auto* c = std::get_if<wallet::jupiterDCA>(&command->value)) return create(*c, *owner);
    if (const auto* c = std::get_if<wallet::jupiterDCACancel>(&command->value)) return cancel(*c, *owner);
    return list(*owner);
  } catch (const ExecutionError& e) {
    return recurringFailed(e.what());
  } catch (const JournalError& e) {
    return recurringFailed(std::string("The journal couldn't be written (") + e.what() +
                           "), so the signed transaction was not sent. The money is still in your wallet.");
  } catch (const Error& e) {
    return recurringFailed(nothingSigned(e.what()));
  }
}

}  // namespace orwenna
