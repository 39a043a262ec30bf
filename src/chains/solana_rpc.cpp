#include "chains/solana_rpc.h"

#include <algorithm>

#include "chains/rpc_retry.h"
#include "chains/solana_transaction.h"
#include "signing/base58.h"

namespace orwenna {

namespace {

const Json kConfirmed = {{"commitment", "confirmed"}};

SolanaRPCError badAnswer(const std::string& method, const std::string& what) {
  return SolanaRPCError(SolanaRPCError::Kind::badAnswer, 0, "Solana RPC " + method + ": " + what);
}

std::optional<std::uint64_t> asU64(const Json& v) {
  if (v.is_number_unsigned()) return v.get<std::uint64_t>();
  if (v.is_number_integer()) {
    auto i = v.get<std::int64_t>();
    if (i >= 0) return static_cast<std::uint64_t>(i);
    return std::nullopt;
  }
  if (v.is_string()) {
    const std::string& s = v.get_ref<const std::string&>();
    if (s.empty() || s.size() > 20) return std::nullopt;
    unsigned __int128 n = 0;
    for (char c : s) {
      if (c < '0' || c > '9') return std::nullopt;
      n = n * 10 + static_cast<unsigned>(c - '0');
    }
    if (n > UINT64_MAX) return std::nullopt;
    return static_cast<std::uint64_t>(n);
  }
  return std::nullopt;
}

std::uint64_t requireU64(const Json& v, const std::string& method, const std::string& what) {
  auto n = asU64(v);
  if (!n) throw badAnswer(method, what + " isn't a whole number");
  return *n;
}

const Json* path(const Json& v, std::initializer_list<std::string_view> keys) {
  const Json* at = &v;
  for (auto key : keys) {
    if (!at->is_object()) return nullptr;
    auto it = at->find(key);
    if (it == at->end()) return nullptr;
    at = &*it;
  }
  return at;
}

std::string errorText(const Json& err) { return err.is_string() ? err.get<std::string>() : err.dump(); }

std::optional<Bytes> base64Data(const Json& account) {
  const Json* data = path(account, {"data"});
  if (!data || !data->is_array() || data->empty() || !(*data)[0].is_string()) return std::nullopt;
  return fromBase64((*data)[0].get<std::string>());
}

}  // namespace

// ---- Nodes ---------------------------------------------------------------------

std::vector<std::string> SolanaNodes::list() const {
  std::vector<std::string> nodes;
  if (custom && !custom->empty()) nodes.push_back(*custom);
  nodes.push_back(publicEndpoint);
  return nodes;
}

// ---- Simulation reading -------------------------------------------------------

Decimal lamportsToSol(std::uint64_t lamports) { return Decimal(lamports).scaledByPowerOfTen(-9); }

SolanaSimulation SolanaSimulation::read(const Json& value, const std::vector<std::string>& addresses) {
  const std::string method = "simulateTransaction";
  if (!value.is_object()) throw badAnswer(method, "the simulation isn't an object");
  SolanaSimulation s;
  if (auto it = value.find("err"); it != value.end() && !it->is_null()) s.error = errorText(*it);
  if (auto it = value.find("logs"); it != value.end() && it->is_array()) {
    for (const auto& line : *it) {
      if (line.is_string()) s.logs.push_back(line.get<std::string>());
    }
  }
  if (auto it = value.find("unitsConsumed"); it != value.end()) s.unitsConsumed = asU64(*it);
  const Json* accounts = path(value, {"accounts"});
  bool haveAccounts = accounts && accounts->is_array();
  // A failed simulation may carry no accounts; balances are then unknown.
  if (!addresses.empty() && haveAccounts && accounts->size() != addresses.size()) {
    throw badAnswer(method, "the simulation returned " + std::to_string(accounts->size()) + " accounts for " +
                                std::to_string(addresses.size()) + " addresses");
  }
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    Account a;
    a.address = addresses[i];
    if (haveAccounts && !(*accounts)[i].is_null()) {
      const Json& acc = (*accounts)[i];
      a.exists = true;
      const Json* lamports = path(acc, {"lamports"});
      if (!lamports) throw badAnswer(method, "an account has no lamports");
      a.lamports = requireU64(*lamports, method, "lamports");
      if (const Json* amount = path(acc, {"data", "parsed", "info", "tokenAmount", "amount"})) {
        a.tokenAmount = requireU64(*amount, method, "a token amount");
      } else if (const Json* direct = path(acc, {"data", "parsed", "tokenAmount", "amount"})) {
        a.tokenAmount = requireU64(*direct, method, "a token amount");
      }
    }
    s.accounts.push_back(std::move(a));
  }
  return s;
}

