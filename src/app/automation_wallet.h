// Signing a scheduled run's moves from the automation wallet. The move
// runners sign through one TradeSigner and ask one function for the wallet's
// addresses; a run names another wallet for the thread it executes on
// (WalletScope), and both follow it, so the runners need no change.
//
// WalletScope is per thread: it covers exactly the calls made inside it on
// that thread. ScopedWalletSigner and SignerAutomationWallet are thread-safe.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/conversation_ports.h"
#include "app/send_moves.h"
#include "app/services.h"
#include "signing/signer_client.h"
#include "signing/trade_signer.h"

namespace orwenna {

class WalletScope {
 public:
  // While it lives, this thread's signatures and addresses are `walletID`'s.
  explicit WalletScope(std::string walletID);
  ~WalletScope();
  WalletScope(const WalletScope&) = delete;
  WalletScope& operator=(const WalletScope&) = delete;

  // The wallet named on this thread now; nothing means the active one.
  static std::optional<std::string> current();

 private:
  std::optional<std::string> previous_;
};

// A SocketTradeSigner for the wallet the thread's scope names (asWallet),
// else for the active wallet.
class ScopedWalletSigner final : public TradeSigner {
 public:
  explicit ScopedWalletSigner(SignerLocation location) : location_(std::move(location)) {}

  Bytes signSolana(const signer_request::SignSolana& request) override;
  EVMSignature signHyperliquidL1(const MsgPack& action, std::uint64_t nonce, bool mainnet) override;
  EVMSignature signHyperliquidUser(const MsgPack& action, bool mainnet,
                                   const std::vector<std::string>& recipients) override;
  EVMSignature signRelayNonceMapping(const signer_request::SignRelayNonceMapping& request) override;
  Bytes signEVMTransaction(const signer_request::SignEVMTransaction& request) override;
  std::string approvalName() const override;
  Bytes signEVMBatch(const signer_request::SignEVMBatch& request) override;
  Bytes signNearIntentDeposit(const signer_request::SignNearIntentDeposit& request) override;
  Bytes signNearTransfer(const signer_request::SignNearTransfer& request) override;
  Bytes signNearDeleteAccount(const signer_request::SignNearDeleteAccount& request) override;

 private:
  SocketTradeSigner now() const;
  SignerLocation location_;
};

// True when the automation wallet can carry out `step` itself: a wallet move
// signed through the scoped signer (not a trade, a position or a move on
// Hyperliquid, which the trading account signs).
[[nodiscard]] bool signsUnattended(const PendingAction& step);

// True when `line` is a wallet move that pays Solana's fees.
[[nodiscard]] bool paysSolanaFees(const std::string& line);

// The SOL below which the automation wallet can't pay fees and a new account.
Decimal automationMinSol();

// The addresses of the wallet the thread's scope names, else of the active
// wallet, from one status reply of the signer.
WalletAddresses scopedAddresses(const SignerReply& status);

// The automation wallet of the signer service. `execute` runs the steps
// through `executor` (the one behind Confirm) inside a WalletScope.
class SignerAutomationWallet final : public AutomationSigning {
 public:
  SignerAutomationWallet(SignerLocation location, const Services& services, MoneyExecutor& executor)
      : location_(std::move(location)), services_(services), executor_(executor) {}

  std::optional<Wallet> wallet() override;
  std::optional<Decimal> solBalance(const Wallet& wallet) override;
  ExecutionResult execute(const Wallet& wallet, const std::vector<PendingAction>& steps) override;

 private:
  SignerLocation location_;
  const Services& services_;
  MoneyExecutor& executor_;
};

}  // namespace orwenna
