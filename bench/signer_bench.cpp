// The cost a trade pays for keeping keys in a separate process: Hyperliquid
// order signatures through the signer's socket with an open session (one
// connection, request and reply per signature, as the executor sends them),
// next to a bare `status` round trip. The real orwenna-signer runs in a
// temporary ORWENNA_HOME with a scripted pinentry that approves the setup.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "base/files.h"
#include "signing/hl_action.h"
#include "signing/signer_client.h"

namespace {

using namespace orwenna;
namespace sr = signer_request;

// Starts the signer once for the whole program, with a wallet imported and a
// 30-minute session opened; stops it at exit.
class BenchSigner {
 public:
  BenchSigner() {
    char pattern[] = "/tmp/orwenna-signer-bench-XXXXXX";
    home_ = ::mkdtemp(pattern);
    std::ofstream(home_ / "script") << "PIN bench passphrase\nPIN bench passphrase\nOK\n";
    ::setenv("ORWENNA_HOME", home_.c_str(), 1);
    ::setenv("ORWENNA_TEST", "1", 1);
    ::setenv("ORWENNA_SIGNER_SCRYPT_LOG2N", "10", 1);
    ::setenv("ORWENNA_PINENTRY", ORWENNA_FAKE_PINENTRY, 1);
    ::setenv("FAKE_PINENTRY_SCRIPT", (home_ / "script").c_str(), 1);
    location_ = SignerLocation{AppPaths::fromEnvironment().runtimeDir / SignerLocation::kSocketName,
                               ORWENNA_SIGNER_PROGRAM};
    SignerClient client(location_);
    must(client.send(sr::ImportMnemonic{
        "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about", "", false}));
    must(client.send(sr::SetSessionLength{30 * 60}));
    must(client.send(sr::SignHyperliquidL1{order(), 1, true}));  // the one approval that opens the session
  }
  ~BenchSigner() {
    if (auto pid = readFile(AppPaths::fromEnvironment().runtimeDir / "signer.lock"); pid && !pid->empty()) {
      ::kill(static_cast<pid_t>(std::stol(*pid)), SIGTERM);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
  }

  static MsgPack order() {
    HLOrder o;
    o.asset = 0;
    o.isBuy = true;
    o.price = Decimal::parse("64231.5");
    o.size = Decimal::parse("0.0123");
    return HLAction::order(std::span(&o, 1), "na");
  }
  const SignerLocation& location() const { return location_; }

 private:
  static void must(const SignerReply& r) {
    if (!r.ok) throw std::runtime_error("signer setup failed: " + r.errorText());
  }
  std::filesystem::path home_;
  SignerLocation location_;
};

BenchSigner& signer() {
  static BenchSigner instance;
  return instance;
}

void BM_SignerOrderWithSession(benchmark::State& state) {
  const MsgPack action = BenchSigner::order();
  std::uint64_t nonce = 1'765'000'000'000ULL;
  for (auto _ : state) {
    SignerClient client(signer().location());
    SignerReply reply = client.send(sr::SignHyperliquidL1{action, nonce++, true});
    if (!reply.ok || !reply.signature) {
      state.SkipWithError(reply.errorText().c_str());
      break;
    }
    benchmark::DoNotOptimize(reply.signature);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SignerOrderWithSession)->UseRealTime();

void BM_SignerStatusRoundTrip(benchmark::State& state) {
  for (auto _ : state) {
    SignerClient client(signer().location());
    benchmark::DoNotOptimize(client.send(sr::Status{}));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SignerStatusRoundTrip)->UseRealTime();

// Many clients at once, each signing orders on its own connection per
// request: throughput across threads, and each thread's median and 99th
// percentile wait. Any refused or unsigned request ends the run with an error.
void BM_SignerConcurrentOrders(benchmark::State& state) {
  const MsgPack action = BenchSigner::order();
  static std::atomic<std::uint64_t> nonce{1'766'000'000'000ULL};
  std::vector<double> micros;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    SignerClient client(signer().location());
    SignerReply reply = client.send(sr::SignHyperliquidL1{action, nonce++, true});
    micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    if (!reply.ok || !reply.signature) {
      state.SkipWithError(reply.errorText().c_str());
      break;
    }
  }
  std::sort(micros.begin(), micros.end());
  auto at = [&](double q) { return micros.empty() ? 0.0 : micros[static_cast<std::size_t>(q * (micros.size() - 1))]; };
  state.counters["p50_us"] = benchmark::Counter(at(0.50), benchmark::Counter::kAvgThreads);
  state.counters["p99_us"] = benchmark::Counter(at(0.99), benchmark::Counter::kAvgThreads);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SignerConcurrentOrders)->Threads(1)->Threads(4)->Threads(16)->UseRealTime();

}  // namespace
