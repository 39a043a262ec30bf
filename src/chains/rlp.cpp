#include "chains/rlp.h"

namespace orwenna {

namespace {

void appendLength(Bytes& out, std::size_t length, std::uint8_t shortBase, std::uint8_t longBase) {
  if (length <= 55) {
    out.push_back(static_cast<std::uint8_t>(shortBase + length));
    return;
  }
  Bytes be;
  for (std::size_t n = length; n > 0; n >>= 8) be.insert(be.begin(), static_cast<std::uint8_t>(n & 0xff));
  out.push_back(static_cast<std::uint8_t>(longBase + be.size()));
  out.insert(out.end(), be.begin(), be.end());
}

void encodeInto(const RLP& item, Bytes& out) {
  if (!item.isList()) {
    const Bytes& b = item.asBytes();
    if (b.size() == 1 && b[0] < 0x80) {
      out.push_back(b[0]);
      return;
    }
    appendLength(out, b.size(), 0x80, 0xb7);
    out.insert(out.end(), b.begin(), b.end());
    return;
  }
  Bytes body;
  for (const auto& child : item.asList()) encodeInto(child, body);
  appendLength(out, body.size(), 0xc0, 0xf7);
  out.insert(out.end(), body.begin(), body.end());
}

// Reads one item at `pos`, advancing it; nothing on any malformation.
std::optional<RLP> decodeAt(ByteView data, std::size_t& pos, int depth) {
  if (depth > 64 || pos >= data.size()) return std::nullopt;
  const std::uint8_t prefix = data[pos++];
  if (prefix < 0x80) return RLP::bytes(Bytes{prefix});
  const bool list = prefix >= 0xc0;
  const std::uint8_t base = list ? 0xc0 : 0x80;
  std::size_t length = 0;
  if (prefix - base <= 55) {
    length = prefix - base;
  } else {
    const std::size_t lengthOfLength = prefix - base - 55;
    if (lengthOfLength > 8 || data.size() - pos < lengthOfLength || data[pos] == 0) return std::nullopt;
    for (std::size_t i = 0; i < lengthOfLength; ++i) length = (length << 8) | data[pos++];
    if (length <= 55) return std::nullopt;
  }
  if (data.size() - pos < length) return std::nullopt;
  ByteView body = data.subspan(pos, length);
  pos += length;
  if (!list) {
    if (length == 1 && body[0] < 0x80) return std::nullopt;
    return RLP::bytes(body);
  }
  RLP::List items;
  std::size_t inner = 0;
  while (inner < body.size()) {
    auto child = decodeAt(body, inner, depth + 1);
    if (!child) return std::nullopt;
    items.push_back(std::move(*child));
  }
  return RLP::list(std::move(items));
}

}  // namespace

Bytes RLP::encode() const {
  Bytes out;
  encodeInto(*this, out);
  return out;
}

std::optional<RLP> RLP::decode(ByteView data) {
  std::size_t pos = 0;
  auto item = decodeAt(data, pos, 0);
  if (!item || pos != data.size()) return std::nullopt;
  return item;
}

}  // namespace orwenna
