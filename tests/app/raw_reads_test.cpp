// The raw read lookups: the fetch host allow-list and its tricky refusals,
// the "find" split and filter, and hl, rpc and fetch end to end against local
// fake servers, with every refused call kept from reaching them.
#include "app/raw_reads.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "chains/solana_fake_node.h"
#include "fakes/fake_server.h"

namespace orwenna {
namespace {

using testing::FixedClock;
using testing::FakeResponse;
using testing::FakeServer;
using testing::FakeSolanaNode;
using testing::kEvmWallet;
using testing::kSolanaWallet;


// One search answer as a DEX aggregator writes it: pretty-printed, with a
// price that a double would not keep.
const std::string kPairs = R"({
  "schemaVersion": "1.0.0",
  "pairs": [
    {"chainId": "solana", "dexId": "Raydium CLMM", "baseToken": {"symbol": "SOL"}, "quoteToken": {"symbol": "USDC"}, "labels": ["CLMM"], "priceUsd": "143.2"},
    {"chainId": "solana", "dexId": "orca", "baseToken": {"symbol": "SOL"}, "quoteToken": {"symbol": "USDT"}, "labels": [], "priceUsd": "143.1"},
    {"chainId": "base", "dexId": "aerodrome", "baseToken": {"symbol": "WETH"}, "quoteToken": {"symbol": "USDC"}, "labels": [], "priceUsd": 3000.12345678901234567890}
  ]
})";

Agent::FetchPolicy localPolicy(int port) {
  Agent::FetchPolicy policy;
  policy.hosts = {{"this test's server", "127.0.0.1", true, false, "http", port}};
  return policy;
}

