// Hyperliquid action building, encoding and signing, for comparison with
// @msgpack/msgpack, @nktkas/hyperliquid and viem. Actions arrive as JSON text
// (so 64-bit integers survive) in the exchange's own form.
#include "base/bytes.h"
#include "base/decimal.h"
#include "helper.h"
#include "signing/eip712.h"
#include "signing/evm_signer.h"
#include "signing/hl_action.h"
#include "hyperliquid/exchange.h"
#include "signing/hl_signer.h"
#include "signing/secret.h"

namespace orwenna::interop {

namespace {

MsgPack actionArg(const Json& request) {
  auto parsed = parseJson(requireString(request, "text"));
  if (!parsed) throw std::runtime_error("action text is not JSON");
  return MsgPack::fromPlainJson(*parsed);
}

SecretBytes keyArg(const Json& request) {
  auto key = fromHex(requireString(request, "key"));
  if (!key || key->size() != 32) throw std::runtime_error("bad key");
  SecretBytes secret(*key);
  wipeBytes(*key);
  return secret;
}

std::optional<std::string> vaultArg(const Json& request) {
  if (!request.contains("vault") || request["vault"].is_null()) return std::nullopt;
  return request["vault"].get<std::string>();
}

std::optional<std::uint64_t> expiresArg(const Json& request) {
  if (!request.contains("expires") || request["expires"].is_null()) return std::nullopt;
  return request["expires"].get<std::uint64_t>();
}

Json signatureJson(const EVMSignature& sig, const EIP712::Parts& parts) {
  return Json{{"r", toHex0x(sig.r)},
              {"s", toHex0x(sig.s)},
              {"v", sig.v},
              {"recovered", EVMSigner::recover(sig, EIP712::digest(parts))}};
}

HLOrder orderArg(const Json& o) {
  HLOrder order;
  order.asset = requireInt(o, "asset");
  order.isBuy = requireBool(o, "isBuy");
  order.price = Decimal::parse(requireString(o, "price"));
  order.size = Decimal::parse(requireString(o, "size"));
  order.reduceOnly = requireBool(o, "reduceOnly");
  if (o.contains("trigger")) {
    order.kind = HLOrder::Trigger{Decimal::parse(requireString(o, "trigger")), requireBool(o, "isMarket"),
                                  requireString(o, "tpsl")};
  } else {
    order.kind = HLOrder::Limit{requireString(o, "tif")};
  }
  order.cloid = optionalString(o, "cloid");
  return order;
}

Json packed(const MsgPack& action) {
  return Json{{"hex", toHex(action.encoded())}, {"json", action.toPlainJson().dump()}};
}

OpRegistrar msgpack("hl.msgpack", [](const Json& request) { return Json(toHex(actionArg(request).encoded())); });

// Through the tagged form and back: the signer protocol must not change a byte.
OpRegistrar tagged("hl.tagged", [](const Json& request) {
  MsgPack action = actionArg(request);
  MsgPack back = MsgPack::fromJson(*parseJson(action.toJson().dump()));
  return Json(toHex(back.encoded()));
});

OpRegistrar order("hl.order", [](const Json& request) {
  std::vector<HLOrder> orders;
  for (const Json& o : requireField(request, "orders")) orders.push_back(orderArg(o));
  return packed(HLAction::order(orders, requireString(request, "grouping")));
});

OpRegistrar cancel("hl.cancel", [](const Json& request) {
  std::vector<HLCancel> cancels;
  for (const Json& c : requireField(request, "cancels")) cancels.push_back({requireInt(c, "a"), requireInt(c, "o")});
  return packed(HLAction::cancel(cancels));
});

OpRegistrar user("hl.user", [](const Json& request) {
  const Json& a = requireField(request, "fields");
  bool mainnet = requireBool(request, "mainnet");
  std::string type = requireString(request, "type");
  auto amount = [&] { return Decimal::parse(requireString(a, "amount")); };
  auto u64 = [&](const char* key) { return requireField(a, key).get<std::uint64_t>(); };
  if (type == "usdClassTransfer") return packed(HLAction::usdClassTransfer(amount(), requireBool(a, "toPerp"), u64("nonce"), mainnet));
  if (type == "spotSend") {
    return packed(HLAction::spotSend(requireString(a, "destination"), requireString(a, "token"), amount(), u64("time"), mainnet));
  }
  if (type == "sendAsset") {
    return packed(HLAction::sendAsset(requireString(a, "destination"), requireString(a, "sourceDex"),
                                      requireString(a, "destinationDex"), requireString(a, "token"), amount(),
                                      requireString(a, "fromSubAccount"), u64("nonce"), mainnet));
  }
  if (type == "usdSend") return packed(HLAction::usdSend(requireString(a, "destination"), amount(), u64("time"), mainnet));
  if (type == "withdraw3") return packed(HLAction::withdraw3(requireString(a, "destination"), amount(), u64("time"), mainnet));
  if (type == "approveAgent") {
    return packed(HLAction::approveAgent(requireString(a, "agentAddress"), requireString(a, "agentName"), u64("nonce"), mainnet));
  }
  throw std::runtime_error("unknown user action " + type);
});

OpRegistrar signL1("hl.signL1", [](const Json& request) {
  MsgPack action = actionArg(request);
  SecretBytes key = keyArg(request);
  std::uint64_t nonce = requireField(request, "nonce").get<std::uint64_t>();
  bool mainnet = requireBool(request, "mainnet");
  EVMSignature sig = HLSigner::signL1(action, key.span(), nonce, vaultArg(request), expiresArg(request), mainnet);
  Json out = signatureJson(sig, HLSigner::l1Parts(action, nonce, vaultArg(request), expiresArg(request), mainnet));
  out["hash"] = toHex0x(HLSigner::actionHash(action, vaultArg(request), nonce, expiresArg(request)));
  out["body"] = HLExchange::body(action, nonce, sig, vaultArg(request)).dump();
  return out;
});

OpRegistrar signUser("hl.signUser", [](const Json& request) {
  MsgPack action = actionArg(request);
  SecretBytes key = keyArg(request);
  bool mainnet = requireBool(request, "mainnet");
  bool approve = action.find("type") != nullptr && action.find("type")->stringValue() != nullptr &&
                 *action.find("type")->stringValue() == "approveAgent";
  if (approve) {
    return signatureJson(HLSigner::signApproveAgent(action, key.span(), mainnet),
                         HLSigner::approveAgentParts(action, mainnet));
  }
  return signatureJson(HLSigner::signUser(action, key.span(), mainnet), HLSigner::userParts(action, mainnet));
});

OpRegistrar relay("hl.relay", [](const Json& request) {
  SecretBytes key = keyArg(request);
  Bytes id = fromHex(requireString(request, "id")).value();
  std::string wallet = requireString(request, "wallet");
  std::string depositor = requireString(request, "depositor");
  std::uint64_t nonce = requireField(request, "nonce").get<std::uint64_t>();
  EIP712::Parts parts = HLSigner::relayNonceMappingParts(wallet, depositor, id, nonce);
  Json out = signatureJson(HLSigner::signRelayNonceMapping(wallet, depositor, id, nonce, key.span()), parts);
  out["digest"] = toHex0x(EIP712::digest(parts));
  return out;
});

OpRegistrar rounding("hl.round", [](const Json& request) {
  Decimal value = Decimal::parse(requireString(request, "value"));
  int szDecimals = static_cast<int>(requireInt(request, "szDecimals"));
  return Json{{"price", HLAction::roundPrice(value, szDecimals, requireBool(request, "spot")).toString()},
              {"size", HLAction::roundSize(value, szDecimals).toString()}};
});

}  // namespace

}  // namespace orwenna::interop
