// SwapMoves: the WalletMoveRunner for the Solana buys and sales of the
// command language ("buy SOL for 10 USDC", "sell all JUP"), each a Jupiter
// swap carried out by defi/jupiter_swap through the Solana send pipeline with
// the app's signer. Any other command goes to the next runner (the sends).
//
// The approval is the card's: at most the amount shown and at least the
// quote's minimum, within five minutes. A Confirm without a card quote (the
// chat's) holds the swap to the quote taken at Confirm.
//
// run() is called on a worker thread, blocks, and never throws. One SwapMoves
// runs one step at a time; its collaborators must outlive it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/conversation_ports.h"
#include "app/send_moves.h"
#include "app/services.h"
#include "defi/jupiter_swap.h"
#include "execution/journal.h"
#include "signing/trade_signer.h"

namespace orwenna {

class SwapMoves final : public WalletMoveRunner {
 public:
  static constexpr std::int64_t kApprovalMillis = 300'000;

  SwapMoves(const Services& services, TradeSigner& signer, Journal& journal,
            std::function<WalletAddresses()> addresses, WalletMoveRunner* next);

  std::optional<ExecutionResult> run(const PendingAction& step) override;

  // What a swap card shows, from a live quote. `refusal` ends in "Nothing was
  // signed." when the swap can't be prepared.
  struct Card {
    std::string text;
    Decimal amount;  // of the input
    Decimal minOut;  // the least that arrives
    std::optional<std::string> refusal;
  };
  // Nothing for a command that is not a swap.
  std::optional<Card> card(const WalletCommand& command);
  // Carries out a swap; `approved` is the card's, when one was shown.
  std::optional<ExecutionResult> swap(const WalletCommand& command, const std::optional<Card>& approved);

 private:
  struct Pair {
    SwapSide input;
    SwapSide output;
    std::optional<Decimal> amount;  // nothing: all of the input
  };
  [[nodiscard]] static std::optional<Pair> pairOf(const WalletCommand& command);
  Decimal spendable(const Pair& pair, const std::string& owner);

  const Services& services_;
  TradeSigner& signer_;
  Journal& journal_;
  std::function<WalletAddresses()> addresses_;
  WalletMoveRunner* next_;
};

}  // namespace orwenna
