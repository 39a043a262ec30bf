// EVM transactions in the two typed forms the system signs: EIP-1559 (type 2)
// and EIP-7702 (type 4, carrying authorisations that delegate the wallet's
// code to the batch-call contract). Signing hashes, signed bytes and the
// authorisation hash; and the checks on a batch of calls. Pure; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/json.h"
#include "base/uint.h"
#include "signing/evm_signer.h"
#include "signing/keccak.h"

namespace orwenna {

struct EVMTransaction {
  struct Authorization {
    UInt256 chainId;
    std::string address;  // the code the wallet delegates to
    UInt256 nonce;
    EVMSignature signature;
  };

  UInt256 chainId;
  UInt256 nonce;
  UInt256 maxPriorityFeePerGas;
  UInt256 maxFeePerGas;
  UInt256 gasLimit;
  std::string to;
  UInt256 value;
  Bytes data;
  std::vector<Authorization> authorizations;

  // The contract every wallet delegates to for batched calls.
  static constexpr std::string_view kBatchContract = "0x4cd241e8d1510e30b2076397afc7508ae59c66c9";

  // 0x04 with authorisations, else 0x02.
  std::uint8_t typeByte() const { return authorizations.empty() ? 0x02 : 0x04; }
  // type ‖ RLP(payload): what is hashed for signing. Throws WalletError
  // "Invalid recipient address: " / "Invalid authorization address: " + text.
  Bytes unsignedBytes() const;
  static Keccak::Digest signingHash(const EVMTransaction& tx);
  // type ‖ RLP(payload, yParity, r, s). Throws as unsignedBytes, and for a
  // signature whose v is not 27 or 28.
  // ("signed" itself is a C++ keyword.)
  static Bytes signedBytes(const EVMTransaction& tx, const EVMSignature& signature);
  // Keccak-256(0x05 ‖ RLP([chainId, batch contract, nonce])).
  static Keccak::Digest authorizationHash(const UInt256& chainId, const UInt256& nonce);
  // The same for any delegate; throws "Invalid authorization address: " + text.
  static Keccak::Digest authorizationHashFor(const UInt256& chainId, std::string_view delegate, const UInt256& nonce);
};

struct Batch7702 {
  static constexpr std::size_t kMaxCalls = 4;

  struct Call {
    std::string to;
    Bytes data;
    Json toJson() const;  // {"to": address, "data": "0x…"}
    // Throws WalletError when "to" or "data" is missing or data is not hex.
    static Call fromJson(const Json& json);
  };

  static bool batchesOn(std::uint64_t chainId);
  // execute((address,uint256,bytes)[]) of the batch contract: the calls in
  // order, none carrying value. Throws WalletError for a bad address.
  static Bytes executeData(const std::vector<Call>& calls);
  // The code of a wallet delegated to the batch contract (0xef0100 ‖ address),
  // as a dry run overrides it.
  static Bytes delegatedCode();
  // The type-4 transaction that runs `calls` from `wallet`: sent to itself,
  // carrying one authorisation to the batch contract for nonce + 1 (the
  // transaction's own nonce is spent first). The authorisation's signature
  // is left empty for the signer to fill.
  static EVMTransaction transaction(std::uint64_t chainId, std::uint64_t nonce, const UInt256& maxPriorityFeePerGas,
                                    const UInt256& maxFeePerGas, const UInt256& gasLimit, const std::string& wallet,
                                    const std::vector<Call>& calls);
  // Every reason to refuse the batch, in order; empty when it may be signed.
  // `nowSeconds` dates Permit2 expirations.
  [[nodiscard]] static std::vector<std::string> problems(const std::vector<Call>& calls, std::string_view wallet,
                                                         std::uint64_t chainId, std::int64_t nowSeconds);
};

}  // namespace orwenna
