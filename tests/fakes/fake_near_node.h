// A stateful fake NEAR node on 127.0.0.1 (JSON-RPC 2.0, POST "/"): accounts
// with balances, storage and one access key each, wrap.near's balances and
// registrations, the final block. send_tx reads the Borsh transaction,
// checks the block hash, the nonce and the Ed25519 signature over its
// SHA-256, charges a fee, and runs transfers, account deletion and
// wrap.near's storage_deposit, near_deposit and ft_transfer — refusing what
// the real node refuses, with its error objects ("Server error" outside, the
// detail in "data" and "cause"). Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/uint.h"
#include "chains/near_transaction.h"
#include "signing/accounts.h"
#include "signing/base58.h"
#include "chains/solana_fake_node.h"

namespace orwenna::testing {

class FakeNearNode {
 public:
  static inline const UInt128 kFee = UInt128(100'000'000'000ULL) * UInt128(1'000'000'000ULL);  // 0.0001 NEAR
  static inline const UInt128 kGasPrice = UInt128(100'000'000);

  struct Account {
    UInt128 amount;
    std::uint64_t storageUsage = 182;
    std::uint64_t keyNonce = 0;
  };

  FakeNearNode() {
    blockHash_ = Bytes(32, 7);
    node.on("block", [this](const Json&) {
      std::lock_guard lock(mutex_);
      return FakeRpcNode::ok({{"header", {{"hash", Base58::encode(blockHash_)}, {"gas_price", kGasPrice.str()},
                                          {"height", 100}}}});
    });
    node.on("query", [this](const Json& p) {
      std::lock_guard lock(mutex_);
      return query(p);
    });
    node.on("send_tx", [this](const Json& p) {
      std::lock_guard lock(mutex_);
      return sendTx(*fromBase64(p.at("signed_tx_base64").get<std::string>()));
    });
  }

  void open(const std::string& account, const UInt128& amount, std::uint64_t keyNonce = 40) {
    std::lock_guard lock(mutex_);
    accounts_[account] = {amount, 182, keyNonce};
  }
  void wrap(const std::string& account, const UInt128& amount) {
    std::lock_guard lock(mutex_);
    registered_.insert(account);
    wrapped_[account] = amount;
  }
  std::optional<Account> account(const std::string& id) const {
    std::lock_guard lock(mutex_);
    auto it = accounts_.find(id);
    if (it == accounts_.end()) return std::nullopt;
    return it->second;
  }
  UInt128 wrapped(const std::string& id) const {
    std::lock_guard lock(mutex_);
    auto it = wrapped_.find(id);
    return it == wrapped_.end() ? UInt128(0) : it->second;
  }
  std::vector<Bytes> sent;  // accepted transactions

  FakeRpcNode node;

 private:
  static FakeResponse serverError(const std::string& name, const Json& cause, const Json& data) {
    return FakeResponse::json(Json{{"jsonrpc", "2.0"},
                                   {"id", 1},
                                   {"error",
                                    {{"name", "HANDLER_ERROR"},
                                     {"cause", {{"name", name}, {"info", cause}}},
                                     {"code", -32000},
                                     {"message", "Server error"},
                                     {"data", data}}}}
                                  .dump());
  }
  static FakeResponse unknownAccount(const std::string& id) {
    return serverError("UNKNOWN_ACCOUNT", {{"requested_account_id", id}},
                       "account " + id + " does not exist while viewing");
  }

  FakeResponse query(const Json& p) {
    const std::string type = p.at("request_type");
    const std::string id = p.at("account_id");
    if (type == "call_function") {
      auto args = fromBase64(p.at("args_base64").get<std::string>());
      auto who = parseJson(asString(*args))->at("account_id").get<std::string>();
      auto it = wrapped_.find(who);
      std::string text = "\"" + (it == wrapped_.end() ? std::string("0") : it->second.str()) + "\"";
      return FakeRpcNode::ok({{"result", Json(Bytes(text.begin(), text.end()))}, {"logs", Json::array()}});
    }
    auto it = accounts_.find(id);
    if (it == accounts_.end()) return unknownAccount(id);
    if (type == "view_account") {
      return FakeRpcNode::ok({{"amount", it->second.amount.str()}, {"locked", "0"},
                              {"storage_usage", it->second.storageUsage}, {"block_hash", Base58::encode(blockHash_)}});
    }
    if (type == "view_access_key") {
      if (p.at("public_key") != "ed25519:" + Base58::encode(*fromHex(id, false))) {
        return serverError("UNKNOWN_ACCESS_KEY", {{"public_key", p.at("public_key")}}, "access key does not exist");
      }
      return FakeRpcNode::ok({{"nonce", it->second.keyNonce}, {"permission", "FullAccess"}});
    }
    return FakeRpcNode::rpcError(-32601, "unknown request type");
  }

  struct Reader {
    const Bytes& b;
    std::size_t at = 0;
    std::uint64_t u(int n) {
      std::uint64_t v = 0;
      for (int i = n - 1; i >= 0; --i) v = (v << 8) | b.at(at + static_cast<std::size_t>(i));
      at += static_cast<std::size_t>(n);
      return v;
    }
    UInt128 u128() {
      UInt128 low = u(8), high = u(8);
      return (high << 64) | low;
    }
    Bytes raw(std::size_t n) {
      Bytes out(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + n));
      at += n;
      if (at > b.size()) throw std::out_of_range("borsh");
      return out;
    }
    std::string str() { return asString(raw(static_cast<std::size_t>(u(4)))); }
  };

  FakeResponse failure(const Json& error) {
    return FakeRpcNode::ok({{"status", {{"Failure", error}}}, {"transaction", {{"hash", "failed"}}}});
  }

