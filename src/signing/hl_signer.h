// Hashing and signing of Hyperliquid actions. L1 actions are signed as an
// EIP-712 "Agent" message over the Keccak hash of their MessagePack bytes (the
// "connectionId"); user-signed actions as EIP-712 typed data rebuilt field by
// field from the action through `HLAction::userTypes`. The signer service
// re-derives everything here from the action it is handed, so no caller ever
// supplies a hash to sign. Pure; thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "base/bytes.h"
#include "signing/eip712.h"
#include "signing/evm_signer.h"
#include "signing/keccak.h"
#include "signing/msgpack.h"

namespace orwenna {

struct HLSigner {
  // Keccak-256 of: the action's MessagePack ‖ nonce (8 bytes big-endian) ‖
  // (0x01 ‖ 20 vault bytes, or 0x00) ‖ (0x00 ‖ expiry 8 bytes big-endian, or
  // nothing). Throws WalletError "Invalid vault address." when the vault is not
  // 20 bytes of hex.
  static Keccak::Digest actionHash(const MsgPack& action, const std::optional<std::string>& vaultAddress,
                                   std::uint64_t nonce, std::optional<std::uint64_t> expiresAfter);
  // The bytes the hash above is taken over.
  static Bytes actionHashPreimage(const MsgPack& action, const std::optional<std::string>& vaultAddress,
                                  std::uint64_t nonce, std::optional<std::uint64_t> expiresAfter);

  // L1 actions: the "Agent" message (source "a" on mainnet, "b" on testnet)
  // over the action hash, in the "Exchange" domain of chain 1337.
  static EIP712::Typed l1TypedData(const MsgPack& action, std::uint64_t nonce,
                                   const std::optional<std::string>& vaultAddress,
                                   std::optional<std::uint64_t> expiresAfter, bool mainnet);
  static EIP712::Parts l1Parts(const MsgPack& action, std::uint64_t nonce,
                               const std::optional<std::string>& vaultAddress,
                               std::optional<std::uint64_t> expiresAfter, bool mainnet);
  // REQUIRES: key is the signing secret in place (a SecretBytes span); it is
  // neither copied nor kept.
  static EVMSignature signL1(const MsgPack& action, ByteView key, std::uint64_t nonce,
                             const std::optional<std::string>& vaultAddress,
                             std::optional<std::uint64_t> expiresAfter, bool mainnet);

  // User-signed actions: "HyperliquidTransaction:<suffix>" typed data in the
  // "HyperliquidSignTransaction" domain (chain 421614), built from the action
  // alone through HLAction::userTypes. Throws WalletError "Unrecognized
  // action." (not a map), "Signing this Hyperliquid action isn't supported."
  // (type missing, not text or not in the table) or "The action has no <name>
  // field of type <type>.".
  static EIP712::Typed userTypedData(const MsgPack& action, bool mainnet);
  static EIP712::Parts userParts(const MsgPack& action, bool mainnet);
  static EVMSignature signUser(const MsgPack& action, ByteView key, bool mainnet);

  // "approveAgent": the same scheme with agentAddress (address), agentName and
  // nonce, read from the action the builder made. Throws as userTypedData for
  // a missing or mistyped field, and "Signing this Hyperliquid action isn't
  // supported." for an action of another type.
  static EIP712::Typed approveAgentTypedData(const MsgPack& action, bool mainnet);
  static EIP712::Parts approveAgentParts(const MsgPack& action, bool mainnet);
  static EVMSignature signApproveAgent(const MsgPack& action, ByteView key, bool mainnet);

  // Relay's "NonceMapping" (domain "RelayNonceMapping", version "2", chain 1)
  // for a deposit from Hyperliquid. Throws WalletError "Invalid Relay mapping
  // id." unless id is 32 bytes, and "Invalid address: …" for a bad wallet or
  // depositor when hashed.
  static EIP712::Typed relayNonceMappingTypedData(const std::string& wallet, const std::string& depositor,
                                                  ByteView id, std::uint64_t nonce);
  static EIP712::Parts relayNonceMappingParts(const std::string& wallet, const std::string& depositor,
                                              ByteView id, std::uint64_t nonce);
  static EVMSignature signRelayNonceMapping(const std::string& wallet, const std::string& depositor, ByteView id,
                                            std::uint64_t nonce, ByteView key);

  // The digest of typed data signed with the key (v = 27 + recovery id).
  static EVMSignature sign(const EIP712::Typed& typed, ByteView key);
};

}  // namespace orwenna
