// The agent's `token <ADDRESS or NAME>` lookup: a token's price, market cap,
// liquidity, volume and safety flags from DexScreener, and a month of its
// deepest pool from GeckoTerminal, as a compact text for the model.
//
// A name or ticker that fits several tokens lists them rather than picking
// one. The token's own texts (name, description) come from whoever made the
// token: they pass the outside-text guard, and what steers is flagged, never
// passed on as if it were the service's word. Thread-safe when the client is.
#pragma once

#include <string>
#include <string_view>

#include "app/agent.h"
#include <cstdint>
#include <vector>

#include "base/clock.h"
#include "base/decimal.h"
#include "base/http.h"

namespace orwenna::Agent {

struct TokenLookupInputs {
  HttpClient& http;
  Clock& clock;  // how old a pool is
  std::string dexScreener = "https://api.dexscreener.com";      // ORWENNA_DEXSCREENER_API
  std::string geckoTerminal = "https://api.geckoterminal.com";  // ORWENNA_GECKOTERMINAL_API
};

std::string tokenLookup(std::string_view arg, const TokenLookupInputs& inputs);

struct TokenCandle {
  std::int64_t t = 0;  // the day's start, milliseconds since 1970
  Decimal open, high, low, close;
};
struct TokenChart {
  std::string symbol, chain, pool;
  std::vector<TokenCandle> candles;  // oldest first; empty when none are known
};
// The month of the deepest pool trading the token at `address`, for the
// chart beside the chat. Throws AgentError with the sentence.
TokenChart tokenChart(std::string_view address, const TokenLookupInputs& inputs);

// The tokens whose ticker is exactly `symbol` (any letter case) in pools on
// DexScreener's chain `chain` ("base", "ethereum", "bsc", …), deepest first.
// Throws AgentError when DexScreener can't be read.
struct TokenCandidate {
  std::string address, name, symbol;
  Decimal liquidity;  // dollars, over its pools there
};
std::vector<TokenCandidate> tokenCandidates(std::string_view symbol, std::string_view chain,
                                            const TokenLookupInputs& inputs);

// The handler for `Lookups`; the client must outlive it.
LookupHandler tokenLookupHandler(TokenLookupInputs inputs);

}  // namespace orwenna::Agent
