#include "defi/aave.h"

#include <array>

#include "chains/abi.h"
#include "execution/evm_send.h"

namespace orwenna {

namespace {

// Pools from Aave's published address book (github.com/bgd-labs/aave-address-book,
// src/AaveV3<Network>.sol: POOL); WETH is each network's canonical wrapped ether.
const std::array<AaveMarket, 5> kMarkets{{
    {"base", "0xa238dd80c259a72e81d7e4664a9801593f98d1c5", "0x4200000000000000000000000000000000000006"},
    {"arbitrum", "0x794a61358d6845594f94dc1db02a252b5b4814ad", "0x82af49447d8a07e3bd95bd0d56f35241523fbab1"},
    {"optimism", "0x794a61358d6845594f94dc1db02a252b5b4814ad", "0x4200000000000000000000000000000000000006"},
    {"polygon", "0x794a61358d6845594f94dc1db02a252b5b4814ad", std::nullopt},
    {"ethereum", "0x87870bca3f3fd6335c3f4ce8392d69350b4fa4e2", "0xc02aaa39b223fe8d0a0e5c4f27ead9083c756cc2"},
}};

const UInt256 kMaxWord = ~UInt256(0);
constexpr int kVariableRate = 2;

using V = ABI::Value;

}  // namespace

const AaveMarket* AaveMarket::on(std::string_view networkKey) {
  for (const auto& m : kMarkets)
    if (m.network == networkKey) return &m;
  return nullptr;
}

Aave::Aave(const EVMRPC& rpc, const EVMNetwork& network)
    : rpc_(rpc), network_(network), market_([&]() -> const AaveMarket& {
        const AaveMarket* m = AaveMarket::on(network.key);
        if (!m) throw YieldError("orwenna doesn't lend on Aave on " + network.name + ". Nothing was signed.");
        return *m;
      }()) {}

Aave::Reserve Aave::reserve(const std::string& asset) const {
  Bytes answer = rpc_.ethCall(market_.pool, ABI::call("getReserveData(address)", {V::address(asset)}));
  // The reserve data's words: 2 currentLiquidityRate, 8 aTokenAddress, 10 variableDebtTokenAddress.
  return {answerAddress(answer, 8, "getReserveData"), answerAddress(answer, 10, "getReserveData"),
          answerWord(answer, 2, "getReserveData")};
}

Aave::Account Aave::account(const std::string& wallet) const {
  Bytes a = rpc_.ethCall(market_.pool, ABI::call("getUserAccountData(address)", {V::address(wallet)}));
  const std::string what = "getUserAccountData";
  return {answerWord(a, 0, what), answerWord(a, 1, what), answerWord(a, 2, what), answerWord(a, 3, what),
          answerWord(a, 5, what)};
}

UInt256 Aave::balanceOf(const std::string& token, const std::string& wallet) const {
  return answerWord(rpc_.ethCall(token, ABI::call("balanceOf(address)", {V::address(wallet)})), 0, "balanceOf");
}

Decimal Aave::position(const std::string& wallet) const {
  return unitsToDecimal(balanceOf(reserve(network_.usdc).aToken, wallet), network_.usdcDecimals);
}

Decimal Aave::debt(const std::string& wallet) const {
  return unitsToDecimal(balanceOf(reserve(network_.usdc).variableDebtToken, wallet), network_.usdcDecimals);
}

std::optional<Decimal> Aave::rate() const { return apyPercent(reserve(network_.usdc).liquidityRateRay); }

Decimal Aave::apyPercent(const UInt256& rateRay) {
  // Daily compounding of the yearly rate: within a hundredth of a percent of
  // Aave's per-second compounding at any realistic rate.
  const Decimal apr = unitsToDecimal(rateRay, 27);
  const Decimal daily = (apr / Decimal(365)).rounded(30, RoundingMode::towardZero);
  Decimal factor(1);
  for (int day = 0; day < 365; ++day) factor = (factor * (Decimal(1) + daily)).rounded(30, RoundingMode::towardZero);
  return ((factor - Decimal(1)) * Decimal(100)).rounded(2);
}

std::optional<Decimal> Aave::healthAfter(const Account& account, const UInt256& amountBase) {
  const UInt256 debt = account.debtBase + amountBase;
  if (debt == 0) return std::nullopt;
  // collateral × threshold / debt, the threshold in basis points.
  const Decimal collateral = unitsToDecimal(account.collateralBase * account.liquidationThresholdBps, 4);
  return (collateral / unitsToDecimal(debt, 0)).rounded(4, RoundingMode::towardZero);
}

EVMMove Aave::poolCall(const std::string& wallet, Bytes data, const std::string& note) const {
  EVMMove m;
  m.wallet = wallet;
  m.to = market_.pool;
  m.data = std::move(data);
  m.spendAsset = network_.usdc;
  m.spendDecimals = network_.usdcDecimals;
  m.note = note;
  return m;
}

YieldMove Aave::deposit(const std::string& wallet, const Decimal& amount) const {
  const UInt256 units = baseUnitsOf(amount, network_.usdcDecimals, "USDC");
  YieldMove out;
  out.text = "Lend " + amount.toString() + " USDC on Aave on " + network_.name + ".";
  EVMMove call = poolCall(wallet,
                          ABI::call("supply(address,uint256,address,uint16)",
                                    {V::address(network_.usdc), V::uint(units), V::address(wallet), V::uint(0)}),
                          "Supply " + amount.toString() + " USDC to Aave on " + network_.name);
  call.input = amount;
  out.evm.push_back({call, EVMApproval{network_.usdc, market_.pool, units,
                                       "Approve exactly " + amount.toString() + " USDC to Aave on " + network_.name}});
  return out;
}

YieldMove Aave::withdraw(const std::string& wallet, const std::optional<Decimal>& amount) const {
  UInt256 units = kMaxWord;
  if (amount) {
    units = baseUnitsOf(*amount, network_.usdcDecimals, "USDC");
  } else if (!position(wallet).isPositive()) {
    throw YieldError("There is no USDC on Aave on " + network_.name + " to withdraw. Nothing was signed.");
  }
  const std::string what = amount ? amount->toString() + " USDC" : std::string("all the USDC");
  YieldMove out;
  out.text = "Withdraw " + what + " from Aave on " + network_.name + ".";
  out.evm.push_back({poolCall(wallet,
                              ABI::call("withdraw(address,uint256,address)",
                                        {V::address(network_.usdc), V::uint(units), V::address(wallet)}),
                              "Withdraw " + what + " from Aave on " + network_.name),
                     std::nullopt});
  return out;
}

YieldMove Aave::borrow(const std::string& wallet, const Decimal& amount) const {
  const UInt256 units = baseUnitsOf(amount, network_.usdcDecimals, "USDC");
  const UInt256 amountBase = baseUnitsOf(amount, kBaseDecimals, "USDC");  // a dollar a USDC
  const Account a = account(wallet);
  if (a.availableBorrowsBase < amountBase) {
    throw YieldError("Aave lends this wallet at most " + unitsToDecimal(a.availableBorrowsBase, kBaseDecimals).toString() +
                     " USD on " + network_.name + ", less than " + amount.toString() + " USDC. Nothing was signed.");
  }
  const Decimal floor = Decimal::parse(kHealthFloor);
  auto health = healthAfter(a, amountBase);
  if (health && *health < floor) {
    throw YieldError("Borrowing " + amount.toString() + " USDC would take the health factor on Aave to " +
                     health->toString() + ", below orwenna's floor of " + floor.toString() +
                     ": a small price move could liquidate the collateral. Nothing was signed.");
  }
  YieldMove out;
  out.text = "Borrow " + amount.toString() + " USDC on Aave on " + network_.name + " at the variable rate" +
             (health ? " (health factor after: " + health->toString() + ")" : "") + ".";
  EVMMove call = poolCall(wallet,
                          ABI::call("borrow(address,uint256,uint256,uint16,address)",
                                    {V::address(network_.usdc), V::uint(units), V::uint(kVariableRate), V::uint(0),
                                     V::address(wallet)}),
                          "Borrow " + amount.toString() + " USDC on Aave on " + network_.name);
  out.evm.push_back({call, std::nullopt});
  return out;
}

YieldMove Aave::repay(const std::string& wallet, const std::optional<Decimal>& amount) const {
  UInt256 approve;
  UInt256 units = kMaxWord;
  Decimal shown;
  if (amount) {
    units = approve = baseUnitsOf(*amount, network_.usdcDecimals, "USDC");
    shown = *amount;
  } else {
    const UInt256 owed = balanceOf(reserve(network_.usdc).variableDebtToken, wallet);
    if (owed == 0) throw YieldError("There is no USDC debt on Aave on " + network_.name + ". Nothing was signed.");
    // Interest accrues between the read and the block: 0.1% over the debt.
    approve = owed + owed / 1000 + 1;
    shown = unitsToDecimal(approve, network_.usdcDecimals);
  }
  const std::string what = amount ? amount->toString() + " USDC" : std::string("the whole USDC debt");
  YieldMove out;
  out.text = "Repay " + what + " on Aave on " + network_.name + ".";
  EVMMove call = poolCall(wallet,
                          ABI::call("repay(address,uint256,uint256,address)",
                                    {V::address(network_.usdc), V::uint(units), V::uint(kVariableRate),
                                     V::address(wallet)}),
                          "Repay " + what + " on Aave on " + network_.name);
  call.input = shown;
  out.evm.push_back({call, EVMApproval{network_.usdc, market_.pool, approve,
                                       "Approve exactly " + shown.toString() + " USDC to Aave on " + network_.name}});
  return out;
}

YieldMove Aave::supplyEth(const std::string& wallet, const Decimal& amount) const {
  if (!market_.weth || network_.gasCoin != std::optional<std::string>("ETH")) {
    throw YieldError("ETH collateral goes to Aave only on networks whose gas coin is ETH, not on " + network_.name +
                     ". Nothing was signed.");
  }
  const UInt256 wei = baseUnitsOf(amount, 18, "ETH");
  YieldMove out;
  out.text = "Supply " + amount.toString() + " ETH as collateral on Aave on " + network_.name + " (wrapped to WETH first).";
  // The wrap carries value, so it is a transaction of its own, never a batch call.
  EVMMove wrap;
  wrap.wallet = wallet;
  wrap.to = *market_.weth;
  wrap.value = wei;
  wrap.data = ABI::call("deposit()", {});
  wrap.spendAsset = std::string(EVMSimulation::kNative);
  wrap.input = amount;
  wrap.note = "Wrap " + amount.toString() + " ETH on " + network_.name;
  out.evm.push_back({wrap, std::nullopt});
  EVMMove supply = poolCall(wallet,
                            ABI::call("supply(address,uint256,address,uint16)",
                                      {V::address(*market_.weth), V::uint(wei), V::address(wallet), V::uint(0)}),
                            "Supply " + amount.toString() + " WETH to Aave on " + network_.name);
  supply.spendAsset = *market_.weth;
  supply.spendDecimals = 18;
  supply.input = amount;
  out.evm.push_back({supply, EVMApproval{*market_.weth, market_.pool, wei,
                                         "Approve exactly " + amount.toString() + " WETH to Aave on " + network_.name}});
  return out;
}

}  // namespace orwenna
