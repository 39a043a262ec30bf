// The NEAR JSON-RPC calls the system makes: the access key's next nonce, an
// account's balance and storage, the latest final block (hash and gas
// price), the wrapped-NEAR balance, and sending a signed transaction. One
// POST to the node root per call, 30-second time-out, no retries.
//
// NEAR nodes put the detail of an error in "data" or "cause" beside a
// generic "Server error" message, so errors are read from the whole error
// object. Calls block; a NearRPC holds no mutable state and may be shared
// between threads as far as its HttpClient may.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "base/http.h"
#include "base/json.h"
#include "base/uint.h"
#include "chains/chain_error.h"

namespace orwenna {

class NearRPCError : public ChainError {
 public:
  // `nodeText` is the whole error as the node gave it (compact JSON or text).
  NearRPCError(const std::string& message, std::string nodeText)
      : ChainError(message), nodeText_(std::move(nodeText)) {}
  const std::string& nodeText() const { return nodeText_; }

 private:
  std::string nodeText_;
};

class NearRPC {
 public:
  static constexpr std::string_view kPublicMainnet = "https://rpc.mainnet.near.org";

  struct Account {
    UInt128 amount;                 // yoctoNEAR
    std::uint64_t storageUsage = 0;  // bytes
  };
  struct Block {
    Bytes hash;  // 32 bytes
    UInt128 gasPrice;
  };

  NearRPC(HttpClient& http, std::string url);
  const std::string& url() const { return url_; }

  // The "result" of one call. Throws NearRPCError (an "error" member, a
  // "result.error" string, a non-2xx status, a body that is not JSON), or
  // NetError.
  Json call(const std::string& method, const Json& params) const;

  // The key's nonce + 1. `publicKey` is the 32-byte Ed25519 key.
  std::uint64_t accessKeyNonce(const std::string& account, ByteView publicKey) const;
  Account account(const std::string& account) const;
  Block latestBlock() const;
  // wrap.near's ft_balance_of the account, yoctoNEAR.
  UInt128 wrappedBalance(const std::string& account) const;
  // The transaction hash. Throws NearRPCError "NEAR RPC send_tx: …" or "The
  // NEAR transaction failed: …" (even when a hash came back).
  std::string sendTx(ByteView signedTransaction) const;

  // The user's sentence for a node error that has one (short of NEAR, an
  // account not opened yet); nothing otherwise.
  [[nodiscard]] static std::optional<std::string> userMessage(std::string_view nodeText);
  // Whether the error says the account does not exist.
  [[nodiscard]] static bool isMissingAccount(std::string_view nodeText);

 private:
  HttpClient& http_;
  std::string url_;
  Json query(const Json& params) const;
};

}  // namespace orwenna
