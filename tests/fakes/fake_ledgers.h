// Stateful fake Solana and EVM nodes on 127.0.0.1: they keep balances, check
// signatures, blockhashes and nonces on every transaction sent, and refuse
// what the real nodes refuse with the real nodes' words, so a send pipeline
// is tested against the chain's rules rather than against canned answers.
//
// The Solana ledger runs System transfers, the Associated Token program's
// create-idempotent and the token program's TransferChecked; the EVM ledger
// runs value transfers and ERC-20 transfer/approve on tokens it holds, and
// reverts calls to contracts marked as reverting. Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/text.h"
#include "base/uint.h"
#include "chains/abi.h"
#include "chains/evm_call.h"
#include "chains/evm_transaction.h"
#include "chains/rlp.h"
#include "chains/solana_transaction.h"
#include "chains/spl.h"
#include "signing/accounts.h"
#include "signing/base58.h"
#include "signing/keccak.h"
#include "chains/solana_fake_node.h"

namespace orwenna::testing {

class FakeSolanaLedger {
 public:
  static constexpr std::uint64_t kFee = 5000;
  static constexpr std::uint64_t kTokenAccountRent = 2'039'280;
  static constexpr std::string_view kFakeJupiterProgram = "JUP6LkbZbjS1jKKwapdHNy74zcZ3tLUZoi5QNyVTaV4";
  static constexpr std::string_view kRelayDepositoryProgram = "99vQwtBwYtrqqD9YSXbdum3KBdxPAVxYTaQ3cfnJSrN2";

  struct TokenAccount {
    std::string mint;
    std::string owner;
    std::uint64_t amount = 0;
  };

  FakeSolanaLedger() {
    node.on("getLatestBlockhash", [this](const Json&) {
      std::lock_guard lock(mutex_);
      return FakeSolanaNode::ok({{"context", {{"slot", height_}}},
                                 {"value", {{"blockhash", blockhash_}, {"lastValidBlockHeight", height_ + 150}}}});
    });
    node.on("getBlockHeight", [this](const Json&) {
      std::lock_guard lock(mutex_);
      return FakeSolanaNode::ok(height_);
    });
    node.on("getBalance", [this](const Json& p) {
      std::lock_guard lock(mutex_);
      return FakeSolanaNode::ok({{"context", {{"slot", height_}}}, {"value", lamportsOf(p.at(0))}});
    });
    node.on("getAccountInfo", [this](const Json& p) {
      std::lock_guard lock(mutex_);
      return FakeSolanaNode::ok({{"context", {{"slot", height_}}}, {"value", accountJson(p.at(0), false, state_)}});
    });
    // jsonParsed, filtered by {"mint": …}.
    node.on("getTokenAccountsByOwner", [this](const Json& p) {
      std::lock_guard lock(mutex_);
      const std::string owner = p.at(0).get<std::string>();
      const std::string mint = p.at(1).value("mint", "");
      Json list = Json::array();
      for (const auto& [address, t] : state_.tokens) {
        if (t.owner != owner || (!mint.empty() && t.mint != mint)) continue;
        Json info{{"mint", t.mint}, {"owner", t.owner},
                  {"tokenAmount", {{"amount", std::to_string(t.amount)}, {"decimals", state_.mints[t.mint]}}}};
        list.push_back({{"pubkey", address}, {"account", {{"data", {{"parsed", {{"info", info}}}}}}}});
      }
      return FakeSolanaNode::ok({{"context", {{"slot", height_}}}, {"value", list}});
    });
    node.on("simulateTransaction", [this](const Json& p) {
      std::lock_guard lock(mutex_);
      auto wire = fromBase64(p.at(0).get<std::string>());
      State copy = state_;
      Run run = apply(*wire, copy, p.at(1).value("sigVerify", false));
      Json accounts = Json::array();
      if (!run.err) {
        for (const auto& a : p.at(1).at("accounts").at("addresses")) accounts.push_back(accountJson(a, true, copy));
      }
      return FakeSolanaNode::ok({{"context", {{"slot", height_}}},
                                 {"value",
                                  {{"err", run.err ? *run.err : Json(nullptr)},
                                   {"logs", run.logs},
                                   {"accounts", run.err ? Json(nullptr) : accounts},
                                   {"unitsConsumed", 1500}}}});
    });
    node.on("sendTransaction", [this](const Json& p) {
      std::lock_guard lock(mutex_);
      auto wire = fromBase64(p.at(0).get<std::string>());
      auto parsed = SolanaTransaction::parse(*wire);
      std::string signature = Base58::encode(parsed.signatures.at(0));
      if (statuses_.count(signature)) {
        return FakeSolanaNode::rpcError(-32002, "Transaction simulation failed: This transaction has already been processed");
      }
      State copy = state_;
      Run run = apply(*wire, copy, true);
      if (run.err) {
        if (run.refusal) return FakeSolanaNode::rpcError(-32003, *run.refusal);
        return FakeSolanaNode::rpcError(-32002, "Transaction simulation failed: Error processing Instruction: " +
                                                    run.err->dump());
      }
      if (dropNext_) {
        // Lost on the way: it never lands, and the chain moves past its blockhash.
        dropNext_ = false;
        height_ += 200;
        blockhash_ = Base58::encode(Keccak::hash256(asBytes(blockhash_)));
        return FakeSolanaNode::ok(signature);
      }
      state_ = std::move(copy);
      statuses_[signature] = Json(nullptr);
      sent.push_back(*wire);
      return FakeSolanaNode::ok(signature);
    });
    node.on("getSignatureStatuses", [this](const Json& p) {
      std::lock_guard lock(mutex_);
      Json list = Json::array();
      for (const auto& s : p.at(0)) {
        auto it = statuses_.find(s.get<std::string>());
        if (it == statuses_.end()) {
          list.push_back(nullptr);
        } else {
          list.push_back({{"slot", height_}, {"confirmations", nullptr}, {"err", it->second},
                          {"confirmationStatus", "confirmed"}});
        }
      }
      return FakeSolanaNode::ok({{"context", {{"slot", height_}}}, {"value", list}});
    });
  }

