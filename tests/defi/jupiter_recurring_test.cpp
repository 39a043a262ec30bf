// Jupiter's recurring-order client against a fake of its API: the create
// body as documented, the service's error in its own words, and the listing
// read page by page but never beyond the fifth.
#include <gtest/gtest.h>

#include "base/http.h"
#include "defi/jupiter_recurring.h"
#include "fakes/fake_server.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::errorOf;
using testing::FakeResponse;
using testing::FakeServer;
using testing::RecordedRequest;

TEST(JupiterRecurring, CreateCancelAndAListingThatStopsAtFivePages) {
  FakeServer server;
  server.on("POST", "/createOrder", [](const RecordedRequest& r) {
    if (parseJson(r.body)->at("params").at("time").at("inAmount") == 1) {
      return FakeResponse::json(R"({"error":"Order is below the minimum of 100 USDC"})", 400);
    }
    return FakeResponse::json(R"({"requestId":"req-1","transaction":"AQID"})");
  });
  server.on("POST", "/cancelOrder", [](const RecordedRequest&) {
    return FakeResponse::text("<html><body>Bad gateway</body></html>", 502);
  });
  server.on("GET", "/getRecurringOrders", [](const RecordedRequest&) {
    return FakeResponse::json(R"({"totalPages":9,"time":[{"orderKey":"K1","inputMint":"in","outputMint":"out",)"
                              R"("inDeposited":"100","inUsed":"50","inAmountPerCycle":"25","cycleFrequency":"86400",)"
                              R"("outReceived":"3.5","createdAt":"2027-01-01T00:00:00Z","trades":[{},{}]}]})");
  });
  JupiterRecurring jupiter(CurlHttpClient::shared(), server.url());

  auto created = jupiter.create("ME", "in", "out", 100'000'000, 4, 86400);
  EXPECT_EQ(created.requestId, "req-1");
  EXPECT_EQ(created.transaction, (Bytes{1, 2, 3}));
  EXPECT_EQ(*parseJson(server.requests().at(0).body),
            Json({{"user", "ME"}, {"inputMint", "in"}, {"outputMint", "out"},
                  {"params", {{"time", {{"inAmount", 100'000'000}, {"numberOfOrders", 4}, {"interval", 86400},
                                        {"minPrice", nullptr}, {"maxPrice", nullptr}, {"startAt", nullptr}}}}}}));
  EXPECT_EQ(errorOf([&] { (void)jupiter.create("ME", "in", "out", 1, 2, 60); }),
            "Jupiter: Order is below the minimum of 100 USDC");
  EXPECT_EQ(errorOf([&] { (void)jupiter.cancel("ME", "K1"); }), "Jupiter: <html><body>Bad gateway</body></html>");

  auto orders = jupiter.orders("ME");
  ASSERT_EQ(orders.size(), 5u);  // one per page, five pages of nine
  EXPECT_EQ(orders[0].key, "K1");
  EXPECT_EQ(orders[0].every, 86400);
  EXPECT_EQ(orders[0].fills, 2u);
  EXPECT_EQ(orders[0].received, Decimal::parse("3.5"));
  const auto requests = server.requests();
  EXPECT_NE(requests.back().query.find("page=5"), std::string::npos);
  EXPECT_NE(requests.back().query.find("orderStatus=active&recurringType=time&includeFailedTx=false"),
            std::string::npos);
}

}  // namespace
}  // namespace orwenna
