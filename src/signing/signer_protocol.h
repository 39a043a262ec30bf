// The words the app and the signer service speak: one request, one reply.
//
// A request is one of the cases below; its JSON is {"caseName": {fields}}
// ({} for a case without fields, "_0" for an unlabelled payload), bytes as
// Base64, a MessagePack action in its tagged form. `asWallet` wraps one other
// request and never another `asWallet`. Both ends decode strictly and throw
// SignerProtocolError naming what is wrong.
//
// Requests that carry a phrase or a key wipe those strings when they go away.
// Plain values; thread-safe as values.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "base/bytes.h"
#include "base/error.h"
#include "base/json.h"
#include "base/uint.h"
#include "signing/evm_signer.h"
#include "signing/msgpack.h"

namespace orwenna {

// A request or reply that is not in the protocol's shape.
class SignerProtocolError : public Error {
 public:
  using Error::Error;
};

// A failure of the signer as the user reads it: unavailable, refused, or a
// reply without what was asked.
class SignerError : public Error {
 public:
  using Error::Error;
};

struct SignerCall {
  std::string to;  // 0x address
  Bytes data;      // call data
  bool operator==(const SignerCall&) const = default;
};

struct SignerAddress {
  std::string name;
  std::string network;
  std::string address;
  std::string memo;
  bool operator==(const SignerAddress&) const = default;
};

struct SignerWallet {
  std::string id;
  std::string label;
  std::string kind;
  std::optional<std::string> solana;
  std::optional<std::string> evm;
  std::optional<std::string> near;
  std::optional<bool> test;
  std::optional<bool> automation;

  // Nothing when the wallet holds a key for `network` ("solana", "evm",
  // anything else meaning NEAR); otherwise the sentence that says so.
  [[nodiscard]] std::optional<std::string> keyProblem(std::string_view network) const;

