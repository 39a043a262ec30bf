// Endpoints::resolve with an injected environment and a settings file in a
// temporary folder: the public defaults, the precedence of the environment
// over defaults.json, trailing slashes, empty values, and settings that are
// not a JSON object. The process environment is never touched.
#include "app/endpoints.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>

#include "base/files.h"

namespace orwenna {
namespace {

namespace fs = std::filesystem;

class EndpointsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string t = (fs::temp_directory_path() / "orwenna-endpoints-XXXXXX").string();
    dir_ = ::mkdtemp(t.data());
  }
  void TearDown() override { fs::remove_all(dir_); }

  Defaults defaults() const { return Defaults(dir_ / "defaults.json"); }
  void writeSettings(const std::string& text) const { writeFileAtomically(dir_ / "defaults.json", text); }
  Endpoints resolve() const {
    std::map<std::string, std::string> env = environment;
    return Endpoints::resolve(
        [env](const std::string& name) -> std::optional<std::string> {
          auto it = env.find(name);
          if (it == env.end()) return std::nullopt;
          return it->second;
        },
        defaults());
  }

  std::map<std::string, std::string> environment;
  fs::path dir_;
};

const std::string kSolanaPublic(SolanaNodes::kPublicMainnet);

TEST_F(EndpointsTest, WithNothingSetEveryEndpointIsThePublicOne) {
  const Endpoints e = resolve();
  EXPECT_EQ(e.hyperliquid.mainnet, "https://api.hyperliquid.xyz");
  EXPECT_EQ(e.hyperliquid.testnet, "https://api.hyperliquid-testnet.xyz");
  EXPECT_EQ(e.solanaRpc, "https://api.mainnet-beta.solana.com");
  ASSERT_EQ(e.evmNodes.size(), EVMNetwork::all().size());
  for (const EVMNetwork& n : EVMNetwork::all()) EXPECT_EQ(e.evmNodesOf(n), n.defaultNodes) << n.key;
  const LLMEndpoints publicLLM = LLMEndpoints::defaults();
  EXPECT_EQ(e.llm.providerBase, publicLLM.providerBase);
  EXPECT_EQ(e.openRouter(), "https://openrouter.ai");
  EXPECT_EQ(e.llm.chatgptBackend, publicLLM.chatgptBackend);
  EXPECT_EQ(e.llm.openaiAuth, publicLLM.openaiAuth);

  // A value made without resolve() holds the same public endpoints.
  const Endpoints plain;
  EXPECT_EQ(plain.hyperliquid.mainnet, e.hyperliquid.mainnet);
  EXPECT_EQ(plain.solanaRpc, e.solanaRpc);
  EXPECT_EQ(plain.evmNodesOf(*EVMNetwork::byKey("base")), EVMNetwork::byKey("base")->defaultNodes);
  EXPECT_EQ(plain.llm.providerBase, publicLLM.providerBase);
}

TEST_F(EndpointsTest, TheEnvironmentWinsOverTheSettingsWhichWinOverTheDefaults) {
  defaults().setValue("endpoints",
                      Json{{"ORWENNA_HL_API", "http://127.0.0.1:9/"},
                           {"ORWENNA_HL_TESTNET_API", "http://127.0.0.1:9/testnet"},
                           {"ORWENNA_SOLANA_RPC", "http://127.0.0.1:9/solana/"},
                           {"ORWENNA_OPENROUTER_API", "http://127.0.0.1:9/or"}},
                      "endpoints");
  environment = {{"ORWENNA_HL_API", "http://127.0.0.1:8"}, {"ORWENNA_SOLANA_RPC", "http://127.0.0.1:8/"}};
  Endpoints e = resolve();
  EXPECT_EQ(e.hyperliquid.mainnet, "http://127.0.0.1:8");          // environment
  EXPECT_EQ(e.hyperliquid.testnet, "http://127.0.0.1:9/testnet");  // settings
  EXPECT_EQ(e.solanaRpc, "http://127.0.0.1:8/");                   // environment, a node as written
  EXPECT_EQ(e.openRouter(), "http://127.0.0.1:9/or");              // settings

  environment.clear();
  e = resolve();
  EXPECT_EQ(e.hyperliquid.mainnet, "http://127.0.0.1:9");  // the settings' base URL, without its slash
  EXPECT_EQ(e.solanaRpc, "http://127.0.0.1:9/solana/");    // the settings' node, as written
}

