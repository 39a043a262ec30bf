// Reading the exchange's replies, and the nonce allocator's floor.
#include "execution/hl_reply.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

#include "execution/hl_nonces.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using ReplyKind = HLReply::Kind;

TEST(HLReply, FollowsTheExchangesRulesAndKeepsEachOrdersStatus) {
  HLReply onlyError = HLReply::parse(R"({"status":"ok","response":{"type":"order","data":{"statuses":[
      {"error":"Order must have minimum value of $10."}]}}})");
  EXPECT_EQ(onlyError.kind, ReplyKind::error);
  EXPECT_EQ(onlyError.text(), "Order must have minimum value of $10.");

  HLReply filled = HLReply::parse(R"({"status":"ok","response":{"type":"order","data":{"statuses":[
      {"filled":{"totalSz":"0.02","avgPx":"1891.4","oid":77738308}}]}}})");
  EXPECT_EQ(filled.kind, ReplyKind::filled);
  EXPECT_EQ(filled.size, Decimal::parse("0.02"));
  EXPECT_EQ(filled.avgPx, Decimal::parse("1891.4"));
  EXPECT_EQ(filled.text(), "filled 0.02 at 1891.4");
  EXPECT_EQ(filled.statuses.at(0).oid, 77738308u);

  HLReply refused = HLReply::parse(R"({"status":"err","response":"User or API Wallet 0x12 does not exist."})");
  EXPECT_EQ(refused.kind, ReplyKind::error);
  EXPECT_EQ(refused.text(), "User or API Wallet 0x12 does not exist.");
  EXPECT_FALSE(refused.unclear);

  // An error anywhere wins, while the resting stop stays visible on its own.
  HLReply mixed = HLReply::parse(R"({"status":"ok","response":{"type":"order","data":{"statuses":[
      {"resting":{"oid":5}},{"error":"Invalid TP/SL price."}]}}})");
  EXPECT_EQ(mixed.kind, ReplyKind::error);
  EXPECT_EQ(mixed.message, "Invalid TP/SL price.");
  ASSERT_EQ(mixed.statuses.size(), 2u);
  EXPECT_EQ(mixed.statuses[0].kind, HLOrderStatus::Kind::resting);
  EXPECT_EQ(mixed.statuses[0].oid, 5u);
  EXPECT_TRUE(mixed.statuses[1].failed());

  EXPECT_EQ(HLReply::parse(R"({"status":"ok","response":{"type":"default"}})").text(), "ok");
  EXPECT_EQ(HLReply::parse(R"({"status":"ok","response":{"type":"cancel","data":{"statuses":["success"]}}})").kind,
            ReplyKind::ok);
  EXPECT_EQ(HLReply::parse(R"({"status":"ok","response":{"type":"order","data":{"statuses":[{"resting":{"oid":9}}]}}})")
                .text(),
            "resting on the book");
}

TEST(HLReply, AGatewayPageOrA5xxLeavesTheOutcomeUnclear) {
  HLReply page = HLReply::parse(502, "<html><body><h1>502 Bad Gateway</h1></body></html>");
  EXPECT_EQ(page.kind, ReplyKind::error);
  EXPECT_TRUE(page.unclear);
  EXPECT_EQ(page.text(), "<html><body><h1>502 Bad Gateway</h1></body></html>");
  EXPECT_TRUE(HLReply::parse(503, R"({"status":"err","response":"busy"})").unclear);
  EXPECT_TRUE(HLReply::parse(200, "[1,2]").unclear);
}

TEST(HLNonces, StrictlyIncreaseWithinAMillisecondAndStartAboveTheJournal) {
  testing::FixedClock clock(1'800'000'000'000);
  HLNonces nonces(clock);
  EXPECT_EQ(nonces.next(), 1'800'000'000'000u);
  EXPECT_EQ(nonces.next(), 1'800'000'000'001u);
  clock.sleepFor(5);
  EXPECT_EQ(nonces.next(), 1'800'000'000'005u);

  testing::TempDir dir;
  Journal journal(dir.path() / "journal.jsonl");
  EXPECT_EQ(HLNonces::highestIn(journal), 0u);  // no file yet
  journal.append({1, "hyperliquid", "1800000000900", Journal::Entry::Kind::signed_, "entry"});
  journal.append({1, "solana", "1900000000000", Journal::Entry::Kind::signed_, "swap"});
  journal.append({1, "hyperliquid", "1800000000400", Journal::Entry::Kind::confirmed, "ok"});
  journal.append({1, "hyperliquid", "not-a-nonce", Journal::Entry::Kind::signed_, "x"});
  HLNonces restarted(clock, HLNonces::highestIn(journal));
  EXPECT_EQ(restarted.next(), 1'800'000'000'901u);  // the clock is behind the journal's floor
}

// The guardian, the executor and the page's moves take nonces from one source
// at once: under contention every nonce is unique, and each taker sees its own
// strictly increase.
TEST(HLNonces, UniqueAndIncreasingUnderConcurrentTakers) {
  testing::FixedClock clock(1'800'000'000'000);
  HLNonces nonces(clock);
  constexpr int kThreads = 8, kEach = 2000;
  std::vector<std::vector<std::uint64_t>> taken(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        taken[static_cast<std::size_t>(t)].push_back(nonces.next());
        if (i % 500 == 0) clock.sleepFor(1);
      }
    });
  }
  for (auto& th : threads) th.join();
  std::set<std::uint64_t> all;
  for (const auto& mine : taken) {
    EXPECT_TRUE(std::is_sorted(mine.begin(), mine.end()) && std::adjacent_find(mine.begin(), mine.end()) == mine.end());
    all.insert(mine.begin(), mine.end());
  }
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
  EXPECT_EQ(nonces.last(), *all.rbegin());
}

}  // namespace
}  // namespace orwenna
