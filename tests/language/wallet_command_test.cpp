#include "language/wallet_command.h"

#include <gtest/gtest.h>

#include <set>

#include "support/test_support.h"

namespace orwenna {
namespace {

// The payload as the corpus writes it: the case and its fields, a SpotAsset by symbol.
Json comparable(const WalletCommand& command) {
  Json j = command.toJson();
  j.erase("type");
  if (j.contains("asset") && j["asset"].is_object()) j["asset"] = j["asset"]["symbol"];
  return j;
}

TEST(WalletCommandTest, CorpusFormsParseToTheirCaseAndWriteBack) {
  Json corpus = testing::loadTestJson("wallet_commands.json");
  std::set<std::string> cases;
  for (const Json& entry : corpus["positive"]) {
    const std::string text = entry["text"];
    const Json& want = entry["want"];
    auto parsed = WalletCommand::parse(text);
    ASSERT_TRUE(parsed) << "not read: " << text;
    EXPECT_EQ(comparable(*parsed), want) << text;
    cases.insert(std::string(parsed->caseName()));
    auto back = WalletCommand::parse(parsed->line());
    EXPECT_TRUE(back && *back == *parsed) << text << " → " << parsed->line();
    for (const Json& variant : entry["variants"]) {
      auto v = WalletCommand::parse(variant.get<std::string>());
      EXPECT_EQ(v ? comparable(*v) : Json("not read"), want) << variant;
    }
  }
  EXPECT_EQ(cases.size(), std::variant_size_v<WalletCommand::Value>) << "a case has no form in the corpus";
  // Lines of other commands and near misses read as nothing.
  for (const Json& text : corpus["negative"]) {
    auto parsed = WalletCommand::parse(text.get<std::string>());
    EXPECT_FALSE(parsed) << text << " read as " << parsed->toJson().dump();
  }
}

TEST(WalletCommandTest, RevokeInEitherWordOrderForPermit2) {
  const std::string token = "0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913";
  const std::string spender = "0x000000000022D473030F116dDEE9F6B43aC78BA3";
  const std::string viaPermit2 = "revoke approval of " + token + " to " + spender + " on base via permit2";
  const std::string direct = "revoke approval of " + token + " to " + spender + " on base";
  struct Case {
    std::string text;
    std::string line;  // empty: not read
  } cases[] = {
      {"revoke permit2 approval of " + token + " to " + spender + " on base", viaPermit2},
      {"Revoke the Permit2 approval of " + token + " to " + spender + " on base", viaPermit2},
      {"отзови permit2 разрешение на " + token + " для " + spender + " на бейсе", viaPermit2},
      {viaPermit2, viaPermit2},
      {direct, direct},
      {"revoke permit2 approval of " + token + " on base", ""},
      {"revoke permit2 approval of " + token + " to " + spender, ""},
  };
  for (const Case& c : cases) {
    auto parsed = WalletCommand::parse(c.text);
    EXPECT_EQ(parsed ? parsed->line() : "", c.line) << c.text;
    if (!parsed) continue;
    EXPECT_EQ(parsed->caseName(), "revokeApproval") << c.text;
    auto back = WalletCommand::parse(parsed->line());
    EXPECT_TRUE(back && *back == *parsed) << c.text;
  }
}

TEST(WalletCommandTest, KnownSpotAssetsCarryTheirMints) {
  struct Case {
    const char* ticker;
    const char* symbol;
    const char* mint;
    int decimals;
  } cases[] = {
      {"sol", "SOL", "So11111111111111111111111111111111111111112", 9},
      {"JUP", "JUP", "JUPyiwrYJFskUPiHa7hkeR8VUtAeFoSYbKedZNsDvCN", 6},
      {"jitosol", "JitoSOL", "J1toso1uCk3RLmjorhTtrVwY9HJ7X8V9yYac6Y7kGCPn", 9},
  };
  for (const Case& c : cases) {
    auto a = SpotAsset::known(c.ticker);
    ASSERT_TRUE(a) << c.ticker;
    EXPECT_EQ(a->symbol, c.symbol);
    EXPECT_EQ(a->mint, c.mint);
    EXPECT_EQ(a->decimals, c.decimals);
  }
  EXPECT_FALSE(SpotAsset::known("BONK"));
  EXPECT_EQ(SpotAsset::forTicker("bonk"), (SpotAsset{"BONK", "", 0, false}));
}

}  // namespace
}  // namespace orwenna
