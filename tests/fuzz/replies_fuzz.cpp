// What the nodes, the exchange and the bridge and swap services answer: the
// first byte picks a read, the second the HTTP status, the rest is the body
// every request gets. A reply the reader does not expect is refused in the
// system's words (an `Error`); anything else escaping is a crash.
#include <array>
#include <string>

#include "chains/evm_rpc.h"
#include "chains/near_rpc.h"
#include "chains/solana_rpc.h"
#include "defi/jupiter.h"
#include "defi/one_click.h"
#include "defi/relay.h"
#include "execution/hl_reply.h"
#include "fuzz_check.h"
#include "hyperliquid/account.h"
#include "hyperliquid/history.h"
#include "hyperliquid/info.h"

namespace {

using namespace orwenna;

// Every request gets the same answer; lines and chunks come from its body.
class ReplyHttp final : public HttpClient {
 public:
  int status = 200;
  std::string body;
  HttpResponse send(const HttpRequest&) override { return HttpResponse{status, {}, body}; }
  HttpResponse stream(const HttpRequest& request, const LineHandler& onLine) override {
    HttpResponse response = send(request);
    if (!response.ok()) return response;
    std::string_view rest = body;
    while (!rest.empty()) {
      const auto end = rest.find('\n');
      if (!onLine(rest.substr(0, end))) break;
      rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    }
    response.body.clear();
    return response;
  }
};

// Retries and polls wait on this clock: time moves on without sleeping.
class SkipClock final : public Clock {
 public:
  std::int64_t nowMillis() const override { return 1'800'000'000'000 + now_; }
  std::int64_t monotonicMillis() const override { return now_; }
  void sleepFor(std::int64_t millis) override { now_ += millis > 0 ? millis : 1; }

 private:
  std::int64_t now_ = 0;
};

constexpr const char* kEvm = "0x1111111111111111111111111111111111111111";
constexpr const char* kSol = "11111111111111111111111111111111";

void readOne(unsigned pick, ReplyHttp& http, SkipClock& clock) {
  const Hyperliquid::InfoApi info{http, clock, "http://127.0.0.1:1"};
  auto solana = SolanaRPC::pinnedTo(http, clock, "http://127.0.0.1:1");
  EVMRPC evm(http, clock, "http://127.0.0.1:1", 8453);
  NearRPC near(http, "http://127.0.0.1:1");
  switch (pick % 30) {
    case 0: (void)HLReply::parse(http.status, http.body); break;
    case 1: (void)Hyperliquid::loadMarketTable(info); break;
    case 2: (void)Hyperliquid::balance(info, kEvm); break;
    case 3: (void)Hyperliquid::candles(info, "BTC", ChartRange::day); break;
    case 4: (void)HyperliquidAccount::positions(info, kEvm); break;
    case 5: (void)HyperliquidAccount::openOrders(info, kEvm); break;
    case 6: (void)HyperliquidAccount::spotBalances(info, kEvm); break;
    case 7: (void)HyperliquidAccount::mids(info); break;
    case 8: (void)HyperliquidAccount::spotMeta(info); break;
    case 9: (void)HyperliquidHistory::fills(info, kEvm, 0); break;
    case 10: (void)HyperliquidHistory::funding(info, kEvm, 0); break;
    case 11: (void)HyperliquidHistory::accountValue(info, kEvm); break;
    case 12: (void)solana.balance(kSol); break;
    case 13: (void)solana.holdings(kSol); break;
    case 14: (void)solana.latestBlockhash(); break;
    case 15: (void)solana.accountInfo(kSol); break;
    case 16: (void)solana.lookupTables({kSol}); break;
    case 17: (void)SolanaSimulation::read(solana.simulate(Bytes(3, 0), false, {kSol}), {kSol}); break;
    case 18: (void)evm.balance(kEvm); break;
    case 19: (void)evm.fees(); break;
    case 20: (void)evm.nonce(kEvm); break;
    case 21: (void)evm.receipt("0x" + std::string(64, 'a')); break;
    case 22: (void)evm.simulate({EVMRPC::CallRequest{kEvm, kEvm, {}, {}}}); break;
    case 23: (void)evm.ethCall(kEvm, Bytes{0x31, 0x3c, 0xe5, 0x67}); break;
    case 24: (void)near.account("alice.near"); break;
    case 25: (void)near.latestBlock(); break;
    case 26: (void)near.wrappedBalance("alice.near"); break;
    case 27: (void)OneClick(http, "http://127.0.0.1:1", std::nullopt).status("deposit"); break;
    case 28: (void)Jupiter::readQuote(http.body); break;
    case 29: (void)RelayClient(http, "http://127.0.0.1:1").quoteSolanaToHyperliquid(kSol, kEvm, Decimal(5)); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static constexpr std::array<int, 8> kStatuses{200, 200, 200, 200, 400, 429, 500, 503};
  ReplyHttp http;
  SkipClock clock;
  http.status = kStatuses[data[1] % kStatuses.size()];
  http.body = std::string(fuzz::text(data + 2, size - 2));
  (void)fuzz::refusedOrDone([&] { readOne(data[0], http, clock); });
  return 0;
}
