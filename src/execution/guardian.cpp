#include "execution/guardian.h"

#include <utility>

#include "base/log.h"
#include "execution/execution_error.h"
#include "signing/hl_action.h"
#include "trading/fmt.h"
#include "trading/risk_calc.h"

namespace orwenna {

namespace {

constexpr const char* kRulesKey = "exitRules";

std::optional<Decimal> decimalField(const Json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end()) return std::nullopt;
  if (it->is_string()) return Decimal::tryParse(it->get_ref<const std::string&>());
  if (it->is_number()) return Decimal::fromJson(*it);
  return std::nullopt;
}

std::optional<bool> boolField(const Json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_boolean()) return std::nullopt;
  return it->get<bool>();
}

}  // namespace

Json ExitRules::toJson() const {
  Json j = Json::object();
  j["openedSize"] = openedSize.toString();
  j["entry"] = entry.toString();
  j["long"] = long_;
  j["breakevenAfterPartial"] = breakevenAfterPartial;
  if (trailingPct) j["trailingPct"] = trailingPct->toString();
  j["peak"] = peak.toString();
  j["movedToBreakeven"] = movedToBreakeven;
  j["partialOrderPending"] = partialOrderPending;
  return j;
}

std::optional<ExitRules> ExitRules::fromJson(const Json& json) {
  if (!json.is_object()) return std::nullopt;
  auto opened = decimalField(json, "openedSize");
  auto entry = decimalField(json, "entry");
  auto peak = decimalField(json, "peak");
  auto isLong = boolField(json, "long");
  auto breakeven = boolField(json, "breakevenAfterPartial");
  auto moved = boolField(json, "movedToBreakeven");
  auto pending = boolField(json, "partialOrderPending");
  if (!opened || !entry || !peak || !isLong || !breakeven || !moved || !pending) return std::nullopt;
  ExitRules r{*opened, *entry, *isLong, *breakeven, std::nullopt, *peak, *moved, *pending};
  if (json.contains("trailingPct") && !json.at("trailingPct").is_null()) {
    r.trailingPct = decimalField(json, "trailingPct");
    if (!r.trailingPct || !r.trailingPct->isPositive()) return std::nullopt;
  }
  return r;
}

ExitRules ExitRules::opened(const Decimal& size, const Decimal& entry, bool breakevenAfterPartial,
                            std::optional<Decimal> trailingPct) {
  return {size, entry, size.isPositive(), breakevenAfterPartial, std::move(trailingPct), entry, false, false};
}

ExitRulesStore::ExitRulesStore(Defaults defaults) : defaults_(std::move(defaults)) {
  auto stored = defaults_.value(kRulesKey);
  if (!stored) return;
  // Older copies kept the table as a JSON string of the object.
  Json table = *stored;
  if (table.is_string()) table = Json::parse(table.get<std::string>(), nullptr, false);
  if (!table.is_object()) {
    log::warn("stored exit rules do not decode, starting without them");
    return;
  }
  for (const auto& [coin, value] : table.items()) {
    if (auto rules = ExitRules::fromJson(value)) {
      table_.emplace(coin, *rules);
    } else {
      log::warn("exit rules of {} do not decode, dropped", coin);
    }
  }
}

std::map<std::string, ExitRules> ExitRulesStore::all() const {
  std::lock_guard lock(mutex_);
  return table_;
}

std::optional<ExitRules> ExitRulesStore::get(const std::string& coin) const {
  std::lock_guard lock(mutex_);
  auto it = table_.find(coin);
  if (it == table_.end()) return std::nullopt;
  return it->second;
}

bool ExitRulesStore::empty() const {
  std::lock_guard lock(mutex_);
  return table_.empty();
}

void ExitRulesStore::put(const std::string& coin, const ExitRules& rules) {
  std::lock_guard lock(mutex_);
  auto it = table_.find(coin);
  if (it != table_.end() && it->second == rules) return;
  table_[coin] = rules;
  save();
}

void ExitRulesStore::remove(const std::string& coin) {
  std::lock_guard lock(mutex_);
  if (table_.erase(coin) == 0) return;
  save();
}

void ExitRulesStore::save() const {
  Json j = Json::object();
  for (const auto& [coin, rules] : table_) j[coin] = rules.toJson();
  defaults_.setValue(kRulesKey, std::move(j), "the exit rules");
}

