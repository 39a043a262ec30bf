#include "signing/signer_protocol.h"

#include <array>
#include <limits>
#include <type_traits>

#include <fmt/format.h>

#include "signing/secret.h"

namespace orwenna {

namespace sr = signer_request;

sr::ImportMnemonic::~ImportMnemonic() {
  wipeString(phrase);
  wipeString(passphrase);
}

sr::ImportPrivateKey::~ImportPrivateKey() { wipeString(key); }

SignerReply::~SignerReply() {
  if (phrase) wipeString(*phrase);
}

namespace {

// The names of the cases, in the order of the variant.
constexpr std::array<std::string_view, SignerRequest::kCaseCount> kCaseNames = {
    "status",          "importMnemonic",        "createWallet",         "forget",
    "addressBook",     "saveAddresses",         "removeAddress",        "importPrivateKey",
    "setActiveWallet", "removeWallet",          "renameWallet",         "signSolana",
    "signSolanaMessage", "signPersonal",        "signTypedData",        "signEVMTransaction",
    "signEVMBatch",    "signHyperliquidL1",     "signHyperliquidUser",  "signRelayNonceMapping",
    "enableAgent",     "setAgentActive",        "ledgerAgent",          "setLedgerAgentActive",
    "signLedgerAgentL1", "nearAddress",         "lock",                 "setSessionLength",
    "endSession",      "signNearIntentDeposit", "signNearTransfer",     "signNearDeleteAccount",
    "createAutomationWallet", "signRelayHyperliquidDeposit", "signOneClickDeposit", "asWallet"};

// Each case lists its fields once; the writer and the reader both walk it.
template <typename S, typename V> void fields(S&, V&) requires std::is_empty_v<std::remove_const_t<S>> {}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::ImportMnemonic> {
  v("phrase", s.phrase); v("passphrase", s.passphrase); v("requirePresence", s.requirePresence);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::CreateWallet> {
  v("requirePresence", s.requirePresence);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SaveAddresses> {
  v("_0", s._0);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::RemoveAddress> {
  v("name", s.name); v("network", s.network);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::ImportPrivateKey> {
  v("key", s.key);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SetActiveWallet> {
  v("id", s.id);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::RemoveWallet> {
  v("id", s.id);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::RenameWallet> {
  v("id", s.id); v("label", s.label);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SignSolana> {
  v("wire", s.wire); v("accounts", s.accounts); v("recipients", s.recipients); v("tokenOwners", s.tokenOwners);
  v("extraPrograms", s.extraPrograms);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SignSolanaMessage> {
  v("message", s.message);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SignPersonal> {
  v("message", s.message);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SignTypedData> {
  v("json", s.json);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SignEVMTransaction> {
  v("chainId", s.chainId); v("nonce", s.nonce); v("maxPriorityFee", s.maxPriorityFee); v("maxFee", s.maxFee);
  v("gasLimit", s.gasLimit); v("to", s.to); v("value", s.value); v("data", s.data); v("recipients", s.recipients);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SignEVMBatch> {
  v("chainId", s.chainId); v("nonce", s.nonce); v("maxPriorityFee", s.maxPriorityFee); v("maxFee", s.maxFee);
  v("gasLimit", s.gasLimit); v("calls", s.calls); v("recipients", s.recipients);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SignHyperliquidL1> {
  v("action", s.action); v("nonce", s.nonce); v("mainnet", s.mainnet);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SignHyperliquidUser> {
  v("action", s.action); v("mainnet", s.mainnet); v("recipients", s.recipients);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SignRelayNonceMapping> {
  v("wallet", s.wallet); v("depositor", s.depositor); v("id", s.id); v("nonce", s.nonce);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SetAgentActive> {
  v("_0", s._0);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::LedgerAgent> {
  v("owner", s.owner); v("create", s.create);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SetLedgerAgentActive> {
  v("owner", s.owner); v("active", s.active);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SignLedgerAgentL1> {
  v("owner", s.owner); v("action", s.action); v("nonce", s.nonce);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SetSessionLength> {
  v("seconds", s.seconds);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SignNearIntentDeposit> {
  v("amount", s.amount); v("depositAddress", s.depositAddress); v("nonce", s.nonce); v("blockHash", s.blockHash);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SignNearTransfer> {
  v("amount", s.amount); v("receiver", s.receiver); v("recipients", s.recipients); v("nonce", s.nonce);
  v("blockHash", s.blockHash);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SignNearDeleteAccount> {
  v("beneficiary", s.beneficiary); v("recipients", s.recipients); v("nonce", s.nonce); v("blockHash", s.blockHash);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SignRelayHyperliquidDeposit> {
  v("action", s.action); v("mainnet", s.mainnet); v("recipient", s.recipient);
  v("destinationChainId", s.destinationChainId); v("destinationCurrency", s.destinationCurrency);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::SignOneClickDeposit> {
  v("depositAddress", s.depositAddress); v("request", s.request);
}
template <typename S, typename V> void fields(S& s, V& v) requires std::is_same_v<std::remove_const_t<S>, sr::AsWallet> {
  v("id", s.id); v("request", s.request);
}

Json addressJson(const SignerAddress& a) {
  return Json{{"name", a.name}, {"network", a.network}, {"address", a.address}, {"memo", a.memo}};
}

Json callJson(const SignerCall& c) { return Json{{"to", c.to}, {"data", toBase64(c.data)}}; }

struct FieldWriter {
  Json& out;
  void operator()(const char* key, const std::string& v) { out[key] = v; }
  void operator()(const char* key, bool v) { out[key] = v; }
  void operator()(const char* key, std::uint64_t v) { out[key] = v; }
  void operator()(const char* key, std::int64_t v) { out[key] = v; }
  void operator()(const char* key, const Bytes& v) { out[key] = toBase64(v); }
  void operator()(const char* key, const MsgPack& v) { out[key] = v.toJson(); }
  void operator()(const char* key, const UInt256& v) {
    if (v <= std::numeric_limits<std::uint64_t>::max()) {
      out[key] = v.convert_to<std::uint64_t>();
    } else {
      out[key] = toDecimalString(v);
    }
  }
  void operator()(const char* key, const std::vector<std::string>& v) { out[key] = v; }
  void operator()(const char* key, const std::map<std::string, std::string>& v) {
    Json object = Json::object();
    for (const auto& [k, value] : v) object[k] = value;
    out[key] = std::move(object);
  }
  void operator()(const char* key, const std::vector<SignerAddress>& v) {
    Json list = Json::array();
    for (const auto& a : v) list.push_back(addressJson(a));
    out[key] = std::move(list);
  }
  void operator()(const char* key, const std::vector<SignerCall>& v) {
    Json list = Json::array();
    for (const auto& c : v) list.push_back(callJson(c));
    out[key] = std::move(list);
  }
  void operator()(const char* key, const std::shared_ptr<const SignerRequest>& v) { out[key] = v->toJson(); }
};

[[noreturn]] void shapeError(std::string_view where, std::string_view what) {
  throw SignerProtocolError(fmt::format("The signer message is malformed: {} {}.", where, what));
}

const Json& member(const Json& object, const char* key, std::string_view where) {
  auto it = object.find(key);
  if (it == object.end()) shapeError(where, fmt::format("has no \"{}\"", key));
  return *it;
}

std::string stringValue(const Json& j, std::string_view where) {
  if (!j.is_string()) shapeError(where, "is not a string");
  return j.get<std::string>();
}

std::uint64_t unsignedValue(const Json& j, std::string_view where) {
  if (j.is_number_unsigned()) return j.get<std::uint64_t>();
  if (j.is_number_integer() && j.get<std::int64_t>() >= 0) return static_cast<std::uint64_t>(j.get<std::int64_t>());
  shapeError(where, "is not a whole number from 0 to 18446744073709551615");
}

Bytes bytesValue(const Json& j, std::string_view where) {
  if (!j.is_string()) shapeError(where, "is not Base64 text");
  auto bytes = fromBase64(j.get_ref<const std::string&>());
  if (!bytes) shapeError(where, "is not Base64 text");
  return std::move(*bytes);
}

std::vector<std::string> stringList(const Json& j, std::string_view where) {
  if (!j.is_array()) shapeError(where, "is not a list");
  std::vector<std::string> out;
  out.reserve(j.size());
  for (const auto& item : j) out.push_back(stringValue(item, where));
  return out;
}

SignerAddress addressValue(const Json& j, std::string_view where) {
  if (!j.is_object()) shapeError(where, "is not an address record");
  return SignerAddress{stringValue(member(j, "name", where), where), stringValue(member(j, "network", where), where),
                       stringValue(member(j, "address", where), where), stringValue(member(j, "memo", where), where)};
}

std::vector<SignerAddress> addressList(const Json& j, std::string_view where) {
  if (!j.is_array()) shapeError(where, "is not a list");
  std::vector<SignerAddress> out;
  for (const auto& item : j) out.push_back(addressValue(item, where));
  return out;
}

MsgPack msgPackValue(const Json& j, std::string_view where) {
  try {
    return MsgPack::fromJson(j);
  } catch (const Error& e) {
    shapeError(where, fmt::format("is not an action ({})", e.what()));
  }
}

struct FieldReader {
  const Json& in;
  std::string where;
  int depth;

  const Json& at(const char* key) const { return member(in, key, fmt::format("\"{}\" of {}", key, where)); }
  std::string here(const char* key) const { return fmt::format("\"{}\" of {}", key, where); }

  void operator()(const char* key, std::string& v) { v = stringValue(at(key), here(key)); }
  void operator()(const char* key, bool& v) {
    if (!at(key).is_boolean()) shapeError(here(key), "is not true or false");
    v = at(key).get<bool>();
  }
  void operator()(const char* key, std::uint64_t& v) { v = unsignedValue(at(key), here(key)); }
  void operator()(const char* key, std::int64_t& v) {
    const Json& j = at(key);
    if (!j.is_number_integer()) shapeError(here(key), "is not a whole number");
    if (j.is_number_unsigned() && j.get<std::uint64_t>() > std::uint64_t(std::numeric_limits<std::int64_t>::max())) {
      shapeError(here(key), "is too large");
    }
    v = j.get<std::int64_t>();
  }
  void operator()(const char* key, Bytes& v) { v = bytesValue(at(key), here(key)); }
  void operator()(const char* key, MsgPack& v) { v = msgPackValue(at(key), here(key)); }
  void operator()(const char* key, UInt256& v) {
    const Json& j = at(key);
    if (j.is_string()) {
      auto parsed = parseUInt256(j.get_ref<const std::string&>());
      if (!parsed) shapeError(here(key), "is not a whole number of wei");
      v = *parsed;
    } else {
      v = unsignedValue(j, here(key));
    }
  }
  void operator()(const char* key, std::vector<std::string>& v) { v = stringList(at(key), here(key)); }
  void operator()(const char* key, std::map<std::string, std::string>& v) {
    const Json& j = at(key);
    if (!j.is_object()) shapeError(here(key), "is not an object");
    v.clear();
    for (const auto& [k, value] : j.items()) v[k] = stringValue(value, here(key));
  }
  void operator()(const char* key, std::vector<SignerAddress>& v) { v = addressList(at(key), here(key)); }
  void operator()(const char* key, std::vector<SignerCall>& v) {
    const Json& j = at(key);
    if (!j.is_array()) shapeError(here(key), "is not a list");
    v.clear();
    for (const auto& item : j) {
      if (!item.is_object()) shapeError(here(key), "is not a list of calls");
      v.push_back(SignerCall{stringValue(member(item, "to", here(key)), here(key)),
                             bytesValue(member(item, "data", here(key)), here(key))});
    }
  }
  void operator()(const char* key, std::shared_ptr<const SignerRequest>& v);
};

template <std::size_t I>
SignerRequest::Case decodeCase(std::size_t index, const Json& body, int depth);

SignerRequest decodeRequest(const Json& json, int depth);

void FieldReader::operator()(const char* key, std::shared_ptr<const SignerRequest>& v) {
  v = std::make_shared<const SignerRequest>(decodeRequest(at(key), depth + 1));
}

template <typename T>
T decodeFields(const Json& body, std::string_view name, int depth) {
  T value{};
  if (!body.is_object()) shapeError(fmt::format("\"{}\"", name), "does not hold an object");
  FieldReader reader{body, fmt::format("\"{}\"", name), depth};
  fields(value, reader);
  return value;
}

template <std::size_t I>
SignerRequest::Case decodeCase(std::size_t index, const Json& body, int depth) {
  if constexpr (I < SignerRequest::kCaseCount) {
    if (index == I) {
      using T = std::variant_alternative_t<I, SignerRequest::Case>;
      return SignerRequest::Case(std::in_place_index<I>, decodeFields<T>(body, kCaseNames[I], depth));
    }
    return decodeCase<I + 1>(index, body, depth);
  } else {
    shapeError("the request", "has an unknown case");
  }
}

}  // namespace

// Exposed to the decoder above through a friend-free path: a request is only
// ever built from a case value or by asWallet.
namespace {

SignerRequest fromCase(SignerRequest::Case value, int depth) {
  return std::visit(
      [&](auto&& c) -> SignerRequest {
        using T = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<T, sr::AsWallet>) {
          (void)depth;
          return SignerRequest::asWallet(c.id, *c.request);
        } else {
          return SignerRequest(std::move(c));
        }
      },
      std::move(value));
}

SignerRequest decodeRequest(const Json& json, int depth) {
  if (depth > 1) shapeError("\"asWallet\"", "holds another \"asWallet\"");
  if (!json.is_object() || json.size() != 1) shapeError("the request", "is not an object with exactly one case");
  auto only = json.begin();
  const std::string& name = only.key();
  const Json& body = only.value();
  for (std::size_t i = 0; i < kCaseNames.size(); ++i) {
    if (kCaseNames[i] == name) return fromCase(decodeCase<0>(i, body, depth), depth);
  }
  shapeError(fmt::format("the request case \"{}\"", name), "is unknown");
}

}  // namespace

SignerRequest SignerRequest::asWallet(std::string id, SignerRequest inner) {
  if (inner.get<sr::AsWallet>()) {
    throw SignerProtocolError("The signer message is malformed: \"asWallet\" holds another \"asWallet\".");
  }
  return SignerRequest(Wrapped{}, sr::AsWallet{std::move(id), std::make_shared<const SignerRequest>(std::move(inner))});
}

const SignerRequest& SignerRequest::unwrapped() const {
  if (const auto* wrapped = get<sr::AsWallet>()) return *wrapped->request;
  return *this;
}

std::string_view SignerRequest::caseName() const { return kCaseNames[value_.index()]; }

std::string_view SignerRequest::caseName(std::size_t index) { return kCaseNames.at(index); }

Json SignerRequest::toJson() const {
  Json body = Json::object();
  std::visit(
      [&](const auto& c) {
        FieldWriter writer{body};
        fields(c, writer);
      },
      value_);
  Json out = Json::object();
  out[std::string(caseName())] = std::move(body);
  return out;
}

SignerRequest SignerRequest::fromJson(const Json& json) { return decodeRequest(json, 0); }

// ---- records ---------------------------------------------------------------

std::optional<std::string> SignerWallet::keyProblem(std::string_view network) const {
  const std::optional<std::string>* key = nullptr;
  std::string_view display;
  if (network == "solana") {
    key = &solana;
    display = "Solana";
  } else if (network == "evm") {
    key = &evm;
    display = "EVM (Hyperliquid, Base…)";
  } else {
    key = &near;
    display = "NEAR";
  }
  if (key->has_value()) return std::nullopt;
  std::string holds = solana ? "a Solana" : evm ? "an EVM" : "a NEAR";
  return fmt::format(
      "The wallet «{}» has no {} key: it holds only {} key. Switch wallets (Settings → Key and signing) or import "
      "one that has it.",
      label, display, holds);
}

SignerReply SignerReply::refusal(std::string error, std::vector<std::string> problems) {
  SignerReply reply;
  reply.ok = false;
  reply.error = std::move(error);
  reply.problems = std::move(problems);
  return reply;
}

std::string SignerReply::errorText() const {
  std::string text = error.value_or("The signer refused.");
  for (const auto& problem : problems) {
    text += ' ';
    text += problem;
  }
  return text;
}

const SignerWallet* SignerReply::activeWalletRecord() const {
  if (!wallets || !activeWallet) return nullptr;
  for (const auto& wallet : *wallets) {
    if (wallet.id == *activeWallet) return &wallet;
  }
  return nullptr;
}

namespace {

Json walletJson(const SignerWallet& w) {
  Json j = Json::object();
  j["id"] = w.id;
  j["label"] = w.label;
  j["kind"] = w.kind;
  if (w.solana) j["solana"] = *w.solana;
  if (w.evm) j["evm"] = *w.evm;
  if (w.near) j["near"] = *w.near;
  if (w.test) j["test"] = *w.test;
  if (w.automation) j["automation"] = *w.automation;
  return j;
}

template <typename T>
void putOptional(Json& j, const char* key, const std::optional<T>& v) {
  if (!v) return;
  if constexpr (std::is_same_v<T, Bytes>) {
    j[key] = toBase64(*v);
  } else {
    j[key] = *v;
  }
}

std::optional<std::string> optString(const Json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return std::nullopt;
  return stringValue(*it, fmt::format("\"{}\" of the reply", key));
}

std::optional<bool> optBool(const Json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return std::nullopt;
  if (!it->is_boolean()) shapeError(fmt::format("\"{}\" of the reply", key), "is not true or false");
  return it->get<bool>();
}

std::optional<Bytes> optBytes(const Json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return std::nullopt;
  return bytesValue(*it, fmt::format("\"{}\" of the reply", key));
}

SignerWallet walletValue(const Json& j) {
  const std::string where = "a wallet of the reply";
  if (!j.is_object()) shapeError(where, "is not an object");
  SignerWallet w;
  w.id = stringValue(member(j, "id", where), where);
  w.label = stringValue(member(j, "label", where), where);
  w.kind = stringValue(member(j, "kind", where), where);
  w.solana = optString(j, "solana");
  w.evm = optString(j, "evm");
  w.near = optString(j, "near");
  w.test = optBool(j, "test");
  w.automation = optBool(j, "automation");
  return w;
}

}  // namespace

Json SignerReply::toJson() const {
  Json j = Json::object();
  j["ok"] = ok;
  putOptional(j, "error", error);
  putOptional(j, "hasWallet", hasWallet);
  putOptional(j, "solanaAddress", solanaAddress);
  putOptional(j, "evmAddress", evmAddress);
  putOptional(j, "nearAddress", nearAddress);
  putOptional(j, "phrase", phrase);
  putOptional(j, "signedWire", signedWire);
  putOptional(j, "signedRaw", signedRaw);
  if (signature) j["signature"] = signature->toJson();
  putOptional(j, "signatureBytes", signatureBytes);
  putOptional(j, "agentAddress", agentAddress);
  putOptional(j, "agentActive", agentActive);
  if (wallets) {
    Json list = Json::array();
    for (const auto& w : *wallets) list.push_back(walletJson(w));
    j["wallets"] = std::move(list);
  }
  putOptional(j, "activeWallet", activeWallet);
  putOptional(j, "sessionLength", sessionLength);
  if (action) j["action"] = action->toJson();
  putOptional(j, "nonce", nonce);
  if (addresses) {
    Json list = Json::array();
    for (const auto& a : *addresses) list.push_back(addressJson(a));
    j["addresses"] = std::move(list);
  }
  j["checks"] = checks;
  j["problems"] = problems;
  return j;
}

SignerReply SignerReply::fromJson(const Json& j) {
  const std::string where = "the reply";
  if (!j.is_object()) shapeError(where, "is not an object");
  SignerReply r;
  const Json& ok = member(j, "ok", where);
  if (!ok.is_boolean()) shapeError("\"ok\" of the reply", "is not true or false");
  r.ok = ok.get<bool>();
  r.error = optString(j, "error");
  r.hasWallet = optBool(j, "hasWallet");
  r.solanaAddress = optString(j, "solanaAddress");
  r.evmAddress = optString(j, "evmAddress");
  r.nearAddress = optString(j, "nearAddress");
  r.phrase = optString(j, "phrase");
  r.signedWire = optBytes(j, "signedWire");
  r.signedRaw = optBytes(j, "signedRaw");
  if (auto it = j.find("signature"); it != j.end() && !it->is_null()) {
    try {
      r.signature = EVMSignature::fromJson(*it);
    } catch (const Error& e) {
      shapeError("\"signature\" of the reply", fmt::format("is not a signature ({})", e.what()));
    }
  }
  r.signatureBytes = optBytes(j, "signatureBytes");
  r.agentAddress = optString(j, "agentAddress");
  r.agentActive = optBool(j, "agentActive");
  if (auto it = j.find("wallets"); it != j.end() && !it->is_null()) {
    if (!it->is_array()) shapeError("\"wallets\" of the reply", "is not a list");
    r.wallets.emplace();
    for (const auto& item : *it) r.wallets->push_back(walletValue(item));
  }
  r.activeWallet = optString(j, "activeWallet");
  if (auto it = j.find("sessionLength"); it != j.end() && !it->is_null()) {
    if (!it->is_number_integer()) shapeError("\"sessionLength\" of the reply", "is not a whole number");
    r.sessionLength = it->get<std::int64_t>();
  }
  if (auto it = j.find("action"); it != j.end() && !it->is_null()) r.action = msgPackValue(*it, "\"action\" of the reply");
  if (auto it = j.find("nonce"); it != j.end() && !it->is_null()) r.nonce = unsignedValue(*it, "\"nonce\" of the reply");
  if (auto it = j.find("addresses"); it != j.end() && !it->is_null()) {
    r.addresses = addressList(*it, "\"addresses\" of the reply");
  }
  r.checks = stringList(member(j, "checks", where), "\"checks\" of the reply");
  r.problems = stringList(member(j, "problems", where), "\"problems\" of the reply");
  return r;
}

void wipeJsonStrings(Json& json) {
  if (json.is_string()) {
    wipeString(json.get_ref<std::string&>());
  } else if (json.is_structured()) {
    for (auto& item : json) wipeJsonStrings(item);
  }
}

}  // namespace orwenna
