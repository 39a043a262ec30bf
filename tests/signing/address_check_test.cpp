// Pasted-address checks for every network, labels, X-addresses, and the
// bech32/bech32m decoder against the BIP-173 and BIP-350 lists.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/json.h"
#include "base/text.h"
#include "signing/accounts.h"
#include "signing/address_check.h"
#include "signing/base58.h"
#include "signing/bech32.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using Network = AddressCheck::Network;

std::string scriptPubKey(const Bech32::WitnessProgram& w) {
  Bytes script{static_cast<std::uint8_t>(w.version == 0 ? 0 : 0x50 + w.version),
               static_cast<std::uint8_t>(w.program.size())};
  script.insert(script.end(), w.program.begin(), w.program.end());
  return toHex(script);
}

TEST(Bech32, ChecksumVectorsAndTheirOneCharacterTwins) {
  Json data = testing::loadTestJson("bech32.json");
  ASSERT_EQ(data["validBech32"].size(), 7u);
  ASSERT_EQ(data["validBech32m"].size(), 7u);
  ASSERT_EQ(data["invalidBech32"].size(), 12u);
  ASSERT_EQ(data["invalidBech32m"].size(), 14u);
  for (auto [key, encoding] : {std::pair{"validBech32", Bech32::Encoding::bech32},
                               std::pair{"validBech32m", Bech32::Encoding::bech32m}}) {
    for (const Json& v : data[key]) {
      std::string written = v.get<std::string>();
      auto decoded = Bech32::decode(written);
      ASSERT_TRUE(decoded) << written;
      EXPECT_EQ(decoded->encoding, encoding) << written;
      EXPECT_EQ(Bech32::encode(decoded->hrp, decoded->data, encoding), text::lowercased(written));
      // Flipping the lowest bit of the first data character breaks the checksum.
      std::string twin = written;
      std::size_t pos = twin.rfind('1') + 1;
      twin[pos] = static_cast<char>(twin[pos] ^ 1);
      EXPECT_FALSE(Bech32::decode(twin)) << twin;
    }
  }
  for (auto [key, encoding] : {std::pair{"invalidBech32", Bech32::Encoding::bech32},
                               std::pair{"invalidBech32m", Bech32::Encoding::bech32m}}) {
    for (const Json& v : data[key]) {
      std::string text = v.get<std::string>();
      auto decoded = Bech32::decode(text);
      EXPECT_TRUE(!decoded || decoded->encoding != encoding) << text;
    }
  }
}

TEST(Bech32, SegwitAddressVectors) {
  Json data = testing::loadTestJson("bech32.json");
  ASSERT_EQ(data["validAddress"].size(), 8u);
  ASSERT_EQ(data["invalidAddress"].size(), 15u);
  for (const Json& v : data["validAddress"]) {
    std::string address = v[0].get<std::string>();
    std::string hrp = (address[0] == 'b' || address[0] == 'B') ? "bc" : "tb";
    auto w = Bech32::decodeSegwit(hrp, address);
    ASSERT_TRUE(w) << address;
    EXPECT_EQ(scriptPubKey(*w), v[1].get<std::string>()) << address;
    EXPECT_EQ(Bech32::encodeSegwit(hrp, w->version, w->program), text::lowercased(address));
    EXPECT_FALSE(Bech32::decodeSegwit(hrp == "bc" ? "tb" : "bc", address)) << address;
  }
  for (const Json& v : data["invalidAddress"]) {
    std::string address = v[0].get<std::string>();
    EXPECT_FALSE(Bech32::decodeSegwit("bc", address)) << address << " (" << v[1].get<std::string>() << ")";
    EXPECT_FALSE(Bech32::decodeSegwit("tb", address)) << address;
  }
  for (const Json& v : data["invalidAddressEncoding"]) {
    EXPECT_FALSE(Bech32::encodeSegwit(v[0].get<std::string>(), v[1].get<int>(), Bytes(v[2].get<std::size_t>(), 0)))
        << v.dump();
  }
}

