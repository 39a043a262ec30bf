// Jupiter's swap API: a quote for an exact input amount, then the ready-made
// swap transaction for that quote. It only talks to Jupiter and reads what
// comes back; checking, signing and sending the transaction belong to the
// Solana send pipeline (execution/solana_send) through JupiterSwapper.
//
// Stateless beyond its HttpClient; thread-safe as far as that client is.
// Every failure is a JupiterError whose text begins "Jupiter: "; transport
// failures are NetError, left to the caller.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/error.h"
#include "base/http.h"

namespace orwenna {

class JupiterError : public Error {
 public:
  explicit JupiterError(const std::string& message) : Error("Jupiter: " + message) {}
};

class Jupiter {
 public:
  static constexpr const char* kWrappedSol = "So11111111111111111111111111111111111111112";
  static constexpr const char* kUSDC = "EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v";
  static constexpr int kSlippageBps = 50;
  static constexpr std::uint64_t kMaxPriorityLamports = 200'000;
  static constexpr std::chrono::milliseconds kTimeLimit{30000};

  struct Quote {
    std::string raw;  // the quote's JSON exactly as received, sent back unchanged
    std::uint64_t inAmount = 0;
    std::uint64_t outAmount = 0;
    std::uint64_t minOut = 0;  // "otherAmountThreshold"
    std::string route;         // the labels joined by " → "
    std::vector<std::string> dexes;
    std::string inputMint;
    std::string outputMint;
  };

  struct SwapTransaction {
    Bytes transaction;  // unsigned, possibly with lookup tables
    std::uint64_t lastValidBlockHeight = 0;
  };

  // `base` without a trailing slash (ORWENNA_JUPITER_API).
  Jupiter(HttpClient& http, std::string base);

  // Throws JupiterError, also when the answer is for another pair or amount.
  Quote quote(const std::string& inputMint, const std::string& outputMint, std::uint64_t amount,
              int slippageBps, const std::vector<std::string>& excludeDexes) const;
  SwapTransaction swapTransaction(const Quote& quote, const std::string& wallet) const;

  // The answers read on their own. Throw JupiterError.
  [[nodiscard]] static Quote readQuote(const std::string& body);
  [[nodiscard]] static SwapTransaction readSwap(const std::string& body);
  // The first 300 bytes of a body, cut at a character boundary.
  [[nodiscard]] static std::string excerpt(const std::string& body);

 private:
  HttpClient& http_;
  std::string base_;
};

}  // namespace orwenna
