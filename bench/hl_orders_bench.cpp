// One open-position flow's local work — leverage, IOC entry, stop and take,
// partial take: build each action, take a nonce, sign, journal before and
// after (fsync'd), parse the reply — with the exchange answered from memory,
// so only our own cost is measured. Items are orders (actions posted).
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "base/clock.h"
#include "base/http.h"
#include "execution/hl_orders.h"
#include "signing/hl_signer.h"
#include "signing/keccak.h"
#include "signing/secret.h"

namespace {

using namespace orwenna;

class BenchSigner final : public TradeSigner {
 public:
  BenchSigner() : key_(Keccak::hash256(std::string_view("hl orders bench key"))) {}
  EVMSignature signHyperliquidL1(const MsgPack& action, std::uint64_t nonce, bool mainnet) override {
    return HLSigner::signL1(action, key_.span(), nonce, std::nullopt, std::nullopt, mainnet);
  }
  EVMSignature signHyperliquidUser(const MsgPack& action, bool mainnet, const std::vector<std::string>&) override {
    return HLSigner::signUser(action, key_.span(), mainnet);
  }
  Bytes signSolana(const signer_request::SignSolana&) override { return {}; }
  EVMSignature signRelayNonceMapping(const signer_request::SignRelayNonceMapping&) override { return {}; }
  Bytes signEVMTransaction(const signer_request::SignEVMTransaction&) override { return {}; }
  std::string approvalName() const override { return "bench"; }
  Bytes signEVMBatch(const signer_request::SignEVMBatch&) override { return {}; }
  Bytes signNearIntentDeposit(const signer_request::SignNearIntentDeposit&) override { return {}; }
  Bytes signNearTransfer(const signer_request::SignNearTransfer&) override { return {}; }
  Bytes signNearDeleteAccount(const signer_request::SignNearDeleteAccount&) override { return {}; }

 private:
  SecretBytes key_;
};

// Answers as the exchange does: leverage "default", an IOC filled, triggers resting.
class MemoryExchange final : public HttpClient {
 public:
  HttpResponse send(const HttpRequest& request) override {
    HttpResponse r;
    r.status = 200;
    if (request.body.find("\"updateLeverage\"") != std::string::npos) {
      r.body = R"({"status":"ok","response":{"type":"default"}})";
    } else if (request.body.find("\"Ioc\"") != std::string::npos) {
      r.body = R"({"status":"ok","response":{"type":"order","data":{"statuses":[{"filled":{"totalSz":"0.5","avgPx":"2000","oid":1}}]}}})";
    } else {
      r.body = R"({"status":"ok","response":{"type":"order","data":{"statuses":[{"resting":{"oid":2}},{"resting":{"oid":3}}]}}})";
    }
    return r;
  }
  HttpResponse stream(const HttpRequest& request, const LineHandler&) override { return send(request); }
};

struct TempFolder {
  std::filesystem::path path;
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orwenna-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

void BM_HLOpenPositionFlow(benchmark::State& state) {
  TempFolder folder;
  Journal journal(folder.path / "journal.jsonl");
  BenchSigner signer;
  MemoryExchange http;
  HLNonces nonces(SystemClock::shared());
  HLOrders orders({http, SystemClock::shared(), signer, journal, nonces, HLEndpoints{}, true,
                   "0x9858EfFD232B4033E47d90003D41EC34EcaEda94"});
  HLOrders::OpenPlan plan;
  plan.asset = {"ETH", 1, 4, std::nullopt};
  plan.size = Decimal::parse("0.5");
  plan.mid = Decimal::parse("2000");
  plan.leverage = 5;
  plan.stop = Decimal::parse("1900");
  plan.take = Decimal::parse("2200");
  plan.partialTake = Decimal::parse("2100");
  std::int64_t posted = 0;
  for (auto _ : state) {
    HLOrders::OpenResult result = orders.openPosition(plan);
    benchmark::DoNotOptimize(result);
    posted += 4;  // leverage, entry, stop with take, partial take
  }
  state.SetItemsProcessed(posted);
}
// Wall time: the journal's fsyncs are most of the cost and use no CPU.
BENCHMARK(BM_HLOpenPositionFlow)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
