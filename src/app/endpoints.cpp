#include "app/endpoints.h"

#include <cstdlib>

namespace orwenna {

namespace {

std::string withoutTrailingSlashes(std::string url) {
  while (!url.empty() && url.back() == '/') url.pop_back();
  return url;
}

// "ORWENNA_" + the name in upper case, "-" written "_", + suffix.
std::string variable(std::string_view prefix, std::string_view name, std::string_view suffix) {
  std::string out(prefix);
  for (char c : name) {
    if (c >= 'a' && c <= 'z') out += static_cast<char>(c - 'a' + 'A');
    else if (c == '-') out += '_';
    else out += c;
  }
  return out + std::string(suffix);
}

// The two places an override may come from, the environment first.
class Overrides {
 public:
  Overrides(const Endpoints::Environment& environment, const Defaults& defaults) : environment_(environment) {
    if (auto endpoints = defaults.value("endpoints"); endpoints && endpoints->is_object()) file_ = std::move(*endpoints);
  }

  // The override as written; empty text counts as none.
  std::optional<std::string> node(const std::string& name) const {
    if (environment_) {
      if (auto value = environment_(name); value && !value->empty()) return value;
    }
    auto it = file_.find(name);
    if (it == file_.end() || !it->is_string() || it->get_ref<const std::string&>().empty()) return std::nullopt;
    return it->get<std::string>();
  }

  // A base URL: the override or `fallback`, without trailing slashes.
  std::string base(const std::string& name, std::string fallback) const {
    return withoutTrailingSlashes(node(name).value_or(std::move(fallback)));
  }

 private:
  const Endpoints::Environment& environment_;
  Json file_ = Json::object();
};

}  // namespace

std::vector<std::string> Endpoints::evmNodesOf(const EVMNetwork& network) const {
  auto it = evmNodes.find(network.key);
  return it == evmNodes.end() || it->second.empty() ? network.defaultNodes : it->second;
}

Endpoints Endpoints::resolve(const Environment& environment, const Defaults& defaults) {
  const Overrides overrides(environment, defaults);
  Endpoints e;
  e.hyperliquid.mainnet = overrides.base("ORWENNA_HL_API", HLEndpoints::kMainnet);
  e.hyperliquid.testnet = overrides.base("ORWENNA_HL_TESTNET_API", HLEndpoints::kTestnet);
  e.solanaRpc = overrides.node("ORWENNA_SOLANA_RPC").value_or(std::string(SolanaNodes::kPublicMainnet));
  e.nearRpc = overrides.node("ORWENNA_NEAR_RPC").value_or(std::string(NearRPC::kPublicMainnet));
  for (const EVMNetwork& network : EVMNetwork::all()) {
    auto own = overrides.node(variable("ORWENNA_EVM_RPC_", network.key, ""));
    e.evmNodes[network.key] = own ? std::vector<std::string>{*own} : network.defaultNodes;
  }
  for (auto& [id, base] : e.llm.providerBase) base = overrides.base(variable("ORWENNA_", id, "_API"), base);
  e.llm.openRouter = overrides.base("ORWENNA_OPENROUTER_API", e.llm.openRouter);
  e.llm.chatgptBackend = overrides.base("ORWENNA_CHATGPT_BACKEND", e.llm.chatgptBackend);
  e.llm.openaiAuth = overrides.base("ORWENNA_OPENAI_AUTH", e.llm.openaiAuth);
  const LocalEndpoints local;
  e.local.ollama = LocalEndpoints::serverRoot(e.llm.baseURL("ollama"));
  e.local.lmStudio = LocalEndpoints::serverRoot(e.llm.baseURL("lmstudio"));
  e.local.registry = overrides.base("ORWENNA_OLLAMA_REGISTRY", local.registry);
  e.local.releases = overrides.base("ORWENNA_OLLAMA_RELEASES", local.releases);
  e.local.claudeSite = overrides.base("ORWENNA_CLAUDE_INSTALLER", local.claudeSite);
  e.relay = overrides.base("ORWENNA_RELAY_API", HttpBridgeStatus::kRelayDefault);
  e.oneClick = overrides.base("ORWENNA_ONECLICK_API", HttpBridgeStatus::kOneClickDefault);
  e.jupiter = overrides.base("ORWENNA_JUPITER_API", kJupiterDefault);
  e.dexScreener = overrides.base("ORWENNA_DEXSCREENER_API", e.dexScreener);
  e.geckoTerminal = overrides.base("ORWENNA_GECKOTERMINAL_API", e.geckoTerminal);
  e.mppDirectory = overrides.base("ORWENNA_MPP_DIRECTORY_API", e.mppDirectory);
  e.jupiterRecurring = overrides.base("ORWENNA_JUPITER_RECURRING_API", kJupiterRecurringDefault);
  e.jupiterLend = overrides.base("ORWENNA_JUPITER_LEND_API", kJupiterLendDefault);
  e.kamino = overrides.base("ORWENNA_KAMINO_API", kKaminoDefault);
  return e;
}

Endpoints::Environment Endpoints::processEnvironment() {
  return [](const std::string& name) -> std::optional<std::string> {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  };
}

Endpoints Endpoints::fromProcess() { return resolve(processEnvironment(), Defaults::standard()); }

}  // namespace orwenna
