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
};

}  // namespace orwenna