  // A mint account under SPL Token; fundToken opens one of 6 decimals.
  void addMint(const std::string& mint, int decimals) {
    std::lock_guard lock(mutex_);
    state_.mints[mint] = decimals;
  }
  void fund(const std::string& wallet, std::uint64_t lamports) {
    std::lock_guard lock(mutex_);
    state_.lamports[wallet] = lamports;
  }
  // Opens (or tops up) `owner`'s associated account for `mint` under SPL Token.
  std::string fundToken(const std::string& owner, const std::string& mint, std::uint64_t amount) {
    std::lock_guard lock(mutex_);
    std::string ata = SPL::associatedTokenAddress(owner, mint, SolanaPrograms::kToken);
    state_.mints.emplace(mint, 6);
    auto& account = state_.tokens[ata];
    account = {mint, owner, account.amount + amount};
    state_.lamports[ata] = kTokenAccountRent;
    return ata;
  }
  std::uint64_t lamports(const std::string& address) const {
    std::lock_guard lock(mutex_);
    return lamportsOf(address);
  }
  std::optional<TokenAccount> token(const std::string& account) const {
    std::lock_guard lock(mutex_);
    auto it = state_.tokens.find(account);
    if (it == state_.tokens.end()) return std::nullopt;
    return it->second;
  }
  // The next transaction sent is answered but never lands; the chain moves
  // past its blockhash, so it expires.
  void dropNext() {
    std::lock_guard lock(mutex_);
    dropNext_ = true;
  }

  FakeSolanaNode node;
  std::vector<Bytes> sent;  // accepted wires

 private:
  struct State {
    std::map<std::string, std::uint64_t> lamports;
    std::map<std::string, TokenAccount> tokens;
    std::map<std::string, int> mints;  // mint → decimals
  };
  struct Run {
    std::optional<Json> err;
    std::optional<std::string> refusal;  // a node error rather than a failed instruction
    std::vector<std::string> logs;
  };

  std::uint64_t lamportsOf(const Json& address) const { return lamportsOf(address.get<std::string>()); }
  std::uint64_t lamportsOf(const std::string& address) const {
    auto it = state_.lamports.find(address);
    return it == state_.lamports.end() ? 0 : it->second;
  }

  Json accountJson(const Json& address, bool parsed, const State& s) const {
    const std::string a = address.get<std::string>();
    if (auto mint = s.mints.find(a); mint != s.mints.end()) {
      Bytes data(82);
      data[44] = static_cast<std::uint8_t>(mint->second);
      data[45] = 1;
      return {{"lamports", 1'461'600}, {"owner", SolanaPrograms::kToken}, {"data", {toBase64(data), "base64"}},
              {"executable", false}, {"rentEpoch", 0}};
    }
    auto lamports = s.lamports.find(a);
    if (lamports == s.lamports.end()) return nullptr;
    auto token = s.tokens.find(a);
    if (token == s.tokens.end()) {
      return {{"lamports", lamports->second}, {"owner", SolanaPrograms::kSystem}, {"data", {"", "base64"}},
              {"executable", false}, {"rentEpoch", 0}};
    }
    if (parsed) {
      return {{"lamports", lamports->second},
              {"owner", SolanaPrograms::kToken},
              {"data",
               {{"program", "spl-token"},
                {"parsed", {{"type", "account"}, {"info", {{"mint", token->second.mint}, {"owner", token->second.owner},
                                                           {"tokenAmount", {{"amount", std::to_string(token->second.amount)}}}}}}}}}};
    }
    Bytes data;
    auto mint = solanaAddressBytes(token->second.mint), owner = solanaAddressBytes(token->second.owner);
    data.insert(data.end(), mint.begin(), mint.end());
    data.insert(data.end(), owner.begin(), owner.end());
    for (int i = 0; i < 8; ++i) data.push_back(static_cast<std::uint8_t>(token->second.amount >> (8 * i)));
    data.resize(165);
    return {{"lamports", lamports->second}, {"owner", SolanaPrograms::kToken}, {"data", {toBase64(data), "base64"}},
            {"executable", false}, {"rentEpoch", 0}};
  }

