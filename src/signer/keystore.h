// The signer's files in <dataDir>/signer/ (folder 0700, files 0600, every
// write atomic):
//
//   keystore.json  the scrypt settings, a check box that tells a wrong
//                  passphrase from a right one, the wallets (addresses in
//                  clear, keys sealed), the trading keys, the address book,
//                  the active wallet and the session length;
//   device.key     32 random bytes sealing what must sign without the user:
//                  the Hyperliquid trading keys (they can only trade inside
//                  the account, never withdraw) and the automation wallet
//                  (it pays only addresses of the address book, through the
//                  same guards). Everything else is sealed under the key
//                  stretched from the passphrase.
//
// A phrase wallet keeps its 64-byte seed; an imported key its 32-byte secret.
// Plain data plus file I/O; not thread-safe (the service holds it under its
// state lock).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "signer/sealing.h"
#include "signing/signer_protocol.h"

namespace orwenna {

struct StoredWallet {
  enum class Kind { phrase, solanaKey, evmKey };

  std::string id;
  std::string label;
  Kind kind = Kind::phrase;
  bool requirePresence = false;
  bool automation = false;  // sealed with the device key; signs unattended
  bool test = false;
  std::optional<std::string> solana;
  std::optional<std::string> evm;
  std::optional<std::string> near;
  SealedBox sealed;

  static std::string_view kindName(Kind kind);  // "phrase", "solana-key", "evm-key"
  SignerWallet record() const;
  // The label its box is sealed for.
  std::string sealLabel() const { return "wallet:" + id; }
};

struct StoredAgent {
  std::string owner;    // the account's EVM address, EIP-55
  std::string address;  // the trading key's address
  bool active = false;  // true only after the exchange accepted its approval
  SealedBox sealed;
  std::string sealLabel() const { return "agent:" + address; }
};

struct Keystore {
  static constexpr const char* kFileName = "keystore.json";
  static constexpr const char* kDeviceKeyName = "device.key";

  std::optional<ScryptParams> kdf;  // absent until the first passphrase is chosen
  std::optional<SealedBox> check;
  std::vector<StoredWallet> wallets;
  std::vector<StoredAgent> agents;
  std::vector<SignerAddress> addressBook;
  std::string activeWallet;
  std::int64_t sessionLength = 0;

  bool hasPassphrase() const { return kdf.has_value() && check.has_value(); }
  StoredWallet* wallet(std::string_view id);
  const StoredWallet* wallet(std::string_view id) const;
  StoredAgent* agentFor(std::string_view owner);

  Json toJson() const;
  // Throws SignerServiceError for a damaged file.
  [[nodiscard]] static Keystore fromJson(const Json& json);

  // An empty keystore when the file does not exist. Throws SignerServiceError
  // or FileError.
  [[nodiscard]] static Keystore load(const std::filesystem::path& folder);
  void save(const std::filesystem::path& folder) const;

  // The device key, made on first use. Throws FileError.
  static SecretBytes deviceKey(const std::filesystem::path& folder, Random& random);
  // Removes both files (`forget`).
  static void erase(const std::filesystem::path& folder);
};

}  // namespace orwenna
