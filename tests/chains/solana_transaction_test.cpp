// Solana message and transaction bytes: lengths, parsing where it breaks,
// building within the signer and size limits, and the check of a received
// transaction before the wallet signs it.
#include "chains/solana_transaction.h"

#include <gtest/gtest.h>

#include <random>

#include "signing/accounts.h"
#include "signing/base58.h"
#include "signing/wallet_error.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

std::string key(std::uint8_t fill) {
  Bytes b(32, fill);
  b[0] = 0x42;  // keep every test key distinct from the System program's zeros
  return Base58::encode(b);
}

using testing::errorOf;

TEST(CompactU16, EncodesAndReadsAtTheGroupEdges) {
  struct Case {
    std::uint32_t value;
    Bytes bytes;
  };
  const Case cases[] = {
      {0, {0x00}},          {1, {0x01}},       {127, {0x7f}},          {128, {0x80, 0x01}},
      {255, {0xff, 0x01}},  {16383, {0xff, 0x7f}}, {16384, {0x80, 0x80, 0x01}}, {65535, {0xff, 0xff, 0x03}},
  };
  for (const auto& c : cases) {
    Bytes out;
    CompactU16::append(out, c.value);
    EXPECT_EQ(out, c.bytes) << c.value;
    std::size_t offset = 0;
    auto r = CompactU16::read(c.bytes, offset);
    EXPECT_FALSE(r.error) << c.value;
    EXPECT_EQ(r.value, c.value);
    EXPECT_EQ(offset, c.bytes.size());
  }
}

TEST(CompactU16, RefusesCutShortAliasAndOversizedLengths) {
  struct Case {
    Bytes bytes;
    CompactU16::ReadError error;
  };
  const Case cases[] = {
      {{}, CompactU16::ReadError::truncated},
      {{0x80}, CompactU16::ReadError::truncated},
      {{0xff, 0xff}, CompactU16::ReadError::truncated},
      {{0x80, 0x00}, CompactU16::ReadError::invalid},        // 0 written in two bytes
      {{0xff, 0x80, 0x00}, CompactU16::ReadError::invalid},  // 127 in three
      {{0x80, 0x80, 0x04}, CompactU16::ReadError::invalid},  // 65536
      {{0xff, 0xff, 0x83, 0x01}, CompactU16::ReadError::invalid},  // a fourth group
  };
  for (const auto& c : cases) {
    std::size_t offset = 0;
    auto r = CompactU16::read(c.bytes, offset);
    ASSERT_TRUE(r.error) << toHex(c.bytes);
    EXPECT_EQ(*r.error, c.error) << toHex(c.bytes);
    EXPECT_EQ(offset, 0u);
  }
}

// A version-0 message with two static keys, one lookup and one instruction.
SolanaMessage sampleV0() {
  SolanaMessage m;
  m.version = 0;
  m.requiredSignatures = 1;
  m.readonlySignedAccounts = 0;
  m.readonlyUnsignedAccounts = 1;
  m.staticKeys = {key(1), key(2)};
  m.recentBlockhash = key(9);
  m.instructions = {{1, {0, 2, 3, 4}, {0xde, 0xad}}};
  m.lookups = {{key(7), {3}, {0, 1}}};
  return m;
}

TEST(SolanaMessage, V0RoundTripsAndResolvesTheWritablesOfAllTablesFirst) {
  SolanaMessage m = sampleV0();
  Bytes bytes = SolanaTransaction::encodeMessage(m);
  EXPECT_EQ(bytes[0], 0x80);
  SolanaMessage back = SolanaTransaction::parseMessage(bytes);
  EXPECT_EQ(back, m);
  std::map<std::string, std::vector<std::string>> tables = {{key(7), {key(20), key(21), key(22), key(23)}},
                                                            {key(8), {key(30), key(31)}}};
  EXPECT_EQ(SolanaTransaction::resolveAccounts(back, tables),
            (std::vector<std::string>{key(1), key(2), key(23), key(20), key(21)}));

  m.lookups.push_back({key(8), {0}, {1}});
  auto all = SolanaTransaction::resolveAccounts(SolanaTransaction::parseMessage(SolanaTransaction::encodeMessage(m)), tables);
  EXPECT_EQ(all, (std::vector<std::string>{key(1), key(2), key(23), key(30), key(20), key(21), key(31)}));

  tables.erase(key(8));
  EXPECT_EQ(errorOf([&] { (void)SolanaTransaction::resolveAccounts(m, tables); }), "No address lookup table " + key(8));
  tables[key(8)] = {key(30)};
  EXPECT_EQ(errorOf([&] { (void)SolanaTransaction::resolveAccounts(m, tables); }), "Index outside lookup table " + key(8));
}

