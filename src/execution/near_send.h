// The NEAR send pipeline for the wallet's implicit account: a transfer,
// closing the account into a beneficiary, or wrapping NEAR and depositing it
// to a cross-chain intents deposit address. Reads the next nonce, the final
// block and the balance; works out what may go (the balance less the storage
// the account keeps and a reserve for the fee, and for a deposit the two
// storage registrations); refuses a close that would strand wrapped NEAR or
// pay a beneficiary that does not exist; compares with the Envelope; has the
// signer build and sign the transaction from the fields; checks the bytes
// against a local rebuild; journals `signed` under the locally computed id,
// sends, and journals the outcome. A send that times out leaves the entry
// open: re-sending the same bytes is harmless.
//
// Every stop before the signature throws ExecutionError ending in "Nothing
// was signed.". Used from one thread at a time; collaborators outlive it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/decimal.h"
#include "base/uint.h"
#include "chains/near_rpc.h"
#include "chains/near_transaction.h"
#include "execution/chain_send.h"
#include "execution/envelope.h"
#include "execution/journal.h"
#include "signing/trade_signer.h"

namespace orwenna {

struct NearMove {
  enum class Kind { transfer, deleteAccount, intentDeposit };
  Kind kind = Kind::transfer;
  std::string account;            // the wallet's implicit account
  std::optional<UInt128> amount;  // yoctoNEAR; absent: all that may go
  std::string to;                 // receiver, beneficiary or deposit address
  std::vector<std::string> recipients;  // saved addresses the move may pay

  Envelope envelope;
  Decimal output;
  std::optional<std::string> destination;
  std::string note;
  // Called with the id once it is journaled `signed`, before it is sent (a
  // bridge journals its deposit there). A throw stops the send.
  std::function<void(const std::string& id)> onSigned;
};

class NearSender {
 public:
  // Storage is paid at 10^19 yoctoNEAR a byte.
  static inline const UInt128 kStoragePricePerByte = UInt128(10'000'000'000'000'000'000ULL);
  // Gas a plain transfer or close burns at most, for the fee reserve.
  static constexpr std::uint64_t kBaseGas = 5'000'000'000'000;  // 5 Tgas

  NearSender(const NearRPC& rpc, TradeSigner& signer, Journal& journal, Clock& clock);

  // Throws ExecutionError; a returned outcome may still be failed or unknown.
  ChainSendOutcome send(const NearMove& move);

  // What may go from `balance`: less the storage the account keeps, the fee
  // reserve for `kind` at `gasPrice`, and a deposit's registrations.
  // Nothing when that leaves nothing.
  [[nodiscard]] static std::optional<UInt128> sendable(NearMove::Kind kind, const NearRPC::Account& account,
                                                       const UInt128& gasPrice);
  static UInt128 reserve(NearMove::Kind kind, const NearRPC::Account& account, const UInt128& gasPrice);

 private:
  const NearRPC& rpc_;
  TradeSigner& signer_;
  Journal& journal_;
  Clock& clock_;
};

}  // namespace orwenna
