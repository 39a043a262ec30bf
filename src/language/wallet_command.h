// The money moves of the command language, as typed values: buys and sales,
// savings and lending, bridges and sends, swaps, gas, paid calls, rewards,
// approvals and raw contract calls.
//
// `WalletCommand::parse` reads one line (the English form, and common Russian
// and loose English wordings of it); `line()` writes the English form back so
// that parse(line(x)) == x. Amounts are Decimal; an absent amount means "all of
// it" for withdrawals, sales and whole-balance sends and "ask for it" where a
// form needs one. Networks are lower-case names ("base", "bnb", "hyperevm").
// Pure functions over constant tables; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/decimal.h"
#include "base/json.h"
#include "language/command_case.h"

namespace orwenna {

using OptDecimal = std::optional<Decimal>;
using OptText = std::optional<std::string>;

// A Solana token the wallet trades by ticker. A ticker the wallet does not know
// itself keeps an empty mint, to be found by the swap route later.
struct SpotAsset {
  std::string symbol;
  std::string mint;
  int decimals = 0;
  bool token2022 = false;
  friend bool operator==(const SpotAsset&, const SpotAsset&) = default;
  template <class F> void each(F&& f) const { f("symbol", symbol); f("mint", mint); f("decimals", decimals); f("token2022", token2022); }

