#include "app/services.h"

namespace orwenna {

Services Services::fromProcess() {
  const Endpoints::Environment environment = Endpoints::processEnvironment();
  std::optional<std::string> key = environment("ORWENNA_OPENROUTER_KEY");
  if (key && key->empty()) key.reset();
  const Defaults defaults = Defaults::standard();
  std::optional<Json> testnet = defaults.value("testnet");
  return Services{CurlHttpClient::shared(), SystemClock::shared(), Endpoints::resolve(environment, defaults),
                  std::nullopt, std::move(key), testnet && testnet->is_boolean() && testnet->get<bool>()};
}

Hyperliquid::InfoApi Services::hyperliquidInfo() const { return {http, clock, endpoints.hyperliquid.root(!hyperliquidTestnet)}; }

SolanaNodes Services::solanaNodes() const { return SolanaNodes{solanaNode, endpoints.solanaRpc}; }

SolanaRPC Services::solana() const { return SolanaRPC(http, clock, solanaNodes()); }

std::vector<std::string> Services::evmNodes(const EVMNetwork& network) const { return endpoints.evmNodesOf(network); }

EVMRPC Services::evm(const EVMNetwork& network) const {
  return EVMRPC::forNetwork(http, clock, network, evmNodes(network));
}

SecondCheckClassifier Services::secondCheck() const { return SecondCheckClassifier(http, secondCheckKey, endpoints.openRouter()); }

LLMEnvironment Services::llm(Random& random, CredentialStore& store) const {
  LLMEnvironment environment(http, clock, random, store);
  environment.endpoints = endpoints.llm;
  return environment;
}

Agent::RpcNodes Services::rpcNodes(Agent::UserAddresses me) const {
  return Agent::RpcNodes{http, clock, std::move(me), solanaNodes(), endpoints.evmNodes};
}

Agent::GasLookupInputs Services::gasInputs(
    std::function<std::optional<Decimal>(const std::string& coin)> coinPrice) const {
  return Agent::GasLookupInputs{http, clock, std::move(coinPrice),
                                [endpoints = endpoints](const EVMNetwork& network) {
                                  return endpoints.evmNodesOf(network);
                                }};
}

}  // namespace orwenna