  static std::uint64_t le64(const Bytes& d, std::size_t at) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | d.at(at + static_cast<std::size_t>(i));
    return v;
  }

  Run apply(const Bytes& wire, State& s, bool verify) const {
    Run run;
    auto parsed = SolanaTransaction::parse(wire);
    auto message = SolanaTransaction::parseMessage(parsed.message);
    if (message.recentBlockhash != blockhash_) {
      run.err = "BlockhashNotFound";
      run.refusal = "Transaction simulation failed: Blockhash not found";
      return run;
    }
    if (verify) {
      for (int i = 0; i < message.requiredSignatures; ++i) {
        auto key = solanaAddressBytes(message.staticKeys.at(static_cast<std::size_t>(i)));
        if (static_cast<std::size_t>(i) >= parsed.signatures.size() ||
            !Ed25519::verify(key, parsed.message, parsed.signatures[static_cast<std::size_t>(i)])) {
          run.err = "SignatureFailure";
          run.refusal = "Transaction signature verification failure";
          return run;
        }
      }
    }
    const std::string& payer = message.staticKeys.at(0);
    if (!s.lamports.count(payer)) {
      run.err = "AccountNotFound";
      return run;
    }
    if (s.lamports[payer] < kFee) {
      run.err = "InsufficientFundsForFee";
      return run;
    }
    s.lamports[payer] -= kFee;
    const auto& keys = message.staticKeys;
    auto signer = [&](int index) { return index < message.requiredSignatures; };
    for (std::size_t n = 0; n < message.instructions.size(); ++n) {
      const auto& ix = message.instructions[n];
      const std::string& program = keys.at(static_cast<std::size_t>(ix.programIndex));
      auto acct = [&](std::size_t i) { return keys.at(static_cast<std::size_t>(ix.accounts.at(i))); };
      auto fail = [&](Json custom) {
        run.err = Json{{"InstructionError", Json::array({n, custom})}};
      };
      if (program == SolanaPrograms::kComputeBudget) continue;
      if (program == SolanaPrograms::kSystem) {
        if (ix.data.size() != 12 || ix.data[0] != 2 || !signer(ix.accounts.at(0))) return fail("InvalidInstructionData"), run;
        std::uint64_t amount = le64(ix.data, 4);
        if (!s.lamports.count(acct(0)) || s.lamports[acct(0)] < amount) {
          run.logs.push_back("Transfer: insufficient lamports " + std::to_string(s.lamports[acct(0)]) + ", need " +
                             std::to_string(amount));
          return fail(Json{{"Custom", 1}}), run;
        }
        s.lamports[acct(0)] -= amount;
        s.lamports[acct(1)] += amount;
        continue;
      }
      if (program == SolanaPrograms::kAssociatedToken) {
        const std::string account = acct(1), owner = acct(2), mint = acct(3);
        if (account != SPL::associatedTokenAddress(owner, mint, acct(5))) return fail("InvalidSeeds"), run;
        if (s.tokens.count(account)) continue;
        if (s.lamports[acct(0)] < kTokenAccountRent) return fail(Json{{"Custom", 1}}), run;
        s.lamports[acct(0)] -= kTokenAccountRent;
        s.lamports[account] = kTokenAccountRent;
        s.tokens[account] = {mint, owner, 0};
        continue;
      }
      if (program == SolanaPrograms::kToken && !ix.data.empty() && ix.data[0] == 12 && ix.data.size() == 10) {
        auto source = s.tokens.find(acct(0));
        auto dest = s.tokens.find(acct(2));
        if (source == s.tokens.end() || dest == s.tokens.end()) return fail("InvalidAccountData"), run;
        if (source->second.owner != acct(3) || !signer(ix.accounts.at(3))) return fail(Json{{"Custom", 4}}), run;
        if (source->second.mint != acct(1) || dest->second.mint != acct(1)) return fail(Json{{"Custom", 3}}), run;
        std::uint64_t amount = le64(ix.data, 1);
        auto mint = s.mints.find(acct(1));
        if (mint == s.mints.end() || mint->second != ix.data[9]) return fail(Json{{"Custom", 18}}), run;
        if (source->second.amount < amount) return fail(Json{{"Custom", 1}}), run;
        source->second.amount -= amount;
        dest->second.amount += amount;
        continue;
      }
      // The fake Jupiter program: the signer's input account pays the pool's,
      // the pool's output account pays the signer's; 6001 when the pool
      // can't give the amount (Jupiter's "less than the minimum").
      if (program == kFakeJupiterProgram && ix.data.size() == 17 && ix.data[0] == 0xE5) {
        auto userIn = s.tokens.find(acct(1));
        auto userOut = s.tokens.find(acct(2));
        auto poolIn = s.tokens.find(acct(3));
        auto poolOut = s.tokens.find(acct(4));
        if (userIn == s.tokens.end() || userOut == s.tokens.end() || poolIn == s.tokens.end() ||
            poolOut == s.tokens.end()) {
          return fail("InvalidAccountData"), run;
        }
        if (userIn->second.owner != acct(0) || !signer(ix.accounts.at(0))) return fail(Json{{"Custom", 4}}), run;
        const std::uint64_t in = le64(ix.data, 1), out = le64(ix.data, 9);
        if (userIn->second.amount < in) return fail(Json{{"Custom", 1}}), run;
        if (poolOut->second.amount < out) return fail(Json{{"Custom", 6001}}), run;
        userIn->second.amount -= in;
        poolIn->second.amount += in;
        poolOut->second.amount -= out;
        userOut->second.amount += out;
        continue;
      }
      // Relay's deposit_token: the sender's token account pays the vault's;
      // accounts: depository, sender, depositor, sender's account, vault.
      if (program == kRelayDepositoryProgram && ix.data.size() >= 16 && ix.data[0] == 11 && ix.accounts.size() >= 5) {
        auto from = s.tokens.find(acct(3));
        auto vault = s.tokens.find(acct(4));
        if (from == s.tokens.end() || vault == s.tokens.end()) return fail("InvalidAccountData"), run;
        if (from->second.owner != acct(1) || !signer(ix.accounts.at(1))) return fail(Json{{"Custom", 4}}), run;
        const std::uint64_t amount = le64(ix.data, 8);
        if (from->second.amount < amount) return fail(Json{{"Custom", 1}}), run;
        from->second.amount -= amount;
        vault->second.amount += amount;
        continue;
      }
      return fail("UnsupportedProgramId"), run;
    }
    return run;
  }