TEST(SolanaMessage, EveryCutIsTruncationAndExtraBytesAreRefused) {
  for (auto version : {std::optional<int>{}, std::optional<int>{0}}) {
    SolanaMessage m = sampleV0();
    m.version = version;
    if (!version) m.lookups.clear();
    Bytes bytes = SolanaTransaction::encodeMessage(m);
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
      std::string e = errorOf([&] { (void)SolanaTransaction::parseMessage(ByteView(bytes).first(cut)); });
      EXPECT_TRUE(e == "Message truncated" || e == "Truncated length") << "cut at " << cut << ": " << e;
    }
    Bytes longer = bytes;
    longer.push_back(0);
    EXPECT_EQ(errorOf([&] { (void)SolanaTransaction::parseMessage(longer); }), "Extra bytes after the message");
  }
}

TEST(SolanaMessage, DistinguishesFieldAndLengthTruncation) {
  // Legacy header, then a key count whose continuation byte is missing.
  EXPECT_EQ(errorOf([] { (void)SolanaTransaction::parseMessage(Bytes{1, 0, 0, 0x80}); }), "Truncated length");
  // Two keys promised, one present.
  Bytes oneKey = {1, 0, 0, 2};
  oneKey.resize(4 + 32, 7);
  EXPECT_EQ(errorOf([&] { (void)SolanaTransaction::parseMessage(oneKey); }), "Message truncated");
  EXPECT_EQ(errorOf([] { (void)SolanaTransaction::parseMessage(Bytes{0x81, 1, 0, 0}); }),
            "Unsupported transaction version 1");
}

TEST(SolanaTransactionParse, CutShortSignaturesOrMessageAreIncomplete) {
  auto built = SolanaTransaction::build({SolanaTransaction::solTransfer(key(1), key(2), 5)}, key(1), key(9), 100);
  auto parsed = SolanaTransaction::parse(built.transaction);
  ASSERT_EQ(parsed.signatures.size(), 1u);
  EXPECT_EQ(parsed.message, built.message);
  for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{40}, std::size_t{65},
                          built.transaction.size() - 1}) {
    EXPECT_EQ(errorOf([&] { (void)SolanaTransaction::parse(ByteView(built.transaction).first(cut)); }),
              "Incomplete transaction")
        << cut;
  }
}

