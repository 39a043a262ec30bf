// Solidity ABI encoding of call arguments: static words (addresses, unsigned
// integers, booleans, fixed bytes), dynamic bytes and arrays placed behind
// offsets, tuples; function selectors; and token amounts from decimal text.
// Pure; thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/uint.h"

namespace orwenna {

struct ABI {
  using Word = std::array<std::uint8_t, 32>;

  // One argument. Arrays hold values of one type; the encoder does not check
  // that, it encodes what it is given.
  struct Value {
    enum class Kind { address, uint, boolean, fixedBytes, bytes, array, tuple };
    Kind kind = Kind::uint;
    UInt256 number;              // uint; boolean as 0/1
    Bytes data;                  // address (20 bytes), fixedBytes (1…32), bytes
    std::vector<Value> items;    // array, tuple

    // Throws WalletError "Not an address: " + text for anything but 0x + 40 hex digits.
    static Value address(std::string_view text);
    static Value uint(const UInt256& v);
    static Value boolean(bool b);
    // REQUIRES: 1 <= b.size() <= 32 (right-padded like bytesN).
    static Value fixedBytes(ByteView b);
    static Value bytes(ByteView b);
    static Value array(std::vector<Value> items);
    static Value tuple(std::vector<Value> items);

    bool isDynamic() const;
  };

  static Word word(const UInt256& v);
  // Throws WalletError "Not an address: " + text.
  static Word addressWord(std::string_view address);
  // The 20 bytes of "0x" + 40 hex digits (either case); throws like addressWord.
  static std::array<std::uint8_t, 20> addressBytes(std::string_view address);

  // The arguments as one tuple (what follows the selector in calldata).
  static Bytes encode(const std::vector<Value>& values);
  // First four bytes of Keccak-256 of a signature such as "approve(address,uint256)".
  static std::array<std::uint8_t, 4> selector(std::string_view signature);
  static Bytes call(std::string_view signature, const std::vector<Value>& values);

  // Decimal text ("12.5") in base units of a token with `decimals`. Throws
  // WalletError "Not a whole token amount: " + text when digits remain below
  // the smallest unit, "Amount too large for a word: " + text beyond
  // 2^256 − 1, and "Not an amount: " + text for anything but plain digits
  // with at most one point.
  static UInt256 tokenAmount(std::string_view text, int decimals);
};

}  // namespace orwenna