  mutable std::mutex mutex_;
  State state_;
  std::map<std::string, Json> statuses_;
  std::string blockhash_ = "GHtXQBsoZHVnNFa9YevAzFr17DJjgHXk3ycTKD5xD3Zi";
  std::uint64_t height_ = 1000;
  bool dropNext_ = false;
};

class FakeEVMLedger {
 public:
  explicit FakeEVMLedger(std::uint64_t chainId) : chainId_(chainId) {
    node.result("eth_gasPrice", "0x3b9aca00");           // 1 gwei
    node.result("eth_maxPriorityFeePerGas", "0x5f5e100");  // 0.1 gwei
    node.on("eth_getTransactionCount", [this](const Json& p) {
      std::lock_guard lock(mutex_);
      auto n = nonceOf(p.at(0).get<std::string>());
      return FakeRpcNode::ok(toHexQuantity(staleCount_ ? std::min(n, *staleCount_) : n));
    });
    node.on("eth_getBalance", [this](const Json& p) {
      std::lock_guard lock(mutex_);
      return FakeRpcNode::ok(toHexQuantity(state_.native[key(p.at(0))]));
    });
    node.on("eth_estimateGas", [](const Json& p) {
      const std::string data = p.at(0).value("data", "0x");
      return FakeRpcNode::ok(data.size() > 2 ? "0xea60" : "0x5208");
    });
    node.on("eth_simulateV1", [this](const Json& p) {
      std::lock_guard lock(mutex_);
      State copy = state_;
      Json calls = Json::array();
      const Json& block = p.at(0).at("blockStateCalls").at(0);
      if (block.contains("stateOverrides")) {
        for (const auto& [address, o] : block.at("stateOverrides").items()) {
          copy.code[text::asciiLowercased(address)] = fromHex(o.value("code", "0x")).value_or(Bytes{});
        }
      }
      for (const auto& c : block.at("calls")) {
        auto value = parseUInt256Hex(c.value("value", "0x0")).value_or(0);
        auto data = fromHex(c.value("data", "0x")).value_or(Bytes{});
        Exec e = execute(copy, key(c.at("from")), key(c.at("to")), value, data);
        if (e.revert) {
          calls.push_back({{"status", "0x0"}, {"error", {{"message", *e.revert}}}, {"logs", Json::array()}});
        } else {
          calls.push_back({{"status", "0x1"}, {"logs", e.logs}});
        }
      }
      return FakeRpcNode::ok(Json::array({{{"calls", calls}}}));
    });
    node.on("eth_sendRawTransaction", [this](const Json& p) {
      std::lock_guard lock(mutex_);
      return sendRaw(*fromHex(p.at(0).get<std::string>()));
    });
    node.on("eth_call", [this](const Json& p) { return ethCall(p); });
    node.on("eth_getTransactionReceipt", [this](const Json& p) {
      std::lock_guard lock(mutex_);
      auto it = receipts_.find(p.at(0).get<std::string>());
      return FakeRpcNode::ok(it == receipts_.end() ? Json(nullptr) : it->second);
    });
  }