TEST(RawReadsTest, FetchReachesOnlyThePublicDataApisOverHttpsOnTheDefaultPort) {
  const Agent::FetchPolicy policy = Agent::FetchPolicy::publicDataApis();
  struct Case {
    std::string url;
    std::string refusal;  // empty: allowed; else a part of the refusal
  };
  const std::vector<Case> cases{
      {"https://api.llama.fi/protocols", ""},
      {"https://coins.llama.fi/prices/current/coingecko:ethereum", ""},
      {"https://llama.fi", ""},
      {"https://API.Llama.FI/tvl/aave", ""},
      {"https://api.llama.fi:443/tvl/aave", ""},
      {"https://api.llama.fi/x?next=@evil.com#@evil.com", ""},
      {"https://api.jup.ag/price/v2?ids=JUP", ""},
      {"https://eth.blockscout.com/api/v2/addresses/" + kEvmWallet, ""},
      {"https://api.dexscreener.com/latest/dex/search?q=SOL", ""},
      {"https://evil-llama.fi/x", "«evil-llama.fi» isn't one of them"},
      {"https://llama.fi.evil.com/x", "«llama.fi.evil.com» isn't one of them"},
      {"https://jup.ag/", "«jup.ag» isn't one of them"},
      {"https://blockscout.com/", "«blockscout.com» isn't one of them"},
      {"https://io.dexscreener.com/dex", "«io.dexscreener.com» isn't one of them"},
      {"https://xapi.coingecko.com/", "«xapi.coingecko.com» isn't one of them"},
      {"https://127.0.0.1/", "«127.0.0.1» isn't one of them"},
      {"http://127.0.0.1:8080/", "«127.0.0.1» isn't one of them"},
      {"https://localhost/", "«localhost» isn't one of them"},
      {"http://api.llama.fi/protocols", "fetch refuses «http://» for api.llama.fi"},
      {"ftp://api.llama.fi/protocols", "fetch refuses «ftp://» for api.llama.fi"},
      {"https://api.llama.fi:8443/protocols", "fetch refuses port 8443 on api.llama.fi"},
      {"https://user@api.llama.fi/", "a user name or password"},
      {"https://api.llama.fi@evil.com/", "a user name or password"},
      {"https://api.llama.fi:pw@evil.com/", "a user name or password"},
      {"https://api.llama.fi\\@evil.com/", "is not a plain URL"},
      {"https://api.llama.fi/a b", "is not a plain URL"},
      {"https://api.llama.fi%2e.evil.com/", "is not a URL fetch can read"},
      {"https://api.llama.fi./protocols", "is not a URL fetch can read"},
      {"https://[::1]/", "is not a URL fetch can read"},
      {"https://api.llama.fi:/x", "is not a URL fetch can read"},
      {"api.llama.fi/protocols", "is not a URL fetch can read"},
      {"//api.llama.fi/protocols", "is not a URL fetch can read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const std::optional<std::string> refusal = policy.refusal(c.url);
    if (c.refusal.empty()) {
      EXPECT_EQ(refusal, std::nullopt);
      continue;
    }
    ASSERT_TRUE(refusal.has_value());
    EXPECT_NE(refusal->find(c.refusal), std::string::npos) << *refusal;
    EXPECT_TRUE(refusal->ends_with(policy.allowedSentence())) << *refusal;
  }
  EXPECT_EQ(policy.allowedSentence(),
            "fetch only reads public data APIs, over https on the default port: DefiLlama (llama.fi and its "
            "subdomains), DexScreener (api.dexscreener.com), GeckoTerminal (api.geckoterminal.com), CoinGecko "
            "(api.coingecko.com), Jupiter (*.jup.ag), Kamino (api.kamino.finance), Pendle (api-v2.pendle.finance) "
            "and the Blockscout explorers (*.blockscout.com).");

  // A policy for a local server allows its own scheme and port, nothing else.
  const Agent::FetchPolicy local = localPolicy(4321);
  EXPECT_EQ(local.refusal("http://127.0.0.1:4321/x"), std::nullopt);
  EXPECT_NE(local.refusal("http://127.0.0.1/x"), std::nullopt);
  EXPECT_NE(local.refusal("http://127.0.0.1:4322/x"), std::nullopt);
  EXPECT_NE(local.refusal("https://127.0.0.1:4321/x"), std::nullopt);
}

TEST(RawReadsTest, FindSplitsOnlyOutsideTheJson) {
  struct Case {
    std::string arg;
    std::string subject;
    std::optional<std::string> words;
  };
  const std::vector<Case> cases{
      {R"({"type":"l2Book","coin":"BTC"} find bid 97 )", R"({"type":"l2Book","coin":"BTC"})", "bid 97"},
      {R"({"type":"x","q":"a find b"})", R"({"type":"x","q":"a find b"})", std::nullopt},
      {R"({"type":"x","q":"say \" find \" it"} FIND it)", R"({"type":"x","q":"say \" find \" it"})", "it"},
      {R"([1, {"a": [" find "]}, [2] find 3] find x)", R"([1, {"a": [" find "]}, [2] find 3])", "x"},
      {"https://api.llama.fi/protocols\tfind  Aave ", "https://api.llama.fi/protocols", "Aave"},
      {"https://api.llama.fi/findings", "https://api.llama.fi/findings", std::nullopt},
      {"https://api.llama.fi/x finder", "https://api.llama.fi/x finder", std::nullopt},
      {"find aave", "find aave", std::nullopt},
      {"  ", "", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arg);
    const Agent::FindSplit split = Agent::splitFind(c.arg);
    EXPECT_EQ(split.subject, c.subject);
    EXPECT_EQ(split.words, c.words);
  }
}

