// The call rules as a table of calldata (tests/data/evm_call_rules.json): what
// drainers send must be refused with its sentence, ordinary calls must pass;
// and the checks on a batch of calls.
#include <gtest/gtest.h>

#include "base/json.h"
#include "chains/abi.h"
#include "chains/evm_call.h"
#include "chains/evm_transaction.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

TEST(EVMCallTest, RuleTable) {
  Json data = testing::loadTestJson("evm_call_rules.json");
  const std::string wallet = data["wallet"];
  const std::int64_t now = data["now"];
  int refused = 0;
  int passed = 0;
  for (const auto& c : data["cases"]) {
    SCOPED_TRACE(c["name"].get<std::string>());
    auto bytes = fromHex(c["data"].get<std::string>());
    ASSERT_TRUE(bytes.has_value());
    EVMCall call = EVMCall::decode(c["to"].get<std::string>(), *bytes);
    EXPECT_EQ(EVMCall::kindName(call.kind), c["kind"].get<std::string>());
    auto problem = EVMCall::problem(call, wallet, now);
    if (c["refusal"].is_null()) {
      EXPECT_FALSE(problem.has_value()) << *problem;
      ++passed;
    } else {
      ASSERT_TRUE(problem.has_value());
      EXPECT_EQ(*problem, c["refusal"].get<std::string>());
      ++refused;
    }
  }
  EXPECT_GE(refused, 25);
  EXPECT_GE(passed, 20);
}

TEST(EVMCallTest, WalletComparedWhateverTheCase) {
  const std::string wallet = "0x52908400098527886E0F7030069857D2E4169EE7";
  Bytes data = ABI::call("deposit(uint256,address)", {ABI::Value::uint(5), ABI::Value::address(wallet)});
  EVMCall call = EVMCall::decode("0x5555555555555555555555555555555555555555", data);
  EXPECT_EQ(call.kind, EVMCall::Kind::vault);
  EXPECT_EQ(call.to, "0x52908400098527886e0f7030069857d2e4169ee7");
  EXPECT_FALSE(EVMCall::problem(call, wallet, 0).has_value());
}

TEST(EVMCallTest, DecodedFields) {
  Bytes data = ABI::call("approve(address,address,uint160,uint48)",
                         {ABI::Value::address("0xa0b86991c6218b36c1d19d4a2e9eb0ce3606eb48"),
                          ABI::Value::address("0x66a9893cc07d91d95644aedd05d03f95e1dba8af"), ABI::Value::uint(42),
                          ABI::Value::uint(1'800'000'100)});
  EVMCall call = EVMCall::decode("0x000000000022d473030f116ddee9f6b43ac78ba3", data);
  ASSERT_EQ(call.kind, EVMCall::Kind::permit2Approve);
  EXPECT_EQ(call.selector, "87517c45");
  EXPECT_EQ(call.asset, "0xa0b86991c6218b36c1d19d4a2e9eb0ce3606eb48");
  EXPECT_EQ(call.to, "0x66a9893cc07d91d95644aedd05d03f95e1dba8af");
  EXPECT_EQ(call.amount, 42);
  EXPECT_EQ(call.expiration, 1'800'000'100u);

  Bytes execute = ABI::call("execute(bytes,bytes[],uint256)",
                            {ABI::Value::bytes(Bytes{0x10, 0x0c}),
                             ABI::Value::array({ABI::Value::bytes(Bytes{1, 2, 3}), ABI::Value::bytes(Bytes(40, 7))}),
                             ABI::Value::uint(1'800'000'000)});
  EVMCall swap = EVMCall::decode("0x66a9893cc07d91d95644aedd05d03f95e1dba8af", execute);
  ASSERT_EQ(swap.kind, EVMCall::Kind::v4Swap);
  EXPECT_EQ(swap.commands, (Bytes{0x10, 0x0c}));
  ASSERT_EQ(swap.inputs.size(), 2u);
  EXPECT_EQ(swap.inputs[0], (Bytes{1, 2, 3}));
  EXPECT_EQ(swap.inputs[1], Bytes(40, 7));

  // An absurd array length in a claim cannot make the reader run away.
  Bytes claim = *fromHex("71ee95c0" + std::string(62, '0') + "80" + std::string(64 * 3, '0') + std::string(64, 'f'));
  EVMCall c = EVMCall::decode("0x3ef3d8ba38ebe18db133cec108f4d14ce00dd9ae", claim);
  EXPECT_EQ(c.kind, EVMCall::Kind::claim);
  EXPECT_LE(c.recipients.size(), claim.size() / 32 + 1);
  EXPECT_TRUE(EVMCall::problem(c, "0x1111111111111111111111111111111111111111", 0).has_value());
}

TEST(Batch7702Test, Problems) {
  const std::string wallet = "0x1111111111111111111111111111111111111111";
  const std::string token = "0xa0b86991c6218b36c1d19d4a2e9eb0ce3606eb48";
  Batch7702::Call transfer{token, ABI::call("transfer(address,uint256)",
                                            {ABI::Value::address("0x2222222222222222222222222222222222222222"),
                                             ABI::Value::uint(5)})};
  EXPECT_TRUE(Batch7702::problems({transfer, transfer}, wallet, 8453, 0).empty());
  EXPECT_EQ(Batch7702::problems({transfer}, wallet, 999, 0),
            std::vector<std::string>{"orwenna doesn't batch calls on network 999."});
  EXPECT_EQ(Batch7702::problems({}, wallet, 1, 0), std::vector<std::string>{"A batch holds 1 to 4 calls, not 0."});
  EXPECT_EQ(Batch7702::problems(std::vector<Batch7702::Call>(5, transfer), wallet, 1, 0),
            std::vector<std::string>{"A batch holds 1 to 4 calls, not 5."});
  Batch7702::Call self{"0x1111111111111111111111111111111111111111", {}};
  EXPECT_EQ(Batch7702::problems({transfer, self}, wallet, 1, 0),
            std::vector<std::string>{"A call into this wallet's own address: it would run calls nobody checked. Refused."});
  Batch7702::Call notAddress{"vitalik.eth", {}};
  EXPECT_EQ(Batch7702::problems({notAddress}, wallet, 1, 0), std::vector<std::string>{"Not an address: vitalik.eth"});
  Batch7702::Call unlimited{token, ABI::call("approve(address,uint256)",
                                             {ABI::Value::address("0x2222222222222222222222222222222222222222"),
                                              ABI::Value::uint(UInt256(1) << 96)})};
  EXPECT_EQ(Batch7702::problems({transfer, unlimited}, wallet, 1, 0).size(), 1u);

  Json json = unlimited.toJson();
  Batch7702::Call back = Batch7702::Call::fromJson(json);
  EXPECT_EQ(back.to, unlimited.to);
  EXPECT_EQ(back.data, unlimited.data);
  EXPECT_THROW((void)Batch7702::Call::fromJson(Json{{"to", token}, {"data", "0xzz"}}), std::exception);
}

}  // namespace
}  // namespace orwenna