  void fund(const std::string& address, const UInt256& wei) {
    std::lock_guard lock(mutex_);
    state_.native[text::asciiLowercased(address)] = wei;
  }
  void fundToken(const std::string& token, const std::string& address, const UInt256& amount) {
    std::lock_guard lock(mutex_);
    state_.tokens[text::asciiLowercased(token)][text::asciiLowercased(address)] = amount;
  }
  // `contract` takes depositErc20(address token, uint256 amount, bytes32 id)
  // by pulling the approved tokens to itself, as a bridge's deposit does.
  void addEscrow(const std::string& contract) {
    std::lock_guard lock(mutex_);
    escrows_.insert(text::asciiLowercased(contract));
  }
  // Fees come out of `token` (6 decimals) instead of a gas coin, as on
  // Tempo, where a fee unit is 10^-18 of a dollar.
  void feesIn(const std::string& token) {
    std::lock_guard lock(mutex_);
    feeToken_ = text::asciiLowercased(token);
  }
  // decimals() and symbol() of a token, as its contract answers them.
  void describe(const std::string& token, int decimals, const std::string& symbol) {
    std::lock_guard lock(mutex_);
    described_[text::asciiLowercased(token)] = {decimals, symbol};
  }
  void revertCalls(const std::string& contract) {
    std::lock_guard lock(mutex_);
    reverting_.insert(text::asciiLowercased(contract));
  }
  // eth_getTransactionCount answers at most `count`, as a node that has not
  // yet seen the latest transactions.
  void lagNonces(std::uint64_t count) {
    std::lock_guard lock(mutex_);
    staleCount_ = count;
  }
  UInt256 native(const std::string& address) const {
    std::lock_guard lock(mutex_);
    auto it = state_.native.find(text::asciiLowercased(address));
    return it == state_.native.end() ? UInt256(0) : it->second;
  }
  UInt256 token(const std::string& token, const std::string& address) const {
    std::lock_guard lock(mutex_);
    auto t = state_.tokens.find(text::asciiLowercased(token));
    if (t == state_.tokens.end()) return 0;
    auto it = t->second.find(text::asciiLowercased(address));
    return it == t->second.end() ? UInt256(0) : it->second;
  }
  UInt256 allowance(const std::string& token, const std::string& owner, const std::string& spender) const {
    std::lock_guard lock(mutex_);
    auto it = state_.allowances.find(text::asciiLowercased(token) + text::asciiLowercased(owner) +
                                     text::asciiLowercased(spender));
    return it == state_.allowances.end() ? UInt256(0) : it->second;
  }
  // Nonces of accepted transactions, in order.
  std::vector<std::uint64_t> acceptedNonces() const {
    std::lock_guard lock(mutex_);
    return accepted_;
  }

  struct State;
  // One call into a contract the ledger runs beyond ERC-20 transfer and
  // approve (a lending pool, a vault). The contract moves tokens through it;
  // for eth_call it runs on a copy and sets `answer`.
  struct Run {
    State& state;
    std::string from;  // lower case
    std::string self;  // lower case
    UInt256 value;
    const Bytes& data;
    Json& logs;
    Bytes answer;

    std::string selector() const { return data.size() >= 4 ? toHex(ByteView(data).first(4)) : std::string(); }
    UInt256 word(std::size_t i) const {
      return data.size() >= 4 + 32 * (i + 1) ? fromBigEndian(ByteView(data).subspan(4 + 32 * i, 32)) : UInt256(0);
    }
    std::string address(std::size_t i) const {
      return data.size() >= 4 + 32 * (i + 1) ? toHex0x(ByteView(data).subspan(16 + 32 * i, 20)) : std::string();
    }
    UInt256 balance(const std::string& token, const std::string& holder) const {
      return state.tokens[text::asciiLowercased(token)][text::asciiLowercased(holder)];
    }
    // transferFrom(owner → this contract) through the owner's allowance.
    bool pull(const std::string& token, const std::string& owner, const UInt256& amount) {
      auto& allowance = state.allowances[text::asciiLowercased(token) + owner + self];
      auto& have = state.tokens[text::asciiLowercased(token)][owner];
      if (allowance < amount || have < amount) return false;
      allowance -= amount;
      move(token, owner, self, amount);
      return true;
    }
    bool pay(const std::string& token, const std::string& to, const UInt256& amount) {
      if (state.tokens[text::asciiLowercased(token)][self] < amount) return false;
      move(token, self, text::asciiLowercased(to), amount);
      return true;
    }
    void mint(const std::string& token, const std::string& to, const UInt256& amount) {
      state.tokens[text::asciiLowercased(token)][text::asciiLowercased(to)] += amount;
      log(token, "0x0000000000000000000000000000000000000000", to, amount);
    }
    bool burn(const std::string& token, const std::string& holder, const UInt256& amount) {
      auto& have = state.tokens[text::asciiLowercased(token)][text::asciiLowercased(holder)];
      if (have < amount) return false;
      have -= amount;
      log(token, holder, "0x0000000000000000000000000000000000000000", amount);
      return true;
    }

