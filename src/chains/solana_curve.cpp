#include "chains/solana_curve.h"

#include <array>
#include <cstdint>

namespace orwenna {

namespace {

// A field element in five 51-bit limbs, little-endian. Limbs may exceed 51
// bits between operations; `carry` brings them back.
using Fe = std::array<std::uint64_t, 5>;
using u128 = unsigned __int128;

constexpr std::uint64_t kMask51 = (std::uint64_t{1} << 51) - 1;

Fe carry(Fe a) {
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 4; ++i) {
      a[i + 1] += a[i] >> 51;
      a[i] &= kMask51;
    }
    a[0] += 19 * (a[4] >> 51);
    a[4] &= kMask51;
  }
  return a;
}

Fe fromBytes(ByteView b) {
  auto load = [&](int offset) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | b[static_cast<std::size_t>(offset + i)];
    return v;
  };
  // Bit 255 (the sign of x) is dropped; a y at or above p stays as read and is
  // reduced by the arithmetic, as curve25519-style decoders do.
  Fe f;
  f[0] = load(0) & kMask51;
  f[1] = (load(6) >> 3) & kMask51;
  f[2] = (load(12) >> 6) & kMask51;
  f[3] = (load(19) >> 1) & kMask51;
  f[4] = (load(24) >> 12) & kMask51;
  return f;
}

Fe add(const Fe& a, const Fe& b) {
  Fe r;
  for (int i = 0; i < 5; ++i) r[i] = a[i] + b[i];
  return carry(r);
}

// a − b + 4p, so limbs never go negative for carried inputs.
Fe sub(const Fe& a, const Fe& b) {
  constexpr std::uint64_t kFourP0 = 4 * ((std::uint64_t{1} << 51) - 19);
  constexpr std::uint64_t kFourPi = 4 * ((std::uint64_t{1} << 51) - 1);
  Fe r;
  r[0] = a[0] + kFourP0 - b[0];
  for (int i = 1; i < 5; ++i) r[i] = a[i] + kFourPi - b[i];
  return carry(r);
}

Fe mul(const Fe& a, const Fe& b) {
  const std::uint64_t b1 = 19 * b[1], b2 = 19 * b[2], b3 = 19 * b[3], b4 = 19 * b[4];
  u128 t0 = (u128)a[0] * b[0] + (u128)a[1] * b4 + (u128)a[2] * b3 + (u128)a[3] * b2 + (u128)a[4] * b1;
  u128 t1 = (u128)a[0] * b[1] + (u128)a[1] * b[0] + (u128)a[2] * b4 + (u128)a[3] * b3 + (u128)a[4] * b2;
  u128 t2 = (u128)a[0] * b[2] + (u128)a[1] * b[1] + (u128)a[2] * b[0] + (u128)a[3] * b4 + (u128)a[4] * b3;
  u128 t3 = (u128)a[0] * b[3] + (u128)a[1] * b[2] + (u128)a[2] * b[1] + (u128)a[3] * b[0] + (u128)a[4] * b4;
  u128 t4 = (u128)a[0] * b[4] + (u128)a[1] * b[3] + (u128)a[2] * b[2] + (u128)a[3] * b[1] + (u128)a[4] * b[0];
  Fe r;
  t1 += t0 >> 51;
  r[0] = static_cast<std::uint64_t>(t0) & kMask51;
  t2 += t1 >> 51;
  r[1] = static_cast<std::uint64_t>(t1) & kMask51;
  t3 += t2 >> 51;
  r[2] = static_cast<std::uint64_t>(t2) & kMask51;
  t4 += t3 >> 51;
  r[3] = static_cast<std::uint64_t>(t3) & kMask51;
  r[4] = static_cast<std::uint64_t>(t4) & kMask51;
  r[0] += 19 * static_cast<std::uint64_t>(t4 >> 51);
  return carry(r);
}

// The unique representative below p, as bytes-free limbs.
Fe canonical(Fe a) {
  a = carry(a);
  // a < 2^255 now; subtract p once if a ≥ p.
  std::uint64_t c = (a[0] + 19) >> 51;
  for (int i = 1; i < 5; ++i) c = (a[i] + c) >> 51;
  a[0] += 19 * c;
  for (int i = 0; i < 4; ++i) {
    a[i + 1] += a[i] >> 51;
    a[i] &= kMask51;
  }
  a[4] &= kMask51;
  return a;
}

bool isZero(const Fe& a) {
  Fe c = canonical(a);
  return (c[0] | c[1] | c[2] | c[3] | c[4]) == 0;
}

bool isOne(const Fe& a) {
  Fe c = canonical(a);
  return c[0] == 1 && (c[1] | c[2] | c[3] | c[4]) == 0;
}

Fe squareTimes(Fe a, int n) {
  for (int i = 0; i < n; ++i) a = mul(a, a);
  return a;
}

// a^((p − 1)/2) = a^(2^254 − 10): the Legendre symbol (1, p − 1 or 0).
// 2^254 − 10 = 4·(2^252 − 3) + 2, and a^(2^252 − 3) has the usual short
// addition chain (254 squarings, 11 multiplications).
Fe legendre(const Fe& z) {
  Fe z2 = mul(z, z);
  Fe z9 = mul(squareTimes(z2, 2), z);
  Fe z11 = mul(z9, z2);
  Fe t0 = mul(mul(z11, z11), z9);                  // 2^5 − 1
  t0 = mul(squareTimes(t0, 5), t0);                 // 2^10 − 1
  Fe t1 = mul(squareTimes(t0, 10), t0);             // 2^20 − 1
  t1 = mul(squareTimes(t1, 20), t1);                // 2^40 − 1
  t0 = mul(squareTimes(t1, 10), t0);                // 2^50 − 1
  t1 = mul(squareTimes(t0, 50), t0);                // 2^100 − 1
  t1 = mul(squareTimes(t1, 100), t1);               // 2^200 − 1
  t0 = mul(squareTimes(t1, 50), t0);                // 2^250 − 1
  Fe pow22523 = mul(squareTimes(t0, 2), z);         // 2^252 − 3
  return mul(squareTimes(pow22523, 2), z2);         // 2^254 − 10
}

Fe curveD() {
  // d = −121665/121666, stored big-endian as 52036cee…978a3.
  static const Fe d = [] {
    constexpr std::array<std::uint8_t, 32> bigEndian{
        0x52, 0x03, 0x6c, 0xee, 0x2b, 0x6f, 0xfe, 0x73, 0x8c, 0xc7, 0x40, 0x79, 0x77, 0x79, 0xe8, 0x98,
        0x00, 0x70, 0x0a, 0x4d, 0x41, 0x41, 0xd8, 0xab, 0x75, 0xeb, 0x4d, 0xca, 0x13, 0x59, 0x78, 0xa3};
    std::array<std::uint8_t, 32> little{};
    for (std::size_t i = 0; i < 32; ++i) little[i] = bigEndian[31 - i];
    return fromBytes(little);
  }();
  return d;
}

}  // namespace

bool Ed25519Curve::isOnCurve(ByteView point) {
  if (point.size() != 32) return false;
  const Fe one{1, 0, 0, 0, 0};
  Fe y = fromBytes(point);
  Fe y2 = mul(y, y);
  Fe u = sub(y2, one);
  Fe v = add(mul(curveD(), y2), one);
  // u/v is a square exactly when u·v is (v is never zero: d is not a square),
  // so one exponentiation answers without an inversion.
  Fe uv = mul(u, v);
  if (isZero(uv)) return true;
  return isOne(legendre(uv));
}

}  // namespace orwenna
