// The one shape every yield place has: what the wallet holds there, the rate
// it pays, and a deposit or withdrawal as the transactions to sign — EVM
// calls, each after its exact approval, or an unsigned Solana transaction
// from the place's own API. The chain's send pipeline then judges, simulates,
// signs, journals and sends them; a place never signs anything itself.
//
// Places are read from several threads only as far as their HttpClient and
// node clients allow; they hold no mutable state.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/decimal.h"
#include "base/error.h"
#include "base/uint.h"
#include "execution/evm_send.h"
#include "execution/solana_send.h"

namespace orwenna {

// A refusal of a place, worded for the chat, before anything is built.
class YieldError : public Error {
 public:
  using Error::Error;
};

// One deposit or withdrawal, ready for its chain's pipeline. The caller sets
// each move's Envelope from the card the user confirmed.
struct YieldMove {
  struct EVMStep {
    EVMMove call;
    std::optional<EVMApproval> approval;
  };
  std::string text;  // what the card says, one sentence
  std::vector<EVMStep> evm;
  std::optional<SolanaMove> solana;
};

class YieldPlace {
 public:
  virtual ~YieldPlace() = default;
  virtual std::string name() const = 0;  // "Aave on Base", "Jupiter Lend"
  virtual std::string symbol() const = 0;
  // The asset the wallet has supplied there. Throws on a failed read.
  virtual Decimal position(const std::string& wallet) const = 0;
  // APY after fees, in percent; nothing when the place gives none.
  virtual std::optional<Decimal> rate() const = 0;
  // Throw YieldError with the finished sentence when the move can't be made.
  virtual YieldMove deposit(const std::string& wallet, const Decimal& amount) const = 0;
  // No amount: everything there.
  virtual YieldMove withdraw(const std::string& wallet, const std::optional<Decimal>& amount) const = 0;
};

// Decimal token text from base units, and back; baseUnitsOf throws
// YieldError when the amount is not positive or finer than one unit.
Decimal unitsToDecimal(const UInt256& units, int decimals);
UInt256 baseUnitsOf(const Decimal& amount, int decimals, const std::string& symbol);

// The `index`-th 32-byte word of an eth_call answer; throws YieldError when
// the answer is shorter.
UInt256 answerWord(const Bytes& answer, std::size_t index, const std::string& what);
std::string answerAddress(const Bytes& answer, std::size_t index, const std::string& what);

}  // namespace orwenna