struct AddressCase {
  Network network;
  std::string address;
  std::optional<std::string> problem;
};

const std::string kBadSolana = "Not a Solana address: 32–44 letters and digits in base58.";
const std::string kBadNear = "Not a NEAR account: 64 hex characters, or a name ending in .near (lower case).";
const std::string kBadBc1 = "Not a Bitcoin address: its bc1… checksum doesn't match. Copy it again.";
const std::string kBadBitcoin = "Not a Bitcoin address: bc1…, 1… or 3…, with a checksum that matches.";
const std::string kBadZcash =
    "Not a transparent Zcash address (t1… or t3…). NEAR Intents pays out to those; a shielded or unified one isn't "
    "taken here.";
const std::string kBadTron = "Not a TRON address: T… and 34 characters, with a checksum that matches.";
const std::string kBadXrp = "Not an XRP address: r… or X…, with a checksum that matches.";
const std::string kBadDoge = "Not a Dogecoin address: D… (or 9…/A…), with a checksum that matches.";
const std::string kBadSui = "Not a Sui address: 0x and 64 hex characters.";
const std::string kBadChecksum =
    "The checksum doesn’t match, so a character is wrong. Copy the address again from the source.";
const std::string kBridge2 =
    "This is Hyperliquid’s old bridge (Bridge2): USDC sent here the wrong way is lost. Deposit through the Hyperliquid "
    "app instead.";

// A Base58Check address with the given leading bytes and a filler body.
std::string withVersion(Bytes prefix, std::size_t size, std::string_view alphabet = Base58::kBitcoinAlphabet) {
  Bytes payload = std::move(prefix);
  std::uint8_t fill = 0x11;
  while (payload.size() < size) payload.push_back(fill += 0x1d);
  return Base58::checkEncode(payload, alphabet);
}

std::string breakLast(std::string s) {
  s.back() = s.back() == '2' ? '3' : '2';
  return s;
}