bool SolanaSimulation::feePayerShortOfSol() const {
  if (error && (error->find("AccountNotFound") != std::string::npos ||
                error->find("InsufficientFundsForFee") != std::string::npos ||
                error->find(R"({"InsufficientFundsForRent":{"account_index":0}})") != std::string::npos)) {
    return true;
  }
  for (const auto& line : logs) {
    if (line.find("Transfer: insufficient lamports") != std::string::npos) return true;
  }
  return false;
}

std::string SolanaSimulation::notEnoughSolMessage(std::string_view address, std::optional<Decimal> balanceSol) {
  std::string text = "Not enough SOL: the wallet " + std::string(address);
  if (balanceSol) text += " has " + balanceSol->toString() + " SOL and";
  text += " can't pay Solana's fee and the rent of the account this move opens. Send it ≈ 0.01 SOL, then try again.";
  return text;
}

// ---- The client -----------------------------------------------------------------

SolanaRPC::SolanaRPC(HttpClient& http, Clock& clock, std::vector<std::string> nodes)
    : http_(http), clock_(clock), nodes_(std::move(nodes)) {}

SolanaRPC::SolanaRPC(HttpClient& http, Clock& clock, const SolanaNodes& nodes) : SolanaRPC(http, clock, nodes.list()) {}

SolanaRPC SolanaRPC::pinnedTo(HttpClient& http, Clock& clock, std::string url) {
  return SolanaRPC(http, clock, std::vector<std::string>{std::move(url)});
}

Json SolanaRPC::call(const std::string& method, const Json& params) const {
  const std::string body = RPCRetry::requestBody(method, params);
  const bool severalNodes = nodes_.size() > 1;
  return RPCRetry::run(nodes_, clock_, [&](const std::string& url) -> Json {
    HttpRequest req = HttpRequest::postJson(url, body);
    req.timeout = RPCRetry::kTimeout;
    HttpResponse res = http_.send(req);
    if (!res.ok()) {
      SolanaRPCError error(SolanaRPCError::Kind::http, res.status,
                           "Solana RPC " + method + ": HTTP " + std::to_string(res.status) + " " + RPCRetry::excerpt(res.body));
      bool retry = RPCRetry::isRetryableStatus(res.status, severalNodes);
      throw RPCRetry::Again(retry, std::make_exception_ptr(error), error.what());
    }
    auto json = parseJson(res.body);
    if (!json || !json->is_object()) {
      throw SolanaRPCError(SolanaRPCError::Kind::notJson, 0,
                           "Solana RPC " + method + ": response isn't JSON: " + RPCRetry::excerpt(res.body));
    }
    if (auto it = json->find("error"); it != json->end() && !it->is_null()) {
      const std::string message = RPCRetry::errorMessage(*it);
      SolanaRPCError error(SolanaRPCError::Kind::rpc, 0, "Solana RPC " + method + ": " + message);
      throw RPCRetry::Again(RPCRetry::isRetryableText(message), std::make_exception_ptr(error), error.what());
    }
    auto result = json->find("result");
    if (result == json->end()) throw badAnswer(method, "the answer has no result");
    return *result;
  });
}

std::uint64_t SolanaRPC::balance(const std::string& address) const {
  Json result = call("getBalance", Json::array({address, kConfirmed}));
  const Json* value = path(result, {"value"});
  if (!value) throw badAnswer("getBalance", "the answer has no value");
  return requireU64(*value, "getBalance", "the balance");
}

SolanaRPC::Holdings SolanaRPC::holdings(const std::string& owner) const {
  const std::string method = "getTokenAccountsByOwner";
  Holdings out;
  out.sol = lamportsToSol(balance(owner));
  for (std::string_view program : {SolanaPrograms::kToken, SolanaPrograms::kToken2022}) {
    Json result = call(method, Json::array({owner, {{"programId", program}},
                                            {{"encoding", "jsonParsed"}, {"commitment", "confirmed"}}}));
    const Json* value = path(result, {"value"});
    if (!value || !value->is_array()) throw badAnswer(method, "the answer has no list of accounts");
    for (const auto& entry : *value) {
      const Json* info = path(entry, {"account", "data", "parsed", "info"});
      const Json* mint = info ? path(*info, {"mint"}) : nullptr;
      const Json* amount = info ? path(*info, {"tokenAmount", "amount"}) : nullptr;
      const Json* decimals = info ? path(*info, {"tokenAmount", "decimals"}) : nullptr;
      if (!mint || !mint->is_string() || !amount || !decimals) throw badAnswer(method, "a token account isn't parsed");
      const std::uint64_t places = requireU64(*decimals, method, "decimals");
      if (places > 30) throw badAnswer(method, "a token's decimals are out of range");
      const Decimal whole = Decimal(requireU64(*amount, method, "a token amount"))
                                .scaledByPowerOfTen(-static_cast<int>(places));
      const std::string& mintId = mint->get_ref<const std::string&>();
      if (mintId == SolanaPrograms::kUsdcMint) {
        out.usdc += whole;
        continue;
      }
      if (whole.isZero()) continue;
      auto same = std::find_if(out.tokens.begin(), out.tokens.end(), [&](const Holding& h) { return h.mint == mintId; });
      if (same != out.tokens.end()) {
        same->amount += whole;
      } else {
        out.tokens.push_back({mintId, std::string(program), whole, static_cast<int>(places), std::nullopt});
      }
    }
  }
  return out;
}