TEST_F(EndpointsTest, BaseURLsLoseTrailingSlashesAndNodesKeepThem) {
  environment = {{"ORWENNA_HL_API", "http://127.0.0.1:8//"},
                 {"ORWENNA_HL_TESTNET_API", "http://127.0.0.1:7/t/"},
                 {"ORWENNA_SOLANA_RPC", "http://127.0.0.1:6/"},
                 {"ORWENNA_EVM_RPC_BASE", "http://127.0.0.1:5/"},
                 {"ORWENNA_DEEPSEEK_API", "http://127.0.0.1:9/ds/"},
                 {"ORWENNA_LMSTUDIO_API", "http://127.0.0.1:9/lm"},
                 {"ORWENNA_OPENROUTER_API", "http://127.0.0.1:9/"},
                 {"ORWENNA_CHATGPT_BACKEND", "http://127.0.0.1:8/"},
                 {"ORWENNA_OPENAI_AUTH", "http://127.0.0.1:7"},
                 {"ORWENNA_RELAY_API", "http://127.0.0.1:4/"},
                 {"ORWENNA_JUPITER_RECURRING_API", "http://127.0.0.1:3/recurring/v1/"}};
  const Endpoints e = resolve();
  EXPECT_EQ(e.relay, "http://127.0.0.1:4");
  EXPECT_EQ(e.jupiterRecurring, "http://127.0.0.1:3/recurring/v1");
  EXPECT_EQ(e.jupiter, Endpoints::kJupiterDefault);
  EXPECT_EQ(e.oneClick, "https://1click.chaindefuser.com");
  EXPECT_EQ(e.hyperliquid.root(true), "http://127.0.0.1:8");
  EXPECT_EQ(e.hyperliquid.root(false), "http://127.0.0.1:7/t");
  EXPECT_EQ(e.solanaRpc, "http://127.0.0.1:6/");
  // The variable replaces the network's whole list with the one node.
  EXPECT_EQ(e.evmNodesOf(*EVMNetwork::byKey("base")), std::vector<std::string>{"http://127.0.0.1:5/"});
  EXPECT_EQ(e.evmNodesOf(*EVMNetwork::byKey("bnb")), EVMNetwork::byKey("bnb")->defaultNodes);
  EXPECT_EQ(e.llm.baseURL("deepseek"), "http://127.0.0.1:9/ds");
  EXPECT_EQ(e.llm.baseURL("lmstudio"), "http://127.0.0.1:9/lm");
  EXPECT_EQ(e.llm.baseURL("openai"), "https://api.openai.com/v1");
  EXPECT_EQ(e.llm.openRouterAPI(), "http://127.0.0.1:9/api/v1");
  EXPECT_EQ(e.llm.chatgptBackend, "http://127.0.0.1:8");
  EXPECT_EQ(e.llm.openaiAuth, "http://127.0.0.1:7");
}

TEST_F(EndpointsTest, LocalSetupReachesTheServersRootsAndItsOwnOverrides) {
  EXPECT_EQ(resolve().local.ollama, "http://127.0.0.1:11434");
  EXPECT_EQ(resolve().local.releases, LocalEndpoints().releases);
  environment["ORWENNA_OLLAMA_API"] = "http://127.0.0.1:9/v1/";
  environment["ORWENNA_LMSTUDIO_API"] = "http://127.0.0.1:8";
  environment["ORWENNA_OLLAMA_RELEASES"] = "http://127.0.0.1:7/feed";
  writeSettings(R"({"endpoints": {"ORWENNA_OLLAMA_REGISTRY": "http://127.0.0.1:6/", "ORWENNA_CLAUDE_INSTALLER": "http://127.0.0.1:5"}})");
  const Endpoints e = resolve();
  EXPECT_EQ(e.local.ollama, "http://127.0.0.1:9");
  EXPECT_EQ(e.local.lmStudio, "http://127.0.0.1:8");
  EXPECT_EQ(e.local.releases, "http://127.0.0.1:7/feed");
  EXPECT_EQ(e.local.registry, "http://127.0.0.1:6");
  EXPECT_EQ(e.local.claudeSite, "http://127.0.0.1:5");
}

TEST_F(EndpointsTest, EmptyValuesCountAsUnset) {
  defaults().setValue("endpoints",
                      Json{{"ORWENNA_HL_API", "http://127.0.0.1:9"},
                           {"ORWENNA_SOLANA_RPC", ""},
                           {"ORWENNA_EVM_RPC_BASE", 8545},
                           {"ORWENNA_OPENAI_AUTH", nullptr}},
                      "endpoints");
  environment = {{"ORWENNA_HL_API", ""}, {"ORWENNA_HL_TESTNET_API", ""}, {"ORWENNA_EVM_RPC_BNB", ""}};
  const Endpoints e = resolve();
  EXPECT_EQ(e.hyperliquid.mainnet, "http://127.0.0.1:9");  // an empty variable lets the settings speak
  EXPECT_EQ(e.hyperliquid.testnet, "https://api.hyperliquid-testnet.xyz");
  EXPECT_EQ(e.solanaRpc, kSolanaPublic);  // an empty setting is no setting
  EXPECT_EQ(e.evmNodesOf(*EVMNetwork::byKey("base")), EVMNetwork::byKey("base")->defaultNodes);  // not text
  EXPECT_EQ(e.evmNodesOf(*EVMNetwork::byKey("bnb")), EVMNetwork::byKey("bnb")->defaultNodes);
  EXPECT_EQ(e.llm.openaiAuth, "https://auth.openai.com");
}

TEST_F(EndpointsTest, SettingsThatAreNotAnObjectGiveNoOverrides) {
  environment = {{"ORWENNA_HL_TESTNET_API", "http://127.0.0.1:7"}};
  for (const char* text : {"[1,2]", "{\"endpoints\": ", "\"text\"", R"({"endpoints": ["ORWENNA_HL_API"]})",
                           R"({"endpoints": "http://127.0.0.1:9"})"}) {
    SCOPED_TRACE(text);
    writeSettings(text);
    const Endpoints e = resolve();
    EXPECT_EQ(e.hyperliquid.mainnet, "https://api.hyperliquid.xyz");
    EXPECT_EQ(e.hyperliquid.testnet, "http://127.0.0.1:7");  // the environment still counts
    EXPECT_EQ(e.solanaRpc, kSolanaPublic);
    EXPECT_EQ(*readFile(dir_ / "defaults.json"), text);  // and the file is left alone
  }
}

TEST_F(EndpointsTest, AMissingSettingsFileOrLookupIsNoError) {
  const Endpoints e = resolve();  // no defaults.json in the folder
  EXPECT_EQ(e.hyperliquid.mainnet, "https://api.hyperliquid.xyz");
  EXPECT_FALSE(fs::exists(dir_ / "defaults.json"));
  // An empty lookup is the same as an empty environment.
  EXPECT_EQ(Endpoints::resolve({}, defaults()).solanaRpc, kSolanaPublic);
}

}  // namespace
}  // namespace orwenna
