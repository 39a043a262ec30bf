// Program-derived addresses, associated token accounts and SPL token
// transfers (Token and Token-2022). Pure; thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "chains/solana_transaction.h"

namespace orwenna {

std::array<std::uint8_t, 32> solanaSha256(ByteView data);

struct SPL {
  // SHA-256(seeds ‖ program ‖ "ProgramDerivedAddress") when it is not an
  // Ed25519 point; nothing when it is. Throws WalletError for more than 16
  // seeds, a seed longer than 32 bytes, or an unreadable program id.
  [[nodiscard]] static std::optional<std::string> createProgramAddress(const std::vector<Bytes>& seeds,
                                                                       std::string_view program);
  // The first SHA-256(seeds ‖ [bump] ‖ program ‖ "ProgramDerivedAddress"),
  // bump from 255 down, that is not an Ed25519 point. Throws WalletError
  // "No program address found", or for a seed the chain would refuse
  // (more than 16 seeds with the bump, or one longer than 32 bytes).
  static std::pair<std::string, std::uint8_t> findProgramAddress(const std::vector<Bytes>& seeds,
                                                                 std::string_view program);

  // The associated token account of `owner` for `mint` under `tokenProgram`
  // (SPL Token or Token-2022). Throws WalletError for unreadable addresses.
  static std::string associatedTokenAddress(std::string_view owner, std::string_view mint,
                                            std::string_view tokenProgram);

  // The base-unit amount a token account's data holds (little-endian at
  // byte 64, the same layout under Token-2022); 0 for data too short to be one.
  static std::uint64_t accountAmount(ByteView data);

  struct Transfer {
    std::string owner;         // the sending wallet; signs
    std::string recipient;     // the receiving wallet (not its token account)
    std::string mint;
    std::string tokenProgram;  // SPL Token or Token-2022, as the mint's owner says
    std::uint64_t amount = 0;  // base units
    std::uint8_t decimals = 0;
    bool createRecipientAccount = true;  // put create-idempotent first
  };
  // [create-idempotent of the recipient's account,] TransferChecked between
  // the two associated token accounts. Throws WalletError "Transfer to
  // yourself", or for an unreadable address or an unknown token program.
  static std::vector<SolanaInstruction> transferInstructions(const Transfer& transfer);
};

}  // namespace orwenna
