// The Ed25519 point test, program-derived and associated token addresses,
// SPL transfers, and `.sol` names against a fake node.
#include "chains/spl.h"

#include <gtest/gtest.h>

#include "chains/sns.h"
#include "chains/solana_curve.h"
#include "chains/solana_fake_node.h"
#include "signing/accounts.h"
#include "signing/base58.h"
#include "signing/wallet_error.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::errorOf;
using testing::FixedClock;
using testing::FakeSolanaNode;

Bytes hex(std::string_view h) { return *fromHex(h); }

TEST(Ed25519Curve, KnownPointsAndNonPoints) {
  struct Case {
    std::string hex;
    bool onCurve;
  };
  const Case cases[] = {
      // RFC 8032's base point.
      {"5866666666666666666666666666666666666666666666666666666666666666", true},
      // y = 1 (the neutral element) and y = 0 (x² = −1, which has a root mod p).
      {"0100000000000000000000000000000000000000000000000000000000000000", true},
      {"0000000000000000000000000000000000000000000000000000000000000000", true},
      // y = 2: (4 − 1)/(4d + 1) is not a square.
      {"0200000000000000000000000000000000000000000000000000000000000000", false},
      // RFC 8032 test 1 public key.
      {"d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", true},
  };
  for (const auto& c : cases) EXPECT_EQ(Ed25519Curve::isOnCurve(hex(c.hex)), c.onCurve) << c.hex;
  EXPECT_FALSE(Ed25519Curve::isOnCurve(Bytes(31, 0)));
  EXPECT_FALSE(Ed25519Curve::isOnCurve(Bytes(33, 0)));
}

TEST(Ed25519Curve, YAndYPlusPAreTheSameFieldElement) {
  // Random points are compared with the reference library elsewhere; values
  // from p up to 2^255 - 1 are too rare there to be drawn.
  for (std::uint8_t y = 0; y < 19; ++y) {
    Bytes small(32, 0), plusP(32, 0xff);
    small[0] = y;
    plusP[0] = static_cast<std::uint8_t>(0xed + y);  // p = 2^255 − 19 = ff…ff7fed
    plusP[31] = 0x7f;
    EXPECT_EQ(Ed25519Curve::isOnCurve(plusP), Ed25519Curve::isOnCurve(small)) << int(y);
  }
}

std::vector<Bytes> seedsOf(const Json& list) {
  std::vector<Bytes> seeds;
  for (const auto& h : list) seeds.push_back(hex(h.get<std::string>()));
  return seeds;
}

TEST(ProgramAddress, PublishedVectorsAndTheirInvalidTwins) {
  Json data = testing::loadTestJson("solana_program_addresses.json");
  const std::string program = data["program"];
  for (const auto& v : data["valid"]) {
    EXPECT_EQ(SPL::createProgramAddress(seedsOf(v["seeds"]), program), v["address"].get<std::string>());
  }
  for (const auto& v : data["invalid"]) {
    EXPECT_EQ(errorOf([&] { (void)SPL::createProgramAddress(seedsOf(v["seeds"]), program); }),
              v["error"].get<std::string>());
  }
}

TEST(ProgramAddress, FindRefusesTooManySeedsAndABadProgram) {
  // Addresses and bumps are compared with the reference library elsewhere.
  EXPECT_EQ(errorOf([] { (void)SPL::findProgramAddress(std::vector<Bytes>(16, Bytes{1}), SolanaPrograms::kSystem); }),
            "A program address takes at most 16 seeds.");
  EXPECT_EQ(errorOf([] { (void)SPL::findProgramAddress({}, "nope"); }), "Invalid Solana address: nope");
}