TEST(AddressCheck, AcceptsAndRefusesPerNetwork) {
  const std::string sixtyFourHex(64, 'a');
  const std::string zcashT1 = withVersion({0x1C, 0xB8}, 22);
  const std::string zcashT3 = withVersion({0x1C, 0xBD}, 22);
  const std::vector<AddressCase> cases = {
      {Network::solana, "11111111111111111111111111111111", std::nullopt},
      {Network::solana, "So11111111111111111111111111111111111111112", std::nullopt},
      {Network::solana, "  So11111111111111111111111111111111111111112\n", std::nullopt},
      {Network::solana, "1So11111111111111111111111111111111111111112", kBadSolana},  // 44 chars, 33 bytes
      {Network::solana, "1111111111111111111111111111111", kBadSolana},               // 31 chars
      {Network::solana, "So1111111111111111111111111111111111111111O", kBadSolana},   // O is not base58
      {Network::solana, "0x9858EfFD232B4033E47d90003D41EC34EcaEda94", kBadSolana},
      {Network::near, sixtyFourHex, std::nullopt},
      {Network::near, "alice.near", std::nullopt},
      {Network::near, "app_1.sub-account.near", std::nullopt},
      {Network::near, std::string(59, 'a') + ".near", std::nullopt},
      {Network::near, std::string(60, 'a') + ".near", kBadNear},  // 65 characters
      {Network::near, std::string(64, 'A'), kBadNear},
      {Network::near, "Alice.near", kBadNear},
      {Network::near, "alice.testnet", kBadNear},
      {Network::near, "alice..near", kBadNear},
      {Network::near, ".near", kBadNear},
      {Network::bitcoin, "1A1zP1eP5QGefi2DMPTfTL5SLmv7DivfNa", std::nullopt},
      {Network::bitcoin, "3J98t1WpEZ73CNmQviecrnyiWrnqRhWNLy", std::nullopt},
      {Network::bitcoin, "BC1QW508D6QEJXTDG4Y5R3ZARVARY0C5XW7KV8F3T4", std::nullopt},
      {Network::bitcoin, "bc1p0xlxvlhemja6c4dqv22uapctqupfhlxm9h8z3k2e72q4k9hcz7vqzk5jj0", std::nullopt},
      {Network::bitcoin, "bc1p0xlxvlhemja6c4dqv22uapctqupfhlxm9h8z3k2e72q4k9hcz7vqh2y7hd", kBadBc1},
      {Network::bitcoin, "bc1qw508d6qejxtdg4y5r3zarvary0c5xw7kv8f3t5", kBadBc1},
      {Network::bitcoin, "Bc1qw508d6qejxtdg4y5r3zarvary0c5xw7kv8f3t4", kBadBc1},
      {Network::bitcoin, "tb1qrp33g0q5c5txsp9arysrx4k6zdkfs4nce4xj0gdcccefvpysxf3q0sl5k7", kBadBitcoin},
      {Network::bitcoin, "1A1zP1eP5QGefi2DMPTfTL5SLmv7DivfNb", kBadBitcoin},
      {Network::bitcoin, "DH5yaieqoZN36fDVciNyRueRGvGLR3mr7L", kBadBitcoin},
      {Network::zcash, zcashT1, std::nullopt},
      {Network::zcash, zcashT3, std::nullopt},
      {Network::zcash, breakLast(zcashT1), kBadZcash},
      {Network::zcash, withVersion({0x1C, 0xB9}, 22), kBadZcash},
      {Network::zcash, withVersion({0x1C, 0xB8}, 23), kBadZcash},
      {Network::zcash, "1A1zP1eP5QGefi2DMPTfTL5SLmv7DivfNa", kBadZcash},
      {Network::tron, "TR7NHqjeKQxGTCi8q8ZY4pL8otSzgjLj6t", std::nullopt},
      {Network::tron, "TR7NHqjeKQxGTCi8q8ZY4pL8otSzgjLj6u", kBadTron},
      {Network::tron, "1A1zP1eP5QGefi2DMPTfTL5SLmv7DivfNa", kBadTron},
      {Network::xrp, "rHb9CJAWyB4rj91VRWn96DkukG4bwdtyTh", std::nullopt},
      {Network::xrp, "rrrrrrrrrrrrrrrrrrrrrhoLvTp", std::nullopt},
      {Network::xrp, "XVLhHMPHU98es4dbozjVtdWzVrDjtV5fdx1mHp98tDMoQXb", std::nullopt},
      {Network::xrp, "XVLhHMPHU98es4dbozjVtdWzVrDjtV8xvjGQTYPiAx6gwDC", std::nullopt},
      {Network::xrp, "XVLhHMPHU98es4dbozjVtdWzVrDjtV8xvjGQTYPiAx6gwDD", kBadXrp},
      {Network::xrp, "rHb9CJAWyB4rj91VRWn96DkukG4bwdtyTi", kBadXrp},
      {Network::xrp, "1A1zP1eP5QGefi2DMPTfTL5SLmv7DivfNa", kBadXrp},
      {Network::dogecoin, "DH5yaieqoZN36fDVciNyRueRGvGLR3mr7L", std::nullopt},
      {Network::dogecoin, withVersion({0x16}, 21), std::nullopt},
      {Network::dogecoin, "DH5yaieqoZN36fDVciNyRueRGvGLR3mr7M", kBadDoge},
      {Network::dogecoin, "1A1zP1eP5QGefi2DMPTfTL5SLmv7DivfNa", kBadDoge},
      {Network::sui, "0x" + sixtyFourHex, std::nullopt},
      {Network::sui, "0x" + std::string(64, 'F'), std::nullopt},
      {Network::sui, "0x" + std::string(63, 'a'), kBadSui},
      {Network::sui, sixtyFourHex, kBadSui},
      {Network::sui, "0x9858EfFD232B4033E47d90003D41EC34EcaEda94", kBadSui},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AddressCheck::problem(c.address, c.network), c.problem)
        << AddressCheck::rawValue(c.network) << " " << c.address;
  }
}

