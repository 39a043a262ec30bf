// The execution journal on a real file: creation and modes, which moves are
// open, surviving a line torn by a crash, two processes appending at once,
// and settling bridges against fake Relay and 1Click status routes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "base/files.h"
#include "base/http.h"
#include "execution/bridge_recovery.h"
#include "execution/envelope.h"
#include "execution/journal.h"
#include "fakes/fake_server.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using Kind = Journal::Entry::Kind;
using testing::errorOf;
using testing::TempDir;

constexpr std::int64_t kNow = 1'800'000'000'000;

Journal::Entry entry(std::string chain, std::string id, Kind kind, std::int64_t at = kNow, std::string note = "n") {
  return Journal::Entry{at, std::move(chain), std::move(id), kind, std::move(note)};
}

std::vector<std::string> idsOf(const std::vector<Journal::Entry>& entries) {
  std::vector<std::string> out;
  for (const auto& e : entries) out.push_back(e.chain + ":" + e.id);
  return out;
}

std::string contentsOf(const std::filesystem::path& path) { return readFile(path).value_or("<missing>"); }

TEST(Journal, FirstAppendCreatesAPrivateFileWithOneLine) {
  TempDir dir;
  Journal journal = Journal::inDataFolder(dir.path() / "nested" / "data");
  EXPECT_TRUE(journal.entries().empty());  // a missing file is no entries
  journal.append(entry("hyperliquid", "1733000000000", Kind::signed_, kNow, "entry: buy 0.5 ETH"));
  EXPECT_EQ(fileMode(journal.url()), 0600u);
  EXPECT_EQ(contentsOf(journal.url()),
            R"({"at":"2027-01-15T08:00:00.000Z","chain":"hyperliquid","id":"1733000000000","kind":"signed","note":"entry: buy 0.5 ETH"})"
            "\n");
  ASSERT_EQ(journal.entries().size(), 1u);
  EXPECT_EQ(journal.entries()[0], entry("hyperliquid", "1733000000000", Kind::signed_, kNow, "entry: buy 0.5 ETH"));
  // Milliseconds survive the file (they once were cut to whole seconds).
  journal.append(entry("solana", "5VER", Kind::signed_, kNow + 2, "send 1 SOL"));
  EXPECT_EQ(journal.entries().at(1).at, kNow + 2);
}

TEST(Journal, TheLastEntryOfEachChainAndIdDecides) {
  TempDir dir;
  Journal journal(dir.path() / "journal.jsonl");
  journal.append(entry("hyperliquid", "1", Kind::signed_));
  journal.append(entry("hyperliquid", "1", Kind::confirmed));
  journal.append(entry("solana", "sig", Kind::signed_));
  journal.append(entry("base", "0xh", Kind::signed_));
  journal.append(entry("base", "0xh", Kind::failed));
  journal.append(entry("hyperliquid", "1", Kind::signed_));  // a second attempt under the same id reopens it
  // The same id on another chain is another move.
  journal.append(entry("solana", "7", Kind::signed_));
  journal.append(entry("hyperliquid", "7", Kind::confirmed));
  EXPECT_EQ(idsOf(journal.open()), (std::vector<std::string>{"solana:sig", "hyperliquid:1", "solana:7"}));
}

TEST(Journal, ATornLineIsSkippedAndTheNextAppendStartsAfresh) {
  TempDir dir;
  Journal journal(dir.path() / "journal.jsonl");
  journal.append(entry("relay", "0xr", Kind::signed_));
  // kill -9 in the middle of the next write: half a line, no line feed.
  {
    std::ofstream out(journal.url(), std::ios::app);
    out << R"({"at":"2027-01-15T08:00:00Z","chain":"hyperliquid","id":"9","ki)";
  }
  auto contents = journal.read();
  EXPECT_EQ(contents.skippedLines, 1u);
  EXPECT_EQ(idsOf(journal.open()), std::vector<std::string>{"relay:0xr"});

  journal.append(entry("hyperliquid", "10", Kind::signed_));
  contents = journal.read();
  EXPECT_EQ(contents.skippedLines, 1u);
  EXPECT_EQ(idsOf(contents.entries), (std::vector<std::string>{"relay:0xr", "hyperliquid:10"}));

  // Lines that are JSON but not entries count as unreadable too; blank lines don't.
  {
    std::ofstream out(journal.url(), std::ios::app);
    out << "\n" << R"({"at":"yesterday","chain":"x","id":"1","kind":"signed","note":""})" << "\n"
        << R"({"at":"2027-01-15T08:00:00Z","chain":"x","id":"1","kind":"done","note":""})" << "\n";
  }
  EXPECT_EQ(journal.read().skippedLines, 3u);
}

