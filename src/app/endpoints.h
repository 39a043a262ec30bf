// Every network endpoint the app reaches, as one value resolved once at the
// wiring root and passed down: Hyperliquid's API roots, the public Solana
// node, each EVM network's nodes, the bridge services, and the model
// providers' and OpenRouter's roots. Libraries take the root or node list
// they need from here as a parameter and never read the environment or the
// settings for endpoints.
//
// Endpoints::resolve is the one place that knows the ORWENNA_* variable names
// and their precedence: the variable from the environment when set and not
// empty, else the same name under "endpoints" in defaults.json when it is a
// non-empty string, else the public default, which each library keeps beside
// its client (HLEndpoints, SolanaNodes::kPublicMainnet,
// EVMNetwork::defaultNodes, LLMEndpoints::defaults). Base URLs lose their
// trailing slashes; node URLs (ORWENNA_SOLANA_RPC, ORWENNA_EVM_RPC_<KEY>) are
// kept as written, since a node may need its slash.
//
// A plain value. resolve() reads only the lookup and the settings file it is
// given; it is thread-safe when the lookup is.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "chains/evm_network.h"
#include "chains/near_rpc.h"
#include "chains/solana_rpc.h"
#include "execution/bridge_recovery.h"
#include "hyperliquid/endpoints.h"
#include "llm/catalog.h"
#include "llm/local_setup.h"
#include "platform/defaults.h"

namespace orwenna {

struct Endpoints {
  // An environment variable by name; nothing when it is not set.
  using Environment = std::function<std::optional<std::string>(const std::string& variable)>;

  HLEndpoints hyperliquid;  // ORWENNA_HL_API, ORWENNA_HL_TESTNET_API
  std::string solanaRpc = std::string(SolanaNodes::kPublicMainnet);  // ORWENNA_SOLANA_RPC
  std::string nearRpc = std::string(NearRPC::kPublicMainnet);        // ORWENNA_NEAR_RPC
  // By network key: ORWENNA_EVM_RPC_<KEY> (the key in upper case) replaces the
  // network's default list with that one node. A network not listed uses its
  // default nodes.
  std::map<std::string, std::vector<std::string>> evmNodes;
  // ORWENNA_<ID>_API per API-key or local provider (the catalog id in upper
  // case, "-" as "_"), ORWENNA_OPENROUTER_API, ORWENNA_CHATGPT_BACKEND,
  // ORWENNA_OPENAI_AUTH.
  LLMEndpoints llm = LLMEndpoints::defaults();
  // Local model setup: the Ollama and LM Studio servers' roots (from their
  // providers' bases), ORWENNA_OLLAMA_REGISTRY, ORWENNA_OLLAMA_RELEASES (the
  // release feed itself) and ORWENNA_CLAUDE_INSTALLER (the installer's site).
  LocalEndpoints local;
  // Bridge services: ORWENNA_RELAY_API, ORWENNA_ONECLICK_API.
  std::string relay = HttpBridgeStatus::kRelayDefault;
  std::string oneClick = HttpBridgeStatus::kOneClickDefault;
  // Jupiter's swap API: ORWENNA_JUPITER_API.
  static constexpr const char* kJupiterDefault = "https://lite-api.jup.ag/swap/v1";
  std::string jupiter = kJupiterDefault;
  // Token research: ORWENNA_DEXSCREENER_API, ORWENNA_GECKOTERMINAL_API.
  std::string dexScreener = "https://api.dexscreener.com";
  std::string geckoTerminal = "https://api.geckoterminal.com";
  // The directory of paid APIs: ORWENNA_MPP_DIRECTORY_API.
  std::string mppDirectory = "https://mpp.dev";
  // Jupiter's recurring orders: ORWENNA_JUPITER_RECURRING_API.
  static constexpr const char* kJupiterRecurringDefault = "https://lite-api.jup.ag/recurring/v1";
  std::string jupiterRecurring = kJupiterRecurringDefault;
  // The Solana lending places: ORWENNA_JUPITER_LEND_API (Jupiter Lend's
  // Earn API, dev.jup.ag/docs/lend) and ORWENNA_KAMINO_API (api-docs.kamino.com).
  static constexpr const char* kJupiterLendDefault = "https://lite-api.jup.ag/lend/v1";
  static constexpr const char* kKaminoDefault = "https://api.kamino.finance";
  std::string jupiterLend = kJupiterLendDefault;
  std::string kamino = kKaminoDefault;

  // The nodes of `network`, the main one first.
  [[nodiscard]] std::vector<std::string> evmNodesOf(const EVMNetwork& network) const;
  // OpenRouter's root, shared by the OpenRouter model provider and the second check.
  [[nodiscard]] const std::string& openRouter() const { return llm.openRouter; }

  // The endpoints by the precedence above; every EVM network gets its entry.
  // A settings file that is missing, unreadable or not a JSON object, or an
  // "endpoints" value that is not an object, gives no overrides.
  [[nodiscard]] static Endpoints resolve(const Environment& environment, const Defaults& defaults);
  // This process's environment, read through getenv.
  [[nodiscard]] static Environment processEnvironment();
  // resolve(processEnvironment(), Defaults::standard()).
  [[nodiscard]] static Endpoints fromProcess();
};

}  // namespace orwenna
