// Byte strings and their text forms: hex and Base64 (standard with padding,
// URL-safe without). Decoders are strict and return nothing for bad input.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orwenna {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline ByteView asBytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}
inline std::string asString(ByteView b) { return std::string(b.begin(), b.end()); }

std::string toHex(ByteView bytes);  // lower case, no prefix
std::string toHex0x(ByteView bytes);  // "0x" + lower case
// Even number of hex digits, either case; "0x" is accepted only when allowPrefix.
[[nodiscard]] std::optional<Bytes> fromHex(std::string_view hex, bool allowPrefix = true);

std::string toBase64(ByteView bytes);     // standard alphabet, "=" padding
std::string toBase64Url(ByteView bytes);  // "-" and "_", no padding
// Standard alphabet with correct padding (no whitespace).
[[nodiscard]] std::optional<Bytes> fromBase64(std::string_view text);
// URL-safe alphabet; padding is optional but must be right when present.
[[nodiscard]] std::optional<Bytes> fromBase64Url(std::string_view text);

}  // namespace orwenna
