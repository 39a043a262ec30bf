// Fake Relay and 1-Click services on 127.0.0.1 over the stateful fake
// ledgers, speaking each service's wire format. Every quote gets its own
// deposit address on the origin chain; a status read reports delivery only
// once the origin ledger shows exactly the quoted amount at that address, and
// then credits the destination once (a fake ledger, or the Hyperliquid and
// NEAR credits kept here). Relay's quotes pay through its Depository
// program's deposit_token on Solana, or an exact approve and a deposit call
// on an EVM network, or (out of Hyperliquid) a signed nonce mapping posted to
// /authorize and a sendAsset of exactly the amount with that nonce to its
// depository on the fake exchange; 1-Click's deposits are plain transfers (or wrapped NEAR)
// to its address, and its answers come in the published nested shape or,
// when told, the flat one. A Hyperliquid credit can also be handed to a
// callback (a fake exchange's balance); Relay pays the gas coin (the zero
// address) as native wei at 1e9 wei per USDC unit. Thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "base/json.h"
#include "base/text.h"
#include "chains/abi.h"
#include "chains/spl.h"
#include "base/clock.h"
#include "fakes/fake_hyperliquid.h"
#include "fakes/fake_ledgers.h"
#include "fakes/fake_near_node.h"
#include "fakes/fake_server.h"
#include "signing/base58.h"
#include "signing/evm_signer.h"
#include "signing/hl_signer.h"
#include "signing/typed_data.h"

namespace orwenna::testing {

// A query parameter's raw value (the values used here need no decoding).
inline std::string bridgeQueryValue(const std::string& query, const std::string& name) {
  std::size_t at = 0;
  while (at <= query.size()) {
    std::size_t end = query.find('&', at);
    if (end == std::string::npos) end = query.size();
    std::string_view part(query.data() + at, end - at);
    if (part.starts_with(name + "=")) return std::string(part.substr(name.size() + 1));
    at = end + 1;
  }
  return {};
}

// Where a fake bridge credits what arrives: a chain id's ledger, or its own tally.
struct BridgeLedgers {
  static constexpr std::uint64_t kSolana = 792703809;
  static constexpr std::uint64_t kHyperliquid = 1337;
  FakeSolanaLedger* solana = nullptr;
  std::map<std::uint64_t, FakeEVMLedger*> evm;  // by chain id
  // Moves out of Hyperliquid: the exchange paid, and the clock its nonces follow.
  FakeHyperliquid* hyperliquid = nullptr;
  const Clock* clock = nullptr;

  // A fresh deposit address on the chain: a Solana wallet whose USDC account
  // is opened, or an EVM address.
  std::string depositOn(std::uint64_t chainId, int n) const {
    if (chainId == kSolana) {
      Bytes key(32, static_cast<std::uint8_t>(0xD0 + n));
      key[0] = 0x42;
      std::string wallet = Base58::encode(key);
      solana->fundToken(wallet, std::string(SolanaPrograms::kUsdcMint), 0);
      return wallet;
    }
    std::string escrow = fmt::format("0x00000000000000000000000000000000000d{:04x}", n);
    evm.at(chainId)->addEscrow(escrow);
    return escrow;
  }
  // What the origin chain holds at the deposit address, in base units.
  std::uint64_t heldAt(std::uint64_t chainId, const std::string& currency, const std::string& deposit) const {
    if (chainId == kSolana) {
      auto account = solana->token(SPL::associatedTokenAddress(deposit, currency, SolanaPrograms::kToken));
      return account ? account->amount : 0;
    }
    return static_cast<std::uint64_t>(evm.at(chainId)->token(currency, deposit));
  }
};

class FakeRelayBridge {
 public:
  explicit FakeRelayBridge(BridgeLedgers ledgers) : ledgers_(std::move(ledgers)) {
    server_.on("POST", "/quote/v2", [this](const RecordedRequest& r) { return quote(r); });
    server_.on("GET", "/intents/status/v3", [this](const RecordedRequest& r) { return status(r); });
    server_.on("POST", "/authorize", [this](const RecordedRequest& r) { return authorize(r); });
  }