   private:
    void move(const std::string& token, const std::string& from, const std::string& to, const UInt256& amount) {
      auto& balances = state.tokens[text::asciiLowercased(token)];
      balances[from] -= amount;
      balances[to] += amount;
      log(token, from, to, amount);
    }
    void log(const std::string& token, const std::string& from, const std::string& to, const UInt256& amount) {
      logs.push_back({{"address", text::asciiLowercased(token)},
                      {"topics", {kTransferTopic, topic(text::asciiLowercased(from)), topic(text::asciiLowercased(to))}},
                      {"data", toHex0x(toBigEndian32(amount))}});
    }
  };
  // The contract's answer to a call: nothing, or the revert reason.
  using Contract = std::function<std::optional<std::string>(Run&)>;
  void contract(const std::string& address, Contract c) {
    std::lock_guard lock(mutex_);
    contracts_[text::asciiLowercased(address)] = std::move(c);
  }
  // The receipt of an accepted transaction, as eth_getTransactionReceipt gives it.
  std::optional<Json> receiptOf(const std::string& hash) const {
    std::lock_guard lock(mutex_);
    auto it = receipts_.find(hash);
    return it == receipts_.end() ? std::nullopt : std::optional<Json>(it->second);
  }
  // Every raw transaction accepted, in order (calldata checks).
  std::vector<EVMTransaction> acceptedTransactions() const {
    std::lock_guard lock(mutex_);
    return transactions_;
  }

  FakeRpcNode node;

 private:
  static constexpr std::string_view kTransferTopic = "0xddf252ad1be2c89b69c2b068fc378daa952ba7f163c4a11628f55a4df523b3ef";
  static constexpr std::string_view kApprovalTopic = "0x8c5be1e5ebec7d5bd14f71427d1e84f3dd0314c0f7b2291e5b200ac8c7c3b925";

  // Public so contracts can reach balances through Run.
 public:
  struct State {
    std::map<std::string, UInt256> native;
    std::map<std::string, std::map<std::string, UInt256>> tokens;
    std::map<std::string, UInt256> allowances;  // token ‖ owner ‖ spender
    std::map<std::string, std::uint64_t> nonces;
    std::map<std::string, Bytes> code;  // delegations set by authorisations
  };

 private:
  struct Exec {
    std::optional<std::string> revert;
    Json logs = Json::array();
  };

  static std::string key(const Json& a) { return text::asciiLowercased(a.get<std::string>()); }

  FakeResponse ethCall(const Json& p) {
    std::lock_guard lock(mutex_);
    const Json& c = p.at(0);
    const std::string to = key(c.at("to"));
    const Bytes data = fromHex(c.value("data", "0x")).value_or(Bytes{});
    State copy = state_;
    Json logs = Json::array();
    if (auto it = contracts_.find(to); it != contracts_.end()) {
      Run run{copy, c.contains("from") ? key(c.at("from")) : std::string(), to, 0, data, logs, {}};
      if (auto revert = it->second(run)) return FakeRpcNode::rpcError(3, "execution reverted: " + *revert);
      return FakeRpcNode::ok(toHex0x(run.answer));
    }
    if (auto d = described_.find(to); d != described_.end() && data.size() == 4) {
      if (toHex(data) == "313ce567") return FakeRpcNode::ok(toHex0x(toBigEndian32(UInt256(d->second.first))));
      if (toHex(data) == "95d89b41") return FakeRpcNode::ok(toHex0x(ABI::encode({ABI::Value::bytes(Bytes(d->second.second.begin(), d->second.second.end()))})));
    }
    auto holder = copy.tokens.find(to);
    if (holder != copy.tokens.end() && data.size() >= 36) {
      Run run{copy, {}, to, 0, data, logs, {}};
      if (run.selector() == "70a08231") return FakeRpcNode::ok(toHex0x(toBigEndian32(holder->second[run.address(0)])));
      if (run.selector() == "dd62ed3e" && data.size() >= 68) {
        return FakeRpcNode::ok(toHex0x(toBigEndian32(copy.allowances[to + run.address(0) + run.address(1)])));
      }
    }
    return FakeRpcNode::rpcError(3, "execution reverted");
  }
  std::uint64_t nonceOf(const std::string& a) const {
    auto it = state_.nonces.find(text::asciiLowercased(a));
    return it == state_.nonces.end() ? 0 : it->second;
  }
  static std::string topic(const std::string& address) { return "0x000000000000000000000000" + address.substr(2); }

