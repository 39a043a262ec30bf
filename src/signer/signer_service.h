// The signer's answers: one SignerRequest in, one SignerReply out. It holds
// the keystore and the session, re-derives what it signs from the request's
// data (the Hyperliquid action, the Solana message, the EVM call), runs the
// guards on it, asks the user through the prompter, and only then opens the
// key it needs, signs and wipes it.
//
// Approvals: see SessionState. Requests that widen signing or destroy keys
// (import, create, forget, removing a wallet, saving or removing addresses, a
// longer session, enabling or switching on the trading key, the automation
// wallet) always ask, never riding on an open window; a longer session always
// asks for the passphrase.
//
// Unattended signing: with the trading key switched on, the actions a trading
// key may sign (orders, cancels, leverage) are signed by it without a prompt;
// the automation wallet signs without a prompt too. Both are sealed with the
// device key (see Keystore) and pass the same guards; the automation wallet
// pays only the signer's own wallets and the address book. A trading key is
// stored switched off when it is made: the app switches it on
// (setAgentActive true) only after the exchange accepted its approval, so a
// rejected key never signs.
//
// Recipients: a destination passes only when it is one of the signer's own
// wallets, or when the app lists it for this move and it is in the address
// book (which only changes with the user's approval here). `tokenOwners` of a
// Solana request is not trusted, since the signer cannot read the chain:
// token accounts count as the owner's or a recipient's only when they are
// their associated accounts.
//
// Thread-safe: `status` answers at once, even while a prompt is open; every
// other request runs one at a time, so only one prompt is ever open.
#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <utility>

#include "base/clock.h"
#include "base/http.h"
#include "signer/keystore.h"
#include "signer/pinentry.h"
#include "signer/session.h"
#include "signing/signer_protocol.h"

namespace orwenna {

struct SignerConfig {
  std::filesystem::path folder;  // <dataDir>/signer
  int scryptLog2N = ScryptParams::kDefaultLog2N;
  // The signer's own reads of a bridge service before it pays that service's
  // depository (Relay's root, without a trailing slash). Without a client
  // such a payment is refused.
  HttpClient* http = nullptr;
  std::string relayApi{};
  std::string oneClickApi{};  // 1Click's root, without /v0
};

class SignerService {
 public:
  // Throws SignerServiceError or FileError when the keystore cannot be read.
  SignerService(SignerConfig config, Prompter& prompter, Clock& clock, Random& random);
  ~SignerService();

  // Never throws: every failure is a reply with ok=false and its sentence.
  SignerReply handle(const SignerRequest& request);

  // The screen locked or the computer is going to sleep: the next signature
  // asks again.
  void endSession();

 private:
  struct Ask;
  class Context;

  SignerReply dispatch(const SignerRequest& request, const std::optional<std::string>& asWallet);
  SignerReply status();
  std::optional<SignerReply> approve(const Ask& ask);
  SecretBytes openWallet(const StoredWallet& wallet);
  SecretBytes evmKey(const StoredWallet& wallet);
  SecretBytes solanaKey(const StoredWallet& wallet);
  SecretBytes nearKey(const StoredWallet& wallet);
  void save();

  SignerConfig config_;
  Prompter& prompter_;
  Clock& clock_;
  Random& random_;

  std::mutex serial_;  // one non-status request at a time
  std::mutex state_;   // keystore_ and session_; released while a prompt is open
  std::unique_lock<std::mutex>* stateLock_ = nullptr;
  Keystore keystore_;
  SessionState session_;
  // The trading key whose approval the user just confirmed, and when
  // (monotonic): switching it on right after needs no second prompt.
  std::optional<std::pair<std::string, std::int64_t>> agentJustApproved_;

  friend struct SignerServiceHandlers;
};

}  // namespace orwenna