  bool operator==(const SignerWallet&) const = default;
};

class SignerRequest;

namespace signer_request {

struct Status {};
struct ImportMnemonic {
  std::string phrase;
  std::string passphrase;
  bool requirePresence = false;
  ImportMnemonic() = default;
  ImportMnemonic(std::string phrase, std::string passphrase, bool requirePresence)
      : phrase(std::move(phrase)), passphrase(std::move(passphrase)), requirePresence(requirePresence) {}
  ImportMnemonic(const ImportMnemonic&) = default;
  ImportMnemonic(ImportMnemonic&&) = default;
  ImportMnemonic& operator=(const ImportMnemonic&) = default;
  ImportMnemonic& operator=(ImportMnemonic&&) = default;
  ~ImportMnemonic();
};
struct CreateWallet {
  bool requirePresence = false;
};
struct Forget {};
struct AddressBook {};
struct SaveAddresses {
  std::vector<SignerAddress> _0;
};
struct RemoveAddress {
  std::string name;
  std::string network;
};
struct ImportPrivateKey {
  std::string key;
  ImportPrivateKey() = default;
  explicit ImportPrivateKey(std::string key) : key(std::move(key)) {}
  ImportPrivateKey(const ImportPrivateKey&) = default;
  ImportPrivateKey(ImportPrivateKey&&) = default;
  ImportPrivateKey& operator=(const ImportPrivateKey&) = default;
  ImportPrivateKey& operator=(ImportPrivateKey&&) = default;
  ~ImportPrivateKey();
};
struct SetActiveWallet {
  std::string id;
};
struct RemoveWallet {
  std::string id;
};
struct RenameWallet {
  std::string id;
  std::string label;
};
struct SignSolana {
  Bytes wire;
  std::vector<std::string> accounts;
  std::vector<std::string> recipients;
  std::map<std::string, std::string> tokenOwners;
  std::vector<std::string> extraPrograms;
};
struct SignSolanaMessage {
  Bytes message;
};
struct SignPersonal {
  Bytes message;
};
struct SignTypedData {
  Bytes json;
};
// `value` is wei and may exceed 64 bits: on the wire it is a JSON number when
// it fits in 64 bits and a decimal string otherwise, never cut short.
struct SignEVMTransaction {
  std::uint64_t chainId = 0;
  std::uint64_t nonce = 0;
  std::uint64_t maxPriorityFee = 0;
  std::uint64_t maxFee = 0;
  std::uint64_t gasLimit = 0;
  std::string to;
  UInt256 value = 0;
  Bytes data;
  std::vector<std::string> recipients;
};
struct SignEVMBatch {
  std::uint64_t chainId = 0;
  std::uint64_t nonce = 0;
  std::uint64_t maxPriorityFee = 0;
  std::uint64_t maxFee = 0;
  std::uint64_t gasLimit = 0;
  std::vector<SignerCall> calls;
  std::vector<std::string> recipients;
};
struct SignHyperliquidL1 {
  MsgPack action;
  std::uint64_t nonce = 0;
  bool mainnet = true;
};
struct SignHyperliquidUser {
  MsgPack action;
  bool mainnet = true;
  std::vector<std::string> recipients;
};
struct SignRelayNonceMapping {
  std::string wallet;
  std::string depositor;
  Bytes id;
  std::uint64_t nonce = 0;
};
struct EnableAgent {};
struct SetAgentActive {
  bool _0 = false;
};
struct LedgerAgent {
  std::string owner;
  bool create = false;
};
struct SetLedgerAgentActive {
  std::string owner;
  bool active = false;
};
struct SignLedgerAgentL1 {
  std::string owner;
  MsgPack action;
  std::uint64_t nonce = 0;
};
struct NearAddress {};
struct Lock {};
struct SetSessionLength {
  std::int64_t seconds = 0;
};
struct EndSession {};
struct SignNearIntentDeposit {
  std::string amount;
  std::string depositAddress;
  std::uint64_t nonce = 0;
  Bytes blockHash;
};
struct SignNearTransfer {
  std::string amount;
  std::string receiver;
  std::vector<std::string> recipients;
  std::uint64_t nonce = 0;
  Bytes blockHash;
};
struct SignNearDeleteAccount {
  std::string beneficiary;
  std::vector<std::string> recipients;
  std::uint64_t nonce = 0;
  Bytes blockHash;
};
struct CreateAutomationWallet {};
// A Hyperliquid "sendAsset" to Relay's depository for a move out of
// Hyperliquid: the signer asks Relay itself for the same move to `recipient`
// and pays only the destination Relay names there.
struct SignRelayHyperliquidDeposit {
  MsgPack action;
  bool mainnet = true;
  std::string recipient;
  std::uint64_t destinationChainId = 0;
  std::string destinationCurrency;
};
// A Solana or EVM transaction (`request`, a signSolana or signEVMTransaction
// in its JSON form) paying a 1Click deposit address: the signer asks 1Click
// itself whether that address belongs to a live quote for the user.
struct SignOneClickDeposit {
  std::string depositAddress;
  std::string request;
};
struct AsWallet {
  std::string id;
  std::shared_ptr<const SignerRequest> request;  // never null, never an AsWallet
};

}  // namespace signer_request

class SignerRequest {
 public:
  using Case = std::variant<
      signer_request::Status, signer_request::ImportMnemonic, signer_request::CreateWallet,
      signer_request::Forget, signer_request::AddressBook, signer_request::SaveAddresses,
      signer_request::RemoveAddress, signer_request::ImportPrivateKey, signer_request::SetActiveWallet,
      signer_request::RemoveWallet, signer_request::RenameWallet, signer_request::SignSolana,
      signer_request::SignSolanaMessage, signer_request::SignPersonal, signer_request::SignTypedData,
      signer_request::SignEVMTransaction, signer_request::SignEVMBatch, signer_request::SignHyperliquidL1,
      signer_request::SignHyperliquidUser, signer_request::SignRelayNonceMapping, signer_request::EnableAgent,
      signer_request::SetAgentActive, signer_request::LedgerAgent, signer_request::SetLedgerAgentActive,
      signer_request::SignLedgerAgentL1, signer_request::NearAddress, signer_request::Lock,
      signer_request::SetSessionLength, signer_request::EndSession, signer_request::SignNearIntentDeposit,
      signer_request::SignNearTransfer, signer_request::SignNearDeleteAccount,
      signer_request::CreateAutomationWallet, signer_request::SignRelayHyperliquidDeposit,
      signer_request::SignOneClickDeposit, signer_request::AsWallet>;
  static constexpr std::size_t kCaseCount = std::variant_size_v<Case>;

