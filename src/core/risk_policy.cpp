#include "core/risk_policy.h"

#include <array>
#include <utility>

#include "base/files.h"
#include "base/log.h"
#include "core/trade_intent.h"

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

std::filesystem::path RiskPolicy::defaultsFile() { return AppPaths::fromEnvironment().configDir / "defaults.json"; }

RiskPolicy RiskPolicy::load(const std::filesystem::path& defaultsFile) {
  std::optional<std::string> text;
  try {
    text = readFile(defaultsFile);
  } catch (const FileError& e) {
    log::warn("risk policy not read, using the defaults: {}", e.what());
    return {};
  }
  if (!text) return {};
  auto json = parseJson(*text);
  if (!json || !json->is_object()) {
    log::warn("risk policy not read, using the defaults: {} is not a JSON object", defaultsFile.string());
    return {};
  }
  auto it = json->find(kKey);
  if (it == json->end()) return {};
  if (auto policy = fromJson(*it)) return *policy;
  log::warn("stored risk policy does not decode, using the defaults: {}", it->dump());
  return {};
}

void RiskPolicy::save(const std::filesystem::path& defaultsFile) const {
  Json all = Json::object();
  if (auto text = readFile(defaultsFile)) {
    auto json = parseJson(*text);
    if (!json || !json->is_object()) {
      throw FileError(defaultsFile.string() + " is not a JSON object; the risk policy was not saved.");
    }
    all = std::move(*json);
  }
  all[kKey] = toJson();
  ensureDirectory(defaultsFile.parent_path());
  writeFileAtomically(defaultsFile, all.dump(2) + "\n");
}

}  // namespace orwenna
