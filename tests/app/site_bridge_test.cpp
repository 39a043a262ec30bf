// The site wallet's app side over the stateful fake Solana and EVM nodes:
// connections per origin, the refusals that need no user, the review sheets
// and what an approval signs and sends, and every request answered once.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "app/site_bridge.h"
#include "base/http.h"
#include "chains/solana_transaction.h"
#include "fakes/chain_test_signer.h"
#include "fakes/fake_ledgers.h"
#include "signing/base58.h"
#include "signing/evm_signer.h"
#include "signing/typed_data.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

const std::string kSite = "https://app.example";
const std::string kStranger = "0x2222222222222222222222222222222222222222";
const std::string kStrangerSolana = "9WzDXwBbmkg8ZTbNMqUxvQRAyrZzDsGYdLVL9zYtAWWM";

TEST(SiteOrigin, KeysBySchemeHostAndPort) {
  auto a = SiteOrigin::parse("https://App.Example");
  auto b = SiteOrigin::parse("http://app.example");
  auto c = SiteOrigin::parse("https://app.example:8443");
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(a->key(), "https://app.example:443");
  EXPECT_NE(a->key(), b->key());
  EXPECT_NE(a->key(), c->key());
  EXPECT_EQ(SiteOrigin::parse("https://app.example:443")->key(), a->key());
  EXPECT_TRUE(a->secure());
  EXPECT_FALSE(b->secure());
  EXPECT_TRUE(SiteOrigin::parse("http://localhost:3000")->secure());
  EXPECT_TRUE(SiteOrigin::parse("http://[::1]:3000")->secure());
  for (const char* bad : {"file:///etc", "https://", "https://a.example/path", "https://u@a.example", "https://a:0",
                          "https://a:99999", "chrome-extension://abc", "null"}) {
    EXPECT_FALSE(SiteOrigin::parse(bad)) << bad;
  }
}

TEST(PhishingList, BlocksListedDomainsAndWarnsOfLookalikes) {
  PhishingList list = PhishingList::fromJson(Json::parse(R"({
    "blacklist": ["uniswap-claim.example", "evil.test"], "whitelist": ["ok.evil.test"],
    "fuzzylist": ["uniswap.org", "metamask.io"], "tolerance": 2})"));
  EXPECT_TRUE(list.blocked("evil.test"));
  EXPECT_TRUE(list.blocked("app.Evil.test"));
  EXPECT_FALSE(list.blocked("ok.evil.test"));
  EXPECT_FALSE(list.blocked("notevil.test"));
  EXPECT_EQ(list.looksLike("app.unlswap.org"), "uniswap.org");
  EXPECT_EQ(list.looksLike("metamsk.io"), "metamask.io");
  EXPECT_FALSE(list.looksLike("app.uniswap.org"));
  EXPECT_FALSE(list.looksLike("example.com"));
  EXPECT_THROW((void)PhishingList::fromJson(Json::parse(R"({"blacklist": "x"})")), JsonShapeError);
}

// Signs messages and typed data with the same test keys as ChainTestSigner.
SignerReply signWithTestKeys(const SignerRequest& request) {
  Bytes evmKey(32), solanaKey(32);
  for (std::size_t i = 0; i < 32; ++i) {
    solanaKey[i] = static_cast<std::uint8_t>(i + 1);
    evmKey[i] = static_cast<std::uint8_t>(0x40 + i);
  }
  SignerReply r;
  r.ok = true;
  if (auto* p = request.get<signer_request::SignPersonal>()) {
    r.signatureBytes = EVMSigner::sign(PersonalMessage::hash(p->message), evmKey).bytes();
  } else if (auto* t = request.get<signer_request::SignTypedData>()) {
    auto typed = TypedData::parse(std::string(t->json.begin(), t->json.end()));
    r.signatureBytes = EVMSigner::sign(typed.digest, evmKey).bytes();
  } else if (auto* m = request.get<signer_request::SignSolanaMessage>()) {
    auto s = Ed25519::sign(solanaKey, m->message);
    r.signatureBytes = Bytes(s.begin(), s.end());
  } else {
    return SignerReply::refusal("not here");
  }
  return r;
}

