// Aave v3 on the EVM networks where it runs: USDC supplied, withdrawn,
// borrowed at the variable rate and repaid, and ETH supplied as collateral
// (wrapped first). Reads go to the Pool through eth_call: the reserve's
// tokens and rate (getReserveData), the account's totals and health factor
// (getUserAccountData). A borrow is refused before anything is built when
// Aave would not lend that much or the health factor afterwards would be
// below kHealthFloor. Every call credits, debits or repays the wallet itself.
//
// Holds no mutable state; thread-safe as far as its EVMRPC is.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "chains/evm_network.h"
#include "chains/evm_rpc.h"
#include "defi/yield_place.h"

namespace orwenna {

struct AaveMarket {
  std::string network;  // EVMNetwork key
  std::string pool;
  std::optional<std::string> weth;  // the wrapped gas coin, on networks whose gas coin is ETH

  // Nothing on a network Aave v3 does not run on (for us).
  [[nodiscard]] static const AaveMarket* on(std::string_view networkKey);
};

class Aave final : public YieldPlace {
 public:
  static constexpr const char* kHealthFloor = "1.2";
  // Base currency units per dollar in the account data (8 decimals).
  static constexpr int kBaseDecimals = 8;

  struct Reserve {
    std::string aToken;
    std::string variableDebtToken;
    UInt256 liquidityRateRay;
  };
  struct Account {
    UInt256 collateralBase;
    UInt256 debtBase;
    UInt256 availableBorrowsBase;
    UInt256 liquidationThresholdBps;
    UInt256 healthFactorWad;
  };

  // Throws YieldError on a network without a market.
  Aave(const EVMRPC& rpc, const EVMNetwork& network);

  std::string name() const override { return "Aave on " + network_.name; }
  std::string symbol() const override { return "USDC"; }
  Decimal position(const std::string& wallet) const override;
  std::optional<Decimal> rate() const override;
  YieldMove deposit(const std::string& wallet, const Decimal& amount) const override;
  YieldMove withdraw(const std::string& wallet, const std::optional<Decimal>& amount) const override;

  YieldMove borrow(const std::string& wallet, const Decimal& amount) const;
  // No amount: the whole debt (the approval covers it with 0.1% to spare).
  YieldMove repay(const std::string& wallet, const std::optional<Decimal>& amount) const;
  YieldMove supplyEth(const std::string& wallet, const Decimal& amount) const;

  Reserve reserve(const std::string& asset) const;
  Account account(const std::string& wallet) const;
  Decimal debt(const std::string& wallet) const;

  // The health factor after borrowing `amountBase` more; nothing when no
  // debt would remain. Pure.
  [[nodiscard]] static std::optional<Decimal> healthAfter(const Account& account, const UInt256& amountBase);
  // APY in percent from Aave's per-second rate in ray, compounded daily. Pure.
  [[nodiscard]] static Decimal apyPercent(const UInt256& rateRay);

 private:
  UInt256 balanceOf(const std::string& token, const std::string& wallet) const;
  EVMMove poolCall(const std::string& wallet, Bytes data, const std::string& note) const;

  const EVMRPC& rpc_;
  const EVMNetwork& network_;
  const AaveMarket& market_;
};

}  // namespace orwenna
