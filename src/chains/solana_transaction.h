// Solana's wire formats: compact-u16 lengths, legacy and version-0 messages
// (with address lookup tables), transactions, the compiling of instructions
// into a transaction the wallet alone signs, and the check of a transaction
// received from a third party before it is signed.
//
// Every failure is a WalletError carrying the sentence the chat shows; nothing
// here touches the network. Pure functions; thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"

namespace orwenna {

// Well-known program and account ids (Base58): the one place each is written.
struct SolanaPrograms {
  static constexpr std::string_view kSystem = "11111111111111111111111111111111";
  static constexpr std::string_view kComputeBudget = "ComputeBudget111111111111111111111111111111";
  static constexpr std::string_view kToken = "TokenkegQfeZyiNwAJbNbGKPFXCWuBvf9Ss623VQ5DA";
  static constexpr std::string_view kToken2022 = "TokenzQdBNbLqP5VEhdkAS6EPFLC1PHnBqCXEpPxuEb";
  static constexpr std::string_view kAssociatedToken = "ATokenGPvbdGVxr1b2hvZbsiqW5xWH25efTNsLJA8knL";
  static constexpr std::string_view kNameService = "namesLPneVptA9Z5rqUDD9tMTWEJwofgaYwp8cawRkX";
  static constexpr std::string_view kSolRoot = "58PwtjSDuFHuUkYjH9BYnnQKHfwo9reZhC2zMJv9JPkx";
  static constexpr std::string_view kAddressLookupTable = "AddressLookupTab1e1111111111111111111111111";
  static constexpr std::string_view kUsdcMint = "EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v";
  static constexpr std::string_view kMainnetGenesisHash = "5eykt4UsFv8P8NJdTREpY1vzqKqZKvdpKuc147dw2N9d";

  // A short human name for the programs above ("System", "SPL Token", …).
  [[nodiscard]] static std::optional<std::string> label(std::string_view programId);
};

// The 32 bytes of a Base58 address. Throws WalletError
// "Invalid Solana address: " + text when it is not 32 bytes of Base58.
std::array<std::uint8_t, 32> solanaAddressBytes(std::string_view address);
[[nodiscard]] bool isSolanaAddress(std::string_view address);

// Solana's short-vector length: 7 bits a byte, low group first, at most 3 bytes.
struct CompactU16 {
  // REQUIRES: value <= 0xFFFF.
  static void append(Bytes& out, std::uint32_t value);
  enum class ReadError { truncated, invalid };
  struct Read {
    std::uint16_t value = 0;
    std::optional<ReadError> error;
  };
  // Reads at `offset` and advances it past the length on success. Alias
  // encodings (a needless zero group) and values above 0xFFFF are invalid.
  [[nodiscard]] static Read read(ByteView data, std::size_t& offset);
};

struct SolanaInstruction {
  struct Account {
    std::string pubkey;
    bool isSigner = false;
    bool isWritable = false;
    bool operator==(const Account&) const = default;
  };
  std::string program;
  std::vector<Account> accounts;
  Bytes data;
  bool operator==(const SolanaInstruction&) const = default;
};

struct SolanaMessage {
  struct Instruction {
    int programIndex = 0;
    std::vector<int> accounts;  // indexes into the full account list
    Bytes data;
    bool operator==(const Instruction&) const = default;
  };
  struct Lookup {
    std::string table;
    std::vector<int> writable;
    std::vector<int> readonly;
    bool operator==(const Lookup&) const = default;
  };

  std::optional<int> version;  // absent for legacy, 0 for version 0
  int requiredSignatures = 0;
  std::vector<std::string> staticKeys;
  std::vector<Instruction> instructions;
  std::vector<Lookup> lookups;  // empty for legacy
  // The rest of the header and the blockhash, for display and re-encoding.
  int readonlySignedAccounts = 0;
  int readonlyUnsignedAccounts = 0;
  std::string recentBlockhash;

  bool operator==(const SolanaMessage&) const = default;
};

struct SolanaTransaction {
  static constexpr std::size_t kMaxTransactionBytes = 1232;
  using Signature = std::array<std::uint8_t, 64>;

  struct Built {
    Bytes transaction;  // one all-zero signature slot, then the message
    Bytes message;      // the bytes the wallet signs
  };
  struct Parsed {
    std::vector<Signature> signatures;
    Bytes message;
  };

  // Compiles the instructions, after a SetComputeUnitPrice instruction, into
  // a legacy transaction the payer alone signs.
  static Built build(const std::vector<SolanaInstruction>& instructions, std::string_view payer,
                     std::string_view recentBlockhash, std::uint64_t microLamportsPerUnit);

  // Reads exactly one message; fails with "Message truncated", "Truncated
  // length", "Invalid length" or "Extra bytes after the message". Safe on any
  // input: bounded work, no reads past the end.
  [[nodiscard]] static SolanaMessage parseMessage(ByteView bytes);
  // Signatures and message bytes; a cut-short transaction fails with
  // "Incomplete transaction".
  [[nodiscard]] static Parsed parse(ByteView transaction);
  // The inverse of parseMessage. REQUIRES: keys are 32-byte Base58, indexes
  // and counts fit their fields.
  static Bytes encodeMessage(const SolanaMessage& message);

  // Checks a transaction received from outside before the wallet signs it and
  // returns the message bytes to sign.
  [[nodiscard]] static Bytes checkForSigning(ByteView transaction, std::string_view walletAddress);
  // The transaction with `signature` in slot 0 and every other byte unchanged.
  static Bytes attach(ByteView transaction, ByteView signature);

  // Static keys, then each lookup's writable entries, then each lookup's
  // read-only entries. `tables` maps a table address to its addresses.
  static std::vector<std::string> resolveAccounts(const SolanaMessage& message,
                                                  const std::map<std::string, std::vector<std::string>>& tables);

  // The System program's transfer of `lamports` from `from` (signer) to `to`.
  static SolanaInstruction solTransfer(std::string_view from, std::string_view to, std::uint64_t lamports);
};

}  // namespace orwenna
