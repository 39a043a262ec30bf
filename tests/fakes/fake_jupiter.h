// A fake of Jupiter's swap API on 127.0.0.1: /quote answers with the route of
// the first pool whose venue is not excluded, /swap builds the transaction
// for that quote against a FakeSolanaLedger's node (its blockhash, the pool's token
// accounts, the fake Jupiter program), so what lands is what the ledger
// applies. Thread-safe where the server calls in.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/json.h"
#include "chains/solana_rpc.h"
#include "chains/solana_transaction.h"
#include "chains/spl.h"
#include "fakes/fake_ledgers.h"
#include "fakes/fake_server.h"

namespace orwenna::testing {

class FakeJupiter {
 public:
  struct Pool {
    std::string venue;
    std::string owner;     // holds the pool's token accounts
    std::uint64_t out = 0;  // what the quote promises for the asked amount
    std::uint64_t minOut = 0;
    std::uint64_t delivers = 0;  // what the transaction takes from the pool
    std::size_t padding = 0;     // bytes added to the transaction (to exceed the size limit)
  };

  explicit FakeJupiter(const SolanaRPC& rpc) : rpc_(rpc) {
    server_.on("GET", "/quote", [this](const RecordedRequest& r) { return quote(r); });
    server_.on("POST", "/swap", [this](const RecordedRequest& r) { return swap(r); });
  }

  void addPool(Pool pool) {
    std::lock_guard lock(mutex_);
    pools_.push_back(std::move(pool));
  }
  std::string url() const { return server_.url(); }
  std::vector<RecordedRequest> requests() const { return server_.requests(); }

 private:
  static std::string param(const std::string& query, const std::string& name) {
    const std::string key = name + "=";
    for (std::size_t at = 0; at <= query.size();) {
      std::size_t end = query.find('&', at);
      if (end == std::string::npos) end = query.size();
      if (query.compare(at, key.size(), key) == 0) return query.substr(at + key.size(), end - at - key.size());
      at = end + 1;
    }
    return {};
  }

  FakeResponse quote(const RecordedRequest& r) {
    std::lock_guard lock(mutex_);
    const std::string excluded = param(r.query, "excludeDexes");
    for (std::size_t i = 0; i < pools_.size(); ++i) {
      const Pool& p = pools_[i];
      if (excluded.find(p.venue) != std::string::npos) continue;
      // Numbers in an order of our own, so a re-serialized quote would differ.
      std::string body = R"({"inputMint":")" + param(r.query, "inputMint") + R"(","inAmount":")" +
                         param(r.query, "amount") + R"(","outputMint":")" + param(r.query, "outputMint") +
                         R"(","outAmount":")" + std::to_string(p.out) + R"(","otherAmountThreshold":")" +
                         std::to_string(p.minOut) + R"(","priceImpactPct":0.10,"pool":)" + std::to_string(i) +
                         R"(,"routePlan":[{"swapInfo":{"label":")" + p.venue + R"("},"percent":100}]})";
      return FakeResponse::json(body);
    }
    return FakeResponse::json(R"({"error":"No routes found"})", 400);
  }

  FakeResponse swap(const RecordedRequest& r) {
    std::lock_guard lock(mutex_);
    Json body = Json::parse(r.body);
    const Json& q = body.at("quoteResponse");
    const Pool& p = pools_.at(q.at("pool").get<std::size_t>());
    const std::string user = body.at("userPublicKey");
    const std::string in = q.at("inputMint"), out = q.at("outputMint");
    const std::string token(SolanaPrograms::kToken);
    Bytes data{0xE5};
    auto le = [&](std::uint64_t v) {
      for (int k = 0; k < 8; ++k) data.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    };
    le(std::stoull(q.at("inAmount").get<std::string>()));
    le(p.delivers);
    SolanaInstruction ix{std::string(FakeSolanaLedger::kFakeJupiterProgram),
                         {{user, true, true},
                          {SPL::associatedTokenAddress(user, in, token), false, true},
                          {SPL::associatedTokenAddress(user, out, token), false, true},
                          {SPL::associatedTokenAddress(p.owner, in, token), false, true},
                          {SPL::associatedTokenAddress(p.owner, out, token), false, true}},
                         data};
    auto latest = rpc_.latestBlockhash();
    auto built = SolanaTransaction::build({ix}, user, latest.blockhash, 1000);
    // Only the size of an oversized route matters: it must never be parsed.
    built.transaction.resize(built.transaction.size() + p.padding);
    return FakeResponse::json(Json{{"swapTransaction", toBase64(built.transaction)},
                                   {"lastValidBlockHeight", latest.lastValidBlockHeight}}
                                  .dump());
  }

  const SolanaRPC& rpc_;
  FakeServer server_;
  std::mutex mutex_;
  std::vector<Pool> pools_;
};

}  // namespace orwenna::testing
