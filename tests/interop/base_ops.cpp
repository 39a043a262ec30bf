#include "base/bytes.h"
#include "base/decimal.h"
#include "helper.h"

namespace orwenna::interop {

namespace {

OpRegistrar codecs("codecs", [](const Json& request) {
  Bytes b = hexArg(request);
  return Json{{"hex", toHex(b)}, {"base64", toBase64(b)}, {"base64url", toBase64Url(b)},
              {"fromBase64", toHex(fromBase64(toBase64(b)).value())}};
});

// Re-serialises a JSON document; key order and numbers must survive.
OpRegistrar jsonRoundTrip("json", [](const Json& request) {
  auto parsed = parseJson(requireString(request, "text"));
  if (!parsed) throw std::runtime_error("not JSON");
  return Json(parsed->dump());
});

OpRegistrar decimalFromJson("decimal", [](const Json& request) {
  return Json(Decimal::fromJson(requireField(request, "value")).toString());
});

}  // namespace

}  // namespace orwenna::interop
