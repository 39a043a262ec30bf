// The agent's `gas [<NETWORK>]` lookup: today's gas price on each EVM network
// (or one), and what the usual calls cost in dollars at that price.
//
// Each network's node is read on its own thread, so one slow or failing node
// neither holds up nor spoils the others' lines. The HttpClient and Clock must
// be thread-safe (the real ones are); the price and nodes functions are
// called on the calling thread only.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/agent.h"
#include "base/clock.h"
#include "base/decimal.h"
#include "base/http.h"
#include "base/uint.h"
#include "chains/evm_network.h"

namespace orwenna::Agent {

// A call the user makes often and the gas it usually burns.
struct TypicalCall {
  std::string_view what;
  std::uint64_t gas;
};
// Transfer, Uniswap swap, approve + Aave supply, approve + Morpho deposit,
// approve + Relay's deposit.
std::span<const TypicalCall> typicalCalls();

struct GasLookupInputs {
  HttpClient& http;
  Clock& clock;
  // The dollar price of a gas coin ("ETH", "BNB", "POL", "HYPE"); nothing when
  // unknown. May be empty: then every cost is unknown.
  std::function<std::optional<Decimal>(const std::string& coin)> coinPrice;
  // The node URLs of a network, first the main one (Services::gasInputs gives
  // the resolved ones); an empty function means network.defaultNodes.
  std::function<std::vector<std::string>(const EVMNetwork&)> nodes;
};

// The dollar cost of `gas` units at `gasPriceWei`, with the gas coin at
// `coinUSD`: wei × gas × price ÷ 10^18, exact.
[[nodiscard]] Decimal gasCostUSD(const UInt256& gasPriceWei, std::uint64_t gas, const Decimal& coinUSD);

// "20", "0.5", "0.0012": gwei for reading, about three significant digits
// below one.
std::string gweiText(const UInt256& wei);

// The lookup's text: every network, or the one `arg` names; an unknown name
// gives "No EVM network by «…»" and the list of keys.
std::string gasLookup(std::string_view arg, const GasLookupInputs& inputs);

// The handler for `Lookups`; the client and clock must outlive it.
LookupHandler gasLookupHandler(GasLookupInputs inputs);

}  // namespace orwenna::Agent
