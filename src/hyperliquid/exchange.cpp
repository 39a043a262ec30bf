#include "hyperliquid/exchange.h"

#include "base/bytes.h"
#include "signing/wallet_error.h"

namespace orwenna {

Json HLExchange::body(const MsgPack& action, std::uint64_t nonce, const EVMSignature& signature,
                      const std::optional<std::string>& vaultAddress) {
  Json b = Json::object();
  b["action"] = action.toPlainJson();
  b["nonce"] = nonce;
  b["signature"] = Json{{"r", toHex0x(signature.r)}, {"s", toHex0x(signature.s)}, {"v", signature.v}};
  b["vaultAddress"] = vaultAddress ? Json(*vaultAddress) : Json(nullptr);
  return b;
}

std::string HLExchange::post(HttpClient& http, const Json& body, bool mainnet, const HLEndpoints& endpoints) {
  return send(http, body, mainnet, endpoints).body;
}

HttpResponse HLExchange::send(HttpClient& http, const Json& body, bool mainnet, const HLEndpoints& endpoints) {
  std::string text;
  try {
    text = body.dump();
  } catch (const Json::type_error&) {
    // Text that is not UTF-8 cannot be posted as the bytes that were signed.
    throw WalletError("The action holds text that is not valid UTF-8.");
  }
  HttpRequest request = HttpRequest::postJson(endpoints.root(mainnet) + "/exchange", std::move(text));
  request.timeout = kTimeout;
  return http.send(request);
}

}  // namespace orwenna