  // Relay's one account on Hyperliquid that every deposit from there pays.
  static constexpr const char* kHyperliquidDepository = "0x00000000000000000000000000000000000de905";

  std::string url() const { return server_.url(); }
  int quotes() const {
    std::lock_guard lock(mutex_);
    return count_;
  }
  // Quotes name this recipient instead of the one asked for (and would pay it).
  void redirectTo(std::string recipient) {
    std::lock_guard lock(mutex_);
    redirect_ = std::move(recipient);
  }
  // The share of each amount that arrives, in percent (99: Relay's 1%).
  void payOutPercent(std::uint64_t percent) {
    std::lock_guard lock(mutex_);
    percent_ = percent;
  }
  // Told of each Hyperliquid credit (account, USDC base units) as it is made.
  void onHyperliquidCredit(std::function<void(const std::string&, std::uint64_t)> credit) {
    std::lock_guard lock(mutex_);
    credit_ = std::move(credit);
  }
  // USDC credited on Hyperliquid, in base units.
  std::uint64_t hyperliquidCredit(const std::string& account) const {
    std::lock_guard lock(mutex_);
    auto it = hyperliquid_.find(text::asciiLowercased(account));
    return it == hyperliquid_.end() ? 0 : it->second;
  }

 private:
  struct Order {
    std::uint64_t originChain = 0;
    std::string originCurrency;
    std::string deposit;
    std::uint64_t amount = 0;
    std::uint64_t destinationChain = 0;
    std::string destinationCurrency;
    std::string recipient;
    std::uint64_t out = 0;
    bool delivered = false;
    std::string user;
    std::uint64_t nonce = 0;  // out of Hyperliquid: the mapped nonce
    bool authorized = false;
  };

