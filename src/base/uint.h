// Fixed-width unsigned integers for token amounts in base units, EVM words,
// wei and yoctoNEAR, with strict text forms.
//
// Arithmetic on UInt128/UInt256 wraps like the machine types it models; code
// that adds amounts checks for overflow with `checkedAdd`/`checkedMul`.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <boost/multiprecision/cpp_int.hpp>

namespace orwenna {

using UInt128 = boost::multiprecision::uint128_t;
using UInt256 = boost::multiprecision::uint256_t;
using BigInt = boost::multiprecision::cpp_int;

// Decimal digits only ("0", "42"); no sign, spaces or prefix; refuses values
// that do not fit.
[[nodiscard]] std::optional<UInt256> parseUInt256(std::string_view text);
[[nodiscard]] std::optional<UInt128> parseUInt128(std::string_view text);
// Hex digits with an optional "0x"/"0X" prefix, either case; at least one digit.
[[nodiscard]] std::optional<UInt256> parseUInt256Hex(std::string_view text);

std::string toDecimalString(const UInt256& v);
// Lower-case hex without leading zeros and with "0x" ("0x0" for zero), as
// JSON-RPC quantities are written.
std::string toHexQuantity(const UInt256& v);

// Big-endian, exactly 32 bytes.
std::vector<std::uint8_t> toBigEndian32(const UInt256& v);
// Big-endian bytes without leading zeros (empty for zero).
std::vector<std::uint8_t> toBigEndianMinimal(const UInt256& v);
// REQUIRES: bytes.size() <= 32.
UInt256 fromBigEndian(std::span<const std::uint8_t> bytes);

[[nodiscard]] std::optional<UInt256> checkedAdd(const UInt256& a, const UInt256& b);
[[nodiscard]] std::optional<UInt256> checkedMul(const UInt256& a, const UInt256& b);

}  // namespace orwenna
