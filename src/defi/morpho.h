// Morpho: one curated ERC-4626 USDC vault per network. Before any move the
// vault's asset() must be the network's USDC, or the move is refused. A
// deposit is deposit(assets, wallet) after an exact approval; a withdrawal
// of an amount is withdraw(assets, wallet, wallet), refused past the vault's
// maxWithdraw (what its markets can pay out now); "all" redeems every share
// the wallet holds, so no dust stays behind.
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

class Morpho final : public YieldPlace {
 public:
  // The curated vault on a network; nothing where there is none.
  [[nodiscard]] static std::optional<std::string> vaultOn(std::string_view networkKey);

  // Throws YieldError on a network without a curated vault. `vault`
  // replaces the curated one (tests).
  Morpho(const EVMRPC& rpc, const EVMNetwork& network, std::optional<std::string> vault = std::nullopt);

  std::string name() const override { return "Morpho on " + network_.name; }
  std::string symbol() const override { return "USDC"; }
  Decimal position(const std::string& wallet) const override;
  // Morpho's rate comes from outside the chain; none is read here.
  std::optional<Decimal> rate() const override { return std::nullopt; }
  YieldMove deposit(const std::string& wallet, const Decimal& amount) const override;
  YieldMove withdraw(const std::string& wallet, const std::optional<Decimal>& amount) const override;

  const std::string& vault() const { return vault_; }

 private:
  void checkAsset() const;
  UInt256 read(const std::string& signature, const UInt256* number, const std::string* address) const;
  EVMMove vaultCall(const std::string& wallet, Bytes data, const std::string& note) const;

  const EVMRPC& rpc_;
  const EVMNetwork& network_;
  std::string vault_;
};

}  // namespace orwenna