TEST(Journal, AnAppendThatCannotBeWrittenThrows) {
  TempDir dir;
  std::filesystem::create_directories(dir.path() / "journal.jsonl");  // a folder where the file should be
  Journal journal(dir.path() / "journal.jsonl");
  EXPECT_EQ(errorOf([&] { journal.append(entry("solana", "s", Kind::signed_)); })
                .rfind("The journal " + journal.url().string() + " couldn't be written: opening", 0),
            0u);
}

TEST(Journal, TwoProcessesAppendingAtOnceLeaveWholeLines) {
  TempDir dir;
  Journal journal(dir.path() / "journal.jsonl");
  constexpr int kPerProcess = 150;
  // A long note makes each write big enough to tear if the lock were missing.
  const std::string note(3000, 'x');
  std::vector<pid_t> children;
  for (int child = 0; child < 2; ++child) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0; i < kPerProcess; ++i) {
        Journal(journal.url()).append(entry("p" + std::to_string(child), std::to_string(i), Kind::signed_, kNow, note));
      }
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto contents = journal.read();
  EXPECT_EQ(contents.skippedLines, 0u);
  ASSERT_EQ(contents.entries.size(), 2u * kPerProcess);
  for (const auto& e : contents.entries) EXPECT_EQ(e.note, note);
}

// ---- bridges -----------------------------------------------------------------

class BridgeRecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    relay_.on("GET", "/intents/status/v3", [this](const testing::RecordedRequest& r) {
      auto it = relayStatus_.find(r.query.substr(std::string("requestId=").size()));
      if (it == relayStatus_.end()) return testing::FakeResponse::json(R"({"message":"not found"})", 404);
      return testing::FakeResponse::json(R"({"status":")" + it->second + R"(","inTxHashes":[]})");
    });
    oneClick_.on("GET", "/v0/status", [this](const testing::RecordedRequest& r) {
      auto it = oneClickStatus_.find(r.query.substr(std::string("depositAddress=").size()));
      if (it == oneClickStatus_.end()) return testing::FakeResponse::text("<html>502</html>", 502);
      return testing::FakeResponse::json(R"({"status":")" + it->second + R"(","swapDetails":{}})");
    });
  }

  TempDir dir_;
  Journal journal_{dir_.path() / "journal.jsonl"};
  testing::FakeServer relay_;
  testing::FakeServer oneClick_;
  std::map<std::string, std::string> relayStatus_;
  std::map<std::string, std::string> oneClickStatus_;
};

