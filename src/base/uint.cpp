#include "base/uint.h"

#include <algorithm>
#include <stdexcept>

namespace orwenna {

namespace {

template <typename T>
std::optional<T> parseDecimalDigits(std::string_view text) {
  if (text.empty()) return std::nullopt;
  BigInt v = 0;
  // 2^digits − 1 rather than a conversion of max(), which g++ -O1 misreads as uninitialised.
  const BigInt limit = (BigInt(1) << std::numeric_limits<T>::digits) - 1;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
    if (v > limit) return std::nullopt;
  }
  return static_cast<T>(v);
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<UInt256> parseUInt256(std::string_view text) { return parseDecimalDigits<UInt256>(text); }
std::optional<UInt128> parseUInt128(std::string_view text) { return parseDecimalDigits<UInt128>(text); }

std::optional<UInt256> parseUInt256Hex(std::string_view text) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  if (text.empty()) return std::nullopt;
  std::size_t first = text.find_first_not_of('0');
  if (first == std::string_view::npos) return UInt256(0);
  if (text.size() - first > 64) {
    for (char c : text) if (hexValue(c) < 0) return std::nullopt;
    return std::nullopt;
  }
  UInt256 v = 0;
  for (char c : text) {
    int h = hexValue(c);
    if (h < 0) return std::nullopt;
    v = (v << 4) | h;
  }
  return v;
}

std::string toDecimalString(const UInt256& v) {
  // Nineteen digits at a time; boost's own str() trips a GCC 12 false warning.
  constexpr std::uint64_t kChunk = 10000000000000000000ull;
  std::string out;
  UInt256 x = v;
  do {
    std::uint64_t part = static_cast<std::uint64_t>(x % kChunk);
    x /= kChunk;
    for (int i = 0; i < 19 && (x != 0 || part != 0); ++i) {
      out.push_back(static_cast<char>('0' + part % 10));
      part /= 10;
    }
  } while (x != 0);
  if (out.empty()) out.push_back('0');
  std::reverse(out.begin(), out.end());
  return out;
}

std::string toHexQuantity(const UInt256& v) {
  if (v == 0) return "0x0";
  static const char* digits = "0123456789abcdef";
  std::string out;
  UInt256 x = v;
  while (x != 0) {
    out.push_back(digits[static_cast<unsigned>(x & 0xf)]);
    x >>= 4;
  }
  out += "x0";
  std::reverse(out.begin(), out.end());
  return out;
}

std::vector<std::uint8_t> toBigEndian32(const UInt256& v) {
  std::vector<std::uint8_t> out(32, 0);
  UInt256 x = v;
  for (int i = 31; i >= 0; --i) {
    out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(x & 0xff);
    x >>= 8;
  }
  return out;
}

std::vector<std::uint8_t> toBigEndianMinimal(const UInt256& v) {
  auto full = toBigEndian32(v);
  auto first = std::find_if(full.begin(), full.end(), [](std::uint8_t b) { return b != 0; });
  return std::vector<std::uint8_t>(first, full.end());
}

UInt256 fromBigEndian(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > 32) throw std::invalid_argument("fromBigEndian: more than 32 bytes");
  UInt256 v = 0;
  for (std::uint8_t b : bytes) v = (v << 8) | b;
  return v;
}

std::optional<UInt256> checkedAdd(const UInt256& a, const UInt256& b) {
  UInt256 s = a + b;
  if (s < a) return std::nullopt;
  return s;
}

std::optional<UInt256> checkedMul(const UInt256& a, const UInt256& b) {
  if (a == 0 || b == 0) return UInt256(0);
  BigInt p = BigInt(a) * BigInt(b);
  if (p > BigInt(std::numeric_limits<UInt256>::max())) return std::nullopt;
  return static_cast<UInt256>(p);
}

}  // namespace orwenna