std::optional<Guardian::Action> Guardian::step(ExitRules& rules, const Decimal& size,
                                               const std::optional<Decimal>& stop, const Decimal& mark,
                                               const std::function<Decimal(const Decimal&)>& round) {
  if (rules.long_ ? mark > rules.peak : mark < rules.peak) rules.peak = mark;
  if (rules.breakevenAfterPartial && !rules.movedToBreakeven && size.abs() < rules.openedSize.abs()) {
    rules.movedToBreakeven = true;
    return StopToBreakeven{};
  }
  if (!rules.trailingPct || !stop) return std::nullopt;
  const Decimal d = rules.long_ ? Decimal(1) : Decimal(-1);
  Decimal candidate = rules.peak * (Decimal(1) - d * *rules.trailingPct / Decimal(100));
  if (round) candidate = round(candidate);
  const Decimal minStep = rules.peak * *rules.trailingPct / Decimal(1000);
  if (rules.long_ ? (candidate > *stop + minStep && candidate < mark)
                  : (candidate < *stop - minStep && candidate > mark)) {
    return StopTo{candidate};
  }
  return std::nullopt;
}

std::optional<Decimal> restingStop(const std::vector<HyperliquidAccount::Order>& orders, const std::string& coin,
                                   bool isLong) {
  std::optional<Decimal> best;
  for (const auto& o : orders) {
    // A long's stop sells; a short's buys.
    if (o.coin != coin || !o.isStop() || !o.triggerPx || o.isBuy() == isLong) continue;
    if (!best || (isLong ? *o.triggerPx > *best : *o.triggerPx < *best)) best = o.triggerPx;
  }
  return best;
}

Guardian::Guardian(Setup setup) : s_(std::move(setup)) {}

Guardian::PassReport Guardian::pass() {
  PassReport out;
  std::unique_lock lock(passMutex_, std::try_to_lock);
  if (!lock.owns_lock()) return out;
  std::map<std::string, ExitRules> table = s_.rules.all();
  if (table.empty()) {
    out.ran = true;
    return out;
  }
  std::vector<HyperliquidAccount::Position> positions;
  std::vector<HyperliquidAccount::Order> orders;
  MarketTable markets;
  try {
    // Builder-dex coins ("xyz:GOLD") live in their dex's own account state;
    // a missing read there would look like a closed position.
    std::set<std::optional<std::string>> dexes;
    for (const auto& [coin, r] : table) {
      auto colon = coin.find(':');
      dexes.insert(colon == std::string::npos ? std::nullopt : std::optional<std::string>(coin.substr(0, colon)));
    }
    for (const auto& dex : dexes) {
      for (auto& p : s_.orders.positions(dex)) positions.push_back(std::move(p));
      for (auto& o : s_.orders.openOrders(dex)) orders.push_back(std::move(o));
    }
    markets = s_.markets();
  } catch (const std::exception& e) {
    // Without a good read nothing can be said about the positions: no rule
    // goes, no stop moves.
    log::warn("guardian: account read failed: {}", e.what());
    return out;
  }
  out.ran = true;
  for (auto& [coin, rules] : table) {
    const HyperliquidAccount::Position* position = nullptr;
    for (const auto& p : positions) {
      if (p.coin == coin && !p.size.isZero()) position = &p;
    }
    // Rules outlive their position only to act on the next one wrongly.
    if (!position || position->size.isPositive() != rules.long_ || position->size.abs() > rules.openedSize.abs()) {
      try {
        s_.rules.remove(coin);
        out.removed.push_back(coin);
        reported_.erase(coin);
      } catch (const std::exception& e) {
        failed(coin, e.what(), out);
      }
      continue;
    }
    passCoin(coin, rules, *position, orders, markets, out);
  }
  return out;
}