  FakeResponse quote(const RecordedRequest& r) {
    std::lock_guard lock(mutex_);
    auto body = parseJson(r.body);
    if (!body || !body->contains("amount") || !body->contains("user") || !body->contains("originChainId")) {
      return FakeResponse::json(R"({"message":"Invalid request"})", 400);
    }
    Order o;
    o.originChain = (*body)["originChainId"].get<std::uint64_t>();
    o.originCurrency = (*body)["originCurrency"].get<std::string>();
    o.destinationChain = (*body)["destinationChainId"].get<std::uint64_t>();
    o.destinationCurrency = (*body)["destinationCurrency"].get<std::string>();
    o.amount = std::stoull((*body)["amount"].get<std::string>());
    o.out = o.amount / 100 * percent_;
    o.recipient = redirect_.value_or((*body)["recipient"].get<std::string>());
    const std::string user = (*body)["user"].get<std::string>();
    ++count_;
    if (o.originChain != BridgeLedgers::kHyperliquid) o.deposit = ledgers_.depositOn(o.originChain, count_);
    const std::string id = fmt::format("0x{:064x}", 0xB00 + count_);
    Json steps = Json::array();
    auto step = [&](const char* name, Json data) {
      steps.push_back({{"id", name}, {"kind", "transaction"}, {"requestId", id},
                       {"items", Json::array({Json{{"status", "incomplete"}, {"data", std::move(data)}}})}});
    };
    Bytes requestBytes(32, static_cast<std::uint8_t>(count_));
    o.user = user;
    if (o.originChain == BridgeLedgers::kHyperliquid) {
      o.deposit = kHyperliquidDepository;
      o.nonce = static_cast<std::uint64_t>(ledgers_.clock->nowMillis()) + static_cast<std::uint64_t>(count_);
      Json value{{"chainId", "hyperliquid"}, {"wallet", user}, {"depositor", user}, {"id", id}, {"nonce", o.nonce}};
      Json sign{{"signatureKind", "eip712"},
                {"domain", {{"name", "RelayNonceMapping"}, {"version", "2"}, {"chainId", 1},
                            {"verifyingContract", "0x0000000000000000000000000000000000000000"}}},
                {"primaryType", "NonceMapping"},
                {"value", value}};
      Json post{{"endpoint", "/authorize"},
                {"method", "POST"},
                {"body", {{"type", "nonce-mapping"}, {"walletChainId", 1337}, {"wallet", user}, {"depositor", user},
                          {"nonce", o.nonce}, {"id", id}, {"signatureChainId", 1}}}};
      steps.push_back({{"id", "authorize"}, {"kind", "signature"}, {"requestId", id},
                       {"items", Json::array({Json{{"status", "incomplete"}, {"data", {{"sign", sign}, {"post", post}}}}})}});
      Json parameters{{"hyperliquidChain", "Mainnet"}, {"destination", o.deposit}, {"sourceDex", ""},
                      {"destinationDex", ""}, {"token", "USDC:0x6d1e7cde53ba9467b783cb7c530ce054"},
                      {"amount", units(o.amount)}, {"fromSubAccount", ""}, {"nonce", o.nonce}};
      step("deposit", {{"action", {{"type", "sendAsset"}, {"parameters", parameters}}}, {"nonce", o.nonce}});
    } else if (o.originChain == BridgeLedgers::kSolana) {
      // deposit_token: discriminator, amount (u64 LE), id; accounts: depository,
      // sender, depositor, sender's token account, vault, mint, token program.
      Bytes data{11, 156, 96, 218, 39, 163, 180, 19};
      for (int i = 0; i < 8; ++i) data.push_back(static_cast<std::uint8_t>(o.amount >> (8 * i)));
      data.insert(data.end(), requestBytes.begin(), requestBytes.end());
      const std::string program(SolanaPrograms::kToken);
      auto key = [](const std::string& k, bool isSigner, bool writable) {
        return Json{{"pubkey", k}, {"isSigner", isSigner}, {"isWritable", writable}};
      };
      Json keys = Json::array({key("Bw8yGXzfQ4ywTRqDT8PBZfXztCLR4DkTkgHJw2LCW3qs", false, true), key(user, true, true),
                               key(user, false, false),
                               key(SPL::associatedTokenAddress(user, o.originCurrency, program), false, true),
                               key(SPL::associatedTokenAddress(o.deposit, o.originCurrency, program), false, true),
                               key(o.originCurrency, false, false), key(program, false, false)});
      step("deposit", {{"instructions", Json::array({Json{{"programId", FakeSolanaLedger::kRelayDepositoryProgram},
                                                          {"keys", keys}, {"data", toHex(data)}}})}});
    } else {
      Bytes approve = ABI::call("approve(address,uint256)",
                                {ABI::Value::address(o.deposit), ABI::Value::uint(UInt256(o.amount))});
      Bytes deposit = ABI::call("depositErc20(address,uint256,bytes32)",
                                {ABI::Value::address(o.originCurrency), ABI::Value::uint(UInt256(o.amount)),
                                 ABI::Value::uint(fromBigEndian(requestBytes))});
      step("approve", {{"to", o.originCurrency}, {"data", toHex0x(approve)}, {"value", "0"}, {"chainId", o.originChain}});
      step("deposit", {{"to", o.deposit}, {"data", toHex0x(deposit)}, {"value", "0"}, {"chainId", o.originChain}});
    }
    Json answer{{"steps", steps},
                {"fees", {{"relayer", {{"amountUsd", units(o.amount - o.out)}}}}},
                {"details",
                 {{"sender", user},
                  {"recipient", o.recipient},
                  {"currencyIn", {{"amount", std::to_string(o.amount)}, {"amountFormatted", units(o.amount)}}},
                  {"currencyOut", {{"amount", std::to_string(o.out)}, {"amountFormatted", units(o.out)}}},
                  {"timeEstimate", 12}}}};
    orders_[id] = o;
    return FakeResponse::json(answer.dump());
  }

