// The user's risk limits, and where they are kept: the "riskPolicy" key of
// the defaults file ($XDG_CONFIG_HOME/orwenna/defaults.json).
//
// RiskPolicy is a plain value. Loading never fails: a missing file, a missing
// key or a stored policy that does not decode gives the defaults (the last
// with a line in the diagnostic log). Saving replaces only "riskPolicy" and
// keeps the file's other keys. Not synchronised: one writer at a time.
#pragma once

#include <filesystem>
#include <optional>

#include "base/decimal.h"
#include "base/json.h"

namespace orwenna {

struct RiskPolicy {
  Decimal maxRiskPct = 2;          // largest loss at the stop per trade, % of capital
  Decimal defaultRiskPct = 1;      // risk used when the user names none
  Decimal minRewardRisk = Decimal::parse("1.5");
  Decimal defaultRewardRisk = 2;   // take-profit multiple the rules use
  Decimal maxLeverage = 5;         // the rules' leverage cap
  Decimal atrStopMultiple = Decimal::parse("1.5");
  Decimal maxOpenRiskPct = 6;      // all open positions together at their stops

  friend bool operator==(const RiskPolicy&, const RiskPolicy&) = default;

  // Keys in the order above; values as JSON numbers.
  Json toJson() const;
  // All seven keys required, each a number (or decimal text) above zero;
  // nothing otherwise.
  [[nodiscard]] static std::optional<RiskPolicy> fromJson(const Json& json);

  // <configDir>/defaults.json of AppPaths::fromEnvironment().
  static std::filesystem::path defaultsFile();
  static RiskPolicy load(const std::filesystem::path& defaultsFile = RiskPolicy::defaultsFile());
  // Throws FileError when the file cannot be written, or when it exists but is
  // not a JSON object (it is left alone rather than overwritten).
  void save(const std::filesystem::path& defaultsFile = RiskPolicy::defaultsFile()) const;
};

}  // namespace orwenna