class SiteBridgeTest : public ::testing::Test {
 protected:
  SiteBridgeTest() {
    services.endpoints.solanaRpc = solana.node.url();
    services.endpoints.evmNodes["base"] = {evm.node.url()};
    phishing = PhishingList::fromJson(Json::parse(R"({"blacklist": ["drainer.test"], "fuzzylist": ["uniswap.org"]})"));
    bridge = std::make_unique<SiteBridge>(SiteBridge::Setup{
        services, signer, [this](const SignerRequest& r) {
          ++messagesSigned;
          return signWithTestKeys(r);
        },
        [this] { return SiteWallet{signer.solana, signer.evm, ledger}; }, journal, phishing,
        [this](const std::string& line) {
          std::lock_guard lock(mutex);
          activity.push_back(line);
        },
        nullptr});
  }

  std::future<SiteReply> ask(const std::string& origin, const std::string& method, Json params,
                             const std::string& frame = "tab1") {
    auto promise = std::make_shared<std::promise<SiteReply>>();
    auto count = std::make_shared<std::atomic<int>>(0);
    counts.push_back(count);
    bridge->call({frame, origin, method, std::move(params)}, [promise, count](const SiteReply& r) {
      if (count->fetch_add(1) == 0) promise->set_value(r);
    });
    return promise->get_future();
  }
  std::future<SiteReply> eth(const std::string& origin, const std::string& method, Json params = Json::array(),
                             const std::string& frame = "tab1") {
    return ask(origin, "eth", {{"method", method}, {"params", params.dump()}}, frame);
  }
  static SiteReply got(std::future<SiteReply>& f) {
    if (f.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      ADD_FAILURE() << "no answer";
      return SiteReply::fail(0, "no answer");
    }
    return f.get();
  }
  // The newest waiting sheet, once there is one.
  SiteSheet sheet(std::size_t count = 1) {
    for (int i = 0; i < 2000; ++i) {
      auto s = bridge->sheets();
      if (s.size() >= count) return s.back();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ADD_FAILURE() << "no sheet";
    return {};
  }
  void approve(const SiteSheet& s) {
    auto refusal = bridge->decide({s.id, s.digest, true});
    EXPECT_FALSE(refusal) << *refusal;
  }
  void connectEVM(const std::string& origin) {
    auto f = eth(origin, "eth_requestAccounts");
    approve(sheet());
    EXPECT_EQ(got(f).result, Json(Json::array({signer.evm}).dump()));
  }
  void connectSolana(const std::string& origin) {
    auto f = ask(origin, "connect", {{"silent", false}});
    approve(sheet());
    EXPECT_EQ(got(f).result.value("address", ""), signer.solana);
  }

  testing::FixedClock clock;
  testing::TempDir dir;
  testing::FakeSolanaLedger solana;
  testing::FakeEVMLedger evm{8453};
  Journal journal{dir.path() / "journal.jsonl"};
  testing::ChainTestSigner signer;
  Services services{CurlHttpClient::shared(), clock, Endpoints{}, std::nullopt, std::nullopt};
  PhishingList phishing;
  bool ledger = false;
  std::atomic<int> messagesSigned{0};
  std::mutex mutex;
  std::vector<std::string> activity;
  std::vector<std::shared_ptr<std::atomic<int>>> counts;
  std::unique_ptr<SiteBridge> bridge;
};

TEST_F(SiteBridgeTest, AConnectionBelongsToItsOriginAlone) {
  auto accounts = eth(kSite, "eth_accounts");
  EXPECT_EQ(got(accounts).result, "[]");
  connectEVM(kSite);
  EXPECT_TRUE(bridge->connectedEVM(kSite));
  for (const std::string other : {"http://app.example", "https://app.example:8443", "https://evil.app.example"}) {
    auto f = eth(other, "eth_accounts");
    EXPECT_EQ(got(f).result, "[]") << other;
    auto sign = eth(other, "personal_sign", Json::array({"0x6869", signer.evm}));
    EXPECT_EQ(got(sign).error, "4100|Connect the site first.") << other;
  }
  // The Solana wallet is connected separately.
  auto solanaSign = ask(kSite, "signMessage", {{"message", toBase64(asBytes(std::string_view("hi")))}});
  EXPECT_EQ(got(solanaSign).error, "4100|Connect the site first.");
  auto silent = ask(kSite, "connect", {{"silent", true}});
  EXPECT_TRUE(got(silent).error);
  EXPECT_TRUE(bridge->sheets().empty()) << "a silent connect asks nobody";
  connectSolana(kSite);
  auto again = ask(kSite, "connect", {{"silent", true}});
  EXPECT_EQ(got(again).result.value("address", ""), signer.solana);
  auto off = ask(kSite, "disconnect", Json::object());
  EXPECT_FALSE(got(off).error);
  EXPECT_FALSE(bridge->connected(kSite));
  // A plain-http page elsewhere than this machine is not offered a connection.
  auto plain = eth("http://app.example", "eth_requestAccounts");
  EXPECT_EQ(got(plain).error, "4100|orwenna connects only to https sites.");
}

TEST_F(SiteBridgeTest, RefusalsThatNeedNoUser) {
  auto unknown = eth(kSite, "wallet_addEthereumChain");
  EXPECT_EQ(got(unknown).error, "4200|orwenna doesn't support wallet_addEthereumChain");
  auto blind = eth(kSite, "eth_sign", Json::array({signer.evm, "0x00"}));
  EXPECT_EQ(got(blind).error, "4200|eth_sign signs a hash blindly — orwenna doesn't support it.");
  auto signOnly = eth(kSite, "eth_signTransaction", Json::array({Json::object()}));
  EXPECT_EQ(got(signOnly).error,
            "4200|orwenna signs EVM transactions only when it also sends them (eth_sendTransaction).");
  auto polygon = eth(kSite, "wallet_switchEthereumChain", Json::array({{{"chainId", "0x89"}}}));
  EXPECT_EQ(got(polygon).error, "4902|orwenna works with Ethereum, Arbitrum and Base.");
  auto chain = eth(kSite, "eth_chainId");
  EXPECT_EQ(got(chain).result, "\"0x1\"");
  auto base = eth(kSite, "wallet_switchEthereumChain", Json::array({{{"chainId", "0x2105"}}}));
  EXPECT_EQ(got(base).result, "null");
  auto version = eth(kSite, "net_version");
  EXPECT_EQ(got(version).result, "\"8453\"");
  auto otherChain = eth("https://other.example", "eth_chainId");
  EXPECT_EQ(got(otherChain).result, "\"0x1\"") << "a chain switch is the origin's own";
  auto solanaUnknown = ask(kSite, "signIn", Json::object());
  EXPECT_EQ(got(solanaUnknown).error, "4200|orwenna doesn't support signIn");

  auto phish = eth("https://app.drainer.test", "eth_requestAccounts");
  EXPECT_EQ(got(phish).error, "4100|app.drainer.test is on MetaMask's list of phishing sites: orwenna gives it no wallet.");
  ledger = true;
  auto withLedger = ask(kSite, "connect", Json::object());
  EXPECT_EQ(got(withLedger).error,
            "4100|The browser signs with orwenna's own wallets for now: switch from the Ledger to use a site.");
  EXPECT_TRUE(bridge->sheets().empty());
}

TEST_F(SiteBridgeTest, PersonalSignApprovedAndTheRefusedKinds) {
  connectEVM(kSite);
  auto f = eth(kSite, "personal_sign", Json::array({"0x48656c6c6f", signer.evm}));
  SiteSheet s = sheet();
  EXPECT_EQ(s.kind, SiteSheet::Kind::message);
  EXPECT_EQ(s.lines, std::vector<std::string>{"Hello"});
  EXPECT_TRUE(bridge->decide({s.id, "not the digest", true})) << "an approval names what was shown";
  approve(s);
  auto hex = Json::parse(got(f).result.get<std::string>()).get<std::string>();
  auto bytes = fromHex(hex);
  ASSERT_TRUE(bytes && bytes->size() == 65);
  auto sig = EVMSignature::fromBytes(*bytes);
  ASSERT_TRUE(sig);
  EXPECT_EQ(EVMSigner::recover(*sig, PersonalMessage::hash(asBytes(std::string_view("Hello")))), signer.evm);

  auto hash = eth(kSite, "personal_sign", Json::array({toHex0x(Bytes(32, 0xab)), signer.evm}));
  EXPECT_EQ(got(hash).error, "4001|The site asks to sign a hash, not text: orwenna doesn't sign that.");

  const std::string permit = R"({"types":{"EIP712Domain":[{"name":"name","type":"string"},{"name":"chainId","type":"uint256"},
    {"name":"verifyingContract","type":"address"}],"Permit":[{"name":"owner","type":"address"},{"name":"spender","type":"address"},
    {"name":"value","type":"uint256"},{"name":"nonce","type":"uint256"},{"name":"deadline","type":"uint256"}]},
    "primaryType":"Permit","domain":{"name":"USD Coin","chainId":1,"verifyingContract":"0xa0b86991c6218b36c1d19d4a2e9eb0ce3606eb48"},
    "message":{"owner":"0x1111111111111111111111111111111111111111","spender":"0x2222222222222222222222222222222222222222",
    "value":"115792089237316195423570985008687907853269984665640564039457584007913129639935","nonce":0,"deadline":99999999999}})";
  auto drain = eth(kSite, "eth_signTypedData_v4", Json::array({signer.evm, permit}));
  EXPECT_EQ(got(drain).error,
            "4001|Permit: this is permission to spend your tokens (Permit) — the drainers' main trick. orwenna doesn't "
            "sign these.");
  EXPECT_TRUE(bridge->sheets().empty());

  const std::string mail = R"({"types":{"Mail":[{"name":"contents","type":"string"}]},"primaryType":"Mail",
    "domain":{"name":"Ether Mail","chainId":1},"message":{"contents":"Hello, Bob!"}})";
  auto typed = eth(kSite, "eth_signTypedData_v4", Json::array({signer.evm, mail}));
  SiteSheet t = sheet();
  EXPECT_EQ(t.lines, std::vector<std::string>{"contents: Hello, Bob!"});
  ASSERT_FALSE(bridge->decide({t.id, t.digest, false}));
  EXPECT_EQ(got(typed).error, "4001|The user declined.");
  EXPECT_EQ(messagesSigned.load(), 1);
}