TEST(AddressCheck, EvmRulesOnEveryEvmNetwork) {
  const std::string good = "0x9858EfFD232B4033E47d90003D41EC34EcaEda94";
  std::string wrongLetterLower = "0x9858effd232b4033e47d90003d41ec34ecaeda95";
  std::string wrongCase = "0x9858EfFD232B4033E47d90003D41EC34EcaEdA94";
  std::string bridgeLower = "0x2df1c51e09aecf9cacb7bc98cb1742757f163df7";
  std::string bridgeChecksummed = EVMAccount::checksummed(bridgeLower);
  std::string bridgeUpper = "0x2DF1C51E09AECF9CACB7BC98CB1742757F163DF7";
  int evmNetworks = 0;
  for (Network n : AddressCheck::allNetworks()) {
    if (!AddressCheck::isEVM(n)) continue;
    ++evmNetworks;
    std::string shape = "Not an " + std::string(AddressCheck::displayName(n)) + " address: 0x and 40 hex characters.";
    SCOPED_TRACE(std::string(AddressCheck::rawValue(n)));
    // Every letter case is compared with the reference library on one network;
    // here, that each EVM network takes the same rules.
    EXPECT_EQ(AddressCheck::problem(" " + good + "\n", n), std::nullopt);
    EXPECT_EQ(AddressCheck::problem(wrongLetterLower, n), std::nullopt);  // no checksum to check
    EXPECT_EQ(AddressCheck::problem(wrongCase, n), kBadChecksum);
    for (const auto& b : {bridgeLower, bridgeChecksummed, bridgeUpper}) EXPECT_EQ(AddressCheck::problem(b, n), kBridge2);
    const std::vector<std::string> malformed = {good.substr(0, 41), good + "0", "0X" + good.substr(2), good.substr(2),
                                                "0x9858EfFD232B4033E47d90003D41EC34EcaEda9g",
                                                "So11111111111111111111111111111111111111112"};
    for (const std::string& bad : malformed) {
      EXPECT_EQ(AddressCheck::problem(bad, n), shape) << bad;
    }
  }
  EXPECT_EQ(evmNetworks, 10);
  EXPECT_EQ(AddressCheck::problem("0x123", Network::base), "Not an Base address: 0x and 40 hex characters.");
  EXPECT_EQ(AddressCheck::problem("0x123", Network::robinhood),
            "Not an Robinhood Chain address: 0x and 40 hex characters.");
  // Only EVM networks know the bridge; on Sui it is just too short.
  EXPECT_EQ(AddressCheck::problem(bridgeLower, Network::sui), kBadSui);
}

TEST(AddressCheck, EveryNetworkRefusesEmptyAndForeignAddresses) {
  // For each network, an address of another family gets that network's own message.
  const std::string evm = "0x9858EfFD232B4033E47d90003D41EC34EcaEda94";
  const std::string solana = "So11111111111111111111111111111111111111112";
  for (Network n : AddressCheck::allNetworks()) {
    SCOPED_TRACE(std::string(AddressCheck::rawValue(n)));
    EXPECT_EQ(AddressCheck::problem("", n), "Paste the address.");
    EXPECT_EQ(AddressCheck::problem(" \n\t", n), "Paste the address.");
    auto foreign = AddressCheck::problem(AddressCheck::isEVM(n) ? solana : evm, n);
    ASSERT_TRUE(foreign.has_value());
    auto garbage = AddressCheck::problem("hello world", n);
    EXPECT_EQ(foreign, garbage);  // one refusal sentence per network
  }
}