void Guardian::passCoin(const std::string& coin, ExitRules rules, const HyperliquidAccount::Position& position,
                        const std::vector<HyperliquidAccount::Order>& orders, const MarketTable& markets,
                        PassReport& out) {
  const Market* market = markets.find(coin);
  if (!market || !market->markPx.isPositive()) return;
  const HLAsset asset = HLAsset::of(*market);
  const Decimal mark = market->markPx;
  const ExitRules before = rules;
  Decision d = decide(rules, position, orders, *market);
  rules = d.rules;
  const std::optional<Action>& action = d.action;
  const Decimal& target = d.target;

  Notice notice;
  notice.key = "perp:" + coin;
  if (action && std::holds_alternative<StopToBreakeven>(*action)) {
    notice.title = "Partial profit taken on " + coin;
    notice.titleRU = "Частичная прибыль по " + coin;
    notice.text = "Stop moved to breakeven.";
    notice.textRU = "Стоп перенесён в безубыток.";
  } else if (action) {
    const std::string shown = target.toString();
    notice.title = "Trailing stop on " + coin;
    notice.titleRU = "Трейлинг-стоп по " + coin;
    notice.text = "Stop moved to " + shown + ".";
    notice.textRU = "стоп передвинут на " + shown;
  }

  if (action) {
    try {
      s_.orders.moveStop(asset, target, mark);
    } catch (const std::exception& e) {
      // The flag is kept only for a move that happened; the peak stays.
      rules.movedToBreakeven = before.movedToBreakeven;
      if (rules != before) s_.rules.put(coin, rules);
      failed(coin, "The " + coin + " stop couldn't be moved to " + target.toString() + ": " + e.what(), out);
      return;
    }
    reported_.erase(coin);
    out.moved.push_back(coin);
    if (s_.notify) s_.notify(notice);
  }
  if (rules != before) {
    try {
      s_.rules.put(coin, rules);
    } catch (const std::exception& e) {
      failed(coin, e.what(), out);
    }
  }
}

Guardian::Decision Guardian::decide(ExitRules rules, const HyperliquidAccount::Position& position,
                                    const std::vector<HyperliquidAccount::Order>& orders, const Market& market) {
  auto round = [&](const Decimal& p) {
    return p.isPositive() ? HLAction::roundPrice(p, market.szDecimals, false) : p;
  };
  Decision d;
  d.action = step(rules, position.size, restingStop(orders, position.coin, rules.long_), market.markPx, round);
  if (d.action) {
    d.target = std::holds_alternative<StopToBreakeven>(*d.action) ? rules.entry : std::get<StopTo>(*d.action).price;
  }
  d.rules = std::move(rules);
  return d;
}

void Guardian::failed(const std::string& coin, const std::string& message, PassReport& out) {
  out.failures.push_back(message);
  if (!reported_.insert(coin).second) return;
  log::warn("guardian: {}", message);
  if (s_.notify) s_.notify({"perp:" + coin, "Stop not moved on " + coin, message, "Стоп не передвинут по " + coin, message});
}

GuardianLoop::GuardianLoop(Guardian& guardian, const ExitRulesStore& rules, std::function<bool()> alerts)
    : guardian_(guardian), rules_(rules), alerts_(std::move(alerts)) {}

GuardianLoop::~GuardianLoop() { stop(); }

std::chrono::seconds GuardianLoop::round() {
  bool anyAlert = false;
  if (alerts_) {
    try {
      anyAlert = alerts_();
    } catch (const std::exception& e) {
      log::warn("price alerts: {}", e.what());
    }
  }
  (void)guardian_.pass();
  return anyAlert || !rules_.empty() ? kBusyPause : kIdlePause;
}

void GuardianLoop::start() {
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      lock.unlock();
      std::chrono::seconds pause = kIdlePause;
      try {
        pause = round();
      } catch (const std::exception& e) {
        log::warn("guardian: {}", e.what());
      }
      lock.lock();
      // condition_variable waits on the steady clock: a changed wall clock
      // neither skips nor stretches the pause.
      cv_.wait_for(lock, pause, [this] { return stopping_ || woken_; });
      woken_ = false;
    }
  });
}

void GuardianLoop::wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  cv_.notify_all();
}

void GuardianLoop::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

ManualStop manualStop(const Decimal& entry, const Decimal& size, const Decimal& pct,
                      const std::optional<Decimal>& capital, const RiskPolicy& policy) {
  const Decimal d = size.isNegative() ? Decimal(-1) : Decimal(1);
  ManualStop out;
  out.stop = entry * (Decimal(1) - d * pct / Decimal(100));
  const Decimal loss = (entry - out.stop).abs() * size.abs() + size.abs() * (entry + out.stop) * RiskCalc::takerFee();
  if (capital && capital->isPositive() && loss > policy.maxRiskPct * *capital / Decimal(100)) {
    out.refusal = "A " + Fmt::num(pct, 2) + "% stop means −" + Fmt::usd(loss) + ", " +
                  Fmt::num(loss / *capital * Decimal(100), 2) + "% of capital. The rule: at most " +
                  Fmt::num(policy.maxRiskPct, 2) + "%. Stop not moved.";
  }
  return out;
}

}  // namespace orwenna