  // The tokens traded by ticker alone: SOL, BTC, ETH, JUP, JitoSOL (any case).
  [[nodiscard]] static std::optional<SpotAsset> known(std::string_view ticker);
  // A known token, else the ticker upper-cased with no mint.
  [[nodiscard]] static SpotAsset forTicker(std::string_view ticker);
};

struct ContractCall {
  struct Approve {
    Decimal amount;  // whole tokens
    std::string token;
    friend bool operator==(const Approve&, const Approve&) = default;
    template <class F> void each(F&& f) const { f("amount", amount); f("token", token); }
  };
  std::string network;
  std::string contract;  // 0x address as written
  std::string function;  // exact signature, no spaces
  std::vector<std::string> args;  // smallest units; "max", "me" as words
  OptDecimal value;               // network coin sent with the call
  std::optional<Approve> approve;  // exact approval made first
  friend bool operator==(const ContractCall&, const ContractCall&) = default;
  template <class F> void each(F&& f) const { f("network", network); f("contract", contract); f("function", function); f("args", args); f("value", value); f("approve", approve); }
};

namespace wallet {

struct buy { SpotAsset asset; OptDecimal usdc; ORW_CASE(buy, f("asset", asset); f("usdc", usdc)) };
struct buyNear { OptDecimal usdc; ORW_CASE(buyNear, f("usdc", usdc)) };
struct sellNear { OptDecimal amount; OptText to; ORW_CASE(sellNear, f("amount", amount); f("to", to)) };
struct sell { SpotAsset asset; OptDecimal amount; ORW_CASE(sell, f("asset", asset); f("amount", amount)) };
struct schedule { SpotAsset asset; Decimal usdc; int days = 1; ORW_CASE(schedule, f("asset", asset); f("usdc", usdc); f("days", days)) };
// `every` is the time between orders in seconds.
struct jupiterDCA { SpotAsset asset; OptDecimal usdc; std::optional<int> orders; int every = 86400; ORW_CASE(jupiterDCA, f("asset", asset); f("usdc", usdc); f("orders", orders); f("every", every)) };
struct jupiterDCACancel { OptText asset; ORW_CASE(jupiterDCACancel, f("asset", asset)) };
struct withdrawToSolana { OptDecimal amount; ORW_CASE(withdrawToSolana, f("amount", amount)) };
struct lendDeposit { std::string symbol; OptDecimal amount; ORW_CASE(lendDeposit, f("symbol", symbol); f("amount", amount)) };
struct lendWithdraw { std::string symbol; OptDecimal amount; ORW_CASE(lendWithdraw, f("symbol", symbol); f("amount", amount)) };
struct kamino { bool deposit = true; std::string symbol; OptDecimal amount; ORW_CASE(kamino, f("deposit", deposit); f("symbol", symbol); f("amount", amount)) };
struct stake { OptDecimal amount; ORW_CASE(stake, f("amount", amount)) };
struct unstake { OptDecimal amount; ORW_CASE(unstake, f("amount", amount)) };
struct yields { OptText symbol; ORW_CASE(yields, f("symbol", symbol)) };
struct hlp { bool deposit = true; OptDecimal amount; ORW_CASE(hlp, f("deposit", deposit); f("amount", amount)) };
struct allocate { std::string symbol; OptDecimal maxShare; OptDecimal amount; std::vector<std::string> without; OptText from; ORW_CASE(allocate, f("symbol", symbol); f("maxShare", maxShare); f("amount", amount); f("without", without); f("from", from)) };
struct rebalance { OptDecimal maxShare; ORW_CASE(rebalance, f("maxShare", maxShare)) };
struct aave { bool deposit = true; OptDecimal amount; std::string network = "base"; ORW_CASE(aave, f("deposit", deposit); f("amount", amount); f("network", network)) };
struct aaveBorrow { OptDecimal amount; std::string network = "base"; ORW_CASE(aaveBorrow, f("amount", amount); f("network", network)) };
struct aaveRepay { OptDecimal amount; std::string network = "base"; ORW_CASE(aaveRepay, f("amount", amount); f("network", network)) };
struct aaveCollateral { OptDecimal amount; std::string network = "base"; ORW_CASE(aaveCollateral, f("amount", amount); f("network", network)) };
struct morpho { bool deposit = true; OptDecimal amount; std::string network = "base"; ORW_CASE(morpho, f("deposit", deposit); f("amount", amount); f("network", network)) };
struct baseToSolana { OptDecimal amount; ORW_CASE(baseToSolana, f("amount", amount)) };
struct arbitrumToSolana { OptDecimal amount; ORW_CASE(arbitrumToSolana, f("amount", amount)) };
struct evmToSolana { std::string network; OptDecimal amount; ORW_CASE(evmToSolana, f("network", network); f("amount", amount)) };
struct sendTo { std::string name; Decimal amount; OptText network; ORW_CASE(sendTo, f("name", name); f("amount", amount); f("network", network)) };
struct sendNear { std::string name; OptDecimal amount; ORW_CASE(sendNear, f("name", name); f("amount", amount)) };
struct closeNear { std::string name; ORW_CASE(closeNear, f("name", name)) };
struct sendSol { std::string name; Decimal amount; ORW_CASE(sendSol, f("name", name); f("amount", amount)) };
struct sendToken { std::string name; std::string token; OptDecimal amount; OptText network; ORW_CASE(sendToken, f("name", name); f("token", token); f("amount", amount); f("network", network)) };
struct buyStock { std::string symbol; OptDecimal usdc; ORW_CASE(buyStock, f("symbol", symbol); f("usdc", usdc)) };
struct buyOn { std::string network; std::string token; OptDecimal usdc; OptText from; ORW_CASE(buyOn, f("network", network); f("token", token); f("usdc", usdc); f("from", from)) };
struct sellOn { std::string network; std::string token; OptDecimal amount; bool keep = false; ORW_CASE(sellOn, f("network", network); f("token", token); f("amount", amount); f("keep", keep)) };
struct swapOn { std::string network; std::string from; std::string to; OptDecimal amount; ORW_CASE(swapOn, f("network", network); f("from", from); f("to", to); f("amount", amount)) };
struct crossSwap { std::string from; std::string on; std::string to; std::string at; OptDecimal amount; ORW_CASE(crossSwap, f("from", from); f("on", on); f("to", to); f("at", at); f("amount", amount)) };
struct receiveAcross { std::string network; std::string token; OptDecimal amount; ORW_CASE(receiveAcross, f("network", network); f("token", token); f("amount", amount)) };
struct sellStock { std::string symbol; OptDecimal amount; ORW_CASE(sellStock, f("symbol", symbol); f("amount", amount)) };
struct robinhoodToSolana { OptDecimal amount; ORW_CASE(robinhoodToSolana, f("amount", amount)) };
struct solanaTo { std::string network; OptDecimal amount; ORW_CASE(solanaTo, f("network", network); f("amount", amount)) };
struct bridge { std::string from; std::string to; OptDecimal amount; ORW_CASE(bridge, f("from", from); f("to", to); f("amount", amount)) };
struct cctp { std::string from; std::string to; OptDecimal amount; ORW_CASE(cctp, f("from", from); f("to", to); f("amount", amount)) };
struct gas { std::string network; OptDecimal usd; ORW_CASE(gas, f("network", network); f("usd", usd)) };
struct pay { std::string method = "GET"; std::string url; OptText body; ORW_CASE(pay, f("method", method); f("url", url); f("body", body)) };
struct sweepRewards { OptDecimal minUSD; OptText into; ORW_CASE(sweepRewards, f("minUSD", minUSD); f("into", into)) };
struct sweepDust { OptDecimal under; ORW_CASE(sweepDust, f("under", under)) };
struct hlSpotBuy { std::string symbol; OptDecimal usdc; ORW_CASE(hlSpotBuy, f("symbol", symbol); f("usdc", usdc)) };
struct hlSpotSell { std::string symbol; OptDecimal amount; ORW_CASE(hlSpotSell, f("symbol", symbol); f("amount", amount)) };
struct revokeApproval { std::string network; std::string token; std::string spender; bool permit2 = false; ORW_CASE(revokeApproval, f("network", network); f("token", token); f("spender", spender); f("permit2", permit2)) };
struct contractCall { ContractCall call; ORW_CASE(contractCall, f("call", call)) };
struct jupiterDCAOrders { ORW_CASE(jupiterDCAOrders, ) };
struct stopSchedules { ORW_CASE(stopSchedules, ) };
struct receive { ORW_CASE(receive, ) };
struct claimRewards { ORW_CASE(claimRewards, ) };
struct showApprovals { ORW_CASE(showApprovals, ) };

}  // namespace wallet

struct WalletCommand {
  using Value = std::variant<
      wallet::buy, wallet::buyNear, wallet::sellNear, wallet::sell, wallet::schedule,
      wallet::jupiterDCA, wallet::jupiterDCACancel, wallet::withdrawToSolana, wallet::lendDeposit,
      wallet::lendWithdraw, wallet::kamino, wallet::stake, wallet::unstake, wallet::yields,
      wallet::hlp, wallet::allocate, wallet::rebalance, wallet::aave, wallet::aaveBorrow,
      wallet::aaveRepay, wallet::aaveCollateral, wallet::morpho, wallet::baseToSolana,
      wallet::arbitrumToSolana, wallet::evmToSolana, wallet::sendTo, wallet::sendNear,
      wallet::closeNear, wallet::sendSol, wallet::sendToken, wallet::buyStock, wallet::buyOn,
      wallet::sellOn, wallet::swapOn, wallet::crossSwap, wallet::receiveAcross, wallet::sellStock,
      wallet::robinhoodToSolana, wallet::solanaTo, wallet::bridge, wallet::cctp, wallet::gas,
      wallet::pay, wallet::sweepRewards, wallet::sweepDust, wallet::hlSpotBuy, wallet::hlSpotSell,
      wallet::revokeApproval, wallet::contractCall, wallet::jupiterDCAOrders,
      wallet::stopSchedules, wallet::receive, wallet::claimRewards, wallet::showApprovals>;

  Value value;

  friend bool operator==(const WalletCommand&, const WalletCommand&) = default;

  [[nodiscard]] static std::optional<WalletCommand> parse(std::string_view text);
  // The English form of the command language.
  std::string line() const;
  std::string_view caseName() const;
  // {"type": "WalletCommand", "case": …, then the payload fields by name}.
  Json toJson() const;
};

// JSON of payload fields, shared by every command type.
Json fieldJson(const std::string& v);
Json fieldJson(const Decimal& v);
Json fieldJson(bool v);
Json fieldJson(int v);
Json fieldJson(const std::vector<std::string>& v);
Json fieldJson(const SpotAsset& v);
Json fieldJson(const ContractCall& v);
Json fieldJson(const ContractCall::Approve& v);
template <class T>
Json fieldJson(const std::optional<T>& v) {
  return v ? fieldJson(*v) : Json(nullptr);
}
// Adds each present field of a value with `each` to `out`.
template <class T>
void appendFields(Json& out, const T& value) {
  value.each([&out](const char* key, const auto& field) {
    Json j = fieldJson(field);
    if (!j.is_null()) out[key] = std::move(j);
  });
}

}  // namespace orwenna
