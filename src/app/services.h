// The wiring of the remote services: one value holding the shared HttpClient
// and Clock, the Endpoints resolved once, the user's own Solana node and the
// second check's key, from which every service client is built — Hyperliquid's
// info reads, the Solana and EVM node clients, the second check, the model
// providers' environment, and the nodes of the agent's rpc and gas lookups.
// The app and the command-line tools build their clients here instead of
// choosing endpoints themselves.
//
// Services::fromProcess() is the one place that reads the process environment
// (the ORWENNA_* endpoint variables and ORWENNA_OPENROUTER_KEY). A Services is
// not changed once built; its builders are const and may be called from
// several threads as long as the HttpClient and Clock may (the shared ones
// may). The clients it builds hold references to them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/endpoints.h"
#include "app/gas_lookup.h"
#include "app/raw_reads.h"
#include "base/clock.h"
#include "base/decimal.h"
#include "base/http.h"
#include "chains/evm_network.h"
#include "chains/evm_rpc.h"
#include "chains/solana_rpc.h"
#include "guards/second_check.h"
#include "hyperliquid/info.h"
#include "llm/providers.h"
#include "platform/credential_store.h"

namespace orwenna {

struct Services {
  HttpClient& http;
  Clock& clock;
  Endpoints endpoints;
  std::optional<std::string> solanaNode;      // the user's own Solana node (a setting), asked first
  std::optional<std::string> secondCheckKey;  // the hosted second check's OpenRouter key; none: off
  bool hyperliquidTestnet = false;            // the "testnet" setting: Hyperliquid's testnet, no real money

  // The shared curl client and system clock, Endpoints::fromProcess(), and
  // the second check's key from ORWENNA_OPENROUTER_KEY (empty counts as none).
  [[nodiscard]] static Services fromProcess();

  // Hyperliquid's info endpoint on the chosen network.
  [[nodiscard]] Hyperliquid::InfoApi hyperliquidInfo() const;
  // The user's node, then the public one.
  [[nodiscard]] SolanaNodes solanaNodes() const;
  [[nodiscard]] SolanaRPC solana() const;
  // The network's nodes, the main one first.
  [[nodiscard]] std::vector<std::string> evmNodes(const EVMNetwork& network) const;
  [[nodiscard]] EVMRPC evm(const EVMNetwork& network) const;
  // The hosted second check at OpenRouter's root; off without a key.
  [[nodiscard]] SecondCheckClassifier secondCheck() const;
  // The model providers' environment with the resolved endpoints.
  [[nodiscard]] LLMEnvironment llm(Random& random, CredentialStore& store) const;
  // Where the agent's rpc lookup reads: these Solana and EVM nodes.
  [[nodiscard]] Agent::RpcNodes rpcNodes(Agent::UserAddresses me) const;
  // The gas lookup's inputs over these EVM nodes; `coinPrice` as in GasLookupInputs.
  [[nodiscard]] Agent::GasLookupInputs gasInputs(
      std::function<std::optional<Decimal>(const std::string& coin)> coinPrice) const;
};

}  // namespace orwenna
