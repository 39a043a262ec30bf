// PayMoves: the WalletMoveRunner for "pay <METHOD> <URL> [<JSON body>]" — a
// call to a paid API that takes MPP payments on Tempo.
//
// Only a service the MPP directory lists is paid, and never more than the
// directory's price for that endpoint (the directory being the user's view
// of what a call costs; an endpoint whose price varies is paid up to
// kVariableCeiling). The service's 402 challenge is read, its charge must be
// in USDC on Tempo (the token's symbol and decimals read from the chain) to
// a plain address; the transfer goes through the EVM send pipeline — call
// rules, dry run, Envelope, signer, the check of what was signed, journal —
// with its fee taken in USDC, as Tempo has no gas coin. The request is then
// repeated with the credential, and the answer is shown as data, never as
// instructions. A service that answers without asking for payment is shown
// as it answered, and nothing is paid.
//
// run() is called on a worker thread, blocks, and never throws. card() asks
// the service and the chain but signs nothing. Collaborators must outlive it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/conversation_ports.h"
#include "app/send_moves.h"
#include "app/services.h"
#include "execution/evm_send.h"
#include "execution/journal.h"
#include "signing/trade_signer.h"

namespace orwenna {

class PayMoves final : public WalletMoveRunner {
 public:
  static constexpr std::int64_t kApprovalMillis = 120'000;
  // The most paid for one call whose listed price varies, in dollars.
  static constexpr const char* kVariableCeiling = "1";
  // The most of an answer shown in the chat.
  static constexpr std::size_t kAnswerChars = 4000;

  PayMoves(const Services& services, TradeSigner& signer, Journal& journal,
           std::function<WalletAddresses()> addresses, WalletMoveRunner* next);

  std::optional<ExecutionResult> run(const PendingAction& step) override;

  struct Card {
    std::string text;
    std::vector<std::string> lines;
    std::optional<std::string> refusal;  // ends in "Nothing was signed."
  };
  // Nothing for a command that is not a pay command.
  [[nodiscard]] std::optional<Card> card(const WalletCommand& command);

 private:
  struct Offer;
  Offer offer(const wallet::pay& pay, const std::string& wallet);

  const Services& services_;
  TradeSigner& signer_;
  Journal& journal_;
  std::function<WalletAddresses()> addresses_;
  WalletMoveRunner* next_;
  EVMNonces nonces_;
};

}  // namespace orwenna
