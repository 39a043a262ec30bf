#include "trading/trade_intent.h"

#include "trading/fmt.h"

namespace orwenna {

std::string_view sideName(Side side) { return side == Side::long_ ? "long" : "short"; }

std::optional<Side> parseSide(std::string_view text) {
  if (text == "long") return Side::long_;
  if (text == "short") return Side::short_;
  return std::nullopt;
}

Json decimalJsonNumber(const Decimal& value) {
  if (auto whole = value.toInt64()) return Json(*whole);
  return Json(value.toDouble());
}

namespace {

std::optional<Decimal> readDecimal(const Json& json, const char* key) {
  auto it = json.find(key);
  if (it == json.end() || it->is_null()) return std::nullopt;
  if (!it->is_number() && !it->is_string()) {
    throw JsonShapeError(std::string("Field \"") + key + "\" is not a number");
  }
  return Decimal::fromJson(*it);
}

std::optional<bool> readBool(const Json& json, const char* key) {
  auto it = json.find(key);
  if (it == json.end() || it->is_null()) return std::nullopt;
  if (!it->is_boolean()) throw JsonShapeError(std::string("Field \"") + key + "\" is not a boolean");
  return it->get<bool>();
}

void putDecimal(Json& json, const char* key, const std::optional<Decimal>& value) {
  if (value) json[key] = decimalJsonNumber(*value);
}

void putBool(Json& json, const char* key, const std::optional<bool>& value) {
  if (value) json[key] = *value;
}

std::string n2(const Decimal& value) { return Fmt::num(value, 2); }

}  // namespace

Json TradeIntent::toJson() const {
  Json json = Json::object();
  json["asset"] = asset;
  json["side"] = std::string(sideName(side));
  putDecimal(json, "riskUSD", riskUSD);
  putDecimal(json, "stopPct", stopPct);
  putDecimal(json, "takePct", takePct);
  putDecimal(json, "leverage", leverage);
  putDecimal(json, "amountUSDC", amountUSDC);
  putDecimal(json, "takeR", takeR);
  putBool(json, "autoRules", autoRules);
  putDecimal(json, "entryPx", entryPx);
  putDecimal(json, "pullbackPct", pullbackPct);
  putBool(json, "partialTake", partialTake);
  putDecimal(json, "trailingPct", trailingPct);
  return json;
}

TradeIntent TradeIntent::fromJson(const Json& json) {
  if (!json.is_object()) throw JsonShapeError("A trade intent is not a JSON object");
  TradeIntent intent;
  intent.asset = requireString(json, "asset");
  std::string side = requireString(json, "side");
  auto parsed = parseSide(side);
  if (!parsed) throw JsonShapeError("Field \"side\" is neither \"long\" nor \"short\"");
  intent.side = *parsed;
  intent.riskUSD = readDecimal(json, "riskUSD");
  intent.stopPct = readDecimal(json, "stopPct");
  intent.takePct = readDecimal(json, "takePct");
  intent.leverage = readDecimal(json, "leverage");
  intent.amountUSDC = readDecimal(json, "amountUSDC");
  intent.takeR = readDecimal(json, "takeR");
  intent.autoRules = readBool(json, "autoRules");
  intent.entryPx = readDecimal(json, "entryPx");
  intent.pullbackPct = readDecimal(json, "pullbackPct");
  intent.partialTake = readBool(json, "partialTake");
  intent.trailingPct = readDecimal(json, "trailingPct");
  return intent;
}

std::string TradeIntent::command() const {
  std::string out(sideName(side));
  out += ' ';
  std::string_view name = asset;
  if (name.starts_with("xyz:")) name.remove_prefix(4);
  out += name;
  auto part = [&out](const std::string& text) {
    out += ' ';
    out += text;
  };
  if (riskUSD) part("risk $" + riskUSD->toString());
  if (stopPct) part("stop " + stopPct->toString() + "%");
  if (takePct) {
    part("take " + takePct->toString() + "%");
  } else if (takeR) {
    part("take " + takeR->toString() + "R");
  }
  if (leverage) part("leverage " + leverage->toString() + "x");
  if (amountUSDC) part(amountUSDC->toString() + " USDC");
  if (autoRules == true) part("by the book");
  if (pullbackPct) {
    part("pullback " + pullbackPct->toString() + "%");
  } else if (entryPx) {
    part("limit " + entryPx->toString());
  }
  if (trailingPct) part("trailing " + trailingPct->toString() + "%");
  if (partialTake == true) part("take in parts");
  return out;
}

std::vector<std::string> TradeIntent::changes(const TradeIntent& older) const {
  std::vector<std::string> items;
  auto field = [&items](const std::optional<Decimal>& now, const std::optional<Decimal>& before,
                        const std::string& label, auto&& text) {
    if (now == before) return;
    if (now) {
      items.push_back(text(*now));
    } else {
      items.push_back(label + " \u2014");
    }
  };
  if (asset != older.asset && !asset.empty()) items.push_back("market " + asset);
  if (side != older.side) items.emplace_back(sideName(side));
  field(riskUSD, older.riskUSD, "risk", [](const Decimal& v) { return "risk " + Fmt::usd(v); });
  field(stopPct, older.stopPct, "stop", [](const Decimal& v) { return "stop " + n2(v) + "%"; });
  field(takePct, older.takePct, "take", [](const Decimal& v) { return "take " + n2(v) + "%"; });
  field(leverage, older.leverage, "leverage",
        [](const Decimal& v) { return "leverage " + n2(v) + "\u00d7"; });
  field(amountUSDC, older.amountUSDC, "USDC", [](const Decimal& v) { return n2(v) + " USDC"; });
  field(takeR, older.takeR, "take", [](const Decimal& v) { return "take " + n2(v) + "R"; });
  field(trailingPct, older.trailingPct, "trailing",
        [](const Decimal& v) { return "trailing " + n2(v) + "%"; });
  if (pullbackPct != older.pullbackPct || entryPx != older.entryPx) {
    if (pullbackPct) {
      items.push_back("entry on a " + n2(*pullbackPct) + "% pullback");
    } else if (entryPx) {
      // Two fraction digits would show a sub-dollar price as 0: such prices get
      // the growing digits of a price instead.
      const Decimal& px = *entryPx;
      items.push_back("limit entry at " + Fmt::num(px, px.abs() >= Decimal(1) ? 2 : 6));
    } else {
      items.emplace_back("market entry");
    }
  }
  return items;
}

}  // namespace orwenna
