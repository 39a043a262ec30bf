// What the conversation needs from parts of the app that live elsewhere: the
// address book and the lock of the signer, the executor that carries out a
// confirmed card, and the store of alerts and schedules. The Workspace holds
// them as interfaces so it can be built and tested before (and apart from)
// them.
//
// Implementations are called from the app thread, except MoneyExecutor,
// which is called on a worker thread and may block.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "app/activity.h"
#include "base/decimal.h"
#include "language/command_reader.h"
#include "language/commands.h"
#include "language/wallet_command.h"
#include "trading/trade_intent.h"

namespace orwenna {

struct SavedAddress {
  std::string name;
  std::string address;
  std::string network;
  friend bool operator==(const SavedAddress&, const SavedAddress&) = default;
};

class AddressBook {
 public:
  virtual ~AddressBook() = default;
  virtual std::vector<SavedAddress> entries() const = 0;
};

class SignerLock {
 public:
  virtual ~SignerLock() = default;
  // Ends the signing session; the next signature asks again.
  virtual void lock() = 0;
};

// The money move a card waits to carry out.
struct PendingAction {
  struct Position {
    PositionCommand command;
    std::string coin;
    friend bool operator==(const Position&, const Position&) = default;
  };
  struct Transfer {
    Decimal amount;
    std::string what;  // the line it came from
    friend bool operator==(const Transfer&, const Transfer&) = default;
  };
  // The trade plan of the canvas, with the price its card showed.
  struct Trade {
    TradeIntent intent;
    Decimal price;
    friend bool operator==(const Trade&, const Trade&) = default;
  };
  std::variant<WalletCommand, Position, SavedAddress, Transfer, Trade> value;
  friend bool operator==(const PendingAction&, const PendingAction&) = default;

  // The command line it was prepared from.
  std::string line() const;
  std::string_view kindName() const;  // "wallet", "position", "address", "transfer", "trade"
};

struct ExecutionResult {
  enum class Outcome { done, failed, unknown };
  Outcome outcome = Outcome::failed;
  std::string reply;  // the chat's sentence
  std::vector<std::string> lines;
  std::vector<ActivityBubble> bubbles;
};

class MoneyExecutor {
 public:
  virtual ~MoneyExecutor() = default;
  // Carries out the steps of one confirmed card, in order. Never throws: a
  // failure is an outcome with its sentence.
  virtual ExecutionResult execute(const std::vector<PendingAction>& steps) = 0;
};

// Carries out one wallet step of a confirmed card (a send, a swap, a bridge,
// …) through its chain's pipeline. The app's MoneyExecutor hands it every
// step that is not a Hyperliquid position or trade. Called on a worker
// thread; may block; never throws.
class WalletMoveRunner {
 public:
  virtual ~WalletMoveRunner() = default;
  // Nothing when this runner does not carry out that command (the caller
  // then says it is not available in this version).
  virtual std::optional<ExecutionResult> run(const PendingAction& step) = 0;
};

// The automation wallet: a scheduled task's wallet moves are signed from it
// with no prompt. Called on worker threads; may block; never throws.
class AutomationSigning {
 public:
  struct Wallet {
    std::string id;
    std::string label;
    std::optional<std::string> solana;
    std::optional<std::string> evm;
    std::optional<std::string> near;
  };
  virtual ~AutomationSigning() = default;
  // The automation wallet, when the signer holds one and can be asked.
  virtual std::optional<Wallet> wallet() = 0;
  // Its SOL; nothing when the node can't be read.
  virtual std::optional<Decimal> solBalance(const Wallet& wallet) = 0;
  // Carries out one card's steps as Confirm does, signed from `wallet`.
  virtual ExecutionResult execute(const Wallet& wallet, const std::vector<PendingAction>& steps) = 0;
};

class Automations {
 public:
  virtual ~Automations() = default;
  // Each returns the chat's sentence.
  virtual std::string saveAlert(const AlertCommand& alert, const std::string& canvas) = 0;
  // `untrusted`: the steps are not the user's own words; its runs always wait for Confirm.
  virtual std::string saveSchedule(const CommandLines::Scheduled& schedule, const std::string& canvas,
                                   bool untrusted = false) = 0;
  virtual std::string cancelSchedules() = 0;
  // A recurring buy ("buy SOL for 10 USDC every week") or "stop recurring buys".
  virtual std::string saveRecurringBuy(const WalletCommand& command) = 0;
};

}  // namespace orwenna