TEST_F(SiteBridgeTest, SolanaMessagesButNeverATransactionAsAMessage) {
  solana.fund(signer.solana, 1'000'000'000);
  connectSolana(kSite);
  auto tx = SolanaTransaction::build({SolanaTransaction::solTransfer(signer.solana, kStrangerSolana, 5)}, signer.solana,
                                     "11111111111111111111111111111111", 1);
  auto disguised = ask(kSite, "signMessage", {{"message", toBase64(tx.message)}});
  EXPECT_EQ(got(disguised).error,
            "4001|The message is a Solana transaction in disguise: orwenna signs transactions only as transactions.");
  EXPECT_TRUE(bridge->sheets().empty());

  Bytes binary{0x00, 0xff, 0x10};
  auto f = ask(kSite, "signMessage", {{"message", toBase64(binary)}});
  SiteSheet s = sheet();
  EXPECT_EQ(s.lines, std::vector<std::string>{"(not text, 3 bytes)"});
  approve(s);
  auto signature = fromBase64(got(f).result.value("signature", ""));
  ASSERT_TRUE(signature && signature->size() == 64);
  EXPECT_TRUE(Ed25519::verify(Base58::decode(signer.solana), binary, *signature));
}

TEST_F(SiteBridgeTest, AnEvmSendReachesTheNode) {
  evm.fund(signer.evm, UInt256(10'000'000'000'000'000ULL));
  auto toBase = eth(kSite, "wallet_switchEthereumChain", Json::array({{{"chainId", "0x2105"}}}));
  got(toBase);
  connectEVM(kSite);
  auto wrongFrom = eth(kSite, "eth_sendTransaction", Json::array({{{"from", kStranger}, {"to", kStranger}}}));
  EXPECT_EQ(got(wrongFrom).error, "4100|The sender isn't your address.");
  auto create = eth(kSite, "eth_sendTransaction", Json::array({{{"from", signer.evm}, {"data", "0x6000"}}}));
  EXPECT_EQ(got(create).error, "4200|orwenna doesn't sign contract creation.");
  auto huge = eth(kSite, "eth_sendTransaction",
                  Json::array({{{"from", signer.evm}, {"to", kStranger}, {"value", "0x10000000000000000"}}}));
  EXPECT_EQ(got(huge).error, "4200|The amount is larger than orwenna will sign.");

  auto f = eth(kSite, "eth_sendTransaction",
               Json::array({{{"from", signer.evm}, {"to", kStranger}, {"value", "0x38d7ea4c68000"}}}));  // 0.001 ETH
  SiteSheet s = sheet();
  EXPECT_EQ(s.kind, SiteSheet::Kind::evmTransaction);
  EXPECT_EQ(s.lines.front(), "Sends 0.001 ETH to " + kStranger);
  EXPECT_EQ(s.changes, std::vector<std::string>{"ETH −0.001"});
  EXPECT_NE(std::find(s.notes.begin(), s.notes.end(),
                      "Money, or the right to spend it, goes to an address that isn't yours"),
            s.notes.end());
  EXPECT_NE(std::find(s.notes.begin(), s.notes.end(), "After signing, orwenna sends the transaction to the network."),
            s.notes.end());
  EXPECT_EQ(evm.native(kStranger), UInt256(0)) << "nothing moves before the approval";
  approve(s);
  SiteReply r = got(f);
  ASSERT_FALSE(r.error) << *r.error;
  EXPECT_TRUE(Json::parse(r.result.get<std::string>()).get<std::string>().starts_with("0x"));
  EXPECT_EQ(evm.native(kStranger), UInt256(1'000'000'000'000'000ULL));
  std::lock_guard lock(mutex);
  EXPECT_EQ(activity.back(), "app.example: EVM transaction sent on chain 8453");
}

TEST_F(SiteBridgeTest, ASolanaTransferIsReviewedSimulatedAndSent) {
  solana.fund(signer.solana, 1'000'000'000);
  connectSolana(kSite);
  SolanaRPC rpc = services.solana();
  auto tx = SolanaTransaction::build({SolanaTransaction::solTransfer(signer.solana, kStrangerSolana, 20'000'000)},
                                     signer.solana, rpc.latestBlockhash().blockhash, 1);
  auto f = ask(kSite, "signAndSendTransaction", {{"transaction", toBase64(tx.transaction)}});
  SiteSheet s = sheet();
  EXPECT_EQ(s.kind, SiteSheet::Kind::transaction);
  ASSERT_FALSE(s.changes.empty());
  EXPECT_TRUE(s.changes[0].starts_with("SOL −0.02")) << s.changes[0];
  EXPECT_TRUE(s.canApprove()) << (s.problems.empty() ? "" : s.problems[0]);
  approve(s);
  SiteReply r = got(f);
  ASSERT_FALSE(r.error) << *r.error;
  EXPECT_EQ(fromBase64(r.result.value("signature", ""))->size(), 64u);
  EXPECT_EQ(solana.lamports(kStrangerSolana), 20'000'000u);
}

TEST_F(SiteBridgeTest, SignedForTheSiteOnlyWhatWasChecked) {
  solana.fund(signer.solana, 1'000'000'000);
  connectSolana(kSite);
  SolanaRPC rpc = services.solana();
  auto tx = SolanaTransaction::build({SolanaTransaction::solTransfer(signer.solana, kStrangerSolana, 1'000)},
                                     signer.solana, rpc.latestBlockhash().blockhash, 1);
  auto f = ask(kSite, "signTransaction", {{"transaction", toBase64(tx.transaction)}});
  SiteSheet s = sheet();
  EXPECT_NE(std::find(s.notes.begin(), s.notes.end(), "The site gets the signed transaction and sends it itself."),
            s.notes.end());
  approve(s);
  SiteReply r = got(f);
  ASSERT_FALSE(r.error) << *r.error;
  auto signedWire = fromBase64(r.result.value("signed", ""));
  ASSERT_TRUE(signedWire);
  auto parsed = SolanaTransaction::parse(*signedWire);
  EXPECT_EQ(parsed.message, tx.message);
  EXPECT_TRUE(Ed25519::verify(Base58::decode(signer.solana), parsed.message, parsed.signatures.at(0)));
  EXPECT_EQ(solana.lamports(kStrangerSolana), 0u) << "the site sends it, not us";

  signer.tamper = true;
  auto again = ask(kSite, "signTransaction", {{"transaction", toBase64(tx.transaction)}});
  approve(sheet());
  EXPECT_EQ(got(again).error, "4001|What was signed isn't what was checked.");
}

TEST_F(SiteBridgeTest, UnknownProgramsAndLookalikesNeedTheirTicks) {
  solana.fund(signer.solana, 1'000'000'000);
  const std::string lookalike = "https://app.unlswap.org";
  phishing = PhishingList::fromJson(Json::parse(R"({"fuzzylist": ["uniswap.org"]})"));
  bridge = std::make_unique<SiteBridge>(SiteBridge::Setup{
      services, signer, signWithTestKeys, [this] { return SiteWallet{signer.solana, signer.evm, false}; }, journal,
      phishing, nullptr, nullptr});
  auto f = ask(lookalike, "connect", Json::object());
  SiteSheet s = sheet();
  EXPECT_EQ(s.lookalike, "uniswap.org");
  EXPECT_EQ(bridge->decide({s.id, s.digest, true}), "Tick “I understand this isn't uniswap.org” first.");
  SiteDecision trusted{s.id, s.digest, true};
  trusted.trustLookalike = true;
  EXPECT_FALSE(bridge->decide(trusted));
  EXPECT_EQ(got(f).result.value("address", ""), signer.solana);

  SolanaInstruction unknown;
  unknown.program = "Stake11111111111111111111111111111111111111";
  unknown.accounts = {{signer.solana, true, true}};
  unknown.data = {9};
  SolanaRPC rpc = services.solana();
  auto tx = SolanaTransaction::build({unknown}, signer.solana, rpc.latestBlockhash().blockhash, 1);
  auto g = ask(lookalike, "signTransaction", {{"transaction", toBase64(tx.transaction)}});
  SiteSheet t = sheet();
  EXPECT_EQ(t.unknownPrograms, std::vector<std::string>{"Stake11111111111111111111111111111111111111"});
  EXPECT_EQ(bridge->decide({t.id, t.digest, true, false, true}), "Tick that you accept the unknown programs first.");
  EXPECT_FALSE(bridge->decide({t.id, t.digest, false}));
  EXPECT_EQ(got(g).error, "4001|The user declined.");
  EXPECT_EQ(signer.signatures, 0);
}

TEST_F(SiteBridgeTest, EveryRequestIsAnsweredOnceWhateverEndsIt) {
  connectEVM(kSite);
  auto first = eth(kSite, "personal_sign", Json::array({"0x6f6e65", signer.evm}), "tabA");
  auto second = eth(kSite, "personal_sign", Json::array({"0x74776f", signer.evm}), "tabB");
  SiteSheet a = sheet(2), b = bridge->sheets().front();
  EXPECT_EQ(b.lines, std::vector<std::string>{"one"}) << "the queue keeps its order";
  bridge->gone("tabA");
  EXPECT_EQ(got(first).error, "4900|The page went away.");
  EXPECT_TRUE(bridge->decide({b.id, b.digest, true})) << "a late approval signs nothing for a page that is gone";
  clock.sleepFor(SiteBridge::kWaitMillis + 1);
  EXPECT_EQ(got(second).error, "4001|The request timed out.");
  EXPECT_TRUE(bridge->decide({a.id, a.digest, true}));
  EXPECT_EQ(messagesSigned.load(), 0);
  auto waiting = eth(kSite, "personal_sign", Json::array({"0x6869", signer.evm}));
  sheet();
  bridge.reset();
  EXPECT_EQ(got(waiting).error, "4900|orwenna closed the site's wallet.");
  for (const auto& c : counts) EXPECT_LE(c->load(), 1);
}

TEST_F(SiteBridgeTest, ReadsGoToTheChainsNodeWithinALimit) {
  evm.fund(signer.evm, UInt256(5));
  auto toBase = eth(kSite, "wallet_switchEthereumChain", Json::array({{{"chainId", "0x2105"}}}));
  got(toBase);
  auto balance = eth(kSite, "eth_getBalance", Json::array({signer.evm, "latest"}));
  EXPECT_EQ(got(balance).result, "\"0x5\"");
  SiteReply last;
  for (int i = 0; i < SiteBridge::kReadsPerWindow; ++i) {
    auto f = eth(kSite, "eth_getBalance", Json::array({signer.evm, "latest"}));
    last = got(f);
  }
  EXPECT_EQ(last.error, "-32005|Too many requests from this site; wait a moment.");
  auto elsewhere = eth("https://other.example", "eth_chainId");
  EXPECT_FALSE(got(elsewhere).error);
}

}  // namespace
}  // namespace orwenna
