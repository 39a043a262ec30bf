// Contract reads written as text: a function signature with its return types
// ("balanceOf(address)(uint256)"), arguments given as words, and the answer
// of eth_call decoded back into words. The decoder checks every offset and
// length against the data, so a hostile or broken node answer gives nothing,
// never a read past the end. Pure; thread-safe.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/json.h"
#include "chains/abi.h"

namespace orwenna {

// One Solidity type: elementary, a list (T[] or T[k]) or a tuple.
struct ABIType {
  enum class Kind { address, uint, int_, boolean, fixedBytes, bytes, string, array, tuple };
  Kind kind = Kind::uint;
  int bits = 256;                 // uint, int_
  int size = 0;                   // fixedBytes: 1…32
  std::optional<std::size_t> length;  // array: fixed length, none for T[]
  std::vector<ABIType> items;     // array: one element type; tuple: the members

  bool isDynamic() const;
  std::string name() const;  // canonical: "uint256", "(address,bool)[]"

  // Nothing unless `text` is one well-formed type ("uint" reads as uint256).
  [[nodiscard]] static std::optional<ABIType> parse(std::string_view text);
  // A comma-separated list inside parentheses' content ("address,uint256");
  // an empty text is the empty list.
  [[nodiscard]] static std::optional<std::vector<ABIType>> parseList(std::string_view text);
};

// "name(args)(returns)" with its canonical selector text.
struct ABIFunction {
  std::string name;
  std::vector<ABIType> inputs;
  std::vector<ABIType> outputs;

  std::string signature() const;  // "balanceOf(address)", what the selector hashes

  // Nothing unless `text` is a name, the input list and the output list,
  // without spaces.
  [[nodiscard]] static std::optional<ABIFunction> parse(std::string_view text);
};

namespace abi_text {

// An argument word as a value of `type`: addresses as 0x + 40 hex digits,
// integers in decimal (or 0x hex; "max" is the type's largest), booleans
// true/false, bytes as 0x hex, strings as they are, lists and tuples as JSON
// arrays. Throws WalletError with the sentence naming the argument.
ABI::Value value(const ABIType& type, const Json& word);

// The words of an argument list: a JSON array or object word stays whole,
// anything else splits at white space.
[[nodiscard]] std::optional<std::vector<Json>> words(std::string_view text);

// The return data as JSON: numbers as decimal strings (exact), addresses
// checksummed, bytes as 0x hex, lists and tuples as arrays. Nothing when the
// data doesn't hold these types.
[[nodiscard]] std::optional<Json> decode(const std::vector<ABIType>& types, ByteView data);

}  // namespace abi_text

}  // namespace orwenna
