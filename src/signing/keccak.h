// Keccak-256 as Ethereum uses it: Keccak-f[1600], rate 136 bytes, the original
// Keccak padding (0x01 … 0x80), not SHA3-256's 0x06. Pure; thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/bytes.h"

namespace orwenna {

struct Keccak {
  using Digest = std::array<std::uint8_t, 32>;
  static Digest hash256(ByteView data);
  static Digest hash256(std::string_view text) { return hash256(asBytes(text)); }
  static Bytes hash256Bytes(ByteView data) {
    Digest d = hash256(data);
    return Bytes(d.begin(), d.end());
  }
};

}  // namespace orwenna
