// The Ed25519 point test Solana's program-derived addresses rest on: whether
// 32 bytes decode as a compressed Edwards point over GF(2^255 − 19). Written
// out with its own field arithmetic, since no platform call offers the test
// (OpenSSL signs and verifies but never says "this is not a point").
// Pure; thread-safe.
#pragma once

#include "base/bytes.h"

namespace orwenna {

struct Ed25519Curve {
  // True when x² = (y² − 1)/(d·y² + 1) has a square root for the y the bytes
  // encode (sign bit ignored, y read modulo p as the chain's runtime reads it).
  // Anything other than 32 bytes is not a point.
  [[nodiscard]] static bool isOnCurve(ByteView point);
};

}  // namespace orwenna
