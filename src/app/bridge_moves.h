// BridgeMoves: the WalletMoveRunner for the USDC moves between networks of
// the command language ("move 10 USDC from Solana to Base", "… from Base to
// Hyperliquid", "… from Arbitrum to Solana"). Moves between Solana, EVM
// networks and Hyperliquid go over Relay; moves to NEAR go over NEAR Intents'
// 1Click, which is also the way when Relay gives no quote. Any other command
// goes to the next runner.
//
// A card shows a live quote; Confirm asks again and signs only when the new
// quote is bound to the card's recipient, sender and amount and stays within
// the card's bounds (at most the amount shown, at least 99% of what the card
// said arrives, to the card's recipient, within five minutes). The funding
// transaction goes through its chain's send pipeline; the bridge's own order
// is journaled `signed` once the funding is signed and before it is sent,
// then followed every 5 seconds for up to 10 minutes, each change shown on
// the move's step card and told as a progress line. An order still open
// then stays in the journal for the recovery to settle.
//
// run() is called on a worker thread, blocks, and never throws. One
// BridgeMoves runs one step at a time; its collaborators must outlive it.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "app/conversation_ports.h"
#include "app/send_moves.h"
#include "app/services.h"
#include "defi/relay.h"
#include "execution/chain_send.h"
#include "execution/evm_send.h"
#include "execution/journal.h"
#include "signing/trade_signer.h"

namespace orwenna {

class BridgeMoves final : public WalletMoveRunner {
 public:
  static constexpr std::int64_t kApprovalMillis = 300'000;
  static constexpr std::chrono::seconds kPoll{5};
  static constexpr std::chrono::seconds kFollow{600};

  // `report` gets one progress line at a time while a bridge runs; may be empty.
  BridgeMoves(const Services& services, TradeSigner& signer, Journal& journal,
              std::function<WalletAddresses()> addresses, WalletMoveRunner* next,
              std::function<void(const std::string&)> report = {});

  std::optional<ExecutionResult> run(const PendingAction& step) override;

  // Told of the bridge's step card each time it changes while a bridge runs
  // (status "running" with the lines so far, then "done", "failed" or
  // "pending"); a card with one line starts a new bridge. Set before the
  // first move. The finished card is also among the result's bubbles.
  void onStep(std::function<void(const ActivityBubble&)> step) { step_ = std::move(step); }

  enum class Route { relay, oneClick };
  struct Card {
    std::string text;
    Route route = Route::relay;
    Decimal amount;    // leaving the origin
    Decimal minOut;    // the least that must arrive
    std::string recipient;
    std::optional<std::string> refusal;  // ends in "Nothing was signed."
  };
  // Nothing for a command that is not a bridge.
  std::optional<Card> card(const WalletCommand& command);
  // Carries out a bridge; `approved` is the card's, when one was shown.
  std::optional<ExecutionResult> bridge(const WalletCommand& command, const std::optional<Card>& approved);

  // One end of a move.
  struct End {
    enum class Kind { solana, evm, hyperliquid, near };
    Kind kind = Kind::solana;
    const EVMNetwork* network = nullptr;  // for evm
    std::string name;                     // as shown: "Solana", "Base", "Hyperliquid", "NEAR"
  };
  struct Plan {
    End from;
    End to;
    std::optional<Decimal> amount;  // nothing: all of it
  };
  // Nothing for a command that is not a bridge this runner carries out.
  [[nodiscard]] static std::optional<Plan> planOf(const WalletCommand& command);

 private:
  std::string payer(const End& end) const;
  std::string receiver(const End& end) const;
  Decimal balance(const End& end, const std::string& owner) const;
  Card relayCard(const Plan& plan, const Decimal& amount);
  Card oneClickCard(const Plan& plan, const Decimal& amount);
  ExecutionResult relayMove(const Plan& plan, const Card& card);
  ExecutionResult oneClickMove(const Plan& plan, const Card& card);
  // Out of Hyperliquid: the nonce mapping, then the sendAsset to Relay's
  // depository, journaled before it is posted.
  ChainSendOutcome hyperliquidDeposit(const Plan& plan, const Card& card, RelayClient& relay, const RelayQuote& q,
                                      const std::function<void(const std::string&)>& journalOrder);
  void say(const std::string& line);

  const Services& services_;
  TradeSigner& signer_;
  Journal& journal_;
  std::function<WalletAddresses()> addresses_;
  WalletMoveRunner* next_;
  std::function<void(const std::string&)> report_;
  std::function<void(const ActivityBubble&)> step_;
  ActivityBubble live_;  // the step card of the bridge running now
  EVMNonces nonces_;
};

}  // namespace orwenna
