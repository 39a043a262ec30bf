// RecurringMoves: the WalletMoveRunner for Jupiter's recurring orders of the
// command language — "Jupiter DCA 100 USDC into JUP in 4 orders every day",
// "show Jupiter DCA", "cancel Jupiter DCA [JUP]". Jupiter answers a create or
// a cancel with a transaction, which goes through the Solana send pipeline as
// it came (checked to be the wallet's to sign, guarded, simulated with the
// USDC it may take, signed, journaled, sent); cancelling several orders is
// several transactions under one Confirm. Any other command goes on.
//
// run() is called on a worker thread, blocks, and never throws. One
// RecurringMoves runs one step at a time; its collaborators must outlive it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/conversation_ports.h"
#include "app/send_moves.h"
#include "app/services.h"
#include "execution/journal.h"
#include "signing/trade_signer.h"

namespace orwenna {

class RecurringMoves final : public WalletMoveRunner {
 public:
  static constexpr std::int64_t kApprovalMillis = 300'000;
  // Jupiter's recurring program.
  static constexpr const char* kRecurringProgram = "DCA265Vj8a9CEuX1eb1LWRnDT7uK6q1xMipnNyatn23M";
  // Orders when the line names no count.
  static constexpr int kDefaultOrders = 2;

  RecurringMoves(const Services& services, TradeSigner& signer, Journal& journal,
                 std::function<WalletAddresses()> addresses, WalletMoveRunner* next);

  std::optional<ExecutionResult> run(const PendingAction& step) override;

 private:
  ExecutionResult create(const wallet::jupiterDCA& order, const std::string& owner);
  ExecutionResult list(const std::string& owner);
  ExecutionResult cancel(const wallet::jupiterDCACancel& which, const std::string& owner);

  const Services& services_;
  TradeSigner& signer_;
  Journal& journal_;
  std::function<WalletAddresses()> addresses_;
  WalletMoveRunner* next_;
};

// "1 day", "3 hours", "2 weeks", "90 s": the interval as the chat says it.
std::string everyText(std::int64_t seconds);

}  // namespace orwenna