TEST(SolanaTransactionBuild, PutsThePriceFirstAndOrdersKeysInFourGroups) {
  const std::string payer = key(1), readonlyAcc = key(2), writableAcc = key(3), program = key(4);
  SolanaInstruction ix{program,
                       {{readonlyAcc, false, false}, {writableAcc, false, true}, {payer, true, false}, {readonlyAcc, false, true}},
                       {1, 2, 3}};
  auto built = SolanaTransaction::build({ix}, payer, key(9), 0x0102030405060708ULL);
  SolanaMessage m = SolanaTransaction::parseMessage(built.message);
  EXPECT_FALSE(m.version);
  EXPECT_EQ(m.requiredSignatures, 1);
  EXPECT_EQ(m.readonlySignedAccounts, 0);
  // readonlyAcc became writable on its second mention but keeps its first place.
  EXPECT_EQ(m.staticKeys, (std::vector<std::string>{payer, readonlyAcc, writableAcc,
                                                    std::string(SolanaPrograms::kComputeBudget), program}));
  EXPECT_EQ(m.readonlyUnsignedAccounts, 2);
  ASSERT_EQ(m.instructions.size(), 2u);
  EXPECT_EQ(m.instructions[0].programIndex, 3);
  EXPECT_TRUE(m.instructions[0].accounts.empty());
  EXPECT_EQ(m.instructions[0].data, (Bytes{0x03, 8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(m.instructions[1].programIndex, 4);
  EXPECT_EQ(m.instructions[1].accounts, (std::vector<int>{1, 2, 0, 1}));
  EXPECT_EQ(m.recentBlockhash, key(9));
  // One empty signature slot before the message.
  ASSERT_EQ(built.transaction.size(), 1 + 64 + built.message.size());
  EXPECT_EQ(built.transaction[0], 1);
  EXPECT_TRUE(std::all_of(built.transaction.begin() + 1, built.transaction.begin() + 65, [](auto b) { return b == 0; }));
}

TEST(SolanaTransactionBuild, RefusesOtherSignersNamingThem) {
  SolanaInstruction ix{key(4), {{key(2), true, true}, {key(3), true, false}}, {}};
  EXPECT_EQ(errorOf([&] { (void)SolanaTransaction::build({ix}, key(1), key(9), 1); }),
            "The instructions need other signers: " + key(2) + ", " + key(3));
  EXPECT_EQ(errorOf([&] { (void)SolanaTransaction::build({ix}, "not-base58!", key(9), 1); }),
            "Invalid Solana address: not-base58!");
}

TEST(SolanaTransactionBuild, AllowsExactly1232BytesAndNoMore) {
  // One instruction whose data length is tuned to land on the limit.
  auto sizeWith = [](std::size_t dataLength) {
    SolanaInstruction ix{key(4), {}, Bytes(dataLength, 0xab)};
    return SolanaTransaction::build({ix}, key(1), key(9), 1).transaction.size();
  };
  std::size_t base = sizeWith(200);
  std::size_t fits = 200 + (1232 - base);  // both lengths take two compact bytes
  EXPECT_EQ(sizeWith(fits), 1232u);
  EXPECT_EQ(errorOf([&] { (void)sizeWith(fits + 1); }), "The transaction is over 1232 bytes");
}

TEST(SolanaTransactionCheck, SignsOnlyWhatOurWalletAlonePays) {
  Bytes secret(32, 5);
  const std::string wallet = SolanaAccount::address(secret);
  auto ours = SolanaTransaction::build({SolanaTransaction::solTransfer(wallet, key(2), 1000)}, wallet, key(9), 1);
  Bytes message = SolanaTransaction::checkForSigning(ours.transaction, wallet);
  EXPECT_EQ(message, ours.message);

  auto signature = Ed25519::sign(secret, message);
  Bytes signedTx = SolanaTransaction::attach(ours.transaction, signature);
  auto parsed = SolanaTransaction::parse(signedTx);
  EXPECT_TRUE(Ed25519::verify(Base58::decode(wallet), parsed.message, parsed.signatures[0]));
  EXPECT_TRUE(std::equal(signedTx.begin() + 65, signedTx.end(), ours.transaction.begin() + 65));

  // Someone else's fee payer.
  auto foreign = SolanaTransaction::build({SolanaTransaction::solTransfer(key(3), key(2), 1)}, key(3), key(9), 1);
  EXPECT_EQ(errorOf([&] { (void)SolanaTransaction::checkForSigning(foreign.transaction, wallet); }),
            "The fee payer isn't our wallet");

  // Two required signatures: our wallet pays, a second key co-signs.
  SolanaMessage two = SolanaTransaction::parseMessage(ours.message);
  two.requiredSignatures = 2;
  two.readonlySignedAccounts = 0;
  Bytes twoMessage = SolanaTransaction::encodeMessage(two);
  Bytes twoTx = {2};
  twoTx.resize(1 + 128, 0);
  twoTx.insert(twoTx.end(), twoMessage.begin(), twoMessage.end());
  EXPECT_EQ(errorOf([&] { (void)SolanaTransaction::checkForSigning(twoTx, wallet); }),
            "The transaction needs 2 signatures; expected only ours");

  // One required signature but no slot for it: signing would write over the message.
  Bytes noSlot = {0};
  noSlot.insert(noSlot.end(), ours.message.begin(), ours.message.end());
  EXPECT_EQ(errorOf([&] { (void)SolanaTransaction::checkForSigning(noSlot, wallet); }),
            "The transaction has 0 signature slots; expected one");
  EXPECT_EQ(errorOf([&] { (void)SolanaTransaction::checkForSigning(ByteView(ours.transaction).first(100), wallet); }),
            "Incomplete transaction");
}

TEST(SolanaTransfer, BuildsTheSystemTransferAndRefusesSelfAndBadAddresses) {
  auto ix = SolanaTransaction::solTransfer(key(1), key(2), 0x0102030405060708ULL);
  EXPECT_EQ(ix.program, SolanaPrograms::kSystem);
  EXPECT_EQ(ix.accounts, (std::vector<SolanaInstruction::Account>{{key(1), true, true}, {key(2), false, true}}));
  EXPECT_EQ(ix.data, (Bytes{2, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(errorOf([] { (void)SolanaTransaction::solTransfer(key(1), key(1), 1); }), "Transfer to yourself");
  EXPECT_EQ(errorOf([] { (void)SolanaTransaction::solTransfer(key(1), "0OIl", 1); }), "Invalid Solana address: 0OIl");
  // Base58 of 31 bytes is readable but no address.
  std::string short31 = Base58::encode(Bytes(31, 9));
  EXPECT_EQ(errorOf([&] { (void)SolanaTransaction::solTransfer(key(1), short31, 1); }),
            "Invalid Solana address: " + short31);
}

// parseMessage is handed bytes from outside: random and mutated inputs must
// end in a parse or a WalletError, never a crash, an over-read or a hang.
TEST(SolanaMessageFuzz, RandomAndMutatedBytesNeverCrash) {
  std::mt19937_64 rng(20261206);
  auto byte = [&] { return static_cast<std::uint8_t>(rng() & 0xff); };
  std::vector<Bytes> seeds;
  SolanaMessage v0 = sampleV0();
  seeds.push_back(SolanaTransaction::encodeMessage(v0));
  v0.version.reset();
  v0.lookups.clear();
  seeds.push_back(SolanaTransaction::encodeMessage(v0));
  seeds.push_back(SolanaTransaction::build({SolanaTransaction::solTransfer(key(1), key(2), 5)}, key(1), key(9), 7).message);

  int parsed = 0, refused = 0;
  auto attempt = [&](const Bytes& input) {
    try {
      SolanaMessage m = SolanaTransaction::parseMessage(input);
      // Whatever parses must re-encode to the very same bytes.
      EXPECT_EQ(SolanaTransaction::encodeMessage(m), input);
      ++parsed;
    } catch (const WalletError&) {
      ++refused;
    }
  };
  for (int i = 0; i < 3000; ++i) {
    Bytes input(rng() % 400);
    for (auto& b : input) b = byte();
    if (i % 3 == 0 && !input.empty()) input[0] = 0x80;
    attempt(input);
  }
  for (int i = 0; i < 20000; ++i) {
    Bytes input = seeds[static_cast<std::size_t>(i) % seeds.size()];
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      switch (rng() % 4) {
        case 0: input[rng() % input.size()] = byte(); break;
        case 1: input.insert(input.begin() + static_cast<std::ptrdiff_t>(rng() % (input.size() + 1)), byte()); break;
        case 2: if (input.size() > 1) input.erase(input.begin() + static_cast<std::ptrdiff_t>(rng() % input.size())); break;
        default: input.resize(rng() % (input.size() + 1)); break;
      }
      if (input.empty()) input.push_back(byte());
    }
    attempt(input);
  }
  // Both outcomes occurred, so the loop really exercised the parser.
  EXPECT_GT(parsed, 100);
  EXPECT_GT(refused, 1000);
}

}  // namespace
}  // namespace orwenna
