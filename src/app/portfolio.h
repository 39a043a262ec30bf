// What the agent knows of the user's own money without a network call: a
// snapshot of the app's state (balances by place, open positions and orders,
// the plan, profit and loss, closed trades, alerts, recurring buys, favorites,
// recent activity), the `portfolio` lookup's text, the facts an answer is
// written from, and the answers given from them when no model can be asked.
//
// The app implements PortfolioSource; everything else here is pure.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/decimal.h"
#include "trading/trade_intent.h"

namespace orwenna::Agent {

struct OpenPosition {
  std::string coin;
  Side side = Side::long_;
  Decimal size;  // coin units
  Decimal entry;
  std::optional<Decimal> mark;
  std::optional<Decimal> unrealized;  // USD, fees not counted
  std::optional<Decimal> stop;
  std::optional<Decimal> take;
  std::optional<Decimal> liquidation;
};

struct ClosedTrade {
  std::string coin;
  Side side = Side::long_;
  Decimal result;      // USD after fees
  std::string closed;  // when, as the app shows it
};

// Lines other than positions and closed trades come already rendered by the
// app ("Solana wallet: 120.50 USDC, 1.2 SOL").
struct PortfolioSnapshot {
  std::vector<std::string> balances;
  std::vector<OpenPosition> positions;
  std::vector<std::string> orders;
  std::optional<std::string> plan;
  std::optional<Decimal> realizedToday;  // USD after fees
  std::vector<ClosedTrade> closed;        // newest first
  std::vector<std::string> alerts;
  std::vector<std::string> recurring;
  std::vector<std::string> favorites;
  std::vector<std::string> activity;      // newest first
  // Sections the source could not read ("open positions"): said plainly, so
  // an empty list is never mistaken for "none".
  std::vector<std::string> notRead;
};

// Implemented by the app over its live state. Thread-safe; never blocks on
// the network.
class PortfolioSource {
 public:
  virtual ~PortfolioSource() = default;
  virtual PortfolioSnapshot snapshot() const = 0;
};

// "+$12.30", "−$4.10", "$0.00".
std::string signedUSD(const Decimal& value);
// "BTC long 0.01 at $97,000.00, mark $98,230.00, unrealized +$12.30, stop $95,000.00".
std::string positionLine(const OpenPosition& position);

// The `portfolio` lookup: every section, "none" where empty.
std::string portfolioText(const PortfolioSnapshot& snapshot);
// The facts of an answer: balances, open positions, the by-the-book trade for
// the market asked about (when given), closed positions, recent activity.
std::string factsText(const PortfolioSnapshot& snapshot, const std::optional<std::string>& marketBlock);

// The lower-cased words of a text; an apostrophe inside a word keeps it whole
// ("what's", "don't").
std::vector<std::string> lowerWords(std::string_view s);

// The coin a question is about, among those the snapshot holds or held
// (tickers, and the Russian names of the majors).
[[nodiscard]] std::optional<std::string> coinAskedAbout(std::string_view question,
                                                        const PortfolioSnapshot& snapshot);

// The answer given without a model: from the portfolio and trade history,
// marked as such and pointing to Settings for anything else.
std::string answerWithoutModel(std::string_view question, const PortfolioSnapshot& snapshot);

}  // namespace orwenna::Agent