  FakeResponse status(const RecordedRequest& r) {
    std::lock_guard lock(mutex_);
    auto it = orders_.find(bridgeQueryValue(r.query, "requestId"));
    if (it == orders_.end()) return FakeResponse::json(R"({"status":"unknown"})");
    Order& o = it->second;
    if (!o.delivered && arrived(o)) {
      o.delivered = true;
      if (o.destinationChain == BridgeLedgers::kHyperliquid) {
        hyperliquid_[text::asciiLowercased(o.recipient)] += o.out;
        if (credit_) credit_(o.recipient, o.out);
      } else if (o.destinationCurrency == "0x0000000000000000000000000000000000000000") {
        FakeEVMLedger& ledger = *ledgers_.evm.at(o.destinationChain);
        ledger.fund(o.recipient, ledger.native(o.recipient) + UInt256(o.out) * UInt256(1'000'000'000));
      } else if (o.destinationChain == BridgeLedgers::kSolana) {
        ledgers_.solana->fundToken(o.recipient, o.destinationCurrency, o.out);
      } else {
        FakeEVMLedger& ledger = *ledgers_.evm.at(o.destinationChain);
        ledger.fundToken(o.destinationCurrency, o.recipient, ledger.token(o.destinationCurrency, o.recipient) + o.out);
      }
    }
    return FakeResponse::json(Json{{"status", o.delivered ? "success" : "waiting"}}.dump());
  }

  // The nonce mapping, signed by the wallet it names, for an order of this fake.
  FakeResponse authorize(const RecordedRequest& r) {
    std::lock_guard lock(mutex_);
    auto body = parseJson(r.body);
    const auto signature = fromHex(bridgeQueryValue(r.query, "signature"));
    auto sig = signature ? EVMSignature::fromBytes(*signature) : std::nullopt;
    if (!body || !body->is_object() || !sig) return FakeResponse::json(R"({"message":"Invalid request"})", 400);
    auto it = orders_.find(body->value("id", ""));
    if (it == orders_.end()) return FakeResponse::json(R"({"message":"Unknown request"})", 400);
    Order& o = it->second;
    try {
      auto id = fromHex(it->first);
      const std::string wallet = body->value("wallet", ""), depositor = body->value("depositor", "");
      const std::uint64_t nonce = body->value("nonce", std::uint64_t{0});
      std::string signer =
          EVMSigner::recover(*sig, EIP712::digest(HLSigner::relayNonceMappingParts(wallet, depositor, *id, nonce)));
      if (text::asciiLowercased(signer) != text::asciiLowercased(o.user) || nonce != o.nonce ||
          text::asciiLowercased(wallet) != text::asciiLowercased(o.user)) {
        return FakeResponse::json(R"({"message":"Invalid signature"})", 401);
      }
    } catch (const std::exception&) {
      return FakeResponse::json(R"({"message":"Invalid signature"})", 401);
    }
    o.authorized = true;
    return FakeResponse::json(R"({"message":"Success"})");
  }

  // Exactly the quoted amount reached the order's deposit (out of Hyperliquid:
  // one accepted sendAsset of the user's, with the mapped nonce).
  bool arrived(const Order& o) const {
    if (o.originChain != BridgeLedgers::kHyperliquid) {
      return ledgers_.heldAt(o.originChain, o.originCurrency, o.deposit) == o.amount;
    }
    if (!o.authorized) return false;
    for (const auto& a : ledgers_.hyperliquid->accepted()) {
      if (a.type != "sendAsset" || a.nonce != o.nonce || a.account != text::asciiLowercased(o.user)) continue;
      auto amount = Decimal::tryParse(a.action.value("amount", ""));
      return text::asciiLowercased(a.action.value("destination", "")) == o.deposit && amount &&
             amount->scaledByPowerOfTen(6) == Decimal(static_cast<std::int64_t>(o.amount));
    }
    return false;
  }

  static std::string units(std::uint64_t v) { return fmt::format("{}.{:06}", v / 1'000'000, v % 1'000'000); }

  BridgeLedgers ledgers_;
  mutable std::mutex mutex_;
  std::map<std::string, Order> orders_;
  std::map<std::string, std::uint64_t> hyperliquid_;
  std::optional<std::string> redirect_;
  std::function<void(const std::string&, std::uint64_t)> credit_;
  std::uint64_t percent_ = 99;
  int count_ = 0;
  FakeServer server_;
};

// 1-Click between Solana USDC and NEAR (at 4 USDC a NEAR), and from Solana
// USDC to Hyperliquid (99.5% arrives, handed to a callback): a deposit
// address on Solana (a wallet with its USDC account open) or on NEAR (an
// implicit account, watched for wrapped NEAR).
class FakeOneClick {
 public:
  static constexpr const char* kSolanaUSDC = "nep141:sol-5ce3bf3a31af18be40ba30f721101b4341690186.omft.near";
  static constexpr const char* kNEAR = "nep141:wrap.near";
  static constexpr const char* kHyperliquidUSDC = "1cs_v1:hypercore:hip1:0x6d1e7cde53ba9467b783cb7c530ce054";

  FakeOneClick(FakeSolanaLedger& solana, FakeNearNode& near) : ledgers_{&solana, {}}, near_(near) {
    server_.on("POST", "/v0/quote", [this](const RecordedRequest& r) { return quote(r); });
    server_.on("GET", "/v0/status", [this](const RecordedRequest& r) { return status(r); });
  }

  std::string url() const { return server_.url(); }
  void flatAnswers() {
    std::lock_guard lock(mutex_);
    flat_ = true;
  }
  // Quotes run out at this time (else at the deadline asked for).
  void quotesRunOutAt(std::int64_t millis) {
    std::lock_guard lock(mutex_);
    deadline_ = millis;
  }
  // Deposits that arrived are held (PROCESSING) instead of delivered.
  void holdDeposits(bool hold) {
    std::lock_guard lock(mutex_);
    hold_ = hold;
  }
  // Deposits are never seen (PENDING_DEPOSIT), as when one reaches the wrong place.
  void ignoreDeposits(bool ignore) {
    std::lock_guard lock(mutex_);
    ignore_ = ignore;
  }
  // Told of each Hyperliquid credit (account, USDC base units) as it is made.
  void onHyperliquidCredit(std::function<void(const std::string&, std::uint64_t)> credit) {
    std::lock_guard lock(mutex_);
    credit_ = std::move(credit);
  }
  // Quotes are refused, as when no solver answers.
  void refuseQuotes(bool refuse) {
    std::lock_guard lock(mutex_);
    refuse_ = refuse;
  }
  // Quotes name a deposit address that the status then doesn't know.
  void forgetDeposits(bool forget) {
    std::lock_guard lock(mutex_);
    forget_ = forget;
  }
  // What was delivered to `recipient`, as the status reports it ("" for none).
  std::string delivered(const std::string& recipient) const {
    std::lock_guard lock(mutex_);
    auto it = credits_.find(recipient);
    return it == credits_.end() ? "" : it->second;
  }

 private:
  struct Deposit {
    bool fromNear = false;
    bool toHyperliquid = false;
    std::string amount;  // base units
    std::string recipient;
    std::string out;  // formatted
    bool delivered = false;
    Json quoteResponse;  // the quote as answered, for the nested status
  };

  FakeResponse quote(const RecordedRequest& r) {
    std::lock_guard lock(mutex_);
    auto body = parseJson(r.body);
    const std::string origin = body ? body->value("originAsset", "") : "";
    const std::string destination = body ? body->value("destinationAsset", "") : "";
    const bool fromNear = origin == kNEAR && destination == kSolanaUSDC;
    const bool toHyperliquid = origin == kSolanaUSDC && destination == kHyperliquidUSDC;
    if (refuse_) return FakeResponse::json(R"({"message":"Failed to get quote"})", 400);
    if (!fromNear && !toHyperliquid && !(origin == kSolanaUSDC && destination == kNEAR)) {
      return FakeResponse::json(R"({"message":"tokenIn is not supported"})", 400);
    }
    const std::string amount = (*body)["amount"].get<std::string>();
    const Decimal in = Decimal::parse(amount).scaledByPowerOfTen(fromNear ? -24 : -6);
    const Decimal out = (fromNear        ? in * Decimal(4)
                         : toHyperliquid ? in * Decimal::parse("0.995")
                                         : in / Decimal(4))
                            .rounded(6, RoundingMode::down);
    Json q{{"amountIn", amount},
           {"amountInFormatted", in.toString()},
           {"amountOut", out.scaledByPowerOfTen(fromNear || toHyperliquid ? 6 : 24).rounded(0, RoundingMode::down).toString()},
           {"amountOutFormatted", out.toString()},
           {"minAmountOut", "0"},
           {"deadline", deadline_ ? iso8601(*deadline_) : (*body)["deadline"].get<std::string>()},
           {"timeEstimate", 150}};
    if (!body->value("dry", false)) {
      ++count_;
      std::string deposit = fromNear ? fmt::format("d0{:062x}", count_) : ledgers_.depositOn(BridgeLedgers::kSolana, 0x40 + count_);
      q["depositAddress"] = deposit;
      if (!forget_) {
        deposits_[deposit] = {fromNear, toHyperliquid, amount, (*body)["recipient"].get<std::string>(), out.toString(),
                              false, Json{{"quoteRequest", *body}, {"quote", q}}};
      }
    }
    if (flat_) return FakeResponse::json(q.dump());
    return FakeResponse::json(
        Json{{"timestamp", "2027-01-15T08:00:00Z"}, {"signature", "ed25519:fake"}, {"quoteRequest", *body}, {"quote", q}}
            .dump());
  }

  FakeResponse status(const RecordedRequest& r) {
    std::lock_guard lock(mutex_);
    const std::string address = bridgeQueryValue(r.query, "depositAddress");
    auto it = deposits_.find(address);
    if (it == deposits_.end()) return FakeResponse::json(R"({"message":"deposit not found"})", 404);
    Deposit& d = it->second;
    const std::string held =
        d.fromNear ? near_.wrapped(address).str()
                   : std::to_string(ledgers_.heldAt(BridgeLedgers::kSolana, std::string(SolanaPrograms::kUsdcMint), address));
    const bool seen = !ignore_ && held == d.amount;
    std::string word = "PENDING_DEPOSIT";
    if (seen && hold_) word = "PROCESSING";
    if (seen && !hold_) {
      if (!d.delivered) {
        credits_[d.recipient] = d.out;
        if (d.toHyperliquid && credit_) {
          credit_(d.recipient, static_cast<std::uint64_t>(Decimal::parse(d.out).scaledByPowerOfTen(6).toInt64().value_or(0)));
        }
        if (d.fromNear) {
          ledgers_.solana->fundToken(d.recipient, std::string(SolanaPrograms::kUsdcMint),
                                     static_cast<std::uint64_t>(Decimal::parse(d.out).scaledByPowerOfTen(6).toInt64().value_or(0)));
        }
      }
      d.delivered = true;
      word = "SUCCESS";
    }
    Json details{{"amountOutFormatted", d.out}, {"destinationChainTxHashes", Json::array()}};
    if (flat_) {
      Json flat = details;
      flat["status"] = word;
      return FakeResponse::json(flat.dump());
    }
    return FakeResponse::json(Json{{"quoteResponse", d.quoteResponse},
                                   {"status", word},
                                   {"updatedAt", "2027-01-15T08:02:00Z"},
                                   {"swapDetails", details}}
                                  .dump());
  }

  BridgeLedgers ledgers_;
  FakeNearNode& near_;
  mutable std::mutex mutex_;
  std::map<std::string, Deposit> deposits_;
  std::map<std::string, std::string> credits_;
  std::optional<std::int64_t> deadline_;
  std::function<void(const std::string&, std::uint64_t)> credit_;
  bool refuse_ = false;
  bool flat_ = false;
  bool hold_ = false;
  bool ignore_ = false;
  bool forget_ = false;
  int count_ = 0;
  FakeServer server_;
};

}  // namespace orwenna::testing