TEST(SplTransfer, CreatesTheRecipientAccountThenTransfersChecked) {
  const std::string owner = "9WzDXwBbmkg8ZTbNMqUxvQRAyrZzDsGYdLVL9zYtAWWM";
  const std::string recipient = "HN7cABqLq46Es1jh92dQQisAq662SmxELLLsHHe4YWrH";
  const std::string mint = "EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v";
  for (auto program : {SolanaPrograms::kToken, SolanaPrograms::kToken2022}) {
    SPL::Transfer t{owner, recipient, mint, std::string(program), 0x0102030405060708ULL, 6, true};
    auto ixs = SPL::transferInstructions(t);
    ASSERT_EQ(ixs.size(), 2u);
    const std::string source = SPL::associatedTokenAddress(owner, mint, program);
    const std::string destination = SPL::associatedTokenAddress(recipient, mint, program);
    EXPECT_NE(source, destination);
    EXPECT_EQ(ixs[0].program, SolanaPrograms::kAssociatedToken);
    EXPECT_EQ(ixs[0].data, Bytes{0x01});
    EXPECT_EQ(ixs[0].accounts, (std::vector<SolanaInstruction::Account>{{owner, true, true},
                                                                        {destination, false, true},
                                                                        {recipient, false, false},
                                                                        {mint, false, false},
                                                                        {std::string(SolanaPrograms::kSystem), false, false},
                                                                        {std::string(program), false, false}}));
    EXPECT_EQ(ixs[1].program, program);
    EXPECT_EQ(ixs[1].data, (Bytes{0x0c, 8, 7, 6, 5, 4, 3, 2, 1, 6}));
    EXPECT_EQ(ixs[1].accounts, (std::vector<SolanaInstruction::Account>{
                                   {source, false, true}, {mint, false, false}, {destination, false, true}, {owner, true, false}}));
    // The whole transfer compiles into a transaction the owner alone signs.
    auto built = SolanaTransaction::build(ixs, owner, mint, 1000);
    EXPECT_EQ(SolanaTransaction::parseMessage(built.message).requiredSignatures, 1);
  }
  // Token-2022 accounts are other addresses than the classic program's.
  EXPECT_NE(SPL::associatedTokenAddress(owner, mint, SolanaPrograms::kToken),
            SPL::associatedTokenAddress(owner, mint, SolanaPrograms::kToken2022));

  SPL::Transfer self{owner, owner, mint, std::string(SolanaPrograms::kToken), 1, 6, false};
  EXPECT_EQ(errorOf([&] { (void)SPL::transferInstructions(self); }), "Transfer to yourself");
  SPL::Transfer noCreate{owner, recipient, mint, std::string(SolanaPrograms::kToken), 1, 6, false};
  EXPECT_EQ(SPL::transferInstructions(noCreate).size(), 1u);
  SPL::Transfer wrongProgram{owner, recipient, mint, std::string(SolanaPrograms::kSystem), 1, 6, false};
  EXPECT_EQ(errorOf([&] { (void)SPL::transferInstructions(wrongProgram); }),
            "Unknown token program: " + std::string(SolanaPrograms::kSystem));
}

// A name record: parent, owner, class, then the record's own data.
Json nameRecord(ByteView parent, ByteView owner) {
  Bytes data(parent.begin(), parent.end());
  data.insert(data.end(), owner.begin(), owner.end());
  data.insert(data.end(), 32, 0);
  data.insert(data.end(), 10, 0x5a);
  return {{"value",
           {{"data", {toBase64(data), "base64"}},
            {"owner", SolanaPrograms::kNameService},
            {"lamports", 2000000},
            {"executable", false}}}};
}

TEST(SNS, ResolvesAWalletOwnerAndRefusesTheRest) {
  FakeSolanaNode node;
  FixedClock clock;
  SolanaRPC rpc = SolanaRPC::pinnedTo(CurlHttpClient::shared(), clock, node.url());
  auto root = Base58::decode(SolanaPrograms::kSolRoot);
  auto wallet = Ed25519::publicKey(Bytes(32, 8));
  auto programOwned = Base58::decode(SPL::associatedTokenAddress(Base58::encode(wallet), std::string(SolanaPrograms::kSolRoot),
                                                                 SolanaPrograms::kToken));
  const std::map<std::string, Json> records = {
      {SNS::nameAccount("alice"), nameRecord(root, wallet)},
      {SNS::nameAccount("vault-1"), nameRecord(root, programOwned)},
      {SNS::nameAccount("elsewhere"), nameRecord(Bytes(32, 4), wallet)},
      {SNS::nameAccount("burned"), nameRecord(root, Bytes(32, 0))},
  };
  node.on("getAccountInfo", [&](const Json& params) {
    auto it = records.find(params[0].get<std::string>());
    return FakeSolanaNode::ok(it == records.end() ? Json{{"value", nullptr}} : it->second);
  });

  EXPECT_EQ(SNS::resolve("alice.sol", rpc), Base58::encode(wallet));
  EXPECT_EQ(node.bodies().back()["params"][0], SNS::nameAccount("alice"));
  EXPECT_EQ(errorOf([&] { (void)SNS::resolve("nobody.sol", rpc); }), "nobody.sol isn't registered.");
  EXPECT_EQ(errorOf([&] { (void)SNS::resolve("burned.sol", rpc); }), "burned.sol isn't registered.");
  EXPECT_EQ(errorOf([&] { (void)SNS::resolve("vault-1.sol", rpc); }),
            "vault-1.sol is held by a program (a tokenized domain), not a wallet. Paste the address itself.");
  EXPECT_EQ(errorOf([&] { (void)SNS::resolve("elsewhere.sol", rpc); }), "elsewhere.sol's account isn't under .sol.");

  std::size_t asked = node.requests().size();
  for (std::string bad : {"-alice.sol", "alice-.sol", "Alice.sol", "al_ice.sol", "alice", ".sol", "a.b.sol", "алиса.sol"}) {
    EXPECT_EQ(errorOf([&] { (void)SNS::resolve(bad, rpc); }),
              bad + " isn't a .sol name orwenna reads: plain letters, digits and hyphens.");
  }
  EXPECT_EQ(node.requests().size(), asked);  // refused before any call
  EXPECT_EQ(errorOf([&] { (void)SNS::resolve("a.sol", rpc); }), "a.sol isn't registered.");
  EXPECT_EQ(errorOf([&] { (void)SNS::resolve("a-1-b.sol", rpc); }), "a-1-b.sol isn't registered.");
}

}  // namespace
}  // namespace orwenna
