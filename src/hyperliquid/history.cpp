#include "hyperliquid/history.h"

#include <algorithm>
#include <future>
#include <set>
#include <tuple>

#include "hyperliquid/account.h"
#include "trading/fmt.h"
#include "trading/market.h"

namespace orwenna::HyperliquidHistory {

namespace {

template <typename F>
auto historyRead(const Hyperliquid::InfoApi& api, const Json& body, F&& parse) {
  const std::string what = body["type"].get<std::string>();
  std::string bytes = Hyperliquid::post(api, body, Hyperliquid::kAccountTimeout);
  auto json = parseJson(bytes);
  if (!json) throw MarketDataError("Hyperliquid sent an unreadable answer to " + what + ".");
  try {
    return parse(*json);
  } catch (const JsonShapeError& e) {
    throw MarketDataError("Hyperliquid's answer to " + what + " has an unexpected shape: " + e.what() + ".");
  } catch (const nlohmann::json::exception& e) {
    throw MarketDataError("Hyperliquid's answer to " + what + " has an unexpected shape: " + e.what() + ".");
  }
}

const Json& rowsOf(const Json& json) {
  if (!json.is_array()) throw JsonShapeError("the answer is not a list");
  return json;
}

std::string lowered(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string shortAddress(const std::string& a) { return a.size() > 12 ? a.substr(0, 6) + "…" + a.substr(a.size() - 4) : a; }

std::string balanceName(const Json& delta, const char* key) {
  auto it = delta.find(key);
  if (it == delta.end() || !it->is_string() || it->get<std::string>().empty()) return "the main balance";
  return it->get<std::string>() + "'s balance";
}

// Pages through a time-ordered read, asking again from the newest time on
// the page until a page brings nothing new (the same row can sit on both
// edges). Times come from the raw rows, so rows the parser leaves out (spot
// fills) still move the paging on.
template <typename Row, typename Key, typename Parse>
std::vector<Row> paged(const Hyperliquid::InfoApi& api, Json body, std::int64_t since, Parse parse, Key key) {
  std::vector<Row> out;
  std::set<decltype(key(std::declval<const Row&>()))> seen;
  std::set<std::string> seenRaw;
  std::int64_t from = since;
  while (true) {
    body["startTime"] = from;
    std::int64_t newest = from;
    bool fresh = false;
    std::vector<Row> page = historyRead(api, body, [&](const Json& j) {
      for (const Json& row : rowsOf(j)) {
        newest = std::max(newest, requireInt(row, "time"));
        if (seenRaw.insert(row.dump()).second) fresh = true;
      }
      return parse(j);
    });
    for (Row& r : page) {
      if (seen.insert(key(r)).second) out.push_back(std::move(r));
    }
    if (!fresh) break;
    from = newest;
  }
  std::stable_sort(out.begin(), out.end(), [](const Row& a, const Row& b) { return a.time < b.time; });
  return out;
}

}  // namespace

std::vector<TradeHistory::Fill> parseFills(const Json& answer) {
  std::vector<TradeHistory::Fill> out;
  for (const Json& row : rowsOf(answer)) {
    TradeHistory::Fill f;
    f.coin = requireString(row, "coin");
    if (TradeHistory::isSpotCoin(f.coin)) continue;
    f.px = requireDecimal(row, "px");
    f.sz = requireDecimal(row, "sz");
    f.side = requireString(row, "side");
    if (f.side != "B" && f.side != "A") throw JsonShapeError("a fill's side is neither B nor A");
    f.time = requireInt(row, "time");
    f.startPosition = requireDecimal(row, "startPosition");
    f.dir = requireString(row, "dir");
    f.closedPnl = requireDecimal(row, "closedPnl");
    f.fee = requireDecimal(row, "fee");
    if (auto it = row.find("hash"); it != row.end() && it->is_string()) f.hash = it->get<std::string>();
    if (auto it = row.find("tid"); it != row.end() && it->is_number_integer()) f.tid = it->get<std::int64_t>();
    out.push_back(std::move(f));
  }
  return out;
}

std::vector<TradeHistory::Funding> parseFunding(const Json& answer) {
  std::vector<TradeHistory::Funding> out;
  for (const Json& row : rowsOf(answer)) {
    const Json& delta = requireField(row, "delta");
    out.push_back({requireInt(row, "time"), requireString(delta, "coin"), requireDecimal(delta, "usdc")});
  }
  return out;
}

std::vector<TradeHistory::Transfer> parseTransfers(const Json& answer, const std::string& user) {
  const std::string me = lowered(user);
  std::vector<TradeHistory::Transfer> out;
  for (const Json& row : rowsOf(answer)) {
    const Json& delta = requireField(row, "delta");
    const std::string type = requireString(delta, "type");
    TradeHistory::Transfer t;
    t.time = requireInt(row, "time");
    if (type == "deposit") {
      t.amount = requireDecimal(delta, "usdc");
      t.text = "Deposited " + Fmt::usd(t.amount) + " (bridge in)";
    } else if (type == "withdraw") {
      const Decimal usdc = requireDecimal(delta, "usdc");
      t.amount = -usdc;
      t.text = "Withdrew " + Fmt::usd(usdc) + " out (bridge to another chain)";
      if (delta.contains("fee")) t.text += ", fee " + Fmt::usd(requireDecimal(delta, "fee"));
    } else if (type == "accountClassTransfer") {
      const Decimal usdc = requireDecimal(delta, "usdc");
      const bool toPerp = delta.value("toPerp", false);
      t.amount = toPerp ? usdc : -usdc;
      t.text = "Moved " + Fmt::usd(usdc) + (toPerp ? " from spot to perps" : " from perps to spot");
    } else if (type == "vaultDeposit") {
      const Decimal usdc = requireDecimal(delta, "usdc");
      t.amount = -usdc;
      t.text = "Moved " + Fmt::usd(usdc) + " into a vault";
    } else if (type == "vaultWithdraw") {
      const Decimal usdc =
          delta.contains("netWithdrawnUsd") ? requireDecimal(delta, "netWithdrawnUsd") : requireDecimal(delta, "usdc");
      t.amount = usdc;
      t.text = "Moved " + Fmt::usd(usdc) + " from a vault";
    } else if (type == "send" || type == "internalTransfer" || type == "subAccountTransfer" ||
               type == "spotTransfer") {
      const Decimal value =
          delta.contains("usdcValue") ? requireDecimal(delta, "usdcValue") : requireDecimal(delta, "amount");
      const std::string from = lowered(delta.value("user", ""));
      const std::string to = lowered(delta.value("destination", ""));
      if (!from.empty() && from == to) {
        // Between this account's own balances (a builder dex's margin).
        t.text = "Moved " + Fmt::usd(value) + " from " + balanceName(delta, "sourceDex") + " to " +
                 balanceName(delta, "destinationDex");
      } else if (from == me) {
        t.amount = -value;
        t.text = "Sent " + Fmt::usd(value) + " to " + shortAddress(delta.value("destination", ""));
      } else {
        t.amount = value;
        t.text = "Received " + Fmt::usd(value) + " from " + shortAddress(delta.value("user", ""));
      }
      if (delta.contains("fee") && !requireDecimal(delta, "fee").isZero()) {
        t.text += ", fee " + Fmt::usd(requireDecimal(delta, "fee"));
      }
    } else {
      continue;  // liquidations, rewards and the like are not money moved
    }
    out.push_back(std::move(t));
  }
  return out;
}

Fills fills(const Hyperliquid::InfoApi& api, const std::string& user, std::int64_t since) {
  Fills out;
  auto key = [](const TradeHistory::Fill& f) {
    return std::make_tuple(f.tid.value_or(-1), f.hash.value_or(""), f.time, f.coin, f.sz.toString(), f.px.toString());
  };
  out.fills = paged<TradeHistory::Fill>(
      api, Json{{"type", "userFillsByTime"}, {"user", user}, {"aggregateByTime", true}}, since,
      [](const Json& j) { return parseFills(j); }, key);
  // Beyond its most recent 10,000 the exchange serves nothing, so a history
  // that long may be missing its oldest fills.
  out.cut = out.fills.size() >= kFillsServed;
  return out;
}

std::vector<TradeHistory::Funding> funding(const Hyperliquid::InfoApi& api, const std::string& user,
                                           std::int64_t since) {
  auto key = [](const TradeHistory::Funding& f) { return std::make_tuple(f.time, f.coin, f.usdc.toString()); };
  return paged<TradeHistory::Funding>(
      api, Json{{"type", "userFunding"}, {"user", user}}, since, [](const Json& j) { return parseFunding(j); }, key);
}

std::vector<TradeHistory::Transfer> transfers(const Hyperliquid::InfoApi& api, const std::string& user,
                                              std::int64_t since) {
  auto key = [](const TradeHistory::Transfer& t) { return std::make_tuple(t.time, t.text, t.amount.toString()); };
  return paged<TradeHistory::Transfer>(
      api, Json{{"type", "userNonFundingLedgerUpdates"}, {"user", user}}, since,
      [&](const Json& j) { return parseTransfers(j, user); }, key);
}

Decimal accountValue(const Hyperliquid::InfoApi& api, const std::string& user) {
  return historyRead(api, Json{{"type", "clearinghouseState"}, {"user", user}},
                     [](const Json& j) { return requireDecimal(requireField(j, "marginSummary"), "accountValue"); });
}

PnL::Report pnlReport(const Hyperliquid::InfoApi& api, const std::string& user, PnL::Period period,
                      const std::optional<std::string>& coin, PortfolioHistory* history) {
  const std::int64_t now = api.clock.nowMillis();
  const std::int64_t since = PnL::periodStart(period, now).value_or(0);
  PnL::Inputs in;
  if (history != nullptr) in.values = history->values();
  // The change may be measured from a value older than the period's start:
  // the money moved since then must be read too.
  std::int64_t ledgerSince = since;
  for (const auto& v : in.values) ledgerSince = std::min(ledgerSince, v.at);
  auto fillsRead = std::async(std::launch::async, [&] { return fills(api, user, since); });
  auto fundingRead = std::async(std::launch::async, [&] { return funding(api, user, since); });
  auto ledgerRead = std::async(std::launch::async, [&] { return transfers(api, user, ledgerSince); });
  std::exception_ptr failure;
  try {
    for (const auto& p : HyperliquidAccount::positions(api, user)) in.positions.push_back({p.coin, p.unrealizedPnl});
    in.valueNow = accountValue(api, user);
  } catch (...) {
    failure = std::current_exception();
  }
  // Every thread is waited for before anything is thrown.
  Fills f;
  try {
    f = fillsRead.get();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  try {
    in.funding = fundingRead.get();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  std::vector<TradeHistory::Transfer> moved;
  try {
    moved = ledgerRead.get();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) std::rethrow_exception(failure);
  in.fills = std::move(f.fills);
  in.historyCut = f.cut;
  for (const auto& t : moved) in.flows.push_back({t.time, t.amount, t.text, "hyperliquid"});
  if (history != nullptr && in.valueNow) history->recordValue({now, *in.valueNow});
  return PnL::report(period, coin, in, now);
}

}  // namespace orwenna::HyperliquidHistory