TEST(RawReadsTest, FindKeepsTheItemsHoldingEveryWordInTheirStructure) {
  struct Case {
    std::string name;
    std::string answer;
    std::string words;
    std::string expected;
  };
  const std::vector<Case> cases{
      {"records in a list under a key; plain top-level values stay; numbers kept as written", kPairs, "sol usdc",
       "1 of 3 items hold every word of «sol usdc»:\n"
       R"({"schemaVersion":"1.0.0","pairs":[{"chainId":"solana","dexId":"Raydium CLMM","baseToken":{"symbol":"SOL"},)"
       R"("quoteToken":{"symbol":"USDC"},"labels":["CLMM"],"priceUsd":"143.2"}]})"},
      {"a record is kept whole, nested values and all", kPairs, "weth",
       "1 of 3 items hold every word of «weth»:\n"
       R"({"schemaVersion":"1.0.0","pairs":[{"chainId":"base","dexId":"aerodrome","baseToken":{"symbol":"WETH"},)"
       R"("quoteToken":{"symbol":"USDC"},"labels":[],"priceUsd":3000.12345678901234567890}]})"},
      {"lists inside lists are searched through",
       R"([{"universe":[{"name":"BTC","szDecimals":5},{"name":"ETH","szDecimals":4}]},[{"markPx":"97000.5"},{"markPx":"3000.1"}]])",
       "eth", "1 of 4 items hold every word of «eth»:\n" R"([{"universe":[{"name":"ETH","szDecimals":4}]}])"},
      {"a map of records keeps the matching members with their keys",
       R"({"data":{"So111":{"id":"So111","price":"143"},"JUPyiw":{"id":"JUPyiw","price":"0.91"}},"timeTaken":0.01})",
       "jupyiw",
       "1 of 2 items hold every word of «jupyiw»:\n" R"({"data":{"JUPyiw":{"id":"JUPyiw","price":"0.91"}},"timeTaken":0.01})"},
      {"a tuple is one item", R"({"prices":[[1700000000000,37000.5],[1700003600000,37100.25]]})", "37100",
       "1 of 2 items hold every word of «37100»:\n" R"({"prices":[[1700003600000,37100.25]]})"},
      {"plain values of a list are items", R"(["So11111111111111111111111111111111111111112","JUPyiwrYJFskUPiHa7"])",
       "jup", "1 of 2 items hold every word of «jup»:\n" R"(["JUPyiwrYJFskUPiHa7"])"},
      {"Cyrillic words match whatever their case", R"([{"name":"Привет, мир"},{"name":"Пока"}])", "ПРИВЕТ МИР",
       "1 of 2 items hold every word of «привет мир»:\n" R"([{"name":"Привет, мир"}])"},
      {"quoted words are the words", R"([{"s":"WETH base"},{"s":"WETH"}])", "«WETH» \"base\"",
       "1 of 2 items hold every word of «weth base»:\n" R"([{"s":"WETH base"}])"},
      {"no item holds every word", kPairs, "sol doge",
       "No item in the answer holds every word of «sol doge» (3 items read)."},
      {"text that is not JSON is kept line by line", "alpha beta\r\nGamma BETA\n\ndelta", "beta",
       "2 of 3 lines hold every word of «beta»:\nalpha beta\nGamma BETA"},
      {"no line holds them", "alpha\nbeta", "gamma", "No line of the answer holds every word of «gamma»."},
      {"without words a short answer is only made compact", "{ \"a\" : [ 1 , \"b c\" ] }", "",
       R"({"a":[1,"b c"]})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Agent::findItems(c.answer, c.words), c.expected);
  }
}

TEST(RawReadsTest, LongAnswersAreCutAtACharacterBoundaryWithANote) {
  // Two-byte letters after a one-byte bracket: every other limit falls inside one.
  Json list = Json::array();
  for (int i = 0; i < 400; ++i) list.push_back("цена " + std::to_string(i));
  const std::string full = list.dump();
  for (std::size_t limit = 100; limit < 106; ++limit) {
    SCOPED_TRACE(limit);
    const std::string cut = Agent::findItems(full, "", limit);
    const std::size_t note = cut.find("\n[The answer was cut here: these are the first ");
    ASSERT_NE(note, std::string::npos) << cut;
    const std::string kept = cut.substr(0, note);
    EXPECT_TRUE(kept.size() <= limit && kept.size() + 1 >= limit) << kept.size();
    EXPECT_TRUE(full.starts_with(kept));
    EXPECT_TRUE(text::isValidUtf8(cut));
    EXPECT_TRUE(cut.ends_with(" of its " + std::to_string(full.size()) +
                              " bytes. Add \"find <WORDS>\" to keep only the items that hold every word.]"));
  }
  // Still too long after find: the note asks for more words instead.
  const std::string narrowed = Agent::findItems(full, "цена", 200);
  EXPECT_TRUE(narrowed.starts_with("400 of 400 items hold every word of «цена»:\n[\"цена 0\""));
  EXPECT_TRUE(narrowed.ends_with("More words after \"find\" narrow it further.]"));
  EXPECT_EQ(Agent::findItems(full, "", full.size()), full);
}

TEST(RawReadsTest, HlPostsReadOnlyInfoRequestsAndFilters) {
  FakeServer server;
  server.onJson("POST", "/info",
                R"({"assetPositions":[{"type":"oneWay","position":{"coin":"BTC","szi":"0.01"}},)"
                R"({"type":"oneWay","position":{"coin":"ETH","szi":"-1.5"}}],"withdrawable":"12.5"})");
  FixedClock clock;
  const Hyperliquid::InfoApi api{CurlHttpClient::shared(), clock, server.url()};
  const Agent::Lookups lookups({{"hl", Agent::hlLookup(api, {kEvmWallet, std::nullopt})},
                                {"hl-anonymous", Agent::hlLookup(api)}});

  EXPECT_EQ(lookups.run("hl", R"({"type":"clearinghouseState","user":"me"} find eth)"),
            "1 of 2 items hold every word of «eth»:\n"
            R"({"assetPositions":[{"type":"oneWay","position":{"coin":"ETH","szi":"-1.5"}}],"withdrawable":"12.5"})");
  ASSERT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(server.requests()[0].body, R"({"type":"clearinghouseState","user":")" + kEvmWallet + R"("})");
  // A coin called ME stays a coin; "{evm}" is filled in anywhere.
  (void)lookups.run("hl", R"({"type":"userFills","coin":"me","note":"{evm}"})");
  EXPECT_EQ(server.requests()[1].body, R"({"type":"userFills","coin":"me","note":")" + kEvmWallet + R"("})");

  const std::string needsObject =
      R"(hl needs one JSON object with a "type", like {"type":"clearinghouseState","user":"me"}.)";
  struct Refused {
    std::string tool, arg, answer;
  };
  const std::vector<Refused> refused{
      {"hl", "clearinghouseState", needsObject},
      {"hl", R"([{"type":"meta"}])", needsObject},
      {"hl", R"({"coin":"BTC"})", needsObject},
      {"hl", R"({"type":7})", needsObject},
      {"hl", R"({"type":"order","action":{"type":"order"},"nonce":1})",
       "hl only reads Hyperliquid's info endpoint: a body with «action» is an exchange action, so it is refused."},
      {"hl", R"({"type":"x","signature":{"r":"0x1"}})",
       "hl only reads Hyperliquid's info endpoint: a body with «signature» is an exchange action, so it is refused."},
      {"hl", R"({"type":"x","nonce":1})",
       "hl only reads Hyperliquid's info endpoint: a body with «nonce» is an exchange action, so it is refused."},
      {"hl-anonymous", R"({"type":"clearinghouseState","user":"me"})",
       "Your EVM address isn't known here, so «me» can't be filled in."},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.arg);
    EXPECT_EQ(lookups.run(r.tool, r.arg), r.answer);
  }
  EXPECT_EQ(server.requestCount(), 2u);

  server.onJson("POST", "/info", R"({"error":"Failed to deserialize"})", 422);
  EXPECT_EQ(lookups.run("hl", R"({"type":"nope"})"), R"(Hyperliquid answered HTTP 422: {"error":"Failed to deserialize"}.)");
}

