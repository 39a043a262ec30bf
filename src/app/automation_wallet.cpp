#include "app/automation_wallet.h"

#include <type_traits>
#include <variant>

#include "base/log.h"

namespace orwenna {

namespace {

thread_local std::optional<std::string> tScopedWallet;

}  // namespace

bool signsUnattended(const PendingAction& step) {
  const auto* w = std::get_if<WalletCommand>(&step.value);
  if (!w) return false;
  return !std::holds_alternative<wallet::hlp>(w->value) && !std::holds_alternative<wallet::hlSpotBuy>(w->value) &&
         !std::holds_alternative<wallet::hlSpotSell>(w->value) &&
         !std::holds_alternative<wallet::withdrawToSolana>(w->value);
}

bool paysSolanaFees(const std::string& line) {
  auto command = WalletCommand::parse(line);
  if (!command) return false;
  auto onSolana = [](const OptText& network) { return !network || *network == "solana"; };
  return std::visit(
      [&](const auto& c) {
        using T = std::decay_t<decltype(c)>;
        namespace w = wallet;
        if constexpr (std::is_same_v<T, w::buy> || std::is_same_v<T, w::sell> || std::is_same_v<T, w::sendSol> ||
                      std::is_same_v<T, w::jupiterDCA> || std::is_same_v<T, w::jupiterDCACancel> ||
                      std::is_same_v<T, w::lendDeposit> || std::is_same_v<T, w::lendWithdraw> ||
                      std::is_same_v<T, w::kamino> || std::is_same_v<T, w::stake> ||
                      std::is_same_v<T, w::unstake> || std::is_same_v<T, w::solanaTo>) {
          return true;
        } else if constexpr (std::is_same_v<T, w::sendTo> || std::is_same_v<T, w::sendToken>) {
          return onSolana(c.network);
        } else if constexpr (std::is_same_v<T, w::bridge>) {
          return c.from == "solana";
        } else {
          return false;
        }
      },
      command->value);
}

Decimal automationMinSol() { return Decimal::parse("0.005"); }

WalletScope::WalletScope(std::string walletID) : previous_(std::move(tScopedWallet)) {
  tScopedWallet = std::move(walletID);
}

WalletScope::~WalletScope() { tScopedWallet = std::move(previous_); }

std::optional<std::string> WalletScope::current() { return tScopedWallet; }

SocketTradeSigner ScopedWalletSigner::now() const { return SocketTradeSigner(location_, WalletScope::current()); }

Bytes ScopedWalletSigner::signSolana(const signer_request::SignSolana& request) { return now().signSolana(request); }
EVMSignature ScopedWalletSigner::signHyperliquidL1(const MsgPack& action, std::uint64_t nonce, bool mainnet) {
  return now().signHyperliquidL1(action, nonce, mainnet);
}
EVMSignature ScopedWalletSigner::signHyperliquidUser(const MsgPack& action, bool mainnet,
                                                     const std::vector<std::string>& recipients) {
  return now().signHyperliquidUser(action, mainnet, recipients);
}
EVMSignature ScopedWalletSigner::signRelayNonceMapping(const signer_request::SignRelayNonceMapping& request) {
  return now().signRelayNonceMapping(request);
}
Bytes ScopedWalletSigner::signEVMTransaction(const signer_request::SignEVMTransaction& request) {
  return now().signEVMTransaction(request);
}
std::string ScopedWalletSigner::approvalName() const { return now().approvalName(); }
Bytes ScopedWalletSigner::signEVMBatch(const signer_request::SignEVMBatch& request) {
  return now().signEVMBatch(request);
}
Bytes ScopedWalletSigner::signNearIntentDeposit(const signer_request::SignNearIntentDeposit& request) {
  return now().signNearIntentDeposit(request);
}
Bytes ScopedWalletSigner::signNearTransfer(const signer_request::SignNearTransfer& request) {
  return now().signNearTransfer(request);
}
Bytes ScopedWalletSigner::signNearDeleteAccount(const signer_request::SignNearDeleteAccount& request) {
  return now().signNearDeleteAccount(request);
}

WalletAddresses scopedAddresses(const SignerReply& status) {
  WalletAddresses out;
  const std::optional<std::string> scoped = WalletScope::current();
  if (!scoped) {
    out.solana = status.solanaAddress;
    out.evm = status.evmAddress;
    out.near = status.nearAddress;
    return out;
  }
  // A wallet the signer no longer lists has no addresses: its moves refuse.
  for (const auto& w : status.wallets.value_or(std::vector<SignerWallet>{})) {
    if (w.id != *scoped) continue;
    out.solana = w.solana;
    out.evm = w.evm;
    out.near = w.near;
  }
  return out;
}

std::optional<AutomationSigning::Wallet> SignerAutomationWallet::wallet() {
  try {
    SignerReply status = SignerClient(location_).send(signer_request::Status{});
    for (const auto& w : status.wallets.value_or(std::vector<SignerWallet>{})) {
      if (!w.automation.value_or(false)) continue;
      return Wallet{w.id, w.label, w.solana, w.evm, w.near};
    }
  } catch (const std::exception& e) {
    log::warn("automation wallet: the signer couldn't be asked: {}", e.what());
  }
  return std::nullopt;
}

std::optional<Decimal> SignerAutomationWallet::solBalance(const Wallet& wallet) {
  if (!wallet.solana) return Decimal(0);
  try {
    return lamportsToSol(services_.solana().balance(*wallet.solana));
  } catch (const std::exception& e) {
    log::warn("automation wallet: its SOL couldn't be read: {}", e.what());
    return std::nullopt;
  }
}

ExecutionResult SignerAutomationWallet::execute(const Wallet& wallet, const std::vector<PendingAction>& steps) {
  WalletScope scope(wallet.id);
  return executor_.execute(steps);
}

}  // namespace orwenna
