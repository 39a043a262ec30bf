// The SOL, USDC and other token holdings of one Solana wallet, read from a
// Solana JSON-RPC node (both token programs).
//
// Stateless; one node, no fail-over (the chain client owns node lists and
// retries). Amounts are exact Decimals; a bad number fails the whole read with
// "Unexpected number format: …", an answer without a usable result with
// "Solana RPC: <node's message>" or "Solana RPC: empty response". Thread-safe
// as long as the HttpClient is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/decimal.h"
#include "base/http.h"

namespace orwenna::Solana {

inline constexpr const char* kDefaultRpc = "https://api.mainnet-beta.solana.com";
inline constexpr const char* kUsdcMint = "EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v";
inline constexpr const char* kTokenProgram = "TokenkegQfeZyiNwAJbNbGKPFXCWuBvf9Ss623VQ5DA";
inline constexpr const char* kToken2022Program = "TokenzQdBNbLqP5VEhdkAS6EPFLC1PHnBqCXEpPxuEb";

struct RpcNode {
  HttpClient& http;
  std::string url = kDefaultRpc;

  // The node from ORWENNA_SOLANA_RPC, else the public mainnet node.
  static std::string urlFromEnvironment();
};

// One token other than USDC; amounts of several accounts of one mint are summed.
struct Holding {
  std::string mint;
  std::string program;  // the token program that owns its accounts
  Decimal amount;       // in whole tokens
  int decimals = 0;
  std::optional<Decimal> priceUSD;  // filled by token pricing, not by the read

  friend bool operator==(const Holding&, const Holding&) = default;
};

struct Balance {
  Decimal sol;
  Decimal usdc;
  std::vector<Holding> tokens;  // non-zero holdings, in the node's order
};

Balance balance(const RpcNode& node, const std::string& owner);

}  // namespace orwenna::Solana