TEST(RawReadsTest, RpcReadsSolanaAndEvmNodesAndRefusesEveryWrite) {
  FakeSolanaNode solana;
  FakeSolanaNode evm;  // plain JSON-RPC 2.0 over POST "/" as EVM nodes speak it
  solana.result("getBalance", Json{{"context", {{"slot", 321}}}, {"value", 18446744073709551615ull}});
  solana.result("getSlot", 321);
  evm.result("eth_getBalance", "0xde0b6b3a7640000");
  evm.result("eth_chainId", "0x38");
  evm.on("eth_call", [](const Json&) { return FakeSolanaNode::rpcError(3, "execution reverted"); });
  FixedClock clock;
  Agent::RpcNodes nodes{CurlHttpClient::shared(), clock, {kEvmWallet, kSolanaWallet}, SolanaNodes{std::nullopt, solana.url()},
                        {{"base", {evm.url()}}, {"bnb", {evm.url()}}}};
  Agent::RpcNodes noSolanaAddress = nodes;
  noSolanaAddress.me.solana.reset();
  const Agent::Lookups lookups({{"rpc", Agent::rpcLookup(nodes)}, {"rpc-evm-only", Agent::rpcLookup(noSolanaAddress)}});

  struct Read {
    std::string arg, answer, method;
    Json params;  // as the node received them
  };
  const std::vector<Read> reads{
      {R"(solana getBalance ["me"])", R"({"context":{"slot":321},"value":18446744073709551615})", "getBalance",
       Json::array({kSolanaWallet})},
      {"solana getSlot", "321", "getSlot", Json::array()},
      {R"(base eth_getBalance ["me", "latest"])", R"("0xde0b6b3a7640000")", "eth_getBalance",
       Json::array({kEvmWallet, "latest"})},
      {"BNB Chain eth_chainId", R"("0x38")", "eth_chainId", Json::array()},
  };
  for (const auto& r : reads) {
    SCOPED_TRACE(r.arg);
    FakeSolanaNode& node = r.arg.starts_with("solana") ? solana : evm;
    const std::size_t before = solana.requests().size() + evm.requests().size();
    EXPECT_EQ(lookups.run("rpc", r.arg), r.answer);
    ASSERT_EQ(solana.requests().size() + evm.requests().size(), before + 1);
    const Json sent = node.bodies().back();
    EXPECT_EQ(sent["method"], r.method);
    EXPECT_EQ(sent["params"], r.params);
  }
  EXPECT_EQ(lookups.run("rpc", R"(base eth_call [{"to":"0x2222222222222222222222222222222222222222","data":"0x"}, "latest"])"),
            "EVM RPC eth_call: execution reverted.");

  const std::size_t asked = solana.requests().size() + evm.requests().size();
  const std::string usage =
      R"(rpc needs a network, a method and, when the method takes any, a JSON array of params, like rpc solana )"
      R"(getBalance ["me"] or rpc base eth_getBalance ["me", "latest"].)";
  struct Refused {
    std::string tool, arg, starts;
  };
  const std::vector<Refused> refused{
      {"rpc", R"(solana sendTransaction ["AQAB"])", "rpc only reads, so «sendTransaction» is refused on Solana."},
      {"rpc", R"(solana requestAirdrop ["me", 1000000000])", "rpc only reads, so «requestAirdrop» is refused on Solana."},
      {"rpc", "solana getbalance", "rpc only reads, so «getbalance» is refused on Solana."},
      {"rpc", R"(base eth_sendRawTransaction ["0x02f8"])", "rpc only reads, so «eth_sendRawTransaction» is refused on Base."},
      {"rpc", R"(base eth_sendTransaction [{"from":"me"}])", "rpc only reads, so «eth_sendTransaction» is refused on Base."},
      {"rpc", R"(base eth_sign ["me", "0x00"])", "rpc only reads, so «eth_sign» is refused on Base."},
      {"rpc", R"(base eth_signTypedData_v4 ["me", "{}"])", "rpc only reads, so «eth_signTypedData_v4» is refused on Base."},
      {"rpc", R"(base personal_sign ["0x00", "me"])", "rpc only reads, so «personal_sign» is refused on Base."},
      {"rpc", R"(bnb personal_unlockAccount ["me", "pw"])", "rpc only reads, so «personal_unlockAccount» is refused on BNB Chain."},
      {"rpc", "base eth_get", "rpc only reads, so «eth_get» is refused on Base."},
      {"rpc", "base getBalance", "rpc only reads, so «getBalance» is refused on Base."},
      {"rpc", "solana eth_call", "rpc only reads, so «eth_call» is refused on Solana."},
      {"rpc", "mars eth_blockNumber",
       "No network «mars» for rpc: it reads solana, ethereum, arbitrum, base, robinhood, polygon, tempo, hyperevm, "
       "optimism and bnb."},
      {"rpc", R"(base eth_getBalance {"address":"me"})", "rpc params must be one JSON array"},
      {"rpc", "base eth_getBalance [me]", "rpc params must be one JSON array"},
      {"rpc", "base eth_getBalance me latest", usage},
      {"rpc", "solana", usage},
      {"rpc-evm-only", R"(solana getBalance ["me"])", "Your Solana address isn't known here, so «me» can't be filled in."},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.arg);
    const std::string answer = lookups.run(r.tool, r.arg);
    EXPECT_TRUE(answer.starts_with(r.starts)) << answer;
    EXPECT_TRUE(answer.ends_with(".")) << answer;
  }
  EXPECT_EQ(solana.requests().size() + evm.requests().size(), asked);
}

