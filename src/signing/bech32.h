// Bech32 and bech32m strings, and segwit addresses built on them: decoding
// with every check of both formats (case, length, separator, alphabet,
// checksum constant per witness version, 5-to-8-bit regrouping), and
// encoding. Decoders return nothing on any fault. Pure; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"

namespace orwenna {

struct Bech32 {
  enum class Encoding { bech32, bech32m };

  struct Decoded {
    std::string hrp;                 // lower case
    std::vector<std::uint8_t> data;  // 5-bit values, checksum removed
    Encoding encoding;
  };

  struct WitnessProgram {
    int version;  // 0–16
    Bytes program;
  };

  static constexpr std::string_view kCharset = "qpzry9x8gf2tvdw0s3jn54khce6mua7l";

  // A string of at most 90 characters, not mixing cases, with a non-empty
  // printable-ASCII human-readable part, the last "1" as separator and a valid
  // bech32 or bech32m checksum.
  [[nodiscard]] static std::optional<Decoded> decode(std::string_view text);
  // REQUIRES: every data value < 32; hrp printable ASCII in lower case.
  static std::string encode(std::string_view hrp, const std::vector<std::uint8_t>& data, Encoding encoding);

  // A segwit address of `hrp`: version 0 with bech32 and a 20- or 32-byte
  // program, versions 1–16 with bech32m and 2–40 bytes.
  [[nodiscard]] static std::optional<WitnessProgram> decodeSegwit(std::string_view hrp, std::string_view address);
  // Nothing when the version or program length is not allowed.
  [[nodiscard]] static std::optional<std::string> encodeSegwit(std::string_view hrp, int version, ByteView program);
};

}  // namespace orwenna
