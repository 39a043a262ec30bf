// Spreading USDC across the lending places, and rebalancing what is already
// there, as chains of ordinary command lines joined by " then " — each one a
// move the command language already carries out — so the whole plan waits
// on one card for one Confirm. Pure arithmetic over the places' rates and
// holdings, read by the caller; nothing here touches a network.
//
// Rules: places are ranked by rate (a place without one is left out), each
// takes at most `maxShare` percent of the total, the excluded protocols are
// skipped, and an EVM place is skipped when the bridges and gas there and
// back cost more than half a year of the slice's interest. Moves under a
// dollar are not worth their fees and are dropped.
//
// Pure functions; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/decimal.h"

namespace orwenna {

struct YieldSpot {
  std::string protocol;  // "jupiter", "kamino", "aave", "morpho" — the names `without` uses
  std::string name;      // "Aave on Base"
  std::string network;   // "solana" or an EVM network key
  std::optional<Decimal> apy;  // percent, after fees
  Decimal supplied;
  Decimal roundTripUSD;  // bridges and gas there and back; zero on Solana

  bool onSolana() const { return network == "solana"; }
};

struct YieldPlan {
  struct Slice {
    std::string name;
    Decimal amount;
  };
  std::vector<Slice> slices;           // where the money goes
  std::vector<std::string> lines;      // the command lines, in order
  std::vector<std::string> skipped;    // why a place was passed over, one sentence each
  Decimal unplaced;                    // left where it is

  std::string chain() const;  // the lines joined by " then "
};

struct YieldAllocation {
  static constexpr const char* kMinMove = "1";

  // `amount` USDC from Solana into the best places. `maxShare` in percent
  // (nothing: no cap); `without` by protocol name, any case.
  [[nodiscard]] static YieldPlan allocate(const std::vector<YieldSpot>& places, const Decimal& amount,
                                          const std::optional<Decimal>& maxShare,
                                          const std::vector<std::string>& without = {});
  // The holdings moved toward the allocation of their total: first the
  // withdrawals (an EVM place's USDC brought back to Solana), then the
  // deposits.
  [[nodiscard]] static YieldPlan rebalance(const std::vector<YieldSpot>& places, const std::optional<Decimal>& maxShare);

  // The line that puts `amount` into a place from Solana, and the one that
  // takes it out back to Solana.
  [[nodiscard]] static std::string depositLine(const YieldSpot& place, const Decimal& amount);
  [[nodiscard]] static std::string withdrawLine(const YieldSpot& place, const Decimal& amount);
  // The rough cost of a trip to an EVM network and back, in dollars.
  [[nodiscard]] static Decimal roundTripUSD(const std::string& network);
};

}  // namespace orwenna
