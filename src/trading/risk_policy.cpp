#include "trading/risk_policy.h"

#include <array>
#include <utility>

#include "base/files.h"
#include "base/log.h"
#include "trading/trade_intent.h"
#include "platform/defaults.h"

namespace orwenna {

namespace {

constexpr const char* kKey = "riskPolicy";

using Field = Decimal RiskPolicy::*;
constexpr std::array<std::pair<const char*, Field>, 7> kFields{{
    {"maxRiskPct", &RiskPolicy::maxRiskPct},
    {"defaultRiskPct", &RiskPolicy::defaultRiskPct},
    {"minRewardRisk", &RiskPolicy::minRewardRisk},
    {"defaultRewardRisk", &RiskPolicy::defaultRewardRisk},
    {"maxLeverage", &RiskPolicy::maxLeverage},
    {"atrStopMultiple", &RiskPolicy::atrStopMultiple},
    {"maxOpenRiskPct", &RiskPolicy::maxOpenRiskPct},
}};

}  // namespace

Json RiskPolicy::toJson() const {
  Json j = Json::object();
  for (const auto& [key, field] : kFields) j[key] = decimalJsonNumber(this->*field);
  return j;
}

std::optional<RiskPolicy> RiskPolicy::fromJson(const Json& json) {
  if (!json.is_object()) return std::nullopt;
  RiskPolicy p;
  for (const auto& [key, field] : kFields) {
    auto it = json.find(key);
    if (it == json.end() || !(it->is_number() || it->is_string())) return std::nullopt;
    auto value = it->is_string() ? Decimal::tryParse(it->get_ref<const std::string&>())
                                 : std::optional<Decimal>(Decimal::fromJson(*it));
    // A zero or negative limit would make every trade fail or pass for the
    // wrong reason; such a policy is treated as unreadable.
    if (!value || !value->isPositive()) return std::nullopt;
    p.*field = *value;
  }
  return p;
}

std::filesystem::path RiskPolicy::defaultsFile() { return Defaults::defaultFile(); }

RiskPolicy RiskPolicy::load(const std::filesystem::path& defaultsFile) {
  auto stored = Defaults(defaultsFile).value(kKey);
  if (!stored) return {};
  if (auto policy = fromJson(*stored)) return *policy;
  log::warn("stored risk policy does not decode, using the defaults: {}", stored->dump());
  return {};
}

void RiskPolicy::save(const std::filesystem::path& defaultsFile) const {
  Defaults(defaultsFile).setValue(kKey, toJson(), "the risk policy");
}

}  // namespace orwenna
