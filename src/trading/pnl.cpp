#include "trading/pnl.h"

#include <algorithm>
#include <ctime>
#include <map>

#include "base/files.h"
#include "base/log.h"
#include "trading/fmt.h"

namespace orwenna {

namespace {

constexpr std::int64_t kPnlHourMs = 3'600'000;
constexpr std::int64_t kPnlDayMs = 24 * kPnlHourMs;
constexpr std::size_t kMaxPortfolioValues = 24 * 366;
constexpr std::size_t kMaxPortfolioFlows = 5000;

}  // namespace

namespace TradeHistory {

Decimal Story::result() const {
  Decimal sum;
  for (const Fill& f : fills) sum += f.closedPnl - f.fee;
  return sum;
}

bool isSpotCoin(std::string_view coin) {
  return coin.starts_with("@") || coin.find('/') != std::string_view::npos;
}

std::vector<Story> stories(std::vector<Fill> fills) {
  std::stable_sort(fills.begin(), fills.end(), [](const Fill& a, const Fill& b) {
    return a.coin != b.coin ? a.coin < b.coin : a.time < b.time;
  });
  std::vector<Story> out;
  std::string coin;
  Decimal running;
  std::optional<Story> open;
  auto finish = [&] {
    if (open) out.push_back(std::move(*open));
    open.reset();
  };
  for (const Fill& f : fills) {
    if (f.coin != coin) {
      finish();
      coin = f.coin;
      // Starting from the first fill's own position keeps a sell inside an
      // older long from reading as a new short.
      running = f.startPosition;
      if (!running.isZero()) {
        Fill opening{f.coin, f.px, running.abs(), running.isPositive() ? "B" : "A", f.time, Decimal(),
                     running.isPositive() ? "Open Long" : "Open Short", Decimal(), Decimal(), std::nullopt,
                     std::nullopt};
        open = Story{coin, running.isPositive(), {opening}, false};
      }
    }
    const Decimal delta = f.isBuy() ? f.sz : -f.sz;
    const Decimal after = running + delta;
    if (!open) open = Story{coin, delta.isPositive(), {}, false};
    const bool flips = !running.isZero() && !after.isZero() && running.isPositive() != after.isPositive();
    if (!flips) {
      open->fills.push_back(f);
      running = after;
      if (running.isZero()) {
        open->closed = true;
        finish();
      }
      continue;
    }
    Fill closing = f;
    closing.sz = running.abs();
    open->fills.push_back(closing);
    open->closed = true;
    finish();
    Fill rest = f;
    rest.sz = after.abs();
    rest.startPosition = Decimal();
    rest.closedPnl = Decimal();
    rest.fee = Decimal();
    open = Story{coin, after.isPositive(), {rest}, false};
    running = after;
  }
  finish();
  return out;
}

}  // namespace TradeHistory

namespace PnL {

namespace {


bool inWindow(std::int64_t t, std::optional<std::int64_t> start) { return !start || t >= *start; }
bool coinMatches(const std::string& c, const std::optional<std::string>& coin) { return !coin || c == *coin; }

Json tradeJson(const TradeLine& t) {
  return {{"coin", t.coin}, {"long", t.long_}, {"closed", t.closed}, {"realized", t.realized.toString()}};
}

}  // namespace

std::string_view label(Period period) {
  switch (period) {
    case Period::day: return "24 h";
    case Period::week: return "7 days";
    case Period::month: return "30 days";
    case Period::all: return "all time";
  }
  return "";
}

std::optional<Period> periodFromName(std::string_view name) {
  if (name == "day" || name == "24h") return Period::day;
  if (name == "week" || name == "7d") return Period::week;
  if (name == "month" || name == "30d") return Period::month;
  if (name == "all") return Period::all;
  return std::nullopt;
}

std::optional<std::int64_t> periodStart(Period period, std::int64_t nowMs) {
  switch (period) {
    case Period::day: return nowMs - kPnlDayMs;
    case Period::week: return nowMs - 7 * kPnlDayMs;
    case Period::month: return nowMs - 30 * kPnlDayMs;
    case Period::all: return std::nullopt;
  }
  return std::nullopt;
}

Report report(Period period, const std::optional<std::string>& coin, const Inputs& in, std::int64_t nowMs) {
  Report r;
  r.period = period;
  r.coin = coin;
  const auto start = periodStart(period, nowMs);
  std::map<std::string, AssetLine> assets;
  std::vector<TradeHistory::Fill> mine;
  for (const auto& f : in.fills) {
    if (!coinMatches(f.coin, coin) || TradeHistory::isSpotCoin(f.coin)) continue;
    mine.push_back(f);
    if (!inWindow(f.time, start)) continue;
    r.realized += f.closedPnl - f.fee;
    AssetLine& a = assets[f.coin];
    a.coin = f.coin;
    a.realized += f.closedPnl - f.fee;
  }
  if (in.historyCut && !mine.empty()) {
    std::int64_t oldest = mine.front().time;
    for (const auto& f : mine) oldest = std::min(oldest, f.time);
    if (inWindow(oldest, start) && oldest > start.value_or(0)) r.historyFrom = oldest;
  }
  for (const auto& story : TradeHistory::stories(std::move(mine))) {
    if (!story.closed || !inWindow(story.fills.back().time, start)) continue;
    TradeLine line{story.coin, story.long_, story.fills.back().time, story.result()};
    ++r.closedTrades;
    if (line.realized.isPositive()) ++r.wins;
    AssetLine& a = assets[story.coin];
    a.coin = story.coin;
    ++a.closedTrades;
    if (!r.best || line.realized > r.best->realized) r.best = line;
    if (!r.worst || line.realized < r.worst->realized) r.worst = line;
  }
  for (auto& [name, line] : assets) r.byAsset.push_back(std::move(line));
  for (const auto& f : in.funding) {
    if (inWindow(f.time, start) && coinMatches(f.coin, coin)) r.funding += f.usdc;
  }
  for (const auto& p : in.positions) {
    if (coinMatches(p.coin, coin)) r.unrealized += p.unrealized;
  }
  // The portfolio line is about the whole account: no change for one coin.
  std::optional<std::int64_t> flowsFrom = start;
  if (!coin && in.valueNow && !in.values.empty()) {
    const std::int64_t target = start.value_or(0);
    const Value* closest = &in.values.front();
    for (const auto& v : in.values) {
      auto dist = [&](const Value& x) { return x.at > target ? x.at - target : target - x.at; };
      if (dist(v) < dist(*closest)) closest = &v;
    }
    r.changeSince = closest->at;
    flowsFrom = closest->at;
  }
  for (const auto& f : in.flows) {
    if (inWindow(f.at, flowsFrom)) r.flows += f.usd;
  }
  if (r.changeSince) {
    Decimal then;
    for (const auto& v : in.values) {
      if (v.at == *r.changeSince) then = v.usd;
    }
    // A deposit raises the value without being a gain.
    r.change = *in.valueNow - then - r.flows;
  }
  return r;
}

std::string localDate(std::int64_t ms) {
  std::time_t t = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
  return buf;
}

std::vector<std::string> text(const Report& r, const std::function<std::string(std::int64_t)>& date) {
  auto day = [&](std::int64_t ms) { return date ? date(ms) : localDate(ms); };
  std::vector<std::string> out;
  const std::string period = r.historyFrom ? "since " + day(*r.historyFrom) : std::string(label(r.period));
  out.push_back("P/L " + period + (r.coin ? " on " + *r.coin : "") + ": trading " +
                Fmt::signedUsd(r.realized + r.funding) + " (realized after fees " + Fmt::signedUsd(r.realized) +
                ", funding " + Fmt::signedUsd(r.funding) + "), " + std::to_string(r.closedTrades) +
                " closed trades, " + std::to_string(r.wins) + " in profit; open positions now " +
                Fmt::signedUsd(r.unrealized) + ".");
  if (r.change && r.changeSince) {
    out.push_back("Portfolio " + std::string(label(r.period)) + ": " + Fmt::signedUsd(*r.change) + " since " +
                  day(*r.changeSince) + ", not counting " + Fmt::signedUsd(r.flows) +
                  " of money moved in or out (lending yield and price moves are inside this).");
  }
  if (r.best && r.best->realized.isPositive()) {
    out.push_back("Best trade: " + std::string(r.best->long_ ? "long" : "short") + " " + r.best->coin + " " +
                  Fmt::signedUsd(r.best->realized) + ".");
  }
  if (r.worst && r.worst->realized.isNegative()) {
    out.push_back("Worst trade: " + std::string(r.worst->long_ ? "long" : "short") + " " + r.worst->coin + " " +
                  Fmt::signedUsd(r.worst->realized) + ".");
  }
  return out;
}

Json toJson(const Report& r) {
  Json j = Json::object();
  j["period"] = std::string(label(r.period));
  j["coin"] = r.coin ? Json(*r.coin) : Json(nullptr);
  j["realized"] = r.realized.toString();
  j["funding"] = r.funding.toString();
  j["unrealized"] = r.unrealized.toString();
  j["change"] = r.change ? Json(r.change->toString()) : Json(nullptr);
  j["changeSince"] = r.changeSince ? Json(*r.changeSince) : Json(nullptr);
  j["flows"] = r.flows.toString();
  Json assets = Json::array();
  for (const auto& a : r.byAsset) {
    assets.push_back({{"coin", a.coin}, {"realized", a.realized.toString()}, {"closedTrades", a.closedTrades}});
  }
  j["byAsset"] = std::move(assets);
  j["closedTrades"] = r.closedTrades;
  j["wins"] = r.wins;
  j["best"] = r.best ? tradeJson(*r.best) : Json(nullptr);
  j["worst"] = r.worst ? tradeJson(*r.worst) : Json(nullptr);
  j["historyFrom"] = r.historyFrom ? Json(*r.historyFrom) : Json(nullptr);
  return j;
}

}  // namespace PnL

Json PortfolioHistory::load() const {
  auto text = readFile(file_);
  if (!text) return Json::object();
  Json j = Json::parse(*text, nullptr, false);
  if (!j.is_object()) {
    log::warn("portfolio history does not decode, starting afresh: {}", file_.string());
    return Json::object();
  }
  return j;
}

void PortfolioHistory::store(const Json& j) const {
  std::filesystem::create_directories(file_.parent_path());
  writeFileAtomically(file_, j.dump());
}

std::vector<PnL::Value> PortfolioHistory::values() const {
  std::lock_guard lock(mutex_);
  std::vector<PnL::Value> out;
  Json j = load();
  if (!j.contains("values") || !j["values"].is_array()) return out;
  for (const auto& v : j["values"]) {
    auto usd = v.is_object() && v.contains("usd") && v["usd"].is_string()
                   ? Decimal::tryParse(v["usd"].get<std::string>())
                   : std::nullopt;
    if (usd && v.contains("at") && v["at"].is_number_integer()) out.push_back({v["at"].get<std::int64_t>(), *usd});
  }
  return out;
}

std::vector<PnL::Flow> PortfolioHistory::flows() const {
  std::lock_guard lock(mutex_);
  std::vector<PnL::Flow> out;
  Json j = load();
  if (!j.contains("flows") || !j["flows"].is_array()) return out;
  for (const auto& f : j["flows"]) {
    if (!f.is_object() || !f.contains("at") || !f["at"].is_number_integer() || !f.contains("usd") ||
        !f["usd"].is_string())
      continue;
    auto usd = Decimal::tryParse(f["usd"].get<std::string>());
    if (!usd) continue;
    out.push_back({f["at"].get<std::int64_t>(), *usd, f.value("note", ""), f.value("wallet", "")});
  }
  return out;
}

void PortfolioHistory::recordValue(const PnL::Value& value) {
  std::lock_guard lock(mutex_);
  Json j = load();
  Json& values = j["values"];
  if (!values.is_array()) values = Json::array();
  if (!values.empty() && values.back().is_object() && values.back().contains("at") &&
      values.back()["at"].is_number_integer() && value.at - values.back()["at"].get<std::int64_t>() < kPnlHourMs) {
    return;
  }
  values.push_back({{"at", value.at}, {"usd", value.usd.toString()}});
  if (values.size() > kMaxPortfolioValues) values.erase(values.begin(), values.begin() + (values.size() - kMaxPortfolioValues));
  store(j);
}

void PortfolioHistory::addFlow(const PnL::Flow& flow) {
  std::lock_guard lock(mutex_);
  Json j = load();
  Json& flows = j["flows"];
  if (!flows.is_array()) flows = Json::array();
  flows.push_back({{"at", flow.at}, {"usd", flow.usd.toString()}, {"note", flow.note}, {"wallet", flow.wallet}});
  if (flows.size() > kMaxPortfolioFlows) flows.erase(flows.begin(), flows.begin() + (flows.size() - kMaxPortfolioFlows));
  store(j);
}

}  // namespace orwenna
