// OneClickDepositCheck: the signer's own confirmation that a 1Click deposit
// address may be paid. Such an address is fresh for every quote, so it is
// never one of the user's wallets or in the address book; the app's word for
// it is not enough. The signer reads 1Click's status of that address itself
// (GET <root>/v0/status?depositAddress=, its own HTTP read at the configured
// root) and pays it only when 1Click answers with the quote behind it: still
// waiting for its deposit, not past its deadline, for exactly the amount the
// transaction sends there, delivering to a recipient and refunding to an
// address that are the user's own (a wallet or an address-book entry, as the
// caller's `ours` decides).
//
// paid() reads what a transaction sends to the deposit address; check()
// never throws. Thread-safe as far as the HttpClient is.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/http.h"
#include "chains/solana_transaction.h"
#include "guards/tx_guard.h"

namespace orwenna {

class OneClickDepositCheck {
 public:
  static constexpr std::chrono::milliseconds kTimeLimit{30000};

  // Base units a Solana message sends to `deposit` (SOL, or tokens to its
  // associated accounts), summed; nothing when it sends it nothing.
  [[nodiscard]] static std::optional<std::string> paid(const SolanaMessage& message,
                                                       const std::vector<std::string>& accounts,
                                                       const std::string& deposit);
  // Base units an EVM transaction sends to `deposit`: an ERC-20 transfer's
  // amount, or the value of a plain payment.
  [[nodiscard]] static std::optional<std::string> paid(const std::string& to, ByteView data, const std::string& value,
                                                       const std::string& deposit);

  [[nodiscard]] static Verdict check(HttpClient* http, const std::string& root, const std::string& deposit,
                                     const std::string& amount, std::int64_t nowMillis,
                                     const std::function<bool(const std::string& address)>& ours);
};

}  // namespace orwenna