std::vector<SolanaRPC::TokenAccount> SolanaRPC::tokenAccounts(const std::string& owner, const std::string& mint) const {
  const std::string method = "getTokenAccountsByOwner";
  Json result = call(method, Json::array({owner, {{"mint", mint}}, {{"encoding", "jsonParsed"}, {"commitment", "confirmed"}}}));
  const Json* value = path(result, {"value"});
  if (!value || !value->is_array()) throw badAnswer(method, "the answer has no list of accounts");
  std::vector<TokenAccount> out;
  for (const auto& entry : *value) {
    const Json* pubkey = path(entry, {"pubkey"});
    const Json* info = path(entry, {"account", "data", "parsed", "info"});
    if (!pubkey || !pubkey->is_string() || !info) throw badAnswer(method, "a token account isn't parsed");
    const Json* amount = path(*info, {"tokenAmount", "amount"});
    const Json* decimals = path(*info, {"tokenAmount", "decimals"});
    if (!amount) throw badAnswer(method, "a token account has no amount");
    TokenAccount t;
    t.address = pubkey->get<std::string>();
    t.amount = requireU64(*amount, method, "a token amount");
    if (decimals) t.decimals = static_cast<int>(requireU64(*decimals, method, "decimals"));
    if (auto m = optionalString(*info, "mint")) t.mint = *m;
    if (auto o = optionalString(*info, "owner")) t.owner = *o;
    out.push_back(std::move(t));
  }
  return out;
}

std::optional<SolanaRPC::AccountInfo> SolanaRPC::accountInfo(const std::string& address) const {
  const std::string method = "getAccountInfo";
  Json result = call(method, Json::array({address, {{"encoding", "base64"}, {"commitment", "confirmed"}}}));
  const Json* value = path(result, {"value"});
  if (!value) throw badAnswer(method, "the answer has no value");
  if (value->is_null()) return std::nullopt;
  AccountInfo info;
  auto data = base64Data(*value);
  const Json* owner = path(*value, {"owner"});
  const Json* lamports = path(*value, {"lamports"});
  if (!data || !owner || !owner->is_string() || !lamports) throw badAnswer(method, "the account isn't in base64 form");
  info.data = std::move(*data);
  info.owner = owner->get<std::string>();
  info.lamports = requireU64(*lamports, method, "lamports");
  return info;
}

SolanaRPC::LatestBlockhash SolanaRPC::latestBlockhash() const {
  const std::string method = "getLatestBlockhash";
  Json result = call(method, Json::array({kConfirmed}));
  const Json* hash = path(result, {"value", "blockhash"});
  const Json* height = path(result, {"value", "lastValidBlockHeight"});
  if (!hash || !hash->is_string() || !height) throw badAnswer(method, "the answer has no blockhash");
  return {hash->get<std::string>(), requireU64(*height, method, "lastValidBlockHeight")};
}

std::string SolanaRPC::send(ByteView signedTransaction) const {
  Json params = Json::array({toBase64(signedTransaction),
                             {{"encoding", "base64"}, {"preflightCommitment", "confirmed"}, {"maxRetries", 5}}});
  Json result;
  try {
    result = call("sendTransaction", params);
  } catch (const SolanaRPCError& e) {
    if (e.kind() != SolanaRPCError::Kind::rpc || std::string_view(e.what()).find("already been processed") == std::string_view::npos) {
      throw;
    }
    auto parsed = SolanaTransaction::parse(signedTransaction);
    if (parsed.signatures.empty()) throw;
    return Base58::encode(parsed.signatures[0]);
  }
  if (!result.is_string() || result.get<std::string>().empty()) {
    throw ChainError("sendTransaction returned no signature");
  }
  return result.get<std::string>();
}