  FakeResponse sendTx(const Bytes& tx) {
    Reader r{tx};
    const std::string signer = r.str();
    r.u(1);
    Bytes key = r.raw(32);
    const std::uint64_t nonce = r.u(8);
    const std::string receiver = r.str();
    Bytes hash = r.raw(32);
    std::vector<NearAction> actions(static_cast<std::size_t>(r.u(4)));
    for (auto& a : actions) {
      auto tag = r.u(1);
      if (tag == 2) {
        a.kind = NearAction::Kind::functionCall;
        a.method = r.str();
        a.args = r.raw(static_cast<std::size_t>(r.u(4)));
        a.gas = r.u(8);
        a.deposit = r.u128();
      } else if (tag == 3) {
        a.kind = NearAction::Kind::transfer;
        a.deposit = r.u128();
      } else if (tag == 7) {
        a.kind = NearAction::Kind::deleteAccount;
        a.beneficiary = r.str();
      } else {
        return FakeRpcNode::rpcError(-32700, "unsupported action");
      }
    }
    const std::size_t body = r.at;
    if (r.u(1) != 0 || r.at + 64 != tx.size()) return FakeRpcNode::rpcError(-32700, "bad signature bytes");
    auto digest = NearTransaction::hash(ByteView(tx).first(body));
    if (!Ed25519::verify(key, digest, ByteView(tx).last(64)) || toHex(key) != signer) {
      return serverError("INVALID_TRANSACTION", {}, {{"TxExecutionError", {{"InvalidTxError", "InvalidSignature"}}}});
    }
    if (hash != blockHash_) {
      return serverError("INVALID_TRANSACTION", {}, {{"TxExecutionError", {{"InvalidTxError", "Expired"}}}});
    }
    auto from = accounts_.find(signer);
    if (from == accounts_.end()) return unknownAccount(signer);
    if (nonce <= from->second.keyNonce) {
      return serverError("INVALID_TRANSACTION", {},
                         {{"TxExecutionError", {{"InvalidTxError", {{"InvalidNonce", {{"tx_nonce", nonce},
                                                                                       {"ak_nonce", from->second.keyNonce}}}}}}}});
    }
    UInt128 cost = kFee;
    for (const auto& a : actions) cost += a.deposit;
    if (from->second.amount < cost) {
      return serverError("INVALID_TRANSACTION", {},
                         {{"TxExecutionError",
                           {{"InvalidTxError", {{"NotEnoughBalance", {{"signer_id", signer},
                                                                      {"balance", from->second.amount.str()},
                                                                      {"cost", cost.str()}}}}}}}});
    }
    // Runs on copies: a failing action undoes the whole transaction but the fee.
    auto accounts = accounts_;
    auto wrapped = wrapped_;
    auto registered = registered_;
    Account& me = accounts[signer];
    me.keyNonce = nonce;
    me.amount -= kFee;
    for (const auto& a : actions) {
      if (a.kind == NearAction::Kind::transfer) {
        me.amount -= a.deposit;
        accounts[receiver].amount += a.deposit;
      } else if (a.kind == NearAction::Kind::deleteAccount) {
        if (!accounts.count(a.beneficiary)) {
          commitFee(signer, nonce);
          return failure({{"ActionError", {{"kind", {{"AccountDoesNotExist", {{"account_id", a.beneficiary}}}}}}}});
        }
        UInt128 all = me.amount;
        accounts.erase(signer);
        accounts[a.beneficiary].amount += all;
        break;
      } else {
        if (receiver != NearTransaction::kWrapContract) return failure({{"ActionError", "CodeDoesNotExist"}});
        me.amount -= a.deposit;
        auto args = parseJson(asString(a.args));
        if (a.method == "storage_deposit") {
          registered.insert(args->at("account_id").get<std::string>());
        } else if (a.method == "near_deposit") {
          if (!registered.count(signer)) {
            commitFee(signer, nonce);
            return failure({{"ActionError", {{"kind", {{"FunctionCallError", "The account is not registered"}}}}}});
          }
          wrapped[signer] += a.deposit;
        } else if (a.method == "ft_transfer") {
          const std::string to = args->at("receiver_id");
          auto value = parseUInt128(args->at("amount").get<std::string>());
          if (a.deposit != 1 || !registered.count(to) || !value || wrapped[signer] < *value) {
            commitFee(signer, nonce);
            return failure({{"ActionError", {{"kind", {{"FunctionCallError", "ft_transfer refused"}}}}}});
          }
          wrapped[signer] -= *value;
          wrapped[to] += *value;
        }
      }
    }
    if (accounts.count(signer) && me.amount < UInt128(me.storageUsage) * UInt128(10'000'000'000'000'000'000ULL)) {
      commitFee(signer, nonce);
      return failure({{"ActionError", {{"kind", {{"LackBalanceForState", {{"account_id", signer}}}}}}}});
    }
    accounts_ = std::move(accounts);
    wrapped_ = std::move(wrapped);
    registered_ = std::move(registered);
    sent.push_back(tx);
    return FakeRpcNode::ok({{"status", {{"SuccessValue", ""}}},
                            {"transaction", {{"hash", Base58::encode(digest)}}}});
  }

  void commitFee(const std::string& signer, std::uint64_t nonce) {
    accounts_[signer].amount -= kFee;
    accounts_[signer].keyNonce = nonce;
  }

  mutable std::mutex mutex_;
  Bytes blockHash_;
  std::map<std::string, Account> accounts_;
  std::map<std::string, UInt128> wrapped_;
  std::set<std::string> registered_;
};

}  // namespace orwenna::testing
