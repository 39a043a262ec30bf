#include "defi/morpho.h"

#include "chains/abi.h"
#include "chains/evm_call.h"

namespace orwenna {

namespace {

using V = ABI::Value;

}  // namespace

std::optional<std::string> Morpho::vaultOn(std::string_view networkKey) {
  // Steakhouse USDC on Base, the vault Coinbase's developer docs integrate
  // (docs.cdp.coinbase.com, "Morpho Integration"; app.morpho.org lists it).
  if (networkKey == "base") return std::string("0xbeef010f9cb27031ad51e3333f9af9c6b1228183");
  return std::nullopt;
}

Morpho::Morpho(const EVMRPC& rpc, const EVMNetwork& network, std::optional<std::string> vault)
    : rpc_(rpc), network_(network) {
  if (!vault) vault = vaultOn(network.key);
  if (!vault) throw YieldError("orwenna has no curated Morpho vault on " + network.name + ". Nothing was signed.");
  vault_ = *vault;
}

UInt256 Morpho::read(const std::string& signature, const UInt256* number, const std::string* address) const {
  std::vector<V> args;
  if (number) args.push_back(V::uint(*number));
  if (address) args.push_back(V::address(*address));
  return answerWord(rpc_.ethCall(vault_, ABI::call(signature, args)), 0, signature);
}

void Morpho::checkAsset() const {
  const std::string asset = answerAddress(rpc_.ethCall(vault_, ABI::call("asset()", {})), 0, "asset()");
  if (!EVMCall::sameAddress(asset, network_.usdc)) {
    throw YieldError("The Morpho vault " + vault_ + " on " + network_.name + " holds " + asset +
                     ", not USDC. Nothing was signed.");
  }
}

Decimal Morpho::position(const std::string& wallet) const {
  const UInt256 shares = read("balanceOf(address)", nullptr, &wallet);
  return unitsToDecimal(read("convertToAssets(uint256)", &shares, nullptr), network_.usdcDecimals);
}

EVMMove Morpho::vaultCall(const std::string& wallet, Bytes data, const std::string& note) const {
  EVMMove m;
  m.wallet = wallet;
  m.to = vault_;
  m.data = std::move(data);
  m.spendAsset = network_.usdc;
  m.spendDecimals = network_.usdcDecimals;
  m.note = note;
  return m;
}

YieldMove Morpho::deposit(const std::string& wallet, const Decimal& amount) const {
  const UInt256 units = baseUnitsOf(amount, network_.usdcDecimals, "USDC");
  checkAsset();
  YieldMove out;
  out.text = "Deposit " + amount.toString() + " USDC into Morpho on " + network_.name + ".";
  EVMMove call = vaultCall(wallet, ABI::call("deposit(uint256,address)", {V::uint(units), V::address(wallet)}),
                           "Deposit " + amount.toString() + " USDC into Morpho on " + network_.name);
  call.input = amount;
  out.evm.push_back({call, EVMApproval{network_.usdc, vault_, units,
                                       "Approve exactly " + amount.toString() + " USDC to Morpho on " + network_.name}});
  return out;
}

YieldMove Morpho::withdraw(const std::string& wallet, const std::optional<Decimal>& amount) const {
  checkAsset();
  YieldMove out;
  if (!amount) {
    const UInt256 shares = read("balanceOf(address)", nullptr, &wallet);
    if (shares == 0) throw YieldError("There is no USDC in Morpho on " + network_.name + ". Nothing was signed.");
    out.text = "Withdraw all the USDC from Morpho on " + network_.name + ".";
    out.evm.push_back({vaultCall(wallet,
                                 ABI::call("redeem(uint256,address,address)",
                                           {V::uint(shares), V::address(wallet), V::address(wallet)}),
                                 "Redeem every share of Morpho on " + network_.name),
                       std::nullopt});
    return out;
  }
  const UInt256 units = baseUnitsOf(*amount, network_.usdcDecimals, "USDC");
  const UInt256 most = read("maxWithdraw(address)", nullptr, &wallet);
  if (units > most) {
    throw YieldError("Morpho on " + network_.name + " can pay out " + unitsToDecimal(most, network_.usdcDecimals).toString() +
                     " USDC of this wallet's now, less than " + amount->toString() + ". Nothing was signed.");
  }
  out.text = "Withdraw " + amount->toString() + " USDC from Morpho on " + network_.name + ".";
  out.evm.push_back({vaultCall(wallet,
                               ABI::call("withdraw(uint256,address,address)",
                                         {V::uint(units), V::address(wallet), V::address(wallet)}),
                               "Withdraw " + amount->toString() + " USDC from Morpho on " + network_.name),
                     std::nullopt});
  return out;
}

}  // namespace orwenna