TEST_F(BridgeRecoveryTest, AppendsOutcomesByTheTableAndLeavesTheRestOpen) {
  const std::int64_t minute = 60'000;
  journal_.append(entry("relay", "0xdone", Kind::signed_, kNow - 10 * minute, "Bridge 100 USDC"));
  journal_.append(entry("relay", "0xrefund", Kind::signed_, kNow - 10 * minute));
  journal_.append(entry("relay", "0xwaiting", Kind::signed_, kNow - 10 * minute));
  journal_.append(entry("relay", "0xyoung", Kind::signed_, kNow - 1 * minute));  // still followed by its move
  journal_.append(entry("relay", "0xold", Kind::signed_, kNow - 2 * 24 * 60 * minute));  // past the window
  journal_.append(entry("1click", "dep1", Kind::signed_, kNow - 10 * minute));
  journal_.append(entry("1click", "dep2", Kind::signed_, kNow - 10 * minute));
  journal_.append(entry("1click", "dep3", Kind::signed_, kNow - 70 * minute, "Receive: 50 USDC"));
  journal_.append(entry("1click", "dep4", Kind::signed_, kNow - 60 * minute, "Receive: 50 USDC"));  // not yet expired
  journal_.append(entry("1click", "dep5", Kind::signed_, kNow - 70 * minute, "Send 50 USDC"));  // not a receive
  journal_.append(entry("1click", "broken", Kind::signed_, kNow - 10 * minute));
  journal_.append(entry("cctp", "0xc", Kind::signed_, kNow - 10 * minute));
  journal_.append(entry("solana", "sig", Kind::signed_, kNow - 10 * minute));
  relayStatus_ = {{"0xdone", "success"}, {"0xrefund", "refund"}, {"0xwaiting", "pending"},
                  {"0xyoung", "success"}, {"0xold", "success"}};
  oneClickStatus_ = {{"dep1", "SUCCESS"}, {"dep2", "REFUNDED"}, {"dep3", "PENDING_DEPOSIT"},
                     {"dep4", "PENDING_DEPOSIT"}, {"dep5", "PENDING_DEPOSIT"}};

  HttpBridgeStatus source(CurlHttpClient::shared(), relay_.url(), oneClick_.url());
  auto result = BridgeRecovery::run(journal_, source, kNow);

  std::vector<std::string> outcomes;
  for (const auto& e : result.appended) {
    outcomes.push_back(e.chain + ":" + e.id + ":" + std::string(Journal::kindName(e.kind)) + ":" + e.note);
  }
  EXPECT_EQ(outcomes, (std::vector<std::string>{
                          "relay:0xdone:settled:Relay delivered (seen later)",
                          "relay:0xrefund:failed:Relay refunded (seen later)",
                          "1click:dep1:settled:1Click delivered (seen later)",
                          "1click:dep2:failed:1Click ended REFUNDED (seen later)",
                          "1click:dep3:expired:The deposit never arrived (seen later)",
                      }));
  ASSERT_EQ(result.unreadable.size(), 1u);
  EXPECT_EQ(result.unreadable[0], "1click broken: 1Click answered HTTP 502.");
  // Only entries in the window and past two minutes were asked about.
  EXPECT_EQ(relay_.requestCount(), 3u);
  EXPECT_EQ(oneClick_.requestCount(), 6u);
  EXPECT_EQ(idsOf(journal_.open()),
            (std::vector<std::string>{"relay:0xwaiting", "relay:0xyoung", "relay:0xold", "1click:dep4", "1click:dep5",
                                      "1click:broken", "cctp:0xc", "solana:sig"}));
  // A second pass finds nothing new to append.
  EXPECT_TRUE(BridgeRecovery::run(journal_, source, kNow).appended.empty());
}

// ---- envelope ------------------------------------------------------------------

TEST(Envelope, ViolationsInTheirOrder) {
  Envelope envelope{Decimal::parse("100"), Decimal::parse("99.5"), std::string("0xAbC"), kNow};
  EXPECT_TRUE(envelope.violations(kNow, Decimal::parse("100"), Decimal::parse("99.5"), std::string("0xAbC")).empty());
  EXPECT_EQ(envelope.violations(kNow + 1, Decimal::parse("100.01"), Decimal::parse("99.49"), std::string("0xabc")),
            (std::vector<std::string>{
                "The confirmation expired.",
                "Needs to send 100.01, but at most 100 was approved.",
                "99.49 would arrive, but at least 99.5 was approved.",
                "Recipient address 0xabc doesn't match the approved 0xAbC.",
            }));
  Envelope open{Decimal::parse("1"), Decimal::parse("0"), std::nullopt, kNow};
  EXPECT_TRUE(open.violations(kNow, Decimal::parse("1"), Decimal::parse("0"), std::string("anyone")).empty());

  auto back = Envelope::fromJson(envelope.toJson());
  EXPECT_EQ(back.toJson(), envelope.toJson());
  EXPECT_EQ(envelope.toJson().dump(),
            R"({"maxInput":"100","minOutput":"99.5","destination":"0xAbC","expires":"2027-01-15T08:00:00Z"})");
}

}  // namespace
}  // namespace orwenna
