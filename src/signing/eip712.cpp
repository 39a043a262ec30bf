#include "signing/eip712.h"

#include <algorithm>
#include <map>
#include <utility>

#include "signing/keccak.h"
#include "signing/wallet_error.h"

namespace orwenna {

namespace {

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// "uint8" … "uint256" in steps of 8, the only unsigned widths a type string may name.
bool isUintType(std::string_view type) {
  if (type.substr(0, 4) != "uint" || type.size() < 5 || type.size() > 7) return false;
  int width = 0;
  for (char c : type.substr(4)) {
    if (c < '0' || c > '9') return false;
    width = width * 10 + (c - '0');
  }
  return type[4] != '0' && width >= 8 && width <= 256 && width % 8 == 0;
}

const char* kindName(EIP712::Value::Kind kind) {
  switch (kind) {
    case EIP712::Value::Kind::string: return "string";
    case EIP712::Value::Kind::address: return "address";
    case EIP712::Value::Kind::uint: return "uint";
    case EIP712::Value::Kind::boolean: return "bool";
    case EIP712::Value::Kind::bytes32: return "bytes32";
    case EIP712::Value::Kind::bytes: return "bytes";
    case EIP712::Value::Kind::structure: return "struct";
  }
  return "?";
}

void checkDeclaredType(const EIP712::Field& field) {
  using Kind = EIP712::Value::Kind;
  const auto& v = field.value;
  bool fits = false;
  switch (v.kind()) {
    case Kind::string: fits = field.type == "string"; break;
    case Kind::address: fits = field.type == "address"; break;
    case Kind::uint: fits = isUintType(field.type); break;
    case Kind::boolean: fits = field.type == "bool"; break;
    case Kind::bytes32: fits = field.type == "bytes32"; break;
    case Kind::bytes: fits = field.type == "bytes"; break;
    case Kind::structure: fits = !v.text().empty() && field.type == v.text(); break;
  }
  if (!fits) {
    throw WalletError("The field " + field.name + " is declared " + field.type + " but holds a " +
                      kindName(v.kind()) + " value.");
  }
}

// "Name(type1 name1,type2 name2)"
std::string ownTypeString(std::string_view typeName, const std::vector<EIP712::Field>& fields) {
  std::string out(typeName);
  out += '(';
  for (std::size_t i = 0; i < fields.size(); ++i) {
    checkDeclaredType(fields[i]);
    if (i > 0) out += ',';
    out += fields[i].type;
    out += ' ';
    out += fields[i].name;
  }
  out += ')';
  return out;
}

void collectReferencedTypes(const std::vector<EIP712::Field>& fields, std::map<std::string, std::string>& found) {
  for (const auto& field : fields) {
    if (field.value.kind() != EIP712::Value::Kind::structure) continue;
    const std::string& name = field.value.text();
    std::string own = ownTypeString(name, field.value.fields());
    auto [it, inserted] = found.emplace(name, own);
    if (!inserted) {
      if (it->second != own) throw WalletError("The struct type " + name + " is used with two different field lists.");
      continue;
    }
    collectReferencedTypes(field.value.fields(), found);
  }
}

}  // namespace

EIP712::Value EIP712::Value::string(std::string text) {
  Value v;
  v.kind_ = Kind::string;
  v.text_ = std::move(text);
  return v;
}

EIP712::Value EIP712::Value::address(std::string text) {
  Value v;
  v.kind_ = Kind::address;
  v.text_ = std::move(text);
  return v;
}

EIP712::Value EIP712::Value::uint(UInt256 number) {
  Value v;
  v.kind_ = Kind::uint;
  v.number_ = number;
  return v;
}

EIP712::Value EIP712::Value::boolean(bool flag) {
  Value v;
  v.kind_ = Kind::boolean;
  v.flag_ = flag;
  return v;
}

EIP712::Value EIP712::Value::bytes32(Bytes bytes) {
  Value v;
  v.kind_ = Kind::bytes32;
  v.data_ = std::move(bytes);
  return v;
}

EIP712::Value EIP712::Value::bytes(Bytes bytes) {
  Value v;
  v.kind_ = Kind::bytes;
  v.data_ = std::move(bytes);
  return v;
}

EIP712::Value EIP712::Value::structure(std::string typeName, std::vector<Field> fields) {
  Value v;
  v.kind_ = Kind::structure;
  v.text_ = std::move(typeName);
  v.fields_ = std::move(fields);
  return v;
}

std::string EIP712::encodeType(std::string_view typeName, const std::vector<Field>& fields) {
  std::string out = ownTypeString(typeName, fields);
  std::map<std::string, std::string> referenced;  // sorted by name, as the type string wants
  collectReferencedTypes(fields, referenced);
  for (const auto& [name, own] : referenced) {
    if (name == typeName) {
      if (own != out) throw WalletError("The struct type " + name + " is used with two different field lists.");
      continue;
    }
    out += own;
  }
  return out;
}

EIP712::Hash EIP712::encodeValue(const Field& field) {
  checkDeclaredType(field);
  const Value& v = field.value;
  Hash out{};
  switch (v.kind()) {
    case Value::Kind::string:
      return Keccak::hash256(std::string_view(v.text()));
    case Value::Kind::address: {
      const std::string& t = v.text();
      bool ok = t.size() == 42 && t[0] == '0' && t[1] == 'x' &&
                std::all_of(t.begin() + 2, t.end(), isHexDigit);
      if (!ok) throw WalletError("Invalid address: " + t);
      Bytes raw = *fromHex(std::string_view(t).substr(2), false);
      std::copy(raw.begin(), raw.end(), out.begin() + 12);
      return out;
    }
    case Value::Kind::uint: {
      Bytes be = toBigEndian32(v.number());
      std::copy(be.begin(), be.end(), out.begin());
      return out;
    }
    case Value::Kind::boolean:
      out[31] = v.flag() ? 1 : 0;
      return out;
    case Value::Kind::bytes32:
      if (v.data().size() != 32) throw WalletError("bytes32 must be 32 bytes.");
      std::copy(v.data().begin(), v.data().end(), out.begin());
      return out;
    case Value::Kind::bytes:
      return Keccak::hash256(ByteView(v.data()));
    case Value::Kind::structure:
      return hashStruct(v.text(), v.fields());
  }
  return out;
}

EIP712::Hash EIP712::hashStruct(std::string_view typeName, const std::vector<Field>& fields) {
  Bytes buffer;
  buffer.reserve(32 * (fields.size() + 1));
  Hash typeHash = Keccak::hash256(std::string_view(encodeType(typeName, fields)));
  buffer.insert(buffer.end(), typeHash.begin(), typeHash.end());
  for (const auto& field : fields) {
    Hash h = encodeValue(field);
    buffer.insert(buffer.end(), h.begin(), h.end());
  }
  return Keccak::hash256(ByteView(buffer));
}

EIP712::Hash EIP712::domainSeparator(const std::vector<Field>& domain) { return hashStruct("EIP712Domain", domain); }

EIP712::Parts EIP712::parts(const Typed& typed) {
  return Parts{domainSeparator(typed.domain), hashStruct(typed.type, typed.message)};
}

EIP712::Hash EIP712::digest(const Parts& parts) {
  std::array<std::uint8_t, 66> buffer{};
  buffer[0] = 0x19;
  buffer[1] = 0x01;
  std::copy(parts.domain.begin(), parts.domain.end(), buffer.begin() + 2);
  std::copy(parts.message.begin(), parts.message.end(), buffer.begin() + 34);
  return Keccak::hash256(ByteView(buffer));
}

EIP712::Hash EIP712::digest(const Typed& typed) { return digest(parts(typed)); }

}  // namespace orwenna
