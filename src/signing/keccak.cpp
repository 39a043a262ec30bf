#include "signing/keccak.h"

#include <cstring>

namespace orwenna {

namespace {

constexpr std::uint64_t kRoundConstants[24] = {
    0x0000000000000001ULL, 0x0000000000008082ULL, 0x800000000000808aULL, 0x8000000080008000ULL,
    0x000000000000808bULL, 0x0000000080000001ULL, 0x8000000080008081ULL, 0x8000000000008009ULL,
    0x000000000000008aULL, 0x0000000000000088ULL, 0x0000000080008009ULL, 0x000000008000000aULL,
    0x000000008000808bULL, 0x800000000000008bULL, 0x8000000000008089ULL, 0x8000000000008003ULL,
    0x8000000000008002ULL, 0x8000000000000080ULL, 0x000000000000800aULL, 0x800000008000000aULL,
    0x8000000080008081ULL, 0x8000000000008080ULL, 0x0000000080000001ULL, 0x8000000080008008ULL};

// Rotation offsets and lane order of the combined rho and pi steps.
constexpr int kRho[24] = {1, 3, 6, 10, 15, 21, 28, 36, 45, 55, 2, 14, 27, 41, 56, 8, 25, 43, 62, 18, 39, 61, 20, 44};
constexpr int kPi[24] = {10, 7, 11, 17, 18, 3, 5, 16, 8, 21, 24, 4, 15, 23, 19, 13, 12, 2, 20, 14, 22, 9, 6, 1};

inline std::uint64_t rotl(std::uint64_t x, int n) { return (x << n) | (x >> (64 - n)); }

void keccakF1600(std::uint64_t a[25]) {
  for (int round = 0; round < 24; ++round) {
    std::uint64_t c[5];
    for (int x = 0; x < 5; ++x) c[x] = a[x] ^ a[x + 5] ^ a[x + 10] ^ a[x + 15] ^ a[x + 20];
    for (int x = 0; x < 5; ++x) {
      std::uint64_t d = c[(x + 4) % 5] ^ rotl(c[(x + 1) % 5], 1);
      for (int y = 0; y < 25; y += 5) a[y + x] ^= d;
    }
    std::uint64_t current = a[1];
    for (int i = 0; i < 24; ++i) {
      int j = kPi[i];
      std::uint64_t next = a[j];
      a[j] = rotl(current, kRho[i]);
      current = next;
    }
    for (int y = 0; y < 25; y += 5) {
      std::uint64_t row[5];
      for (int x = 0; x < 5; ++x) row[x] = a[y + x];
      for (int x = 0; x < 5; ++x) a[y + x] = row[x] ^ (~row[(x + 1) % 5] & row[(x + 2) % 5]);
    }
    a[0] ^= kRoundConstants[round];
  }
}

constexpr std::size_t kRate = 136;

void absorbBlock(std::uint64_t state[25], const std::uint8_t* block) {
  for (std::size_t i = 0; i < kRate / 8; ++i) {
    std::uint64_t lane = 0;
    for (int b = 7; b >= 0; --b) lane = (lane << 8) | block[i * 8 + static_cast<std::size_t>(b)];
    state[i] ^= lane;
  }
  keccakF1600(state);
}

}  // namespace

Keccak::Digest Keccak::hash256(ByteView data) {
  std::uint64_t state[25] = {0};
  std::size_t offset = 0;
  for (; offset + kRate <= data.size(); offset += kRate) absorbBlock(state, data.data() + offset);

  std::uint8_t last[kRate] = {0};
  std::size_t rest = data.size() - offset;
  if (rest > 0) std::memcpy(last, data.data() + offset, rest);
  last[rest] ^= 0x01;
  last[kRate - 1] ^= 0x80;
  absorbBlock(state, last);

  Digest out{};
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(state[i / 8] >> (8 * (i % 8)));
  return out;
}

}  // namespace orwenna