TEST(RawReadsTest, CallReadsAViewFunctionAndRefusesWritesBeforeAnyRequest) {
  FakeSolanaNode evm;
  std::string lower(kEvmWallet);
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  evm.on("eth_call", [&](const Json& params) {
    const std::string data = params[0]["data"];
    if (data == "0x70a08231" + std::string(24, '0') + lower.substr(2))
      return FakeSolanaNode::ok("0x" + std::string(58, '0') + "0f4240");  // 1000000
    if (data == "0x313ce567") return FakeSolanaNode::ok("0x" + std::string(62, '0') + "06");
    return FakeSolanaNode::rpcError(3, "execution reverted");
  });
  FixedClock clock;
  Agent::RpcNodes nodes{CurlHttpClient::shared(), clock, {kEvmWallet, kSolanaWallet}, SolanaNodes{std::nullopt, evm.url()},
                        {{"base", {evm.url()}}}};
  Agent::RpcNodes nobody = nodes;
  nobody.me.evm.reset();
  const Agent::Lookups lookups({{"call", Agent::callLookup(nodes)}, {"call-anon", Agent::callLookup(nobody)}});
  const std::string usdc = "0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913";

  EXPECT_EQ(lookups.run("call", "base " + usdc + " balanceOf(address)(uint256) me"), R"(["1000000"])");
  const Json sent = evm.bodies().back();
  EXPECT_EQ(sent["method"], "eth_call");
  EXPECT_EQ(sent["params"][0]["to"], usdc);
  EXPECT_EQ(sent["params"][1], "latest");
  EXPECT_EQ(lookups.run("call", "Base " + usdc + " decimals()(uint8)"), R"(["6"])");
  EXPECT_EQ(lookups.run("call", "base " + usdc + " balanceOf(address)(bool) me"),
            R"(The answer of balanceOf on Base doesn't read as (bool): "0x00000000000000000000000000000000000000000000000000000000000f4240".)");
  EXPECT_EQ(lookups.run("call", "base " + usdc + " name()(string)"), "EVM RPC eth_call: execution reverted.");

  const std::size_t asked = evm.requests().size();
  struct Refused {
    std::string tool, arg, answer;
  };
  const std::vector<Refused> refused{
      {"call", "base " + usdc + " transfer(address,uint256)(bool) me 5",
       "call only reads, so transfer(address,uint256) is refused: it changes state (transfer)."},
      {"call", "base " + usdc + " approve(address,uint256)(bool) 0x1111111111111111111111111111111111111111 max",
       "call only reads, so approve(address,uint256) is refused: it changes state (approve)."},
      {"call", "base " + usdc + " balanceOf(address)", "«balanceOf(address)» is not a function with its return types, like balanceOf(address)(uint256)."},
      {"call", "base " + usdc + " balanceOf(address)(uint256)", "balanceOf(address) takes 1 argument, 0 given."},
      {"call", "base " + usdc + " balanceOf(address)(uint256) 0x12", "Not an address: 0x12"},
      {"call", "base 0x1234 decimals()(uint8)", "Not a contract address: «0x1234»."},
      {"call", "mars " + usdc + " decimals()(uint8)",
       "No EVM network «mars» for call: it reads ethereum, arbitrum, base, robinhood, polygon, tempo, hyperevm, "
       "optimism and bnb."},
      {"call", "base", "call needs a network, a contract, a function with its return types and its arguments, like "
                       "call base 0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913 balanceOf(address)(uint256) me."},
      {"call-anon", "base " + usdc + " balanceOf(address)(uint256) me",
       "Your EVM address isn't known here, so «me» can't be filled in."},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.arg);
    EXPECT_EQ(lookups.run(r.tool, r.arg), r.answer);
  }
  EXPECT_EQ(evm.requests().size(), asked) << "nothing refused reached the node";
}

