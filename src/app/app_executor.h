// The app's MoneyExecutor: a confirmed card's trade plans and position orders
// go to the trade Executor (whose signer is the signer service); every other
// step goes to the WalletMoveRunner when one is set, and is otherwise said to
// be unavailable in this version. Also the small adapters through which the
// conversation reads the signer's address book and locks it.
//
// Called on the Workspace's executor thread; steps run in order and the first
// failure ends the card. Thread-safe as far as the Executor is.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/conversation_ports.h"
#include "app/services.h"
#include "execution/executor.h"
#include "signing/signer_client.h"
#include "trading/market.h"

namespace orwenna {

class AppExecutor final : public MoneyExecutor {
 public:
  // A market by name, read fresh; nothing when Hyperliquid has none by that name.
  using MarketLookup = std::function<std::optional<Market>(const std::string& name)>;

  // `executor` and `moves` may be null (no Hyperliquid account; no runner);
  // what is given must outlive this value.
  AppExecutor(Executor* executor, MarketLookup markets, WalletMoveRunner* moves = nullptr,
              Language language = Language::english);

  // The markets read from the executor's own Hyperliquid root.
  static MarketLookup liveMarkets(Executor& executor);

  // Hands a trail the user asked for to the guardian: the coin, the live
  // position and the distance in percent. Without one a trail only says
  // that nothing is placed on the exchange.
  using Trail = std::function<void(const std::string& coin, const HyperliquidAccount::Position& position,
                                   const Decimal& percent)>;
  void setTrail(Trail trail) { trail_ = std::move(trail); }

  ExecutionResult execute(const std::vector<PendingAction>& steps) override;

 private:
  ExecutionResult trade(const PendingAction::Trade& step);
  ExecutionResult position(const PendingAction::Position& step);
  std::optional<ExecutionResult> hyperliquidMove(const WalletCommand& command);

  Executor* executor_;
  MarketLookup markets_;
  WalletMoveRunner* moves_;
  Language language_;
  Trail trail_;
};

// Everything a confirmed move needs, built on the first one: the wallet's
// addresses (from the signer unless given), the signer service as the
// TradeSigner, the journal, the one nonce source and HLOrders of the account,
// the Solana node, Relay (from Solana and the EVM networks, and for gas), the
// EVM networks' nodes, and the Executor over them. Building it waits on the signer, so nothing is asked of
// it before a Confirm.
class TradeDesk final : public MoneyExecutor {
 public:
  struct Options {
    SignerLocation signer;
    std::filesystem::path dataDir;
    TradeWallet wallet;  // an empty address is asked of the signer
    bool testnet = false;
    WalletMoveRunner* moves = nullptr;
    std::function<void(const std::string&)> report;
  };

  // REQUIRES: services outlives this value.
  TradeDesk(const Services& services, Options options);
  ~TradeDesk() override;

  // Told of every position opened (the exit rules start from it). Set
  // before the first executor().
  void onTraded(std::function<void(const Executor::Opened&)> traded) { traded_ = std::move(traded); }
  // Set before the first executor(), like onTraded.
  void onTrail(AppExecutor::Trail trail) { trail_ = std::move(trail); }
  // Throws ExecutionError when the signer holds no wallet for Hyperliquid.
  Executor& executor();
  ExecutionResult execute(const std::vector<PendingAction>& steps) override;

 private:
  struct Parts;
  const Services& services_;
  Options options_;
  std::function<void(const Executor::Opened&)> traded_;
  AppExecutor::Trail trail_;
  std::mutex mutex_;
  std::unique_ptr<Parts> parts_;
};

// The signer's saved recipients ("addressBook"); a signer that is not running
// (it is never started for this) or does not answer reads as an empty book.
class SignerAddressBook final : public AddressBook {
 public:
  explicit SignerAddressBook(SignerLocation location) : location_(std::move(location)) {}
  std::vector<SavedAddress> entries() const override;

 private:
  SignerLocation location_;
};

class SignerLockPort final : public SignerLock {
 public:
  explicit SignerLockPort(SignerLocation location) : location_(std::move(location)) {}
  void lock() override;

 private:
  SignerLocation location_;
};

}  // namespace orwenna