  Exec execute(State& s, const std::string& from, const std::string& to, const UInt256& value, const Bytes& data) const {
    Exec e;
    if (reverting_.count(to)) return e.revert = "execution reverted: the pool refuses", e;
    if (s.native[from] < value) return e.revert = "insufficient balance for transfer", e;
    s.native[from] -= value;
    s.native[to] += value;
    if (auto c = contracts_.find(to); c != contracts_.end()) {
      Bytes copy = data;
      Run run{s, from, to, value, copy, e.logs, {}};
      if (auto revert = c->second(run)) e.revert = "execution reverted: " + *revert;
      return e;
    }
    if (auto code = s.code.find(to); code != s.code.end() && code->second == Batch7702::delegatedCode()) {
      return runBatch(s, from, to, data);
    }
    if (data.empty()) return e;
    EVMCall call = EVMCall::decode(to, data);
    if (escrows_.count(to) && data.size() >= 100 && call.selector == toHex(ABI::call("depositErc20(address,uint256,bytes32)", {}))) {
      const std::string token = "0x" + toHex(Bytes(data.begin() + 16, data.begin() + 36));
      const UInt256 amount = fromBigEndian(std::span<const std::uint8_t>(data.data() + 36, 32));
      auto& allowance = s.allowances[token + from + to];
      auto& balances = s.tokens[token];
      if (allowance < amount) return e.revert = "execution reverted: ERC20: insufficient allowance", e;
      if (balances[from] < amount) return e.revert = "execution reverted: ERC20: transfer amount exceeds balance", e;
      allowance -= amount;
      balances[from] -= amount;
      balances[to] += amount;
      e.logs.push_back({{"address", token}, {"topics", {kTransferTopic, topic(from), topic(to)}},
                        {"data", toHex0x(toBigEndian32(amount))}});
      return e;
    }
    auto holder = s.tokens.find(to);
    if (holder == s.tokens.end()) return e.revert = "execution reverted", e;
    if (call.kind == EVMCall::Kind::transfer) {
      auto& balances = holder->second;
      if (balances[from] < call.amount) return e.revert = "execution reverted: ERC20: transfer amount exceeds balance", e;
      balances[from] -= call.amount;
      balances[call.to] += call.amount;
      e.logs.push_back({{"address", to}, {"topics", {kTransferTopic, topic(from), topic(call.to)}},
                        {"data", toHex0x(toBigEndian32(call.amount))}});
      return e;
    }
    if (call.kind == EVMCall::Kind::approve) {
      s.allowances[to + from + call.to] = call.amount;
      e.logs.push_back({{"address", to}, {"topics", {kApprovalTopic, topic(from), topic(call.to)}},
                        {"data", toHex0x(toBigEndian32(call.amount))}});
      return e;
    }
    return e.revert = "execution reverted: unknown function", e;
  }

  // The batch contract's execute: only the wallet itself may call it; every
  // call runs from the wallet, and one revert undoes them all.
  Exec runBatch(State& s, const std::string& from, const std::string& wallet, const Bytes& data) const {
    Exec e;
    const auto selector = ABI::selector("execute((address,uint256,bytes)[])");
    if (data.size() < 4 || !std::equal(selector.begin(), selector.end(), data.begin())) {
      return e.revert = "execution reverted: unknown function", e;
    }
    if (from != wallet) return e.revert = "execution reverted: Unauthorized", e;
    ByteView args = ByteView(data).subspan(4);
    auto word = [&](std::size_t at) -> std::optional<UInt256> {
      if (at + 32 > args.size()) return std::nullopt;
      return fromBigEndian(args.subspan(at, 32));
    };
    auto index = [&](std::size_t at) -> std::optional<std::size_t> {
      auto w = word(at);
      if (!w || *w > UInt256(args.size())) return std::nullopt;
      return static_cast<std::size_t>(*w);
    };
    auto array = index(0);
    auto count = array ? index(*array) : std::nullopt;
    if (!count) return e.revert = "execution reverted: bad calldata", e;
    const std::size_t base = *array + 32;
    State copy = s;
    for (std::size_t i = 0; i < *count; ++i) {
      auto offset = index(base + 32 * i);
      if (!offset) return e.revert = "execution reverted: bad calldata", e;
      const std::size_t tuple = base + *offset;
      auto target = word(tuple);
      auto value = word(tuple + 32);
      auto bytesAt = index(tuple + 64);
      auto length = bytesAt ? index(tuple + *bytesAt) : std::nullopt;
      if (!target || !value || !length || tuple + *bytesAt + 32 + *length > args.size()) {
        return e.revert = "execution reverted: bad calldata", e;
      }
      const std::string to = toHex0x(args.subspan(tuple + 12, 20));
      Bytes callData(args.begin() + static_cast<std::ptrdiff_t>(tuple + *bytesAt + 32),
                     args.begin() + static_cast<std::ptrdiff_t>(tuple + *bytesAt + 32 + *length));
      Exec one = execute(copy, wallet, to, *value, callData);
      if (one.revert) return one;
      for (auto& log : one.logs) e.logs.push_back(std::move(log));
    }
    s = std::move(copy);
    return e;
  }

