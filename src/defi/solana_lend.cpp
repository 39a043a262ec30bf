#include "defi/solana_lend.h"

#include "base/bytes.h"
#include "base/json.h"
#include "chains/solana_transaction.h"
#include "chains/spl.h"

namespace orwenna {

namespace {

constexpr const char* kWrappedSol = "So11111111111111111111111111111111111111112";

std::string excerptOf(const std::string& body) { return body.size() > 200 ? body.substr(0, 200) + "…" : body; }

Json parsed(const HttpResponse& response, const std::string& service) {
  if (response.status != 200) {
    throw YieldError(service + " answered HTTP " + std::to_string(response.status) + ": " + excerptOf(response.body));
  }
  Json j = Json::parse(response.body, nullptr, false);
  if (j.is_discarded()) throw YieldError(service + " answered something that isn't JSON: " + excerptOf(response.body));
  return j;
}

Bytes transactionOf(const Json& j, const std::string& service) {
  const Json* tx = j.is_object() && j.contains("transaction") && j["transaction"].is_string() ? &j["transaction"] : nullptr;
  auto bytes = tx ? fromBase64(tx->get<std::string>()) : std::nullopt;
  if (!bytes || bytes->empty()) throw YieldError(service + " gave no transaction. Nothing was signed.");
  return *bytes;
}

// A number the API sends as a string or a JSON number.
std::optional<Decimal> decimalField(const Json& object, const char* key) {
  if (!object.is_object() || !object.contains(key)) return std::nullopt;
  try {
    return Decimal::fromJson(object[key]);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

UInt256 unitsField(const Json& object, const char* key) {
  auto d = decimalField(object, key);
  if (!d || d->isNegative()) return 0;
  return parseUInt256(d->rounded(0, RoundingMode::towardZero).toString()).value_or(0);
}

std::string tokenAccount(const std::string& owner, const std::string& mint) {
  return SPL::associatedTokenAddress(owner, mint, std::string(SolanaPrograms::kToken));
}

std::int64_t asInt64(const UInt256& v) {
  return v > UInt256(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(v);
}

}  // namespace

bool LendAsset::isSol() const { return mint == kWrappedSol; }

std::optional<LendAsset> LendAsset::of(std::string_view symbol) {
  std::string s(symbol);
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (s == "USDC") return LendAsset{"USDC", "EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v", 6};
  if (s == "SOL") return LendAsset{"SOL", kWrappedSol, 9};
  if (s == "USDT") return LendAsset{"USDT", "Es9vMFrzaCERmJfrF4H2FYD4KCoNkY11McCe8BenwNYB", 6};
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// Jupiter Lend Earn. Paths and fields from Jupiter's developer docs
// (dev.jup.ag/docs/lend, "Earn"): POST /earn/deposit, /earn/withdraw and
// /earn/redeem with {asset, signer, amount} answer {transaction}; GET
// /earn/tokens and /earn/positions?users= read the jlTokens and holdings.

JupiterLend::JupiterLend(HttpClient& http, std::string base, const std::string& symbol)
    : http_(http), base_(std::move(base)) {
  auto a = LendAsset::of(symbol);
  if (!a) throw YieldError("Jupiter Lend takes USDC, SOL or USDT, not " + symbol + ". Nothing was signed.");
  asset_ = *a;
}

JupiterLend::Token JupiterLend::token() const {
  HttpRequest request;
  request.url = base_ + "/earn/tokens";
  Json j = parsed(http_.send(request), "Jupiter Lend");
  if (j.is_array()) {
    for (const Json& t : j) {
      if (!t.is_object() || t.value("assetAddress", "") != asset_.mint) continue;
      // Rates come in basis points.
      Decimal bps = decimalField(t, "totalRate").value_or(decimalField(t, "supplyRate").value_or(Decimal(0)));
      return {t.value("address", ""), (bps / Decimal(100)).rounded(2)};
    }
  }
  throw YieldError("Jupiter Lend lists no " + asset_.symbol + " market. Nothing was signed.");
}

JupiterLend::Holding JupiterLend::holding(const std::string& wallet) const {
  HttpRequest request;
  request.url = base_ + "/earn/positions?users=" + wallet;
  Json j = parsed(http_.send(request), "Jupiter Lend");
  Holding h;
  if (!j.is_array()) return h;
  for (const Json& p : j) {
    if (!p.is_object() || !p.contains("token") || p["token"].value("assetAddress", "") != asset_.mint) continue;
    h.shares += unitsField(p, "shares");
    h.assets += unitsField(p, "underlyingAssets");
  }
  return h;
}

Decimal JupiterLend::position(const std::string& wallet) const {
  return unitsToDecimal(holding(wallet).assets, asset_.decimals);
}

std::optional<Decimal> JupiterLend::rate() const { return token().ratePercent; }

Bytes JupiterLend::transaction(const std::string& path, const std::string& wallet, const std::string& field,
                               const UInt256& amount) const {
  Json body{{"asset", asset_.mint}, {"signer", wallet}, {field, toDecimalString(amount)}};
  return transactionOf(parsed(http_.send(HttpRequest::postJson(base_ + path, body.dump())), "Jupiter Lend"),
                       "Jupiter Lend");
}

SolanaMove JupiterLend::move(const std::string& wallet, Bytes tx, bool deposit, const UInt256& units) const {
  SolanaMove m;
  m.owner = wallet;
  m.received = std::move(tx);
  m.extraPrograms = {kProgram};
  const std::string assetAccount = tokenAccount(wallet, asset_.mint);
  const std::string shareAccount = tokenAccount(wallet, token().jlMint);
  m.tokenOwners[assetAccount] = wallet;
  m.tokenOwners[shareAccount] = wallet;
  if (asset_.isSol()) m.recipients.insert(assetAccount);  // wrapping pays the wallet's own wSOL account
  const std::int64_t amount = asInt64(units);
  if (deposit) {
    if (asset_.isSol()) {
      m.watches.push_back({"SOL spent", wallet, false, -(amount + static_cast<std::int64_t>(kSolFeeAllowance))});
    } else {
      m.watches.push_back({asset_.symbol + " spent", assetAccount, true, -amount});
    }
    m.watches.push_back({"jl" + asset_.symbol + " received", shareAccount, true, 1});
  } else if (asset_.isSol()) {
    m.watches.push_back({"SOL received", wallet, false, 1 - static_cast<std::int64_t>(kSolFeeAllowance)});
  } else {
    m.watches.push_back({asset_.symbol + " received", assetAccount, true, 1});
  }
  return m;
}

YieldMove JupiterLend::deposit(const std::string& wallet, const Decimal& amount) const {
  const UInt256 units = baseUnitsOf(amount, asset_.decimals, asset_.symbol);
  YieldMove out;
  out.text = "Lend " + amount.toString() + " " + asset_.symbol + " on Jupiter Lend.";
  out.solana = move(wallet, transaction("/earn/deposit", wallet, "amount", units), true, units);
  out.solana->input = amount;
  out.solana->note = "Deposit " + amount.toString() + " " + asset_.symbol + " into Jupiter Lend";
  return out;
}

YieldMove JupiterLend::withdraw(const std::string& wallet, const std::optional<Decimal>& amount) const {
  YieldMove out;
  if (!amount) {
    // Every share, so nothing is left behind as the rate moves.
    const Holding h = holding(wallet);
    if (h.shares == 0) throw YieldError("There is no " + asset_.symbol + " in Jupiter Lend. Nothing was signed.");
    out.text = "Withdraw all the " + asset_.symbol + " from Jupiter Lend (about " +
               unitsToDecimal(h.assets, asset_.decimals).toString() + ").";
    out.solana = move(wallet, transaction("/earn/redeem", wallet, "amount", h.shares), false, h.assets);
    out.solana->note = "Redeem every jl" + asset_.symbol + " share on Jupiter Lend";
    return out;
  }
  const UInt256 units = baseUnitsOf(*amount, asset_.decimals, asset_.symbol);
  out.text = "Withdraw " + amount->toString() + " " + asset_.symbol + " from Jupiter Lend.";
  out.solana = move(wallet, transaction("/earn/withdraw", wallet, "amount", units), false, units);
  out.solana->note = "Withdraw " + amount->toString() + " " + asset_.symbol + " from Jupiter Lend";
  return out;
}

// ---------------------------------------------------------------------------
// Kamino Earn. Paths and fields from Kamino's published API reference
// (api-docs.kamino.com): POST /ktx/kvault/deposit and /ktx/kvault/withdraw
// with {wallet, kvault, amount} (whole tokens) answer {transaction}; GET
// /kvaults/{vault}/metrics (apy, tokensPerShare) and
// /kvaults/users/{wallet}/positions/{vault} (totalShares).

std::optional<std::string> KaminoVault::vaultFor(std::string_view symbol) {
  // The USDC Earn vault of Kamino's own developer tutorial (kamino.com/docs, "Earn Vaults").
  if (symbol == "USDC") return std::string("HDsayqAsDWy3QvANGqh2yNraqcD8Fnjgh73Mhb3WRS5E");
  return std::nullopt;
}

KaminoVault::KaminoVault(HttpClient& http, std::string base, const std::string& symbol)
    : http_(http), base_(std::move(base)) {
  auto a = LendAsset::of(symbol);
  auto v = a ? vaultFor(a->symbol) : std::nullopt;
  if (!v) throw YieldError("orwenna has no Kamino vault for " + symbol + " yet. Nothing was signed.");
  asset_ = *a;
  vault_ = *v;
}

Json KaminoVault::getJson(const std::string& path) const {
  HttpRequest request;
  request.url = base_ + path;
  return parsed(http_.send(request), "Kamino");
}

Decimal KaminoVault::position(const std::string& wallet) const {
  Json p = getJson("/kvaults/users/" + wallet + "/positions/" + vault_);
  const Decimal shares = decimalField(p, "totalShares").value_or(Decimal(0));
  if (shares.isZero()) return Decimal(0);
  auto perShare = decimalField(getJson("/kvaults/" + vault_ + "/metrics"), "tokensPerShare");
  if (!perShare) throw YieldError("Kamino gave no share price for its " + asset_.symbol + " vault.");
  return (shares * *perShare).rounded(asset_.decimals, RoundingMode::towardZero);
}

std::optional<Decimal> KaminoVault::rate() const {
  auto apy = decimalField(getJson("/kvaults/" + vault_ + "/metrics"), "apy");  // a fraction
  if (!apy) return std::nullopt;
  return (*apy * Decimal(100)).rounded(2);
}

Bytes KaminoVault::transaction(const std::string& path, const std::string& wallet, const Decimal& amount) const {
  Json body{{"wallet", wallet}, {"kvault", vault_}, {"amount", amount.toString()}};
  return transactionOf(parsed(http_.send(HttpRequest::postJson(base_ + path, body.dump())), "Kamino"), "Kamino");
}

YieldMove KaminoVault::deposit(const std::string& wallet, const Decimal& amount) const {
  const UInt256 units = baseUnitsOf(amount, asset_.decimals, asset_.symbol);
  YieldMove out;
  out.text = "Deposit " + amount.toString() + " " + asset_.symbol + " into Kamino.";
  SolanaMove m;
  m.owner = wallet;
  m.received = transaction("/ktx/kvault/deposit", wallet, amount);
  m.extraPrograms = {"KvauGMspG5k6rtzrqqn7WNn3oZdyKqLKwK2XWQ8FLjd", "KLend2g3cP87fffoy8q1mQqGKjrxjC8boSyAYavgmjD",
                     "FarmsPZpWu9i7Kky8tPN37rs2TpmMrAZrC7S7vJa91Hr"};
  const std::string assetAccount = tokenAccount(wallet, asset_.mint);
  m.tokenOwners[assetAccount] = wallet;
  m.watches.push_back({asset_.symbol + " spent", assetAccount, true, -asInt64(units)});
  m.input = amount;
  m.note = "Deposit " + amount.toString() + " " + asset_.symbol + " into Kamino";
  out.solana = std::move(m);
  return out;
}

YieldMove KaminoVault::withdraw(const std::string& wallet, const std::optional<Decimal>& amount) const {
  const Decimal take = amount ? *amount : position(wallet);
  if (!take.isPositive()) throw YieldError("There is no " + asset_.symbol + " in Kamino. Nothing was signed.");
  (void)baseUnitsOf(take, asset_.decimals, asset_.symbol);
  YieldMove out;
  out.text = amount ? "Withdraw " + take.toString() + " " + asset_.symbol + " from Kamino."
                    : "Withdraw all the " + asset_.symbol + " from Kamino (about " + take.toString() + ").";
  SolanaMove m;
  m.owner = wallet;
  m.received = transaction("/ktx/kvault/withdraw", wallet, take);
  m.extraPrograms = {"KvauGMspG5k6rtzrqqn7WNn3oZdyKqLKwK2XWQ8FLjd", "KLend2g3cP87fffoy8q1mQqGKjrxjC8boSyAYavgmjD",
                     "FarmsPZpWu9i7Kky8tPN37rs2TpmMrAZrC7S7vJa91Hr"};
  const std::string assetAccount = tokenAccount(wallet, asset_.mint);
  m.tokenOwners[assetAccount] = wallet;
  m.watches.push_back({asset_.symbol + " received", assetAccount, true, 1});
  m.note = "Withdraw " + take.toString() + " " + asset_.symbol + " from Kamino";
  out.solana = std::move(m);
  return out;
}

}  // namespace orwenna