Json SolanaRPC::simulate(ByteView transaction, bool sigVerify, const std::vector<std::string>& addresses) const {
  Json options = {{"encoding", "base64"},
                  {"sigVerify", sigVerify},
                  {"commitment", "confirmed"},
                  {"accounts", {{"encoding", "jsonParsed"}, {"addresses", addresses}}}};
  Json result = call("simulateTransaction", Json::array({toBase64(transaction), options}));
  const Json* value = path(result, {"value"});
  if (!value || !value->is_object()) throw badAnswer("simulateTransaction", "the answer has no value");
  return *value;
}

std::map<std::string, std::vector<std::string>> SolanaRPC::lookupTables(const std::vector<std::string>& addresses) const {
  std::map<std::string, std::vector<std::string>> tables;
  for (const auto& address : addresses) {
    if (tables.count(address)) continue;
    auto info = accountInfo(address);
    if (!info || info->data.size() < 56) throw ChainError("Address lookup table not found: " + address);
    std::vector<std::string> entries;
    for (std::size_t at = 56; at + 32 <= info->data.size(); at += 32) {
      entries.push_back(Base58::encode(ByteView(info->data).subspan(at, 32)));
    }
    tables.emplace(address, std::move(entries));
  }
  return tables;
}

SolanaRPC::Outcome SolanaRPC::waitForConfirmation(const std::string& signature, std::uint64_t lastValidBlockHeight,
                                                  int timeoutSeconds) const {
  const std::int64_t deadline = clock_.monotonicMillis() + std::int64_t{timeoutSeconds} * 1000;
  while (true) {
    Json statuses = call("getSignatureStatuses", Json::array({Json::array({signature}), {{"searchTransactionHistory", true}}}));
    const Json* value = path(statuses, {"value"});
    if (!value || !value->is_array() || value->empty()) throw badAnswer("getSignatureStatuses", "the answer has no value");
    const Json& status = (*value)[0];
    if (status.is_object()) {
      if (auto err = status.find("err"); err != status.end() && !err->is_null()) {
        return {Outcome::Kind::failed, errorText(*err)};
      }
      if (auto level = optionalString(status, "confirmationStatus"); level == "confirmed" || level == "finalized") {
        return {Outcome::Kind::confirmed, {}};
      }
    }
    Json height = call("getBlockHeight", Json::array({kConfirmed}));
    if (requireU64(height, "getBlockHeight", "the block height") > lastValidBlockHeight) {
      return {Outcome::Kind::expired, {}};
    }
    if (clock_.monotonicMillis() + 2000 > deadline) break;
    clock_.sleepFor(2000);
  }
  throw ChainError("Transaction status still unknown after " + std::to_string(timeoutSeconds) + " s: " + signature);
}

std::optional<std::string> SolanaRPC::checkNode(const std::string& url, HttpClient& http, Clock& clock) {
  if (url.rfind("https://", 0) != 0) return "A node's address starts with https://.";
  const std::string notSolana = "The node didn't answer like a Solana node.";
  SolanaRPC rpc = pinnedTo(http, clock, url);
  try {
    Json genesis = rpc.call("getGenesisHash", Json::array());
    if (!genesis.is_string()) return notSolana;
    if (genesis.get<std::string>() != SolanaPrograms::kMainnetGenesisHash) {
      return "That node is on another Solana network (devnet or testnet), not mainnet.";
    }
    (void)rpc.latestBlockhash();
    Json filter = {{"programId", SolanaPrograms::kToken}};
    Json probe = rpc.call("getTokenAccountsByOwner",
                          Json::array({SolanaPrograms::kSystem, filter, {{"encoding", "jsonParsed"}}}));
    if (!path(probe, {"value"})) return notSolana;
  } catch (const SolanaRPCError& e) {
    if (e.kind() == SolanaRPCError::Kind::http && (e.httpStatus() == 401 || e.httpStatus() == 403)) {
      return "The node turned the key away (HTTP " + std::to_string(e.httpStatus()) +
             "): copy the whole address again, api-key included — or this plan doesn't serve these calls.";
    }
    if (e.kind() == SolanaRPCError::Kind::notJson || e.kind() == SolanaRPCError::Kind::badAnswer) return notSolana;
    return "The node didn't answer: " + std::string(e.what());
  } catch (const std::exception& e) {
    return "The node didn't answer: " + std::string(e.what());
  }
  return std::nullopt;
}

}  // namespace orwenna
