#include "language/wallet_command.h"

#include <array>
#include <functional>

#include "base/regex.h"
#include "base/text.h"
#include "language/command_text.h"

namespace orwenna {

using namespace grammar;
namespace w = wallet;

// ---------------------------------------------------------------- SpotAsset

std::optional<SpotAsset> SpotAsset::known(std::string_view ticker) {
  static const std::array<SpotAsset, 5> assets = {{
      {"SOL", "So11111111111111111111111111111111111111112", 9, false},
      {"BTC", "cbbtcf3aa214zXHbiAZQwf4122FBYbraNdFqgw4iMij", 8, false},
      {"ETH", "7vfCXTUXx5WJV5JADk17DUJ4ksgau7utNKj4b963voxs", 8, false},
      {"JUP", "JUPyiwrYJFskUPiHa7hkeR8VUtAeFoSYbKedZNsDvCN", 6, false},
      {"JitoSOL", "J1toso1uCk3RLmjorhTtrVwY9HJ7X8V9yYac6Y7kGCPn", 9, false},
  }};
  std::string wanted = upper(ticker);
  for (const SpotAsset& a : assets) {
    if (upper(a.symbol) == wanted) return a;
  }
  return std::nullopt;
}

SpotAsset SpotAsset::forTicker(std::string_view ticker) {
  if (auto a = known(ticker)) return *a;
  return SpotAsset{upper(ticker), "", 0, false};
}

// ---------------------------------------------------------------- JSON

Json fieldJson(const std::string& v) { return Json(v); }
Json fieldJson(const Decimal& v) { return Json(v.toString()); }
Json fieldJson(bool v) { return Json(v); }
Json fieldJson(int v) { return Json(v); }
Json fieldJson(const std::vector<std::string>& v) { return Json(v); }
Json fieldJson(const SpotAsset& v) {
  Json j = Json::object();
  appendFields(j, v);
  return j;
}
Json fieldJson(const ContractCall& v) {
  Json j = Json::object();
  appendFields(j, v);
  return j;
}
Json fieldJson(const ContractCall::Approve& v) {
  Json j = Json::object();
  appendFields(j, v);
  return j;
}

std::string_view WalletCommand::caseName() const {
  return std::visit([](const auto& c) { return std::decay_t<decltype(c)>::kCase; }, value);
}

Json WalletCommand::toJson() const {
  Json j = Json::object();
  j["type"] = "WalletCommand";
  j["case"] = std::string(caseName());
  std::visit([&j](const auto& c) { appendFields(j, c); }, value);
  return j;
}

// ---------------------------------------------------------------- writing back

namespace {

std::string amountWord(const OptDecimal& amount) { return amount ? plain(*amount) : "all"; }
std::string optAmount(const OptDecimal& amount) { return amount ? plain(*amount) + " " : ""; }

std::string everyDays(int days) {
  if (days == 1) return "day";
  if (days == 7) return "week";
  return std::to_string(days) + " days";
}

std::string everySeconds(int seconds) {
  if (seconds == 3600) return "hour";
  if (seconds == 86400) return "day";
  if (seconds == 604800) return "week";
  if (seconds == 2592000) return "month";
  if (seconds % 86400 == 0) return std::to_string(seconds / 86400) + " days";
  if (seconds % 3600 == 0) return std::to_string(seconds / 3600) + " hours";
  if (seconds % 60 == 0) return std::to_string(seconds / 60) + " minutes";
  return std::to_string(seconds) + " seconds";
}

std::string coinOf(const std::string& network) {
  if (network == "polygon") return "POL";
  if (network == "bnb") return "BNB";
  if (network == "hyperevm") return "HYPE";
  return "ETH";
}

std::string onNet(const OptText& network) { return network ? " on " + *network : ""; }

struct LineWriter {
  std::string operator()(const w::buy& c) const {
    bool known = SpotAsset::known(c.asset.symbol).has_value();
    std::string out = "buy " + c.asset.symbol + (known ? "" : " on solana");
    if (c.usdc) out += " for " + plain(*c.usdc) + " USDC";
    return out;
  }
  std::string operator()(const w::buyNear& c) const {
    return c.usdc ? "buy NEAR for " + plain(*c.usdc) + " USDC" : "buy NEAR";
  }
  std::string operator()(const w::sellNear& c) const {
    return "sell " + optAmount(c.amount) + "NEAR" + (c.to ? " for USDC on " + *c.to : "");
  }
  std::string operator()(const w::sell& c) const {
    bool known = SpotAsset::known(c.asset.symbol).has_value();
    return "sell " + optAmount(c.amount) + c.asset.symbol + (known ? "" : " on solana");
  }
  std::string operator()(const w::schedule& c) const {
    return "buy " + c.asset.symbol + " for " + plain(c.usdc) + " USDC every " + everyDays(c.days);
  }
  std::string operator()(const w::jupiterDCA& c) const {
    std::string out = "Jupiter DCA " + (c.usdc ? plain(*c.usdc) + " USDC" : std::string("USDC")) +
                      " into " + c.asset.symbol;
    if (c.orders) out += " in " + std::to_string(*c.orders) + " orders";
    return out + " every " + everySeconds(c.every);
  }
  std::string operator()(const w::jupiterDCACancel& c) const {
    return "cancel Jupiter DCA" + (c.asset ? " " + *c.asset : "");
  }
  std::string operator()(const w::withdrawToSolana& c) const {
    return "withdraw " + amountWord(c.amount) + " USDC to Solana";
  }
  std::string operator()(const w::lendDeposit& c) const { return "lend " + optAmount(c.amount) + c.symbol; }
  std::string operator()(const w::lendWithdraw& c) const {
    return "withdraw " + optAmount(c.amount) + c.symbol + " from the vault";
  }
  std::string operator()(const w::kamino& c) const {
    return (c.deposit ? "deposit " : "withdraw ") + optAmount(c.amount) + c.symbol +
           (c.deposit ? " to kamino" : " from kamino");
  }
  std::string operator()(const w::stake& c) const { return "stake " + optAmount(c.amount) + "SOL"; }
  std::string operator()(const w::unstake& c) const { return "unstake " + optAmount(c.amount) + "JitoSOL"; }
  std::string operator()(const w::yields& c) const {
    return "where to keep " + c.symbol.value_or("my money");
  }
  std::string operator()(const w::hlp& c) const {
    return (c.deposit ? "deposit " : "withdraw ") + optAmount(c.amount) + "USDC" +
           (c.deposit ? " to HLP" : " from HLP");
  }
  std::string operator()(const w::allocate& c) const {
    std::string out = "spread " + optAmount(c.amount) + c.symbol;
    if (c.from) out += " from " + *c.from;
    out += " across the best rates";
    if (c.maxShare) out += " max " + plain(*c.maxShare) + "% per protocol";
    for (std::size_t i = 0; i < c.without.size(); ++i) out += (i == 0 ? " without " : ", ") + c.without[i];
    return out;
  }
  std::string operator()(const w::rebalance& c) const {
    return "rebalance USDC" + (c.maxShare ? " max " + plain(*c.maxShare) + "% per protocol" : "");
  }
  std::string operator()(const w::aave& c) const {
    return (c.deposit ? "lend " : "withdraw ") + optAmount(c.amount) + "USDC" +
           (c.deposit ? " on Aave on " : " from Aave on ") + c.network;
  }
  std::string operator()(const w::aaveBorrow& c) const {
    return "borrow " + optAmount(c.amount) + "USDC on Aave on " + c.network;
  }
  std::string operator()(const w::aaveRepay& c) const {
    return "repay " + amountWord(c.amount) + " USDC on Aave on " + c.network;
  }
  std::string operator()(const w::aaveCollateral& c) const {
    return "supply " + optAmount(c.amount) + "ETH as collateral on Aave on " + c.network;
  }
  std::string operator()(const w::morpho& c) const {
    return (c.deposit ? "deposit " : "withdraw ") + optAmount(c.amount) + "USDC" +
           (c.deposit ? " into Morpho on " : " from Morpho on ") + c.network;
  }
  std::string operator()(const w::baseToSolana& c) const {
    return "move " + optAmount(c.amount) + "USDC from Base to Solana";
  }
  std::string operator()(const w::arbitrumToSolana& c) const {
    return "move " + optAmount(c.amount) + "USDC from Arbitrum to Solana";
  }
  std::string operator()(const w::evmToSolana& c) const {
    return "move " + optAmount(c.amount) + "USDC from " + c.network + " to Solana";
  }
  std::string operator()(const w::sendTo& c) const {
    return "send " + plain(c.amount) + " USDC to " + c.name + onNet(c.network);
  }
  std::string operator()(const w::sendNear& c) const {
    return "send " + amountWord(c.amount) + " NEAR to " + c.name;
  }
  std::string operator()(const w::closeNear& c) const { return "close the NEAR account into " + c.name; }
  std::string operator()(const w::sendSol& c) const { return "send " + plain(c.amount) + " SOL to " + c.name; }
  std::string operator()(const w::sendToken& c) const {
    return "send " + amountWord(c.amount) + " " + c.token + onNet(c.network) + " to " + c.name;
  }
  std::string operator()(const w::buyStock& c) const {
    return "buy " + c.symbol + " stock" + (c.usdc ? " for " + plain(*c.usdc) + " USDC" : "");
  }
  std::string operator()(const w::buyOn& c) const {
    bool contract = c.token.starts_with("0x");
    std::string out = "buy " + std::string(contract ? "token " : "") + c.token + " on " + c.network;
    if (c.usdc) out += " for " + plain(*c.usdc) + " USDC";
    if (c.from) out += " from " + *c.from;
    return out;
  }
  std::string operator()(const w::sellOn& c) const {
    bool contract = c.token.starts_with("0x");
    return "sell " + optAmount(c.amount) + (contract ? "tokens " : "") + c.token + " on " + c.network +
           (c.keep ? " and keep the USDC there" : "");
  }
  std::string operator()(const w::swapOn& c) const {
    return "swap " + amountWord(c.amount) + " " + c.from + " for " + c.to + " on " + c.network;
  }
  std::string operator()(const w::crossSwap& c) const {
    return "swap " + amountWord(c.amount) + " " + c.from + " on " + c.on + " for " + c.to + " on " + c.at;
  }
  std::string operator()(const w::receiveAcross& c) const {
    return "receive " + optAmount(c.amount) + c.token + " from " + c.network;
  }
  std::string operator()(const w::sellStock& c) const {
    return "sell " + optAmount(c.amount) + c.symbol + " stock";
  }
  std::string operator()(const w::robinhoodToSolana& c) const {
    return "move " + optAmount(c.amount) + "USDG from Robinhood to Solana";
  }
  std::string operator()(const w::solanaTo& c) const {
    return "move " + optAmount(c.amount) + "USDC from Solana to " + c.network;
  }
  std::string operator()(const w::bridge& c) const {
    return "move " + optAmount(c.amount) + "USDC from " + c.from + " to " + c.to;
  }
  std::string operator()(const w::cctp& c) const {
    return "move " + optAmount(c.amount) + "USDC from " + c.from + " to " + c.to + " via CCTP";
  }
  std::string operator()(const w::gas& c) const {
    return "add gas on " + c.network + (c.usd ? " for " + plain(*c.usd) + " USDC" : "");
  }
  std::string operator()(const w::pay& c) const {
    return "pay " + c.method + " " + c.url + (c.body ? " " + *c.body : "");
  }
  std::string operator()(const w::sweepRewards& c) const {
    return "sweep rewards" + (c.minUSD ? " over $" + plain(*c.minUSD) : "") + (c.into ? " into " + *c.into : "");
  }
  std::string operator()(const w::sweepDust& c) const {
    return "sweep dust" + (c.under ? " under $" + plain(*c.under) : "");
  }
  std::string operator()(const w::hlSpotBuy& c) const {
    return "buy " + c.symbol + " on hyperliquid spot" + (c.usdc ? " for " + plain(*c.usdc) + " USDC" : "");
  }
  std::string operator()(const w::hlSpotSell& c) const {
    return "sell " + amountWord(c.amount) + " " + c.symbol + " on hyperliquid spot";
  }
  std::string operator()(const w::revokeApproval& c) const {
    return "revoke approval of " + c.token + " to " + c.spender + " on " + c.network +
           (c.permit2 ? " via permit2" : "");
  }
  std::string operator()(const w::contractCall& c) const {
    const ContractCall& k = c.call;
    std::string out = "call " + k.network + " " + k.contract + " " + k.function;
    for (const std::string& a : k.args) out += " " + a;
    if (k.value) out += " with " + plain(*k.value) + " " + coinOf(k.network);
    if (k.approve) out += " approving " + plain(k.approve->amount) + " " + k.approve->token;
    return out;
  }
  std::string operator()(const w::jupiterDCAOrders&) const { return "show Jupiter DCA"; }
  std::string operator()(const w::stopSchedules&) const { return "stop recurring buys"; }
  std::string operator()(const w::receive&) const { return "top up"; }
  std::string operator()(const w::claimRewards&) const { return "claim rewards"; }
  std::string operator()(const w::showApprovals&) const { return "show approvals"; }
};

}  // namespace

std::string WalletCommand::line() const { return std::visit(LineWriter{}, value); }

}  // namespace orwenna
