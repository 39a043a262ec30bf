#include "app/read_tools.h"

#include <exception>
#include <map>
#include <optional>

#include "app/gas_lookup.h"
#include "app/market_lookup.h"
#include "app/raw_reads.h"
#include "app/services_lookup.h"
#include "app/token_lookup.h"
#include "app/yield_moves.h"
#include "base/log.h"
#include "base/text.h"
#include "trading/fmt.h"
#include "trading/risk_policy.h"

namespace orwenna::Agent {

const MarketTable& LazyMarkets::table() {
  std::call_once(once_, [this] {
    try {
      table_ = Hyperliquid::loadMarketTable(api_);
    } catch (const std::exception& e) {
      log::warn("markets not loaded: {}", e.what());
    }
  });
  return table_;
}

PortfolioSnapshot AddressPortfolio::snapshot() const {
  PortfolioSnapshot s;
  s.notRead = {"open positions", "open orders", "closed trades", "alerts", "recurring buys", "recent activity"};
  if (!me_.evm && !me_.solana) s.notRead.insert(s.notRead.begin(), "balances (no --evm or --solana address given)");
  if (me_.evm) {
    try {
      auto b = Hyperliquid::balance(services_.hyperliquidInfo(), *me_.evm);
      s.balances.push_back("Hyperliquid: " + Fmt::usd(b.accountValue) + " account value, " +
                           Fmt::usd(b.withdrawable) + " withdrawable, " + Fmt::usd(b.spotUSDC) + " spot USDC");
    } catch (const std::exception& e) {
      s.notRead.push_back(std::string("the Hyperliquid balance (") + e.what() + ")");
    }
  }
  if (me_.solana) {
    try {
      auto b = services_.solana().holdings(*me_.solana);
      std::string line = "Solana wallet: " + b.usdc.toString() + " USDC, " + b.sol.toString() + " SOL";
      if (!b.tokens.empty()) line += ", " + std::to_string(b.tokens.size()) + " other tokens";
      s.balances.push_back(line);
    } catch (const std::exception& e) {
      s.notRead.push_back(std::string("the Solana balance (") + e.what() + ")");
    }
  }
  return s;
}

ReadTools::ReadTools(const Services& services, UserAddresses me)
    : services_(services),
      me_(std::move(me)),
      markets_(services.hyperliquidInfo()),
      portfolio_(services, me_) {}

Lookups ReadTools::lookups() {
  std::map<std::string, LookupHandler> tools;
  tools["portfolio"] = portfolioLookup(portfolio_);
  tools["movers"] = [this](const std::string&) { return movers(markets_.table()); };
  tools["market"] = marketLookupHandler([this] {
    MarketLookupInputs in;
    in.markets = &markets_.table();
    in.policy = RiskPolicy::load();
    // Positions are not read here, so the open-risk rule has nothing to add.
    in.openRisk = Decimal(0);
    if (me_.evm) {
      try {
        in.equity = Hyperliquid::balance(services_.hyperliquidInfo(), *me_.evm).accountValue;
      } catch (const std::exception& e) {
        log::warn("capital not read: {}", e.what());
      }
    }
    in.atrPct = [this](const std::string& coin) -> std::optional<Decimal> {
      return Hyperliquid::atrPct(services_.hyperliquidInfo(), coin);
    };
    return in;
  });
  tools["gas"] = gasLookupHandler(services_.gasInputs([this](const std::string& coin) -> std::optional<Decimal> {
    if (const Market* m = markets_.table().find(coin)) return m->markPx;
    return std::nullopt;
  }));
  tools["rates"] = [this](const std::string& symbol) {
    const std::string asked = text::asciiLowercased(text::trimmed(symbol));
    if (!asked.empty() && asked != "usdc") return std::string("Rates are compared for USDC only.");
    return yieldBoard(readYieldSpots(services_, WalletAddresses{me_.solana, me_.evm, std::nullopt}));
  };
  tools["hl"] = hlLookup(services_.hyperliquidInfo(), me_);
  tools["rpc"] = rpcLookup(services_.rpcNodes(me_));
  tools["call"] = callLookup(services_.rpcNodes(me_));
  tools["token"] = tokenLookupHandler(
      {services_.http, services_.clock, services_.endpoints.dexScreener, services_.endpoints.geckoTerminal});
  tools["services"] = servicesLookupHandler({services_.http, services_.endpoints.mppDirectory});
  tools["service"] = serviceLookupHandler({services_.http, services_.endpoints.mppDirectory});
  tools["fetch"] = fetchLookup(FetchPolicy::publicDataApis(), services_.http, me_);
  return Lookups(std::move(tools));
}

}  // namespace orwenna::Agent
