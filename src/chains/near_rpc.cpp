#include "chains/near_rpc.h"

#include "chains/near_transaction.h"
#include "signing/base58.h"

namespace orwenna {

namespace {

const char* kMissing = "NEAR RPC: no nonce, block hash or balance.";

const Json* member(const Json& j, std::string_view key) {
  if (!j.is_object()) return nullptr;
  auto it = j.find(std::string(key));
  return it == j.end() ? nullptr : &*it;
}

std::string compact(const Json& j) { return j.is_string() ? j.get<std::string>() : j.dump(); }

std::optional<UInt128> u128(const Json* j) {
  if (!j) return std::nullopt;
  if (j->is_number_unsigned()) return UInt128(j->get<std::uint64_t>());
  if (!j->is_string()) return std::nullopt;
  auto v = parseUInt256(j->get<std::string>());
  if (!v || *v > UInt256(~UInt128(0))) return std::nullopt;
  return static_cast<UInt128>(*v);
}

}  // namespace

NearRPC::NearRPC(HttpClient& http, std::string url) : http_(http), url_(std::move(url)) {}

Json NearRPC::call(const std::string& method, const Json& params) const {
  Json body = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}, {"params", params}};
  HttpRequest request = HttpRequest::postJson(url_, body.dump());
  request.timeout = std::chrono::seconds(30);
  HttpResponse response = http_.send(request);
  auto parsed = parseJson(response.body);
  if (!parsed) {
    throw NearRPCError("NEAR RPC " + method + ": HTTP " + std::to_string(response.status) + " " +
                           response.body.substr(0, 120),
                       response.body.substr(0, 120));
  }
  if (const Json* error = member(*parsed, "error"); error && !error->is_null()) {
    std::string message = compact(error->is_object() && member(*error, "message") ? (*error)["message"] : *error);
    throw NearRPCError("NEAR RPC " + method + ": " + message, compact(*error));
  }
  if (!response.ok()) {
    throw NearRPCError("NEAR RPC " + method + ": HTTP " + std::to_string(response.status),
                       response.body.substr(0, 120));
  }
  const Json* result = member(*parsed, "result");
  if (!result || result->is_null()) throw NearRPCError("NEAR RPC " + method + ": no result", "");
  if (const Json* inner = member(*result, "error"); inner && inner->is_string()) {
    throw NearRPCError("NEAR RPC " + method + ": " + inner->get<std::string>(), inner->get<std::string>());
  }
  return *result;
}

Json NearRPC::query(const Json& params) const {
  Json p = params;
  p["finality"] = "final";
  return call("query", p);
}

std::uint64_t NearRPC::accessKeyNonce(const std::string& account, ByteView publicKey) const {
  Json r = query({{"request_type", "view_access_key"},
                  {"account_id", account},
                  {"public_key", "ed25519:" + Base58::encode(publicKey)}});
  const Json* nonce = member(r, "nonce");
  if (!nonce || !nonce->is_number_unsigned()) throw NearRPCError(kMissing, "");
  return nonce->get<std::uint64_t>() + 1;
}

NearRPC::Account NearRPC::account(const std::string& account) const {
  Json r = query({{"request_type", "view_account"}, {"account_id", account}});
  auto amount = u128(member(r, "amount"));
  const Json* storage = member(r, "storage_usage");
  if (!amount || !storage || !storage->is_number_unsigned()) throw NearRPCError(kMissing, "");
  return {*amount, storage->get<std::uint64_t>()};
}

NearRPC::Block NearRPC::latestBlock() const {
  Json r = call("block", {{"finality", "final"}});
  const Json* header = member(r, "header");
  const Json* hash = header ? member(*header, "hash") : nullptr;
  auto gasPrice = header ? u128(member(*header, "gas_price")) : std::nullopt;
  std::optional<Bytes> bytes;
  if (hash && hash->is_string()) bytes = Base58::tryDecode(hash->get<std::string>());
  if (!bytes || bytes->size() != 32 || !gasPrice) throw NearRPCError(kMissing, "");
  return {*bytes, *gasPrice};
}

UInt128 NearRPC::wrappedBalance(const std::string& account) const {
  Json args = {{"account_id", account}};
  const std::string text = args.dump();
  Json r = query({{"request_type", "call_function"},
                  {"account_id", std::string(NearTransaction::kWrapContract)},
                  {"method_name", "ft_balance_of"},
                  {"args_base64", toBase64(asBytes(text))}});
  const Json* result = member(r, "result");
  if (!result || !result->is_array()) throw NearRPCError(kMissing, "");
  std::string returned;
  for (const auto& b : *result) {
    if (!b.is_number_unsigned() || b.get<std::uint64_t>() > 255) throw NearRPCError(kMissing, "");
    returned.push_back(static_cast<char>(b.get<std::uint64_t>()));
  }
  auto value = parseJson(returned);
  auto amount = value ? u128(&*value) : std::nullopt;
  if (!amount) throw NearRPCError(kMissing, "");
  return *amount;
}

std::string NearRPC::sendTx(ByteView signedTransaction) const {
  Json r = call("send_tx", {{"signed_tx_base64", toBase64(signedTransaction)}, {"wait_until", "EXECUTED_OPTIMISTIC"}});
  if (const Json* status = member(r, "status")) {
    if (const Json* failure = member(*status, "Failure")) {
      throw NearRPCError("The NEAR transaction failed: " + compact(*failure), compact(*failure));
    }
  }
  const Json* tx = member(r, "transaction");
  const Json* hash = tx ? member(*tx, "hash") : nullptr;
  if (!hash || !hash->is_string()) throw NearRPCError("NEAR RPC send_tx: no result", "");
  return hash->get<std::string>();
}

std::optional<std::string> NearRPC::userMessage(std::string_view nodeText) {
  if (nodeText.find("NotEnoughBalance") != std::string_view::npos ||
      nodeText.find("LackBalanceForState") != std::string_view::npos) {
    return "Not enough NEAR: the account keeps NEAR for its storage and pays the fee in NEAR. Send it ≈ 0.1 NEAR, then "
           "try again.";
  }
  if (isMissingAccount(nodeText)) {
    return "This NEAR account doesn't exist yet: NEAR opens it with the first NEAR it receives. Send it ≈ 0.1 NEAR, "
           "then try again.";
  }
  return std::nullopt;
}

bool NearRPC::isMissingAccount(std::string_view nodeText) {
  return nodeText.find("does not exist while viewing") != std::string_view::npos ||
         nodeText.find("UNKNOWN_ACCOUNT") != std::string_view::npos;
}

}  // namespace orwenna
