// One chat turn's own work with a model that answers at once: the road's
// local checks, the context the router gets, reading the answer, the command
// parsed, the plan sized and checked, its blocks built, replies and the log
// written into the state and handed to the writer. The goal is well under
// 1 ms a turn.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>

#include "app/workspace.h"
#include "base/clock.h"

namespace {

using namespace orwenna;

// The app thread is the benchmark's own: posted tasks wait here until drained.
class BenchLoop final : public TaskPoster {
 public:
  void post(Task task) override {
    {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
  }
  // Runs posted tasks until `done` holds with nothing left to run.
  template <class Done>
  void drain(Done done) {
    for (;;) {
      Task task;
      {
        std::unique_lock lock(mutex_);
        if (tasks_.empty() && done()) return;
        wake_.wait(lock, [this] { return !tasks_.empty(); });
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> tasks_;
};

Market market(const char* name, const char* mark, int sz, int lev) {
  Market m;
  m.name = name;
  m.markPx = Decimal::parse(mark);
  m.szDecimals = sz;
  m.maxLeverage = lev;
  m.prevDayPx = Decimal::parse(mark);
  m.atrPct = Decimal::parse("1.8");
  m.volume24h = Decimal::parse("900000000");
  return m;
}

struct Bench {
  Bench() {
    auto table = std::make_shared<MarketTable>();
    table->merge({{"BTC", market("BTC", "91012", 5, 40)}, {"ETH", market("ETH", "3001.5", 4, 25)},
                  {"SOL", market("SOL", "142.5", 2, 20)}});
    markets = table;
    restart();
  }
  ~Bench() {
    ws.reset();
    std::filesystem::remove_all(dir);
  }
  void restart() {
    ws.reset();
    std::filesystem::remove_all(dir);
    Workspace::Services s(SystemClock::shared(), SecureRandom::shared(), loop, dir);
    s.ask = [](const std::vector<LLMMessage>&, bool, const PartialText& onText) {
      std::string answer = R"({"route":"command","command":"long BTC risk $25 stop 2% take 3R leverage 5x"})";
      if (onText) onText(answer);
      return answer;
    };
    s.modelName = "instant";
    s.lookup = [](const std::string&, const std::string&) { return std::string(); };
    s.markets = [m = markets] { return m; };
    s.modelSecondReader = false;
    ws = std::make_unique<Workspace>(std::move(s));
  }
  void turn(const std::string& text) {
    ws->send(text, MessageSource::composer);
    loop.drain([this] { return ws->idle(); });
  }

  std::filesystem::path dir = std::filesystem::temp_directory_path() / "orwenna-workspace-bench";
  std::shared_ptr<const MarketTable> markets;
  BenchLoop loop;
  std::unique_ptr<Workspace> ws;
};

// The whole turn, the model's thread included.
void BM_TurnWithInstantModel(benchmark::State& state) {
  Bench b;
  int n = 0;
  for (auto _ : state) {
    b.turn("long btc, risk 25, stop 2%, take 3R, 5x");
    if (++n % 64 == 0) {
      // Keep the canvas the size of a real conversation.
      state.PauseTiming();
      b.restart();
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_TurnWithInstantModel)->Unit(benchmark::kMicrosecond);

// A turn the local road answers alone (a typed yes with nothing waiting).
void BM_LocalTurn(benchmark::State& state) {
  Bench b;
  int n = 0;
  for (auto _ : state) {
    b.turn("yes");
    if (++n % 64 == 0) {
      state.PauseTiming();
      b.restart();
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_LocalTurn)->Unit(benchmark::kMicrosecond);

// The router's context over a canvas of 40 messages with a plan on it.
void BM_Context(benchmark::State& state) {
  Bench b;
  for (int i = 0; i < 20; ++i) b.turn("long btc, risk 25, stop 2%, take 3R, 5x");
  for (auto _ : state) benchmark::DoNotOptimize(b.ws->context());
}
BENCHMARK(BM_Context)->Unit(benchmark::kMicrosecond);

}  // namespace
