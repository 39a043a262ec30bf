// SendMoves: the WalletMoveRunner for the wallet commands that send — USDC
// ("send N USDC to NAME [on NETWORK]"), SOL, other tokens on Solana or an EVM
// network, NEAR, and closing the NEAR account. Each step is carried out
// through its chain's send pipeline (execution/solana_send, evm_send,
// near_send) with the signer the app uses.
//
// A recipient is only ever a saved address: a name (or an address) the
// address book holds for that chain. Anything else is refused before a
// transaction is built, so no model text and no signer ever sees it. The
// approved bounds are the card's own: at most the amount shown, to the
// address shown, within two minutes of Confirm.
//
// run() is called on a worker thread, blocks, and never throws. One
// SendMoves may run one step at a time; its collaborators must outlive it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/conversation_ports.h"
#include "app/services.h"
#include "execution/evm_send.h"
#include "execution/journal.h"
#include "signing/trade_signer.h"

namespace orwenna {

// The active wallet's address on each chain (from the signer's status).
struct WalletAddresses {
  std::optional<std::string> solana;
  std::optional<std::string> evm;
  std::optional<std::string> near;
};

class SendMoves final : public WalletMoveRunner {
 public:
  static constexpr std::int64_t kApprovalMillis = 120'000;

  // `addresses` is asked once per step (the active wallet may change).
  SendMoves(const Services& services, const AddressBook& book, TradeSigner& signer, Journal& journal,
            std::function<WalletAddresses()> addresses);

  // Nothing for a command that does not send.
  std::optional<ExecutionResult> run(const PendingAction& step) override;

  // What a card shows before Confirm: the move in one sentence with the
  // saved name and its address, or the refusal when the recipient is not
  // saved for that chain. Nothing for a command that does not send.
  struct Card {
    std::string text;
    std::string chain;                   // "Solana", "NEAR", an EVM network's name
    std::optional<std::string> address;  // the saved address paid
    std::optional<std::string> refusal;  // ends in "Nothing was signed."
    std::vector<std::string> lines;      // what was read from the chain
  };
  [[nodiscard]] static std::optional<Card> card(const WalletCommand& command, const AddressBook& book);
  // The same, and for a token on an EVM network the contract it resolves to
  // with the decimals and symbol its contract answers; a ticker that fits
  // several tokens is a refusal listing them.
  [[nodiscard]] std::optional<Card> cardOnChain(const WalletCommand& command) const;

 private:
  const Services& services_;
  const AddressBook& book_;
  TradeSigner& signer_;
  Journal& journal_;
  std::function<WalletAddresses()> addresses_;
  EVMNonces nonces_;
};

}  // namespace orwenna
