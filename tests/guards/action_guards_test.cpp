// Hyperliquid actions, bridge quotes and deposit-address bindings.
#include <gtest/gtest.h>

#include "guards/tx_guard.h"

namespace orwenna {
namespace {

const std::string kOwner = "0x8ba1f109551bD432803012645Ac136ddd64DBA72";
const std::string kSaved = "0x1111111111111111111111111111111111111111";
const std::string kAgent = "0xAbCdEf0123456789aBcDeF0123456789AbCdEf01";
const std::string kOther = "0x2222222222222222222222222222222222222222";

TEST(HLGuard, JudgesEachActionType) {
  struct Case {
    Json action;
    std::string check;
    std::string problem;
  };
  const Case cases[] = {
      {{{"type", "order"}, {"orders", Json::array()}}, "Trading action inside your account.", ""},
      {{{"type", "cancel"}}, "Trading action inside your account.", ""},
      {{{"type", "updateLeverage"}}, "Trading action inside your account.", ""},
      {{{"type", "usdClassTransfer"}}, "Transfer between your spot and perp balances.", ""},
      // The owner's address in upper case is still the owner's.
      {{{"type", "withdraw3"}, {"destination", "0x8BA1F109551BD432803012645AC136DDD64DBA72"}},
       "Funds → approved address 0x8BA1F109551BD432803012645AC136DDD64DBA72", ""},
      {{{"type", "usdSend"}, {"destination", kSaved}}, "Funds → approved address " + kSaved, ""},
      {{{"type", "spotSend"}, {"destination", kOther}}, "", "Funds go to someone else's address " + kOther},
      {{{"type", "sendAsset"}, {"destination", kOther}}, "", "Funds go to someone else's address " + kOther},
      {{{"type", "withdraw3"}}, "", "Funds go to someone else's address none"},
      {{{"type", "vaultTransfer"}, {"vaultAddress", "0xDFC24B077BC1425AD1DEA75BCB6F8158E10DF303"}},
       "Transfer between your account and the HLP vault.", ""},
      {{{"type", "vaultTransfer"}, {"vaultAddress", kOther}}, "", "Transfer to an unknown vault " + kOther},
      {{{"type", "approveAgent"}, {"agentAddress", "0xabcdef0123456789abcdef0123456789abcdef01"}},
       "Approves your agent key.", ""},
      {{{"type", "approveAgent"}, {"agentAddress", kOther}}, "", "Approves an unknown agent " + kOther},
      {{{"type", "approveBuilderFee"}}, "", "Action approveBuilderFee is not allowed."},
      {{{"type", 7}}, "", "Unrecognized action."},
      {{{"action", "order"}}, "", "Unrecognized action."},
      {Json::array(), "", "Unrecognized action."},
  };
  for (const auto& c : cases) {
    auto v = HLGuard::check(c.action, kOwner, {kSaved}, kAgent);
    EXPECT_EQ(v.checks, c.check.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.check})
        << c.action.dump();
    EXPECT_EQ(v.problems, c.problem.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.problem})
        << c.action.dump();
  }
  // Without a known agent key no agent is approved.
  EXPECT_FALSE(HLGuard::check({{"type", "approveAgent"}, {"agentAddress", ""}}, kOwner, {}, "").clean());
}

TEST(BindingGuard, EveryQuotedFieldMustMatchThePlan) {
  BridgeBinding plan{kSaved, kOwner, "1500000"};
  auto same = BindingGuard::check("Relay", plan, {kSaved, kOwner, "1500000"});
  EXPECT_EQ(same.checks, std::vector<std::string>{"Relay: recipient, sender and amount are yours."});
  EXPECT_TRUE(same.clean());
  // Address case and number spelling do not matter; values do.
  EXPECT_TRUE(BindingGuard::check("Relay", plan, {"0x1111111111111111111111111111111111111111", "0x8ba1f109551bd432803012645ac136ddd64dba72", "1500000.0"}).clean());

  auto different = BindingGuard::check("Relay", plan, {kOther, std::nullopt, "1500001"});
  EXPECT_EQ(different.problems,
            (std::vector<std::string>{"recipient " + kOther + " instead of " + kSaved, "sender none instead of " + kOwner,
                                      "amount 1500001 instead of 1500000"}));
  EXPECT_TRUE(different.checks.empty());
  // Solana addresses are case-sensitive.
  EXPECT_FALSE(BindingGuard::check("Relay", {"GsbwXfJraMomNxBcjYLcG3mxkBUiyWXAB32fGbSMQRdW", kOwner, "1"},
                                   {"gsbwXfJraMomNxBcjYLcG3mxkBUiyWXAB32fGbSMQRdW", kOwner, "1"})
                   .clean());
}

TEST(DepositGuard, TheDepositAddressIsBoundToTheRequest) {
  Json request = {{"recipient", "alice.near"},
                  {"refundTo", kOwner},
                  {"originAsset", "nep141:base-0x833589fcd6edb6e08f4c7c32d4f71b54bda02913.omft.near"},
                  {"destinationAsset", "nep141:wrap.near"},
                  {"amount", "2500000"}};
  auto same = DepositGuard::check(request, request);
  EXPECT_EQ(same.checks, std::vector<std::string>{
                             "The deposit address is bound to a quote with your recipient, refund address and amount."});

  Json bound = request;
  bound["recipient"] = "mallory.near";
  bound["amount"] = 2500001;
  bound.erase("refundTo");
  auto v = DepositGuard::check(bound, request);
  EXPECT_EQ(v.problems, (std::vector<std::string>{
                            "The deposit address is bound to a different recipient mallory.near instead of alice.near",
                            "The deposit address is bound to a different refundTo none instead of " + kOwner,
                            "The deposit address is bound to a different amount 2500001 instead of 2500000"}));
  EXPECT_TRUE(v.checks.empty());
  EXPECT_EQ(DepositGuard::check(Json::object(), request).problems.size(), 5u);
}

}  // namespace
}  // namespace orwenna
