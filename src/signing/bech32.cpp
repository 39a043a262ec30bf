#include "signing/bech32.h"

#include <array>

#include "base/text.h"

namespace orwenna {

namespace {

constexpr std::uint32_t kBech32Constant = 1;
constexpr std::uint32_t kBech32mConstant = 0x2bc830a3;

std::uint32_t polymod(const std::vector<std::uint8_t>& values) {
  static constexpr std::array<std::uint32_t, 5> kGen = {0x3b6a57b2, 0x26508e6d, 0x1ea119fa, 0x3d4233dd, 0x2a1462b3};
  std::uint32_t chk = 1;
  for (std::uint8_t v : values) {
    std::uint32_t top = chk >> 25;
    chk = ((chk & 0x1ffffff) << 5) ^ v;
    for (int i = 0; i < 5; ++i) {
      if ((top >> i) & 1) chk ^= kGen[static_cast<std::size_t>(i)];
    }
  }
  return chk;
}

std::vector<std::uint8_t> expandHrp(std::string_view hrp) {
  std::vector<std::uint8_t> out;
  out.reserve(hrp.size() * 2 + 1);
  for (char c : hrp) out.push_back(static_cast<std::uint8_t>(static_cast<unsigned char>(c) >> 5));
  out.push_back(0);
  for (char c : hrp) out.push_back(static_cast<std::uint8_t>(static_cast<unsigned char>(c) & 31));
  return out;
}

// Regroups bits; `pad` allows a final partial group (encoding), otherwise
// leftover bits must be fewer than `from` and all zero.
std::optional<std::vector<std::uint8_t>> convertBits(const std::uint8_t* begin, const std::uint8_t* end, int from,
                                                     int to, bool pad) {
  std::uint32_t acc = 0;
  int bits = 0;
  std::vector<std::uint8_t> out;
  const std::uint32_t maxv = (1u << to) - 1;
  for (const std::uint8_t* p = begin; p != end; ++p) {
    if ((*p >> from) != 0) return std::nullopt;
    acc = (acc << from) | *p;
    bits += from;
    while (bits >= to) {
      bits -= to;
      out.push_back(static_cast<std::uint8_t>((acc >> bits) & maxv));
    }
  }
  if (pad) {
    if (bits > 0) out.push_back(static_cast<std::uint8_t>((acc << (to - bits)) & maxv));
  } else if (bits >= from || ((acc << (to - bits)) & maxv) != 0) {
    return std::nullopt;
  }
  return out;
}

}  // namespace

std::optional<Bech32::Decoded> Bech32::decode(std::string_view text) {
  if (text.size() > 90) return std::nullopt;
  bool lower = false, upper = false;
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 33 || c > 126) return std::nullopt;
    if (c >= 'a' && c <= 'z') lower = true;
    if (c >= 'A' && c <= 'Z') upper = true;
  }
  if (lower && upper) return std::nullopt;
  std::size_t sep = text.rfind('1');
  if (sep == std::string_view::npos || sep == 0 || sep + 7 > text.size()) return std::nullopt;

  Decoded out;
  out.hrp = text::asciiLowercased(text.substr(0, sep));
  std::vector<std::uint8_t> values;
  values.reserve(text.size() - sep - 1);
  for (std::size_t i = sep + 1; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    std::size_t v = kCharset.find(c);
    if (v == std::string_view::npos) return std::nullopt;
    values.push_back(static_cast<std::uint8_t>(v));
  }
  std::vector<std::uint8_t> all = expandHrp(out.hrp);
  all.insert(all.end(), values.begin(), values.end());
  std::uint32_t check = polymod(all);
  if (check == kBech32Constant) {
    out.encoding = Encoding::bech32;
  } else if (check == kBech32mConstant) {
    out.encoding = Encoding::bech32m;
  } else {
    return std::nullopt;
  }
  values.resize(values.size() - 6);
  out.data = std::move(values);
  return out;
}

std::string Bech32::encode(std::string_view hrp, const std::vector<std::uint8_t>& data, Encoding encoding) {
  std::vector<std::uint8_t> all = expandHrp(hrp);
  all.insert(all.end(), data.begin(), data.end());
  all.insert(all.end(), 6, 0);
  std::uint32_t mod = polymod(all) ^ (encoding == Encoding::bech32 ? kBech32Constant : kBech32mConstant);
  std::string out(hrp);
  out += '1';
  for (std::uint8_t v : data) out += kCharset[v];
  for (int i = 0; i < 6; ++i) out += kCharset[(mod >> (5 * (5 - i))) & 31];
  return out;
}

std::optional<Bech32::WitnessProgram> Bech32::decodeSegwit(std::string_view hrp, std::string_view address) {
  auto decoded = decode(address);
  if (!decoded || decoded->hrp != hrp || decoded->data.empty()) return std::nullopt;
  int version = decoded->data[0];
  if (version > 16) return std::nullopt;
  if ((version == 0) != (decoded->encoding == Encoding::bech32)) return std::nullopt;
  auto program = convertBits(decoded->data.data() + 1, decoded->data.data() + decoded->data.size(), 5, 8, false);
  if (!program || program->size() < 2 || program->size() > 40) return std::nullopt;
  if (version == 0 && program->size() != 20 && program->size() != 32) return std::nullopt;
  return WitnessProgram{version, std::move(*program)};
}

std::optional<std::string> Bech32::encodeSegwit(std::string_view hrp, int version, ByteView program) {
  if (version < 0 || version > 16 || program.size() < 2 || program.size() > 40) return std::nullopt;
  if (version == 0 && program.size() != 20 && program.size() != 32) return std::nullopt;
  std::vector<std::uint8_t> data{static_cast<std::uint8_t>(version)};
  auto five = convertBits(program.data(), program.data() + program.size(), 8, 5, true);
  data.insert(data.end(), five->begin(), five->end());
  std::string out = encode(hrp, data, version == 0 ? Encoding::bech32 : Encoding::bech32m);
  if (!decodeSegwit(hrp, out)) return std::nullopt;  // e.g. an upper-case or over-long hrp
  return out;
}

}  // namespace orwenna
