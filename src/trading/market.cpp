#include "trading/market.h"

#include <string>
#include <unordered_set>

namespace orwenna {

namespace {

const std::unordered_set<std::string>& commodityNames() {
  static const std::unordered_set<std::string> names{
      "CL",       "BRENTOIL", "GOLD",  "SILVER", "NATGAS", "COPPER", "PLATINUM",
      "PALLADIUM", "URANIUM", "WHEAT", "CORN",   "COCOA",  "COFFEE", "SUGAR"};
  return names;
}

const std::unordered_set<std::string>& indexNames() {
  static const std::unordered_set<std::string> names{
      "SP500", "XYZ100", "NDX", "DJI", "VIX", "DXY",  "JPY", "EUR",
      "GBP",   "CNH",    "KRW", "EWY", "XLE", "SOXL", "KORU"};
  return names;
}

}  // namespace

Market::Group Market::group() const {
  if (!dex) return Group::crypto;
  std::string last;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t colon = name.find(':', start);
    std::size_t end = colon == std::string::npos ? name.size() : colon;
    if (end > start) last = name.substr(start, end - start);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (last.empty()) return Group::crypto;
  if (commodityNames().contains(last)) return Group::commodities;
  if (indexNames().contains(last)) return Group::indices;
  return Group::stocks;
}

std::string_view rawValue(Market::Group group) {
  switch (group) {
    case Market::Group::crypto: return "Crypto";
    case Market::Group::commodities: return "Commodities";
    case Market::Group::stocks: return "Stocks";
    case Market::Group::indices: return "Indices & FX";
  }
  return "Crypto";
}

std::optional<Market::Group> marketGroupFromRaw(std::string_view raw) {
  for (auto g : {Market::Group::crypto, Market::Group::commodities, Market::Group::stocks,
                 Market::Group::indices}) {
    if (rawValue(g) == raw) return g;
  }
  return std::nullopt;
}

void to_json(Json& j, const Market& m) {
  j = Json::object();
  j["name"] = m.name;
  j["markPx"] = m.markPx;
  j["szDecimals"] = m.szDecimals;
  j["maxLeverage"] = m.maxLeverage;
  j["index"] = m.index;
  if (m.prevDayPx) j["prevDayPx"] = *m.prevDayPx;
  if (m.funding) j["funding"] = *m.funding;
  if (m.atrPct) j["atrPct"] = *m.atrPct;
  if (m.dex) j["dex"] = *m.dex;
  j["volume24h"] = m.volume24h;
}

int assetIndex(std::optional<int> dexIndex, int position) {
  if (!dexIndex) return position;
  return 100000 + *dexIndex * 10000 + position;
}

void MarketTable::merge(const std::map<std::string, Market>& markets) {
  for (const auto& [name, market] : markets) markets_.insert_or_assign(name, market);
}

const Market* MarketTable::find(std::string_view name) const {
  auto it = markets_.find(name);
  return it == markets_.end() ? nullptr : &it->second;
}

Market* MarketTable::find(std::string_view name) {
  auto it = markets_.find(name);
  return it == markets_.end() ? nullptr : &it->second;
}

std::vector<std::string> MarketTable::names() const {
  std::vector<std::string> out;
  out.reserve(markets_.size());
  for (const auto& [name, _] : markets_) out.push_back(name);
  return out;
}

std::string_view chartRangeName(ChartRange range) {
  switch (range) {
    case ChartRange::day: return "day";
    case ChartRange::week: return "week";
    case ChartRange::month: return "month";
  }
  return "day";
}

}  // namespace orwenna
