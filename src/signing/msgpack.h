// MsgPack: the value shapes of a Hyperliquid action (null, bool, unsigned
// integer, UTF-8 string, array, insertion-ordered map) and their MessagePack
// encoding, which is what an L1 action's hash is taken over. Map order is the
// order of insertion and is part of the bytes: keys are never sorted and
// duplicates are kept. Two values are equal when their encodings are.
//
// Two JSON forms exist: the tagged form that carries an action across the
// signer protocol ({"kind": …}, maps as parallel "keys"/"values"), decoded
// strictly; and the plain form the exchange reads and writes (objects, numbers,
// strings), where a whole non-negative number becomes a `uint`.
//
// Immutable after construction apart from `append`; thread-safe as a value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/bytes.h"
#include "base/json.h"

namespace orwenna {

class MsgPack {
 public:
  // Raw values (kindName): "null", "bool", "uint", "string", "array", "map".
  enum class Kind { null, boolean, uint, string, array, map };
  using Array = std::vector<MsgPack>;
  using Entry = std::pair<std::string, MsgPack>;
  using Map = std::vector<Entry>;

  // Arrays and maps longer than this have no header in the encoder's table.
  static constexpr std::size_t kMaxEntries = 65535;
  // The tagged JSON decoder refuses deeper nesting instead of recursing without end.
  static constexpr int kMaxDepth = 64;

  MsgPack() = default;  // null
  static MsgPack null() { return MsgPack(); }
  static MsgPack boolean(bool value) { return MsgPack(Storage(value)); }
  static MsgPack uint(std::uint64_t value) { return MsgPack(Storage(value)); }
  static MsgPack string(std::string value) { return MsgPack(Storage(std::move(value))); }
  static MsgPack array(Array items) { return MsgPack(Storage(std::move(items))); }
  static MsgPack map(Map entries) { return MsgPack(Storage(std::move(entries))); }

  Kind kind() const { return static_cast<Kind>(value_.index()); }
  static std::string_view kindName(Kind kind);

  // The payload when the value is of that kind, else nullptr.
  const bool* boolValue() const { return std::get_if<bool>(&value_); }
  const std::uint64_t* uintValue() const { return std::get_if<std::uint64_t>(&value_); }
  const std::string* stringValue() const { return std::get_if<std::string>(&value_); }
  const Array* arrayValue() const { return std::get_if<Array>(&value_); }
  const Map* mapValue() const { return std::get_if<Map>(&value_); }
  // The value of the first pair with this key in a map; nullptr when the value
  // is no map or has no such key.
  const MsgPack* find(std::string_view key) const;

  // Adds a pair at the end of a map.
  // REQUIRES: kind() == Kind::map.
  MsgPack& append(std::string key, MsgPack value);

  // Appends the MessagePack bytes. Throws WalletError for an array or map of
  // more than kMaxEntries entries (no header exists for it in this model).
  void encode(Bytes& out) const;
  Bytes encoded() const;

  friend bool operator==(const MsgPack& a, const MsgPack& b) { return a.encoded() == b.encoded(); }

  // Tagged form: {"kind": "uint", "uint": 5}, {"kind": "map", "keys": […], "values": […]}.
  Json toJson() const;
  // Accepts exactly the tagged form; throws WalletError naming what is wrong.
  [[nodiscard]] static MsgPack fromJson(const Json& json);

  // Plain form: map → object (same keys, same order), uint → number, etc.
  // Throws WalletError for a map that repeats a key: JSON cannot carry it.
  Json toPlainJson() const;
  // The exchange's JSON: whole non-negative numbers → uint, strings, booleans,
  // null, arrays, objects in their key order. Throws WalletError for negative
  // or fractional numbers, which have no case here.
  [[nodiscard]] static MsgPack fromPlainJson(const Json& json);

 private:
  using Storage = std::variant<std::monostate, bool, std::uint64_t, std::string, Array, Map>;
  explicit MsgPack(Storage value) : value_(std::move(value)) {}

  Storage value_;
};

}  // namespace orwenna
