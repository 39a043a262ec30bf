// What a chat reading outside the app (`orwenna read`) can look up: the
// market table read once on first use, the balances of the addresses the user
// gave (all the command line knows of the user's money), and the lookups the
// model may call — portfolio, movers, market, gas, rates, hl, rpc and fetch — every
// client built from one Services.
//
// LazyMarkets reads under std::call_once and may be asked from several
// threads at once (the lookups of one turn run concurrently). AddressPortfolio
// reads the network on every snapshot and holds no mutable state. The
// Services, and the ReadTools behind a Lookups, must outlive what uses them.
#pragma once

#include <mutex>
#include <string>

#include "app/agent.h"
#include "app/portfolio.h"
#include "app/raw_reads.h"
#include "app/services.h"
#include "hyperliquid/info.h"
#include "trading/market.h"

namespace orwenna::Agent {

// The market table, read on first use; a failed read is logged and leaves
// the table empty ("not loaded") for the rest of the object's life.
class LazyMarkets {
 public:
  explicit LazyMarkets(Hyperliquid::InfoApi api) : api_(std::move(api)) {}
  const MarketTable& table();

 private:
  Hyperliquid::InfoApi api_;
  std::once_flag once_;
  MarketTable table_;
};

// The balances of the given addresses: Hyperliquid's for the EVM address,
// the Solana wallet's holdings for the Solana one. Positions, orders and
// history live in the app and are named as not read.
class AddressPortfolio final : public PortfolioSource {
 public:
  AddressPortfolio(const Services& services, UserAddresses me) : services_(services), me_(std::move(me)) {}
  PortfolioSnapshot snapshot() const override;

 private:
  const Services& services_;
  UserAddresses me_;
};

// The lookups of `orwenna read` over one Services.
class ReadTools {
 public:
  ReadTools(const Services& services, UserAddresses me);

  // The handlers hold references into this object.
  Lookups lookups();
  LazyMarkets& markets() { return markets_; }
  const AddressPortfolio& portfolio() const { return portfolio_; }

 private:
  const Services& services_;
  UserAddresses me_;
  LazyMarkets markets_;
  AddressPortfolio portfolio_;
};

}  // namespace orwenna::Agent
