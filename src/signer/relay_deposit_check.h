// RelayDepositCheck: the signer's own confirmation of a move out of
// Hyperliquid over Relay. Relay's depository on Hyperliquid is neither one of
// the user's wallets nor in the address book, so the app's word for it is not
// enough: the signer asks Relay itself (POST <root>/quote/v2, its own HTTP
// read) for the same move — this wallet, the recipient the app names, the
// same amount of perp USDC — and pays only the destination Relay names in
// that answer, and only when that answer pays the recipient asked for. The
// recipient itself must be the user's (checked by the caller).
//
// check() never throws: an unreachable Relay or an unreadable answer is a
// problem in the verdict. Thread-safe as far as the HttpClient is.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "base/http.h"
#include "base/json.h"
#include "guards/tx_guard.h"

namespace orwenna {

class RelayDepositCheck {
 public:
  static constexpr std::chrono::milliseconds kTimeLimit{30000};
  static constexpr std::uint64_t kHyperliquidChainId = 1337;
  static constexpr const char* kPerpUSDC = "0x00000000000000000000000000000000";

  struct Move {
    std::string wallet;     // the paying Hyperliquid account
    std::string recipient;  // where the money lands
    std::uint64_t destinationChainId = 0;
    std::string destinationCurrency;
  };

  // `action` is the sendAsset as the app asks it signed (plain JSON). With no
  // client or root, the move is refused.
  [[nodiscard]] static Verdict check(HttpClient* http, const std::string& root, const Json& action, const Move& move);
};

}  // namespace orwenna
