// MPP's wire format against the examples of the IETF draft
// https://datatracker.ietf.org/doc/draft-httpauth-payment/ (01): the challenge header
// read among other schemes, its request decoded, and a credential that a
// service reads back into the same challenge.
#include <gtest/gtest.h>

#include "base/bytes.h"
#include "base/json.h"
#include "defi/mpp.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

// The draft's "Example Challenge", folded onto one line, after a Bearer
// challenge and before a second Payment challenge with escapes.
const char* kHeader =
    "Bearer realm=\"api\", Payment id=\"x7Tg2pLqR9mKvNwY3hBcZa\", realm=\"api.example.com\", method=\"example\", "
    "intent=\"charge\", expires=\"2025-01-15T12:05:00Z\", "
    "request=\"eyJhbW91bnQiOiIxMDAwIiwiY3VycmVuY3kiOiJVU0QiLCJyZWNpcGllbnQiOiJhY2N0XzEyMyJ9\", "
    "Payment id=abc, realm=\"a \\\"quoted\\\" realm\", method=tempo, intent=charge, request=e30, "
    "header=\"Payment-Authorization\", unknown=ignored";

TEST(MPP, ChallengesCredentialsAndTheChargesOrwennaPays) {
  auto all = MPPChallenge::parse(kHeader);
  ASSERT_EQ(all.size(), 2u);
  const MPPChallenge& c = all[0];
  EXPECT_EQ(c.id, "x7Tg2pLqR9mKvNwY3hBcZa");
  EXPECT_EQ(c.realm, "api.example.com");
  EXPECT_EQ(c.method, "example");
  EXPECT_EQ(c.expires.value_or(""), "2025-01-15T12:05:00Z");
  auto request = fromBase64Url(c.request);
  ASSERT_TRUE(request);
  EXPECT_EQ(std::string(request->begin(), request->end()), R"({"amount":"1000","currency":"USD","recipient":"acct_123"})");
  EXPECT_EQ(all[1].realm, "a \"quoted\" realm");
  EXPECT_EQ(mppCredentialHeader(all[1]), "Payment-Authorization");
  EXPECT_EQ(mppCredentialHeader(c), "Authorization");

  // Only tempo charges are paid, and only readable ones.
  EXPECT_EQ(testing::errorOf([&] { (void)MPPCharge::read(c); }),
            "The service asks for a example charge payment; orwenna pays only one-time charges in USDC on Tempo.");
  EXPECT_EQ(testing::errorOf([&] { (void)MPPCharge::read(all[1]); }), "The service's payment request names no amount.");
  MPPChallenge tempo = all[1];
  const std::string json = R"({"amount":"2500","currency":"0x20C000000000000000000000B9537D11C60E8B50",)"
                           R"("methodDetails":{"chainId":4217,"memo":"0x)" + std::string(64, 'a') +
                           R"("},"recipient":"0x742d35Cc6634C0532925a3b844Bc9e7595f8fE00"})";
  tempo.request = toBase64Url(ByteView(reinterpret_cast<const std::uint8_t*>(json.data()), json.size()));
  MPPCharge charge = MPPCharge::read(tempo);
  EXPECT_EQ(charge.amount, UInt256(2500));
  EXPECT_EQ(charge.currency, "0x20c000000000000000000000b9537d11c60e8b50");
  EXPECT_EQ(charge.recipient, "0x742d35cc6634c0532925a3b844bc9e7595f8fe00");
  EXPECT_EQ(charge.memo.value_or(""), "0x" + std::string(64, 'a'));

  // The credential echoes the challenge as it came (optional fields only
  // when present) with a hash proof and the payer.
  const std::string credential = mppCredential(tempo, 4217, "0xabc", "0x" + std::string(64, '1'));
  ASSERT_TRUE(credential.starts_with("Payment "));
  auto decoded = fromBase64Url(credential.substr(8));
  ASSERT_TRUE(decoded);
  Json j = *parseJson(std::string(decoded->begin(), decoded->end()));
  EXPECT_EQ(j["challenge"], (Json{{"id", "abc"}, {"realm", "a \"quoted\" realm"}, {"method", "tempo"},
                                  {"intent", "charge"}, {"request", tempo.request}, {"header", "Payment-Authorization"}}));
  EXPECT_EQ(j["payload"], (Json{{"type", "hash"}, {"hash", "0x" + std::string(64, '1')}}));
  EXPECT_EQ(j["source"], "did:pkh:eip155:4217:0xabc");
}

}  // namespace
}  // namespace orwenna
