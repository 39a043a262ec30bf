// CallMoves: the WalletMoveRunner for raw EVM contract calls ("call base
// 0xCONTRACT deposit(uint256,address) 1000000 me [with N ETH] [approving N
// USDC]") and for revoking an approval (ERC-20 approve to 0, or Permit2's
// approve to 0). The signature's static types (address, bool, uintN, intN
// of non-negative values, bytesN) are encoded; a dynamic one is refused. An
// approval asked for is exact, made first and only when the allowance is
// short. Every call then goes through the EVM send pipeline: the call rules
// (a lending pool or vault crediting someone else is refused), the dry run,
// the Envelope, the signer. Any other command goes to the next runner.
//
// run() is called on a worker thread, blocks, and never throws. One
// CallMoves runs one step at a time; its collaborators must outlive it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/conversation_ports.h"
#include "app/send_moves.h"
#include "app/services.h"
#include "execution/evm_send.h"
#include "execution/journal.h"
#include "signing/trade_signer.h"

namespace orwenna {

class CallMoves final : public WalletMoveRunner {
 public:
  static constexpr std::int64_t kApprovalMillis = 120'000;
  static constexpr const char* kPermit2 = "0x000000000022d473030f116ddee9f6b43ac78ba3";

  CallMoves(const Services& services, TradeSigner& signer, Journal& journal,
            std::function<WalletAddresses()> addresses, WalletMoveRunner* next);

  std::optional<ExecutionResult> run(const PendingAction& step) override;

  // The calldata of `function` with `args` ("me" is `wallet`, "max" the
  // largest word). Throws ExecutionError with the sentence when a type isn't
  // one orwenna encodes or an argument doesn't fit it.
  [[nodiscard]] static Bytes calldata(const std::string& function, const std::vector<std::string>& args,
                                      const std::string& wallet);

 private:
  const Services& services_;
  TradeSigner& signer_;
  Journal& journal_;
  std::function<WalletAddresses()> addresses_;
  WalletMoveRunner* next_;
  EVMNonces nonces_;
};

}  // namespace orwenna
