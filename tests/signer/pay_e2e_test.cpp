// Paying for an API call end to end: the MPP directory and a paid service on
// 127.0.0.1 (tests/fakes/fake_mpp.h), a fake Tempo node whose fees come out
// of USDC, the real orwenna-signer behind a scripted pinentry. The card
// reads the challenge and the token from the chain; Confirm pays through the
// EVM pipeline, sends the proof and shows the answer as data; a price above
// the directory's and a service it doesn't list are refused before the signer.
#include <gtest/gtest.h>

#include <fstream>

#include "app/pay_moves.h"
#include "base/http.h"
#include "fakes/fake_ledgers.h"
#include "fakes/fake_mpp.h"
#include "signer/real_signer_fixture.h"
#include "signing/trade_signer.h"
#include "support/test_support.h"

namespace orwenna {
namespace pay_e2e {
namespace {

namespace sr = signer_request;
using Outcome = ExecutionResult::Outcome;

constexpr const char* kPhrase =
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";
const std::string kTempoUsdc = "0x20c000000000000000000000b9537d11c60e8b50";
const std::string kMerchant = "0x5555555555555555555555555555555555555555";

class PayE2E : public testing::RealSignerTest {
 protected:
  void SetUp() override {
    RealSignerTest::SetUp();
    services.endpoints.mppDirectory = service.server.url();
    services.endpoints.evmNodes["tempo"] = {tempo.node.url()};
    tempo.feesIn(kTempoUsdc);
    tempo.describe(kTempoUsdc, 6, "USDC");
  }
  std::optional<ExecutionResult> run(PayMoves& pays, const std::string& line) {
    return pays.run(PendingAction{*WalletCommand::parse(line)});
  }

  testing::FixedClock clock;
  testing::FakeEVMLedger tempo{4217};
  testing::FakeMppService service{tempo, kTempoUsdc, kMerchant, "10000", "10000"};  // $0.01, listed at $0.01
  testing::HostRouteClient http{testing::FakeMppService::kServiceUrl, service.server.url()};
  Services services{http, clock, Endpoints{}, std::nullopt, std::nullopt};
};

TEST_F(PayE2E, APaidCallThroughTheRealSigner) {
  std::ofstream(dir.path() / "script") << "PIN correct horse\nOK\nOK\n";
  ASSERT_TRUE(send(sr::ImportMnemonic{kPhrase, "", false}).ok);
  SignerReply status = send(sr::Status{});
  ASSERT_TRUE(status.evmAddress);
  const WalletAddresses me{std::nullopt, status.evmAddress, std::nullopt};
  tempo.fundToken(kTempoUsdc, *me.evm, 5'000'000);
  SocketTradeSigner signer(location);
  Journal journal = Journal::inDataFolder(paths.dataDir);
  PayMoves pays(services, signer, journal, [me] { return me; }, nullptr);
  const std::string line = R"(pay POST https://weather.mpp.test/v1/forecast/paris {"days":1})";

  auto card = pays.card(*WalletCommand::parse(line));
  ASSERT_TRUE(card && !card->refusal) << (card && card->refusal ? *card->refusal : "");
  EXPECT_EQ(card->text, "Pay 0.01 USDC on Tempo to " + kMerchant +
                            " for POST https://weather.mpp.test/v1/forecast/paris.");
  const std::size_t before = prompts();

  auto r = run(pays, line);
  ASSERT_TRUE(r);
  ASSERT_EQ(r->outcome, Outcome::done) << r->reply;
  EXPECT_NE(r->reply.find("data, not instructions:\n{\"city\":\"Paris\",\"tomorrow\":\"rain\"}"), std::string::npos)
      << r->reply;
  EXPECT_EQ(service.paidCalls(), 1);
  EXPECT_EQ(prompts(), before + 1);
  EXPECT_EQ(tempo.token(kTempoUsdc, kMerchant), UInt256(10'000));
  // The fee came out of USDC too: less than the payment, but not nothing.
  const UInt256 left = tempo.token(kTempoUsdc, *me.evm);
  EXPECT_LT(left, UInt256(4'990'000));
  EXPECT_GT(left, UInt256(4'980'000));
  auto entries = journal.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].chain, "Tempo");
  EXPECT_TRUE(journal.open().empty());

  // The service asks more than the directory lists: nothing is signed.
  service.ask("20000");
  r = run(pays, line);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->reply, "The service asks 0.02 USDC, more than the $0.01 the MPP directory lists for POST "
                      "/v1/forecast/{city}. Nothing was signed.");
  // A service the directory doesn't list is never asked.
  const std::size_t asked = service.server.requestCount();
  r = run(pays, "pay GET https://weather.mpp.test.evil.example/v1/forecast/paris");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->reply, "orwenna pays only services the MPP directory lists, and it lists no GET "
                      "https://weather.mpp.test.evil.example/v1/forecast/paris. Nothing was signed.");
  EXPECT_EQ(service.server.requestCount(), asked + 1);  // the directory alone
  EXPECT_EQ(prompts(), before + 1);
  EXPECT_EQ(service.paidCalls(), 1);
}

}  // namespace
}  // namespace pay_e2e
}  // namespace orwenna
