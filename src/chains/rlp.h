// Recursive-length-prefix encoding, the byte form of Ethereum transactions:
// an item is a byte string or a list of items. Encoding is total; decoding is
// strict (canonical lengths only) and returns nothing for anything else.
// Pure; thread-safe.
#pragma once

#include <optional>
#include <variant>
#include <vector>

#include "base/bytes.h"
#include "base/uint.h"

namespace orwenna {

struct RLP {
  using List = std::vector<RLP>;
  std::variant<Bytes, List> value;

  static RLP bytes(Bytes b) { return RLP{std::move(b)}; }
  static RLP bytes(ByteView b) { return RLP{Bytes(b.begin(), b.end())}; }
  // Big-endian without leading zero bytes; zero is the empty string.
  static RLP uint(const UInt256& v) { return RLP{toBigEndianMinimal(v)}; }
  static RLP list(List items) { return RLP{std::move(items)}; }

  bool isList() const { return std::holds_alternative<List>(value); }
  const Bytes& asBytes() const { return std::get<Bytes>(value); }
  const List& asList() const { return std::get<List>(value); }

  Bytes encode() const;
  // The single item that fills `data` exactly; nothing when it is not
  // canonical RLP (non-minimal lengths, a one-byte string below 0x80 with a
  // prefix, trailing bytes, truncation).
  [[nodiscard]] static std::optional<RLP> decode(ByteView data);

  bool operator==(const RLP&) const = default;
};

}  // namespace orwenna
