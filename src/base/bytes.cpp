#include "base/bytes.h"

#include <array>

namespace orwenna {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr std::string_view kStd = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kUrl = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string encode(ByteView in, std::string_view alphabet, bool pad) {
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= in.size(); i += 3) {
    std::uint32_t v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += alphabet[(v >> 6) & 63];
    out += alphabet[v & 63];
  }
  std::size_t rest = in.size() - i;
  if (rest == 1) {
    std::uint32_t v = in[i] << 16;
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    if (pad) out += "==";
  } else if (rest == 2) {
    std::uint32_t v = (in[i] << 16) | (in[i + 1] << 8);
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += alphabet[(v >> 6) & 63];
    if (pad) out += '=';
  }
  return out;
}

std::optional<Bytes> decode(std::string_view text, std::string_view alphabet, bool padRequired) {
  std::array<int, 256> table;
  table.fill(-1);
  for (std::size_t i = 0; i < alphabet.size(); ++i) table[static_cast<unsigned char>(alphabet[i])] = static_cast<int>(i);

  std::size_t padding = 0;
  while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
  std::string_view body = text.substr(0, text.size() - padding);
  if (padding > 0 || padRequired) {
    if (text.size() % 4 != 0) return std::nullopt;
  }
  if (body.size() % 4 == 1) return std::nullopt;
  if (padding > 0 && (body.size() + padding) % 4 != 0) return std::nullopt;

  Bytes out;
  out.reserve(body.size() * 3 / 4);
  std::uint32_t acc = 0;
  int bits = 0;
  for (char c : body) {
    int v = table[static_cast<unsigned char>(c)];
    if (v < 0) return std::nullopt;
    acc = (acc << 6) | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<std::uint8_t>((acc >> bits) & 0xff));
    }
  }
  // Leftover bits must be zero, or two texts would decode to the same bytes.
  if (bits > 0 && (acc & ((1u << bits) - 1)) != 0) return std::nullopt;
  return out;
}

}  // namespace

std::string toHex(ByteView bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::string toHex0x(ByteView bytes) { return "0x" + toHex(bytes); }

std::optional<Bytes> fromHex(std::string_view hex, bool allowPrefix) {
  if (allowPrefix && hex.size() >= 2 && hex[0] == '0' && (hex[1] == 'x' || hex[1] == 'X')) hex.remove_prefix(2);
  if (hex.size() % 2 != 0) return std::nullopt;
  Bytes out(hex.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    int hi = hexValue(hex[2 * i]);
    int lo = hexValue(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  return out;
}

std::string toBase64(ByteView bytes) { return encode(bytes, kStd, true); }
std::string toBase64Url(ByteView bytes) { return encode(bytes, kUrl, false); }
std::optional<Bytes> fromBase64(std::string_view text) { return decode(text, kStd, true); }
std::optional<Bytes> fromBase64Url(std::string_view text) { return decode(text, kUrl, false); }

}  // namespace orwenna