TEST(AddressCheck, Labels) {
  const std::string tooLong = "A name or memo is at most 64 characters.";
  const std::string invisible = "A name or memo can't hold line breaks or invisible characters.";
  std::string thumbs;
  for (int i = 0; i < 64; ++i) thumbs += "👍🏽";  // two scalars each, one character
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"Mom", std::nullopt},
      {"Мама — кошелёк", std::nullopt},
      {std::string(64, 'a'), std::nullopt},
      {std::string(65, 'a'), tooLong},
      {thumbs, std::nullopt},
      {thumbs + "a", tooLong},
      {"Mom\tsavings", invisible},
      {"Mom\nsavings", invisible},
      {"Mom\u200dsavings", invisible},  // zero-width joiner
      {"Mom\u00adsavings", invisible},  // soft hyphen
      {"Mom\u2028savings", invisible},
      {"Mom\u2029savings", invisible},
      {"Mom\u202esavings", invisible},  // right-to-left override
      {"Mom savings", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [label, problem] : cases) EXPECT_EQ(AddressCheck::labelProblem(label), problem) << label;

  // A contact name must survive being written into a command line and read back.
  for (const char* bad : {"Mom.", "Mom!", "«Mom»", "\"Mom", "Mom”", "“Mom"})
    EXPECT_TRUE(AddressCheck::nameProblem(bad).has_value()) << bad;
  for (const char* good : {"Mom", "St. Mary", "Mom's!savings", "Мама"})
    EXPECT_EQ(AddressCheck::nameProblem(good), std::nullopt) << good;
  EXPECT_EQ(AddressCheck::nameProblem("Mom\tsavings"), invisible);
}

TEST(AddressCheck, XAddressesOfTheXrplTaggedAddressExamples) {
  // Examples of the XRP Ledger's tagged-address (X-address) format, XLS-5d.
  const std::vector<std::tuple<std::string, std::uint32_t, std::string>> cases = {
      {"rGWrZyQqhTp9Xu7G5Pkayo7bXjH4k4QYpf", 0, "XVLhHMPHU98es4dbozjVtdWzVrDjtV8AqEL4xcZj5whKbmc"},
      {"rGWrZyQqhTp9Xu7G5Pkayo7bXjH4k4QYpf", 1, "XVLhHMPHU98es4dbozjVtdWzVrDjtV8xvjGQTYPiAx6gwDC"},
      {"rGWrZyQqhTp9Xu7G5Pkayo7bXjH4k4QYpf", 2, "XVLhHMPHU98es4dbozjVtdWzVrDjtV8zpDURx7DzBCkrQE7"},
      {"rGWrZyQqhTp9Xu7G5Pkayo7bXjH4k4QYpf", 4294967295u, "XVLhHMPHU98es4dbozjVtdWzVrDjtV18pX8yuPT7y4xaEHi"},
      {"rsA2LpzuawewSBQXkiju3YQTMzW13pAAdW", 23480, "X7d3eHCXzwBeWrZec1yT24iZerQjYL8m8zCJ16ACxu1BrBY"},
      {"rsA2LpzuawewSBQXkiju3YQTMzW13pAAdW", 11747, "X7d3eHCXzwBeWrZec1yT24iZerQjYLo2CJf8oVC5CMWey5m"},
  };
  for (const auto& [classic, tag, x] : cases) {
    EXPECT_EQ(AddressCheck::xAddress(classic, tag), x) << classic << " " << tag;
    EXPECT_EQ(AddressCheck::problem(x, Network::xrp), std::nullopt);
  }
  EXPECT_FALSE(AddressCheck::xAddress("rGWrZyQqhTp9Xu7G5Pkayo7bXjH4k4QYpg", 1));  // checksum
  EXPECT_FALSE(AddressCheck::xAddress("1A1zP1eP5QGefi2DMPTfTL5SLmv7DivfNa", 1));  // Bitcoin alphabet
  EXPECT_FALSE(AddressCheck::xAddress("XVLhHMPHU98es4dbozjVtdWzVrDjtV8xvjGQTYPiAx6gwDC", 1));
  EXPECT_FALSE(AddressCheck::xAddress("", 1));
}

}  // namespace
}  // namespace orwenna
