// What a burst of orders pays for the journal: one durable append (open,
// flock, write, fsync, close) per signed action, and reading the journal back
// to find the open moves as the app does at start.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>

#include "execution/journal.h"

namespace {

std::filesystem::path freshFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orwenna-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

void BM_JournalAppendWithFsync(benchmark::State& state) {
  auto folder = freshFolder();
  orwenna::Journal journal(folder / "journal.jsonl");
  std::uint64_t nonce = 1'733'000'000'000;
  for (auto _ : state) {
    journal.append({1'800'000'000'000, "hyperliquid", std::to_string(nonce++), orwenna::Journal::Entry::Kind::signed_,
                    "entry: buy 0.5 ETH at 3012.4 (IOC)"});
  }
  state.counters["appends/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_JournalAppendWithFsync)->UseRealTime();

void BM_JournalOpenOf10000(benchmark::State& state) {
  auto folder = freshFolder();
  orwenna::Journal journal(folder / "journal.jsonl");
  std::string lines;
  for (int i = 0; i < 10000; ++i) {
    auto kind = i % 2 ? orwenna::Journal::Entry::Kind::confirmed : orwenna::Journal::Entry::Kind::signed_;
    lines += orwenna::Journal::Entry{1'800'000'000'000, "hyperliquid", std::to_string(i / 2), kind, "entry"}
                 .toJson()
                 .dump() +
             "\n";
  }
  {
    FILE* f = std::fopen(journal.url().c_str(), "w");
    std::fwrite(lines.data(), 1, lines.size(), f);
    std::fclose(f);
  }
  for (auto _ : state) benchmark::DoNotOptimize(journal.open());
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_JournalOpenOf10000)->Unit(benchmark::kMillisecond);

}  // namespace
