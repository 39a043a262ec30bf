// Ops for typed.test.mjs: EIP-712 digests (nested structs through EIP712
// directly, flat page documents through TypedData), personal-message hashes,
// signing and recovery.
#include "base/bytes.h"
#include "base/uint.h"
#include "helper.h"
#include "signing/eip712.h"
#include "signing/evm_signer.h"
#include "signing/secret.h"
#include "signing/typed_data.h"

namespace orwenna::interop {

namespace {

Bytes hexOf(const Json& request, const char* key) {
  auto b = fromHex(requireString(request, key));
  if (!b) throw std::runtime_error(std::string("bad hex in ") + key);
  return *b;
}

std::vector<EIP712::Field> fieldsOf(const std::string& typeName, const Json& object, const Json& types);

// Values arrive as viem takes them: uints as decimal strings, bytes as 0x hex.
EIP712::Value valueOf(const std::string& type, const Json& v, const Json& types) {
  using V = EIP712::Value;
  if (types.contains(type)) return V::structure(type, fieldsOf(type, v, types));
  if (type == "string") return V::string(v.get<std::string>());
  if (type == "address") return V::address(v.get<std::string>());
  if (type == "bool") return V::boolean(v.get<bool>());
  if (type == "bytes32") return V::bytes32(*fromHex(v.get<std::string>()));
  if (type == "bytes") return V::bytes(*fromHex(v.get<std::string>()));
  if (type.rfind("uint", 0) == 0) return V::uint(*parseUInt256(v.get<std::string>()));
  throw std::runtime_error("unsupported type " + type);
}

std::vector<EIP712::Field> fieldsOf(const std::string& typeName, const Json& object, const Json& types) {
  std::vector<EIP712::Field> out;
  for (const Json& f : types.at(typeName)) {
    std::string name = f.at("name").get<std::string>();
    std::string type = f.at("type").get<std::string>();
    out.push_back(EIP712::Field{name, type, valueOf(type, object.at(name), types)});
  }
  return out;
}

OpRegistrar eip712("eip712", [](const Json& request) {
  const Json& types = requireField(request, "types");
  EIP712::Typed typed{fieldsOf("EIP712Domain", requireField(request, "domain"), types),
                      requireString(request, "primaryType"), {}};
  typed.message = fieldsOf(typed.type, requireField(request, "message"), types);
  EIP712::Parts parts = EIP712::parts(typed);
  return Json{{"digest", toHex0x(EIP712::digest(typed))},
              {"domain", toHex0x(parts.domain)},
              {"message", toHex0x(parts.message)},
              {"type", EIP712::encodeType(typed.type, typed.message)}};
});

// A page's document as text, read by TypedData.
OpRegistrar typedData("typedData", [](const Json& request) {
  TypedData typed = TypedData::parse(requireString(request, "text"));
  auto refusal = TypedData::refusal(typed);
  Json fields = Json::array();
  for (const auto& f : typed.fields) fields.push_back(f.value);
  return Json{{"digest", toHex0x(typed.digest)}, {"values", fields}, {"refusal", refusal ? Json(*refusal) : Json()}};
});

OpRegistrar personal("personalHash", [](const Json& request) {
  return Json(toHex0x(PersonalMessage::hash(hexOf(request, "hex"))));
});

OpRegistrar sign("sign", [](const Json& request) {
  SecretBytes key(hexOf(request, "key"));
  EVMSignature sig = EVMSigner::sign(hexOf(request, "hash"), key.span());
  return Json(toHex(sig.bytes()));
});

OpRegistrar recover("recover", [](const Json& request) {
  auto sig = EVMSignature::fromBytes(hexOf(request, "signature"));
  if (!sig) throw std::runtime_error("not 65 bytes");
  return Json(EVMSigner::recover(*sig, hexOf(request, "hash")));
});

}  // namespace

}  // namespace orwenna::interop
