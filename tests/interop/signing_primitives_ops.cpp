#include "base/bytes.h"
#include "helper.h"
#include "signing/base58.h"
#include "signing/keccak.h"

namespace orwenna::interop {

namespace {

OpRegistrar keccak("keccak256", [](const Json& request) { return Json(toHex(Keccak::hash256(hexArg(request)))); });
OpRegistrar base58("base58", [](const Json& request) {
  Bytes b = hexArg(request);
  std::string text = Base58::encode(b);
  return Json{{"text", text}, {"back", toHex(Base58::decode(text))}};
});

}  // namespace

}  // namespace orwenna::interop
