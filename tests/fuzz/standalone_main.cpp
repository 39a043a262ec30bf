// The smoke driver: without libFuzzer (the GCC test build) a fuzz target runs
// every file of its seed folders, then a fixed number of inputs mutated from
// them by a seeded generator, so each run is the same and takes moments.
// `make fuzz` links the same targets with libFuzzer instead.
#include <csignal>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

struct SplitMix {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(next() % n); }
};

const std::vector<std::uint8_t>* current = nullptr;

// A failed property or a sanitizer report aborts: the input goes to stderr in
// hex first, so the run can be repeated from it.
void onAbort(int) {
  static const char kHex[] = "0123456789abcdef";
  const char head[] = "\nfailing input (hex): ";
  (void)!write(2, head, sizeof head - 1);
  if (current) {
    for (std::uint8_t b : *current) {
      const char pair[2] = {kHex[b >> 4], kHex[b & 15]};
      (void)!write(2, pair, 2);
    }
  }
  (void)!write(2, "\n", 1);
  std::signal(SIGABRT, SIG_DFL);
  std::raise(SIGABRT);
}

void run(const std::vector<std::uint8_t>& input) {
  // A copy of exactly the input's size, so a read past the end is caught.
  std::vector<std::uint8_t> copy(input);
  current = &copy;
  LLVMFuzzerTestOneInput(copy.empty() ? nullptr : copy.data(), copy.size());
}

std::vector<std::uint8_t> mutate(std::vector<std::uint8_t> in, const std::vector<std::vector<std::uint8_t>>& seeds,
                                 SplitMix& rng) {
  static const std::uint8_t kInteresting[] = {0, 1, 0x7f, 0x80, 0xff, '"', '{', '}', '[', ']', ',', ':', ' ', '0', '9'};
  const int steps = 1 + static_cast<int>(rng.below(4));
  for (int s = 0; s < steps; ++s) {
    switch (rng.below(7)) {
      case 0:  // flip a bit
        if (!in.empty()) in[rng.below(in.size())] ^= static_cast<std::uint8_t>(1u << rng.below(8));
        break;
      case 1:  // an interesting byte
        if (!in.empty()) in[rng.below(in.size())] = kInteresting[rng.below(sizeof kInteresting)];
        break;
      case 2:  // insert
        in.insert(in.begin() + static_cast<std::ptrdiff_t>(rng.below(in.size() + 1)),
                  static_cast<std::uint8_t>(rng.next()));
        break;
      case 3:  // delete a range
        if (!in.empty()) {
          const std::size_t at = rng.below(in.size());
          const std::size_t n = 1 + rng.below(std::min<std::size_t>(16, in.size() - at));
          in.erase(in.begin() + static_cast<std::ptrdiff_t>(at), in.begin() + static_cast<std::ptrdiff_t>(at + n));
        }
        break;
      case 4:  // truncate
        in.resize(rng.below(in.size() + 1));
        break;
      case 5: {  // splice another seed in
        const auto& other = seeds[rng.below(seeds.size())];
        if (!other.empty()) {
          const std::size_t from = rng.below(other.size());
          const std::size_t n = 1 + rng.below(other.size() - from);
          in.insert(in.begin() + static_cast<std::ptrdiff_t>(rng.below(in.size() + 1)),
                    other.begin() + static_cast<std::ptrdiff_t>(from),
                    other.begin() + static_cast<std::ptrdiff_t>(from + n));
        }
        break;
      }
      default:  // duplicate a chunk
        if (!in.empty()) {
          const std::size_t at = rng.below(in.size());
          const std::size_t n = 1 + rng.below(std::min<std::size_t>(32, in.size() - at));
          std::vector<std::uint8_t> chunk(in.begin() + static_cast<std::ptrdiff_t>(at),
                                          in.begin() + static_cast<std::ptrdiff_t>(at + n));
          in.insert(in.begin() + static_cast<std::ptrdiff_t>(rng.below(in.size() + 1)), chunk.begin(), chunk.end());
        }
        break;
    }
  }
  return in;
}

}  // namespace

int main(int argc, char** argv) {
  long runs = 4000;
  std::vector<std::vector<std::uint8_t>> seeds;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "-runs=", 6) == 0) {
      runs = std::strtol(argv[i] + 6, nullptr, 10);
      continue;
    }
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(argv[i], ec))
      if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
      std::ifstream in(f, std::ios::binary);
      seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  if (seeds.empty()) seeds.emplace_back();
  std::signal(SIGABRT, onAbort);
  for (const auto& s : seeds) run(s);
  SplitMix rng{0x6f7277656e6e61ULL};
  for (long i = 0; i < runs; ++i) run(mutate(seeds[rng.below(seeds.size())], seeds, rng));
  std::printf("%zu seeds and %ld mutated inputs passed\n", seeds.size(), runs);
  return 0;
}