  FakeResponse sendRaw(const Bytes& raw) {
    if (raw.empty() || (raw[0] != 0x02 && raw[0] != 0x04)) {
      return FakeRpcNode::rpcError(-32000, "transaction type not supported");
    }
    const bool typed4 = raw[0] == 0x04;
    auto decoded = RLP::decode(ByteView(raw).subspan(1));
    if (!decoded || !decoded->isList() || decoded->asList().size() != (typed4 ? 13u : 12u)) {
      return FakeRpcNode::rpcError(-32000, "rlp: invalid transaction");
    }
    const auto& f = decoded->asList();
    auto num = [&](std::size_t i) { return fromBigEndian(f[i].asBytes()); };
    auto signatureAt = [](const std::vector<RLP>& items, std::size_t i) {
      EVMSignature sig;
      sig.v = 27 + static_cast<int>(fromBigEndian(items[i].asBytes()));
      auto r = toBigEndian32(fromBigEndian(items[i + 1].asBytes())), s = toBigEndian32(fromBigEndian(items[i + 2].asBytes()));
      std::copy(r.begin(), r.end(), sig.r.begin());
      std::copy(s.begin(), s.end(), sig.s.begin());
      return sig;
    };
    const std::size_t sigAt = typed4 ? 10 : 9;
    EVMTransaction tx;
    tx.chainId = num(0);
    tx.nonce = num(1);
    tx.maxPriorityFeePerGas = num(2);
    tx.maxFeePerGas = num(3);
    tx.gasLimit = num(4);
    tx.to = toHex0x(f[5].asBytes());
    tx.value = num(6);
    tx.data = f[7].asBytes();
    if (tx.chainId != chainId_) return FakeRpcNode::rpcError(-32000, "invalid chain id for signer");
    if (typed4) {
      if (!f[9].isList() || f[9].asList().empty()) return FakeRpcNode::rpcError(-32000, "empty authorization list");
      for (const auto& item : f[9].asList()) {
        if (!item.isList() || item.asList().size() != 6) return FakeRpcNode::rpcError(-32000, "rlp: invalid authorization");
        const auto& a = item.asList();
        EVMTransaction::Authorization auth;
        auth.chainId = fromBigEndian(a[0].asBytes());
        auth.address = toHex0x(a[1].asBytes());
        auth.nonce = fromBigEndian(a[2].asBytes());
        auth.signature = signatureAt(a, 3);
        tx.authorizations.push_back(std::move(auth));
      }
    }
    EVMSignature sig = signatureAt(f, sigAt);
    std::string from;
    try {
      from = text::asciiLowercased(EVMSigner::recover(sig, EVMTransaction::signingHash(tx)));
    } catch (const std::exception&) {
      return FakeRpcNode::rpcError(-32000, "invalid sender");
    }
    const std::uint64_t expected = nonceOf(from);
    if (tx.nonce < expected) {
      return FakeRpcNode::rpcError(-32000, "nonce too low: next nonce " + std::to_string(expected) + ", tx nonce " +
                                               toDecimalString(tx.nonce));
    }
    if (tx.nonce > expected) return FakeRpcNode::rpcError(-32000, "nonce too high");
    const UInt256 gasCost = tx.gasLimit * tx.maxFeePerGas;
    if (feeToken_) {
      const UInt256 units = gasCost / UInt256(1'000'000'000'000ULL);
      auto& have = state_.tokens[*feeToken_][from];
      if (tx.value != UInt256(0)) return FakeRpcNode::rpcError(-32000, "value transfers are not supported");
      if (have < units) {
        return FakeRpcNode::rpcError(-32000, "insufficient funds for gas * price + value: have " +
                                                 toDecimalString(have) + " want " + toDecimalString(units));
      }
      have -= UInt256(21000) * UInt256(1'000'000'000) / UInt256(1'000'000'000'000ULL);
    } else if (state_.native[from] < gasCost + tx.value) {
      return FakeRpcNode::rpcError(-32000, "insufficient funds for gas * price + value: address " + from + " have " +
                                               toDecimalString(state_.native[from]) + " want " +
                                               toDecimalString(gasCost + tx.value));
    }
    const std::string hash = toHex0x(Keccak::hash256(raw));
    if (!feeToken_) state_.native[from] -= 21000 * UInt256(1'000'000'000);
    state_.nonces[from] = expected + 1;
    // An authorisation that fails is skipped, not fatal, as on chain.
    for (const auto& auth : tx.authorizations) {
      if (auth.chainId != chainId_ && auth.chainId != UInt256(0)) continue;
      std::string authority;
      try {
        authority = text::asciiLowercased(EVMSigner::recover(
            auth.signature, EVMTransaction::authorizationHashFor(auth.chainId, auth.address, auth.nonce)));
      } catch (const std::exception&) {
        continue;
      }
      if (auth.nonce != UInt256(nonceOf(authority))) continue;
      Bytes code{0xef, 0x01, 0x00};
      auto target = *fromHex(auth.address);
      code.insert(code.end(), target.begin(), target.end());
      state_.code[authority] = code;
      state_.nonces[authority] = nonceOf(authority) + 1;
    }
    State copy = state_;
    Exec e = execute(copy, from, text::asciiLowercased(tx.to), tx.value, tx.data);
    if (!e.revert) state_ = std::move(copy);
    accepted_.push_back(expected);
    transactions_.push_back(tx);
    receipts_[hash] = {{"transactionHash", hash}, {"status", e.revert ? "0x0" : "0x1"}, {"logs", e.logs}};
    return FakeRpcNode::ok(hash);
  }

  std::uint64_t chainId_;
  mutable std::mutex mutex_;
  State state_;
  std::set<std::string> reverting_;
  std::set<std::string> escrows_;
  std::optional<std::uint64_t> staleCount_;
  std::map<std::string, Json> receipts_;
  std::vector<std::uint64_t> accepted_;
  std::vector<EVMTransaction> transactions_;
  std::map<std::string, Contract> contracts_;
  std::optional<std::string> feeToken_;
  std::map<std::string, std::pair<int, std::string>> described_;
};

}  // namespace orwenna::testing
