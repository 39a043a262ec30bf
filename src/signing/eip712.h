// EIP-712 hashing of typed structured data: field values, type strings (with
// the struct types a type refers to, sorted by name), struct hashes, the domain
// separator and the digest a wallet signs. Hyperliquid action signing and the
// browser wallet's typed-data reader build on it. Pure; thread-safe.
//
// A value's kind must agree with its field's declared type ("string",
// "address", "uint8"…"uint256", "bool", "bytes32", "bytes", or the struct's
// type name); a disagreement is a programming error and throws WalletError
// rather than hashing something no contract would verify.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/uint.h"

namespace orwenna {

struct EIP712 {
  using Hash = std::array<std::uint8_t, 32>;

  struct Field;

  class Value {
   public:
    enum class Kind { string, address, uint, boolean, bytes32, bytes, structure };

    static Value string(std::string text);
    // "0x" + 40 hex digits, any letter case; checked when encoded.
    static Value address(std::string text);
    static Value uint(UInt256 number);
    static Value boolean(bool flag);
    // Exactly 32 bytes; checked when encoded.
    static Value bytes32(Bytes bytes);
    // Dynamic bytes, encoded as their Keccak-256.
    static Value bytes(Bytes bytes);
    // A nested struct: its type name and its fields in the type's order.
    static Value structure(std::string typeName, std::vector<Field> fields);

    Kind kind() const { return kind_; }
    // string and address text, or a struct's type name.
    const std::string& text() const { return text_; }
    const UInt256& number() const { return number_; }
    bool flag() const { return flag_; }
    const Bytes& data() const { return data_; }
    const std::vector<Field>& fields() const { return fields_; }

   private:
    Value() = default;
    Kind kind_ = Kind::string;
    std::string text_;
    UInt256 number_ = 0;
    bool flag_ = false;
    Bytes data_;
    std::vector<Field> fields_;
  };

  struct Field {
    std::string name;
    std::string type;  // the type as written in the type string
    Value value;
  };

  // A typed message: the domain's fields in the domain type's order, the
  // primary type's name and the message's fields in that type's order.
  struct Typed {
    std::vector<Field> domain;
    std::string type;
    std::vector<Field> message;
  };

  // What a hash-signing device needs: the domain separator and the struct hash.
  struct Parts {
    Hash domain;
    Hash message;
  };

  // "Mail(Person from,Person to,string contents)Person(string name,address wallet)":
  // the type itself, then every struct type it refers to, sorted by name.
  // Throws WalletError when a field's value does not fit its declared type or
  // one struct name is used with two different field lists.
  static std::string encodeType(std::string_view typeName, const std::vector<Field>& fields);
  // The 32-byte encoding of one field value (struct values: their struct hash).
  // Throws WalletError with "Invalid address: …" or "bytes32 must be 32 bytes.".
  static Hash encodeValue(const Field& field);
  // Keccak-256(typeHash ‖ each field's encoding). Throws as the two above.
  static Hash hashStruct(std::string_view typeName, const std::vector<Field>& fields);
  static Hash domainSeparator(const std::vector<Field>& domain);
  static Parts parts(const Typed& typed);
  // Keccak-256(0x19 ‖ 0x01 ‖ domain separator ‖ message hash).
  static Hash digest(const Typed& typed);
  static Hash digest(const Parts& parts);
};

}  // namespace orwenna