TEST(RawReadsTest, FetchGetsAllowedUrlsAndFiltersTheAnswer) {
  FakeServer server;
  server.onJson("GET", "/latest/dex/search", kPairs);
  server.onJson("GET", "/api/v2/addresses/" + kEvmWallet + "/tokens", R"({"items":[],"next_page_params":null})");
  server.on("GET", "/missing", [](const auto&) { return FakeResponse::json(R"({"error":"Not found"})", 404); });
  server.on("GET", "/teapot", [](const auto&) { return FakeResponse::text("", 418); });
  server.on("GET", "/moved", [&server](const auto&) {
    FakeResponse moved = FakeResponse::text("", 302);
    moved.headers = {{"Location", server.url() + "/latest/dex/search"}};
    return moved;
  });
  server.on("GET", "/big", [](const auto&) { return FakeResponse::json("[" + std::string(2000, '1') + "]"); });
  server.on("GET", "/long", [](const auto&) {
    Json list = Json::array();
    for (int i = 0; i < 100; ++i) list.push_back({{"i", i}});
    return FakeResponse::json(list.dump());
  });
  server.on("GET", "/csv", [](const auto&) { return FakeResponse::text("pool,apy\nsol-usdc,7.5\neth-usdc,4.1\n"); });

  Agent::FetchPolicy policy = localPolicy(server.port());
  policy.maxBytes = 1000;
  policy.limit = 300;
  const Agent::Lookups lookups(
      {{"fetch", Agent::fetchLookup(policy, CurlHttpClient::shared(), {kEvmWallet, std::nullopt})},
       {"fetch-public", Agent::fetchLookup(Agent::FetchPolicy::publicDataApis(), CurlHttpClient::shared(), {kEvmWallet, kSolanaWallet})}});
  const std::string base = server.url();

  EXPECT_EQ(lookups.run("fetch", base + "/latest/dex/search?q=SOL find SOL usdt"),
            "1 of 3 items hold every word of «sol usdt»:\n"
            R"({"schemaVersion":"1.0.0","pairs":[{"chainId":"solana","dexId":"orca","baseToken":{"symbol":"SOL"},)"
            R"("quoteToken":{"symbol":"USDT"},"labels":[],"priceUsd":"143.1"}]})");
  ASSERT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(server.requests()[0].method, "GET");
  EXPECT_EQ(server.requests()[0].query, "q=SOL");
  EXPECT_EQ(server.requests()[0].body, "");
  EXPECT_EQ(server.requests()[0].header("User-Agent"), "orwenna");

  // Letters outside ASCII go on the wire percent-encoded.
  (void)lookups.run("fetch", base + "/latest/dex/search?q=солана");
  EXPECT_EQ(server.requests().back().query, "q=%D1%81%D0%BE%D0%BB%D0%B0%D0%BD%D0%B0");

  struct Case {
    std::string tool, arg, answer;
  };
  const std::vector<Case> cases{
      {"fetch", base + "/api/v2/addresses/{evm}/tokens", R"({"items":[],"next_page_params":null})"},
      {"fetch", base + "/missing", R"(127.0.0.1 answered HTTP 404: {"error":"Not found"}.)"},
      {"fetch", base + "/teapot", "127.0.0.1 answered HTTP 418."},
      {"fetch", base + "/moved", "127.0.0.1 answered HTTP 302."},  // a redirect is never followed
      {"fetch", base + "/big", "The answer from 127.0.0.1 is larger than 1000 bytes, too much to read; ask for less."},
      {"fetch", base + "/csv find USDC", "2 of 3 lines hold every word of «usdc»:\nsol-usdc,7.5\neth-usdc,4.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arg);
    EXPECT_EQ(lookups.run(c.tool, c.arg), c.answer);
  }
  const std::string cut = lookups.run("fetch", base + "/long");
  EXPECT_TRUE(cut.starts_with(R"([{"i":0},{"i":1},)"));
  EXPECT_NE(cut.find("Add \"find <WORDS>\" to keep only the items that hold every word."), std::string::npos);
  const std::size_t asked = server.requestCount();
  EXPECT_EQ(asked, 9u);

  // Refused before anything is sent: the default policy never reaches a
  // local server, and an unknown address is not guessed.
  const std::vector<Case> refused{
      {"fetch-public", base + "/latest/dex/search?q=SOL", "«127.0.0.1» isn't one of them: fetch only reads"},
      {"fetch", base + "/x/{solana}", "Your Solana address isn't known here, so «{solana}» can't be filled in."},
      {"fetch", "", "fetch needs a URL, like fetch https://api.llama.fi/protocols find aave."},
      {"fetch", base + "/a b/c", "fetch takes one URL without spaces"},
      {"fetch", "http://user@127.0.0.1:" + std::to_string(server.port()) + "/",
       "fetch refuses a URL with a user name or password"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.arg);
    EXPECT_TRUE(lookups.run(r.tool, r.arg).starts_with(r.answer)) << lookups.run(r.tool, r.arg);
  }
  EXPECT_EQ(server.requestCount(), asked);
}

TEST(RawReadsTest, BrokenBytesFromAServiceNeverSinkTheReading) {
  // A body with a stray byte, and an error body cut inside a character: the
  // turn's lookups still read, and the address in the answer is found.
  const std::string vault = "0x2222222222222222222222222222222222222222";
  FakeServer server;
  server.on("POST", "/info", [&vault](const auto& request) {
    if (request.body.find("vaultDetails") != std::string::npos)
      return FakeResponse::json(R"({"name":"Bad )" + std::string("\xFF") + R"( name","vaultAddress":")" + vault + R"("})");
    return FakeResponse::text(std::string(199, '-') + "é", 500);
  });
  FixedClock clock;
  const Agent::Lookups lookups({{"hl", Agent::hlLookup({CurlHttpClient::shared(), clock, server.url()})}});
  std::vector<std::string> answers{
      R"({"route":"lookup","lookups":[{"tool":"hl","arg":"{\"type\":\"vaultDetails\"}"},)"
      R"({"tool":"hl","arg":"{\"type\":\"meta\"}"}]})",
      R"({"route":"chat","reply":"Done."})"};
  std::vector<std::string> results;
  ChatRouter::Callbacks callbacks;
  callbacks.ask = [&answers, &results](const std::vector<LLMMessage>& messages, bool, const PartialText&) {
    results.push_back(messages.back().text);
    if (answers.empty()) throw std::runtime_error("asked once too often");
    std::string next = answers.front();
    answers.erase(answers.begin());
    return next;
  };
  callbacks.lookup = lookups.callback();
  const ChatRouter::Reading reading = ChatRouter::read("what is in that vault?", ChatRouter::Context(), callbacks);
  EXPECT_EQ(reading.route, ChatRouter::Route::chat("Done."));
  EXPECT_EQ(reading.found, std::vector<std::string>{vault});
  ASSERT_EQ(results.size(), 2u);
  EXPECT_TRUE(text::isValidUtf8(results[1]));
  EXPECT_NE(results[1].find("Bad \xEF\xBF\xBD name"), std::string::npos) << results[1];
  EXPECT_NE(results[1].find("Hyperliquid answered HTTP 500: " + std::string(199, '-') + "\xEF\xBF\xBD"),
            std::string::npos) << results[1];
}

}  // namespace
}  // namespace orwenna
