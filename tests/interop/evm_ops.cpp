// EVM ops for the interop checks: typed transactions (signing hash, unsigned
// and signed serialisation), the batch transaction of a list of calls,
// authorisation hashes, ABI encoding and ENS
// namehashes.
#include <stdexcept>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "chains/abi.h"
#include "chains/ens.h"
#include "chains/evm_transaction.h"
#include "helper.h"

namespace orwenna::interop {

namespace {

UInt256 num(const Json& request, const char* name) {
  auto v = parseUInt256(requireString(request, name));
  if (!v) throw std::runtime_error(std::string("bad number in ") + name);
  return *v;
}

Bytes hexOf(const std::string& text) {
  auto b = fromHex(text);
  if (!b) throw std::runtime_error("bad hex");
  return *b;
}

EVMSignature signatureOf(const Json& j) {
  EVMSignature s;
  Bytes r = hexOf(requireString(j, "r"));
  Bytes sv = hexOf(requireString(j, "s"));
  if (r.size() != 32 || sv.size() != 32) throw std::runtime_error("r and s are 32 bytes");
  std::copy(r.begin(), r.end(), s.r.begin());
  std::copy(sv.begin(), sv.end(), s.s.begin());
  s.v = 27 + static_cast<int>(requireInt(j, "yParity"));
  return s;
}

ABI::Value valueOf(const std::string& type, const Json& v) {
  if (type.size() > 2 && type.substr(type.size() - 2) == "[]") {
    std::vector<ABI::Value> items;
    for (const auto& e : v) items.push_back(valueOf(type.substr(0, type.size() - 2), e));
    return ABI::Value::array(std::move(items));
  }
  if (type == "address") return ABI::Value::address(v.get<std::string>());
  if (type == "uint256") return ABI::Value::uint(*parseUInt256(v.get<std::string>()));
  if (type == "bool") return ABI::Value::boolean(v.get<bool>());
  if (type == "bytes32") return ABI::Value::fixedBytes(hexOf(v.get<std::string>()));
  if (type == "bytes") return ABI::Value::bytes(hexOf(v.get<std::string>()));
  throw std::runtime_error("unknown type " + type);
}

OpRegistrar tx("evm.tx", [](const Json& request) {
  EVMTransaction t;
  t.chainId = num(request, "chainId");
  t.nonce = num(request, "nonce");
  t.maxPriorityFeePerGas = num(request, "maxPriorityFeePerGas");
  t.maxFeePerGas = num(request, "maxFeePerGas");
  t.gasLimit = num(request, "gas");
  t.to = requireString(request, "to");
  t.value = num(request, "value");
  t.data = hexOf(requireString(request, "data"));
  for (const auto& a : requireField(request, "authorizations")) {
    t.authorizations.push_back({num(a, "chainId"), requireString(a, "address"), num(a, "nonce"), signatureOf(a)});
  }
  auto hash = EVMTransaction::signingHash(t);
  return Json{{"hash", toHex0x(hash)},
              {"unsigned", toHex0x(t.unsignedBytes())},
              {"signed", toHex0x(EVMTransaction::signedBytes(t, signatureOf(requireField(request, "signature"))))}};
});

OpRegistrar authHash("evm.authorizationHash", [](const Json& request) {
  return Json(toHex0x(
      EVMTransaction::authorizationHashFor(num(request, "chainId"), requireString(request, "address"), num(request, "nonce"))));
});

// The type-4 transaction a batch of calls becomes, as the signer builds it.
OpRegistrar batch("evm.batch", [](const Json& request) {
  std::vector<Batch7702::Call> calls;
  for (const auto& c : requireField(request, "calls")) {
    calls.push_back({requireString(c, "to"), hexOf(requireString(c, "data"))});
  }
  auto small = [&](const char* name) {
    UInt256 v = num(request, name);
    if (v > UInt256(~std::uint64_t{0})) throw std::runtime_error(std::string(name) + " beyond 64 bits");
    return static_cast<std::uint64_t>(v);
  };
  EVMTransaction t = Batch7702::transaction(small("chainId"), small("nonce"), num(request, "maxPriorityFeePerGas"),
                                            num(request, "maxFeePerGas"), num(request, "gas"),
                                            requireString(request, "wallet"), calls);
  auto& auth = t.authorizations.front();
  auth.signature = signatureOf(requireField(request, "authSignature"));
  return Json{{"data", toHex0x(t.data)},
              {"authHash", toHex0x(EVMTransaction::authorizationHash(auth.chainId, auth.nonce))},
              {"unsigned", toHex0x(t.unsignedBytes())},
              {"signed", toHex0x(EVMTransaction::signedBytes(t, signatureOf(requireField(request, "signature"))))}};
});

OpRegistrar abi("evm.abi", [](const Json& request) {
  const Json& types = requireField(request, "types");
  const Json& values = requireField(request, "values");
  std::vector<ABI::Value> args;
  for (std::size_t i = 0; i < types.size(); ++i) args.push_back(valueOf(types[i].get<std::string>(), values[i]));
  return Json(toHex0x(ABI::encode(args)));
});

OpRegistrar namehash("evm.namehash", [](const Json& request) {
  return Json(toHex0x(ENS::namehash(requireString(request, "name"))));
});

}  // namespace

}  // namespace orwenna::interop
