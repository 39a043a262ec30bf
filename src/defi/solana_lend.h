// The Solana lending places whose transactions come ready-made from their
// public APIs: Jupiter Lend Earn (jlTokens) and a Kamino Earn vault per
// symbol. Each deposit or withdrawal is the API's unsigned transaction
// handed to the Solana send pipeline as a received transaction: it must be
// the wallet's alone to sign, its programs are held to the place's own
// allow-list (plus the token programs, Associated Token, Compute Budget and
// System to the wallet's own accounts), and its simulation must keep the
// balances within bounds — a deposit spends at most the amount asked and
// leaves the wallet's share account above where it was; a withdrawal brings
// the asset back.
//
// Holds no mutable state; thread-safe as far as its HttpClient is. API
// failures are YieldError with the service named; transport failures are
// NetError, left to the caller.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/http.h"
#include "defi/yield_place.h"

namespace orwenna {

// A token the Solana places take: USDC, SOL (as wrapped SOL) or USDT.
struct LendAsset {
  std::string symbol;
  std::string mint;
  int decimals = 0;

  bool isSol() const;
  // Nothing for a symbol the places don't take.
  [[nodiscard]] static std::optional<LendAsset> of(std::string_view symbol);
};

class JupiterLend final : public YieldPlace {
 public:
  static constexpr const char* kProgram = "jup3YeL8QhtSx1e253b2FDvsMNC87fDrgQZivbrndc9";
  static constexpr std::uint64_t kSolFeeAllowance = 10'000'000;  // lamports kept for fees and rent

  // `base`: ORWENNA_JUPITER_LEND_API. Throws YieldError for a symbol it
  // does not take.
  JupiterLend(HttpClient& http, std::string base, const std::string& symbol);

  std::string name() const override { return "Jupiter Lend"; }
  std::string symbol() const override { return asset_.symbol; }
  Decimal position(const std::string& wallet) const override;
  std::optional<Decimal> rate() const override;
  YieldMove deposit(const std::string& wallet, const Decimal& amount) const override;
  YieldMove withdraw(const std::string& wallet, const std::optional<Decimal>& amount) const override;

 private:
  struct Token {
    std::string jlMint;
    Decimal ratePercent;
  };
  struct Holding {
    UInt256 shares;
    UInt256 assets;
  };
  Token token() const;
  Holding holding(const std::string& wallet) const;
  Bytes transaction(const std::string& path, const std::string& wallet, const std::string& field,
                    const UInt256& amount) const;
  SolanaMove move(const std::string& wallet, Bytes tx, bool deposit, const UInt256& units) const;

  HttpClient& http_;
  std::string base_;
  LendAsset asset_;
};

class KaminoVault final : public YieldPlace {
 public:
  // The curated Earn vault for a symbol; nothing where there is none.
  [[nodiscard]] static std::optional<std::string> vaultFor(std::string_view symbol);

  // `base`: ORWENNA_KAMINO_API. Throws YieldError for a symbol without a vault.
  KaminoVault(HttpClient& http, std::string base, const std::string& symbol);

  std::string name() const override { return "Kamino"; }
  std::string symbol() const override { return asset_.symbol; }
  Decimal position(const std::string& wallet) const override;
  std::optional<Decimal> rate() const override;
  YieldMove deposit(const std::string& wallet, const Decimal& amount) const override;
  YieldMove withdraw(const std::string& wallet, const std::optional<Decimal>& amount) const override;

 private:
  Json getJson(const std::string& path) const;
  Bytes transaction(const std::string& path, const std::string& wallet, const Decimal& amount) const;

  HttpClient& http_;
  std::string base_;
  LendAsset asset_;
  std::string vault_;
};

}  // namespace orwenna
