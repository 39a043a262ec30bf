// YieldMoves: the WalletMoveRunner for the lending places — Jupiter Lend and
// Kamino on Solana, Aave (supply, withdraw, borrow, repay, ETH collateral)
// and the curated Morpho vault on EVM networks — and for spreading and
// rebalancing USDC across them. Each move is built by its place
// (defi/aave, morpho, solana_lend) and carried out through its chain's send
// pipeline with the app's signer: EVM calls one by one, each after its exact
// approval when the allowance is short; Solana transactions as received
// from the place's API, guarded and simulated with balance bounds.
//
// Spreading and rebalancing become chains of ordinary command lines
// (yield_allocation.h), shown on the card and run step by step through the
// whole runner chain (`setHead`), stopping at the first step that fails.
// Any other command goes to the next runner.
//
// run() is called on a worker thread, blocks, and never throws. One
// YieldMoves runs one step at a time; its collaborators must outlive it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/conversation_ports.h"
#include "app/send_moves.h"
#include "app/services.h"
#include "app/yield_allocation.h"
#include "defi/yield_place.h"
#include "execution/evm_send.h"
#include "execution/journal.h"
#include "signing/trade_signer.h"

namespace orwenna {

// What each lending place pays and holds for the given wallets — Jupiter
// Lend and Kamino on Solana, Aave and Morpho on the EVM networks in
// `networks` (every one they run on when empty). A place that can't be read
// keeps no rate, so it is ranked nowhere. Blocks on the network.
std::vector<YieldSpot> readYieldSpots(const Services& services, const WalletAddresses& wallets,
                                      const std::vector<std::string>& networks = {});
// The board of places by rate, one line each, best first; for the `rates` lookup.
std::string yieldBoard(const std::vector<YieldSpot>& spots);

class YieldMoves final : public WalletMoveRunner {
 public:
  static constexpr std::int64_t kApprovalMillis = 120'000;

  YieldMoves(const Services& services, TradeSigner& signer, Journal& journal,
             std::function<WalletAddresses()> addresses, WalletMoveRunner* next);

  // The runner the steps of a spread or rebalance go through (the head of
  // the app's chain); this one when not set.
  void setHead(WalletMoveRunner* head) { head_ = head; }

  std::optional<ExecutionResult> run(const PendingAction& step) override;

  struct Card {
    std::string text;
    std::vector<std::string> lines;      // a spread or rebalance: the steps
    std::optional<std::string> refusal;  // ends in "Nothing was signed."
  };
  // Nothing for a command this runner does not carry out.
  std::optional<Card> card(const WalletCommand& command);

  // Where the rates and holdings of a spread come from (readYieldSpots over
  // the active wallets unless set).
  void setSpots(std::function<std::vector<YieldSpot>()> spots) { spots_ = std::move(spots); }

 private:
  struct Built {
    std::unique_ptr<EVMRPC> rpc;  // the EVM places read through it: kept where it won't move
    std::unique_ptr<YieldPlace> place;
    YieldMove move;
    std::string chain;  // "Solana" or the EVM network's name
    const EVMNetwork* network = nullptr;
    Decimal spend;      // what the card allows to leave the wallet
  };
  // Nothing for a command that is not a single lending move. Throws
  // YieldError or ExecutionError with the finished sentence.
  std::optional<Built> build(const WalletCommand& command);
  ExecutionResult carry(Built& built);
  ExecutionResult chained(const YieldPlan& plan, const std::string& title);

  const Services& services_;
  TradeSigner& signer_;
  Journal& journal_;
  std::function<WalletAddresses()> addresses_;
  WalletMoveRunner* next_;
  WalletMoveRunner* head_ = nullptr;
  std::function<std::vector<YieldSpot>()> spots_;
  EVMNonces nonces_;
};

}  // namespace orwenna