  // Any case but AsWallet; wrap with `asWallet`.
  template <typename T>
    requires(!std::is_same_v<std::decay_t<T>, SignerRequest>)
  SignerRequest(T value)  // NOLINT: implicit, so a case reads as a request
      : value_(std::move(value)) {
    static_assert(!std::is_same_v<T, signer_request::AsWallet>, "wrap with SignerRequest::asWallet");
  }

  // Runs `inner` with wallet `id`. Throws SignerProtocolError when `inner` is
  // itself an asWallet.
  [[nodiscard]] static SignerRequest asWallet(std::string id, SignerRequest inner);

  const Case& value() const { return value_; }
  template <typename T>
  const T* get() const {
    return std::get_if<T>(&value_);
  }
  // The request asWallet wraps, or this one.
  const SignerRequest& unwrapped() const;

  std::string_view caseName() const;
  static std::string_view caseName(std::size_t index);

  Json toJson() const;
  // Throws SignerProtocolError.
  [[nodiscard]] static SignerRequest fromJson(const Json& json);

 private:
  struct Wrapped {};
  SignerRequest(Wrapped, signer_request::AsWallet value) : value_(std::move(value)) {}
  Case value_;
};

struct SignerReply {
  bool ok = false;
  std::optional<std::string> error;
  std::optional<bool> hasWallet;
  std::optional<std::string> solanaAddress;
  std::optional<std::string> evmAddress;
  std::optional<std::string> nearAddress;
  std::optional<std::string> phrase;
  std::optional<Bytes> signedWire;
  std::optional<Bytes> signedRaw;
  std::optional<EVMSignature> signature;
  std::optional<Bytes> signatureBytes;
  std::optional<std::string> agentAddress;
  std::optional<bool> agentActive;
  std::optional<std::vector<SignerWallet>> wallets;
  std::optional<std::string> activeWallet;
  std::optional<std::int64_t> sessionLength;
  std::optional<MsgPack> action;
  std::optional<std::uint64_t> nonce;
  std::optional<std::vector<SignerAddress>> addresses;
  std::vector<std::string> checks;
  std::vector<std::string> problems;

  SignerReply() = default;
  SignerReply(const SignerReply&) = default;
  SignerReply(SignerReply&&) = default;
  SignerReply& operator=(const SignerReply&) = default;
  SignerReply& operator=(SignerReply&&) = default;
  ~SignerReply();  // wipes `phrase`

  // A refusal with its reason.
  static SignerReply refusal(std::string error, std::vector<std::string> problems = {});

  // What the user reads when `ok` is false: `error` (or "The signer refused.")
  // and then each problem, joined by single spaces.
  std::string errorText() const;

  // The wallet whose id is `activeWallet`, when both are present.
  const SignerWallet* activeWalletRecord() const;

  Json toJson() const;
  // Throws SignerProtocolError.
  [[nodiscard]] static SignerReply fromJson(const Json& json);
};

// Clears every string in a JSON document in place (the encoded form of a
// request that carried a phrase or key), so freeing it leaves nothing behind.
void wipeJsonStrings(Json& json);

}  // namespace orwenna
