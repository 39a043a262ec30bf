#include "execution/hl_orders.h"

#include <algorithm>
#include <utility>

#include "base/text.h"
#include "execution/execution_error.h"
#include "hyperliquid/exchange.h"
#include "trading/risk_calc.h"

namespace orwenna {

namespace {

using EntryKind = Journal::Entry::Kind;
using Position = HyperliquidAccount::Position;
using AccountOrder = HyperliquidAccount::Order;

// An IOC fills within 1% of the mid or not at all.
const Decimal& iocBound(bool isBuy) {
  static const Decimal up = Decimal::parse("1.01");
  static const Decimal down = Decimal::parse("0.99");
  return isBuy ? up : down;
}

// Past its trigger a stop or take is a market order bounded 10% away, so a
// fast market still fills it.
const Decimal& triggerBound(bool isBuy) {
  static const Decimal up = Decimal::parse("1.1");
  static const Decimal down = Decimal::parse("0.9");
  return isBuy ? up : down;
}

std::string sideWord(bool isLong) { return isLong ? "long" : "short"; }

// The exchange's words end a sentence of ours; add the full stop they lack.
std::string sentence(std::string text) {
  if (text.empty() || (text.back() != '.' && text.back() != '!' && text.back() != '?')) text += '.';
  return text;
}

// The exchange's words inside a sentence of ours that goes on after them.
std::string clause(std::string text) {
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

std::string unprotectedLine(bool isLong, const std::string& reason) {
  return "The " + sideWord(isLong) + " position is still open WITHOUT a stop (" + reason +
         "): set one or close it on Hyperliquid now.";
}

// The status of the i-th order of an action; a whole-action error stands for
// every order in it.
const HLOrderStatus* statusAt(const HLReply& reply, std::size_t i) {
  return i < reply.statuses.size() ? &reply.statuses[i] : nullptr;
}

bool orderFailed(const HLReply& reply, std::size_t i) {
  if (reply.statuses.empty()) return reply.kind == HLReply::Kind::error;
  const HLOrderStatus* s = statusAt(reply, i);
  return s != nullptr && s->failed();
}

std::string failureOf(const HLReply& reply, std::size_t i) {
  const HLOrderStatus* s = statusAt(reply, i);
  return s != nullptr && s->failed() ? s->message : reply.message;
}

std::uint64_t bodyNonce(const MsgPack& action) {
  for (const char* key : {"nonce", "time"}) {
    if (const MsgPack* v = action.find(key); v != nullptr && v->uintValue() != nullptr) return *v->uintValue();
  }
  throw ExecutionError("No nonce");
}

}  // namespace

HLAsset HLAsset::of(const Market& market) { return {market.name, market.index, market.szDecimals, market.dex}; }

std::string HLOrders::Report::text() const { return text::join(lines, "\n"); }

HLOrders::HLOrders(Setup setup) : setup_(std::move(setup)) {}

Hyperliquid::InfoApi HLOrders::info() const {
  return {setup_.http, setup_.clock, setup_.endpoints.root(setup_.mainnet)};
}

std::vector<Position> HLOrders::positions(const std::optional<std::string>& dex) const {
  return HyperliquidAccount::positions(info(), setup_.account, dex);
}

std::vector<AccountOrder> HLOrders::openOrders(const std::optional<std::string>& dex) const {
  return HyperliquidAccount::openOrders(info(), setup_.account, dex);
}

std::optional<Position> HLOrders::positionOf(const HLAsset& asset) const {
  for (Position& p : positions(asset.dex)) {
    if (p.coin == asset.coin) return std::move(p);
  }
  return std::nullopt;
}

HLReply HLOrders::post(const MsgPack& action, std::uint64_t nonce, const EVMSignature& signature,
                       std::string_view note) {
  const std::string id = std::to_string(nonce);
  setup_.journal.append({setup_.clock.nowMillis(), "hyperliquid", id, EntryKind::signed_, std::string(note)});
  HttpResponse response =
      HLExchange::send(setup_.http, HLExchange::body(action, nonce, signature, std::nullopt), setup_.mainnet,
                       setup_.endpoints);
  HLReply reply = HLReply::parse(response.status, response.body);
  // An unclear reply says nothing of the action's fate: the entry stays open.
  if (!reply.unclear) {
    setup_.journal.append({setup_.clock.nowMillis(), "hyperliquid", id,
                           reply.kind == HLReply::Kind::error ? EntryKind::failed : EntryKind::confirmed, reply.text()});
  }
  return reply;
}

HLReply HLOrders::submit(const MsgPack& action, std::string_view note) {
  std::lock_guard lock(submitMutex_);
  std::uint64_t nonce = setup_.nonces.next();
  EVMSignature signature = setup_.signer.signHyperliquidL1(action, nonce, setup_.mainnet);
  return post(action, nonce, signature, note);
}

HLReply HLOrders::submitUser(const std::function<MsgPack(std::uint64_t nonce)>& build, std::string_view note,
                             const std::vector<std::string>& recipients) {
  std::lock_guard lock(submitMutex_);
  MsgPack action = build(setup_.nonces.next());
  std::uint64_t nonce = bodyNonce(action);
  EVMSignature signature = setup_.signer.signHyperliquidUser(action, setup_.mainnet, recipients);
  return post(action, nonce, signature, note);
}

HLOrder HLOrders::ioc(const HLAsset& asset, bool isBuy, const Decimal& size, const Decimal& mid,
                      bool reduceOnly) const {
  HLOrder o;
  o.asset = asset.index;
  o.isBuy = isBuy;
  o.price = HLAction::roundPrice(mid * iocBound(isBuy), asset.szDecimals, false);
  o.size = HLAction::roundSize(size, asset.szDecimals);
  o.reduceOnly = reduceOnly;
  o.kind = HLOrder::Limit{"Ioc"};
  return o;
}

HLOrder HLOrders::trigger(const HLAsset& asset, bool closesLong, const Decimal& size, const Decimal& triggerPx,
                          const char* tpsl) const {
  HLOrder o;
  o.asset = asset.index;
  o.isBuy = !closesLong;
  o.price = HLAction::roundPrice(triggerPx * triggerBound(o.isBuy), asset.szDecimals, false);
  o.size = HLAction::roundSize(size, asset.szDecimals);
  o.reduceOnly = true;
  o.kind = HLOrder::Trigger{HLAction::roundPrice(triggerPx, asset.szDecimals, false), true, tpsl};
  return o;
}

std::string HLOrders::setLeverage(const HLAsset& asset, int leverage) {
  const std::string shown = std::to_string(leverage) + "×";
  HLReply reply;
  try {
    reply = submit(HLAction::updateLeverage(asset.index, false, leverage), "leverage");
  } catch (const NetError& e) {
    throw ExecutionError("Hyperliquid didn't answer the leverage change (" + std::string(e.what()) +
                         "). No order was placed.");
  }
  if (reply.kind == HLReply::Kind::error || reply.unclear) {
    throw ExecutionError("Hyperliquid rejected leverage " + shown + ": " + sentence(reply.message) +
                         " No order was placed.");
  }
  return "Leverage " + shown + ", isolated margin.";
}

HLOrders::OpenResult HLOrders::openPosition(const OpenPlan& plan) {
  OpenResult out;
  out.lines.push_back(setLeverage(plan.asset, plan.leverage));
  const std::string side = sideWord(plan.isLong);

  HLOrder entry = ioc(plan.asset, plan.isLong, plan.size, plan.mid, false);
  std::optional<std::string> lostReason;
  try {
    HLReply reply = submit(HLAction::order(std::span(&entry, 1), "na"), "entry");
    if (reply.unclear) {
      lostReason = reply.message.substr(0, 120);
    } else if (reply.kind == HLReply::Kind::filled) {
      out.size = reply.size;
      out.avgPx = reply.avgPx;
      out.lines.push_back("Entry " + reply.text() + ".");
    } else if (reply.kind == HLReply::Kind::error) {
      out.lines.push_back("The entry didn't fill (" + clause(reply.message) +
                          "). No position; the money is on your Hyperliquid balance.");
      return out;
    } else {
      lostReason = "the exchange answered " + reply.text();
    }
  } catch (const NetError& e) {
    lostReason = e.what();
  }

  if (lostReason) {
    std::optional<Position> found;
    try {
      found = positionOf(plan.asset);
    } catch (const std::exception& e) {
      out.position = OpenResult::Position::unknown;
      out.lines.push_back("The entry's reply didn't come (" + *lostReason + ") and the positions couldn't be read (" +
                          e.what() + "): whether a " + side + " position is open is unknown — check Hyperliquid now.");
      return out;
    }
    if (!found || found->size.isPositive() != plan.isLong) {
      out.lines.push_back("The entry's reply didn't come (" + *lostReason + "); no " + side +
                          " position is open, the money is on your Hyperliquid balance.");
      return out;
    }
    out.size = found->size.abs();
    out.avgPx = found->entry;
    out.lines.push_back("The entry's reply didn't come, but the " + side + " position is open: placing its stop.");
  }
  protect(plan, out);
  return out;
}

void HLOrders::protect(const OpenPlan& plan, OpenResult& out) {
  out.position = OpenResult::Position::unprotected;
  if (!plan.stop) {
    out.lines.push_back(unprotectedLine(plan.isLong, "no stop was planned"));
    return;
  }
  std::vector<HLOrder> orders{trigger(plan.asset, plan.isLong, out.size, *plan.stop, "sl")};
  if (plan.take) orders.push_back(trigger(plan.asset, plan.isLong, out.size, *plan.take, "tp"));

  HLReply reply;
  std::optional<std::string> lost;
  try {
    reply = submit(HLAction::order(orders, "positionTpsl"), plan.take ? "stop and take-profit" : "stop");
    if (reply.unclear) lost = reply.message.substr(0, 120);
  } catch (const NetError& e) {
    lost = e.what();
  } catch (const SignerError& e) {
    // A refused signature leaves the filled position bare: close it.
    out.lines.push_back("The stop didn't go through: " + clause(e.what()) +
                        ". Closing the position so it isn't left unprotected.");
    emergencyClose(plan, HLReply{}, out);
    return;
  }
  if (lost) {
    // The stop may rest anyway; only the book can say.
    try {
      for (const AccountOrder& o : openOrders(plan.asset.dex)) {
        if (o.coin == plan.asset.coin && o.isStop()) {
          out.position = OpenResult::Position::protectedByStop;
          out.lines.push_back("The stop's reply didn't come, but the stop rests on Hyperliquid.");
          return;
        }
      }
    } catch (const std::exception&) {
    }
    out.lines.push_back(unprotectedLine(plan.isLong, "the stop's reply didn't come: " + *lost));
    return;
  }

  if (orderFailed(reply, 0)) {
    out.lines.push_back("The stop didn't go through: " + clause(failureOf(reply, 0)) +
                        ". Closing the position so it isn't left unprotected.");
    emergencyClose(plan, reply, out);
    return;
  }
  out.position = OpenResult::Position::protectedByStop;
  std::string placed = "Stop at " + std::get<HLOrder::Trigger>(orders[0].kind).price.toString();
  if (plan.take && orderFailed(reply, 1)) {
    out.lines.push_back(placed + " placed.");
    out.lines.push_back("The take-profit didn't go through: " + sentence(failureOf(reply, 1)) +
                        " The stop is in place; the position stays open.");
  } else {
    if (plan.take) placed += " and take-profit at " + std::get<HLOrder::Trigger>(orders[1].kind).price.toString();
    out.lines.push_back(placed + " placed.");
  }

  if (!plan.partialTake) return;
  Decimal half = HLAction::roundSize(out.size / Decimal(2), plan.asset.szDecimals);
  if (half * out.avgPx < RiskCalc::minNotional()) {
    out.lines.push_back("Partial take-profit skipped: half the position is below the $10 minimum order.");
    return;
  }
  HLOrder partial = trigger(plan.asset, plan.isLong, half, *plan.partialTake, "tp");
  try {
    HLReply p = submit(HLAction::order(std::span(&partial, 1), "na"), "partial take-profit");
    if (p.kind == HLReply::Kind::error) {
      out.lines.push_back("The partial take-profit didn't go through: " + sentence(p.message));
    } else {
      out.lines.push_back("Partial take-profit for " + half.toString() + " at " +
                          std::get<HLOrder::Trigger>(partial.kind).price.toString() + " placed.");
    }
  } catch (const NetError& e) {
    out.lines.push_back("The partial take-profit's reply didn't come (" + std::string(e.what()) + ").");
  }
}

void HLOrders::emergencyClose(const OpenPlan& plan, const HLReply& protection, OpenResult& out) {
  // The price may have run since the fill: bound the exit around the live mid.
  Decimal mid = out.avgPx.isPositive() ? out.avgPx : plan.mid;
  try {
    auto mids = HyperliquidAccount::mids(info());
    if (auto it = mids.find(plan.asset.coin); it != mids.end() && it->second.isPositive()) mid = it->second;
  } catch (const std::exception&) {
  }
  HLOrder exit = ioc(plan.asset, !plan.isLong, out.size, mid, true);
  std::string failure;
  try {
    HLReply reply = submit(HLAction::order(std::span(&exit, 1), "na"), "close");
    if (reply.kind == HLReply::Kind::filled) {
      out.position = OpenResult::Position::closed;
      out.lines.push_back("Closed the " + sideWord(plan.isLong) + " " + plan.asset.coin + ": " + reply.text() + ".");
    } else {
      failure = reply.unclear ? "the close's reply was unreadable" : "the close " + reply.text();
    }
  } catch (const NetError& e) {
    failure = "the close's reply didn't come: " + std::string(e.what());
  } catch (const SignerError& e) {
    failure = "the close wasn't signed: " + clause(e.what());
  }
  if (!failure.empty()) {
    out.position = OpenResult::Position::unprotected;
    out.lines.push_back(unprotectedLine(plan.isLong, failure));
    return;
  }
  // A take that went through is reduce-only and now guards nothing.
  std::vector<std::uint64_t> orphans;
  for (std::size_t i = 1; i < protection.statuses.size(); ++i) {
    if (protection.statuses[i].oid && !protection.statuses[i].failed()) orphans.push_back(*protection.statuses[i].oid);
  }
  if (orphans.empty() && plan.take && !orderFailed(protection, 1)) {
    try {
      for (const AccountOrder& o : openOrders(plan.asset.dex)) {
        if (o.coin == plan.asset.coin && o.isTake()) orphans.push_back(o.oid);
      }
    } catch (const std::exception& e) {
      out.lines.push_back("The take-profit may still rest on Hyperliquid (" + std::string(e.what()) + ").");
    }
  }
  if (!orphans.empty()) cancelQuietly(plan.asset, orphans, "orphaned take-profit", out);
}

void HLOrders::cancelQuietly(const HLAsset& asset, const std::vector<std::uint64_t>& oids, const std::string& what,
                             Report& out) {
  Report r = cancel(asset, oids, what);
  out.lines.insert(out.lines.end(), r.lines.begin(), r.lines.end());
}

HLOrders::Report HLOrders::placeLimit(const LimitPlan& plan) {
  HLOrder entry;
  entry.asset = plan.asset.index;
  entry.isBuy = plan.isLong;
  entry.price = HLAction::roundPrice(plan.price, plan.asset.szDecimals, false);
  entry.size = HLAction::roundSize(plan.size, plan.asset.szDecimals);
  entry.kind = HLOrder::Limit{"Gtc"};
  std::vector<HLOrder> orders{entry};
  if (plan.stop) orders.push_back(trigger(plan.asset, plan.isLong, entry.size, *plan.stop, "sl"));
  if (plan.take) orders.push_back(trigger(plan.asset, plan.isLong, entry.size, *plan.take, "tp"));
  HLReply reply;
  try {
    reply = submit(HLAction::order(orders, orders.size() > 1 ? "normalTpsl" : "na"),
                   plan.stop ? "limit with stop and take-profit" : "limit entry");
  } catch (const NetError& e) {
    throw ExecutionError("The limit order's reply didn't come (" + std::string(e.what()) +
                         "): check your open orders on Hyperliquid.");
  }
  if (reply.unclear) {
    throw ExecutionError("Hyperliquid's reply to the limit order was unreadable: check your open orders on Hyperliquid.");
  }
  if (reply.kind == HLReply::Kind::error) throw ExecutionError("Hyperliquid rejected the limit order: " + sentence(reply.message));
  Report out;
  std::string line = "Limit placed: " + sideWord(plan.isLong) + " " + entry.size.toString() + " " + plan.asset.coin +
                     " at " + entry.price.toString();
  if (plan.stop) line += ", stop " + std::get<HLOrder::Trigger>(orders[1].kind).price.toString();
  if (plan.take) line += ", take-profit " + std::get<HLOrder::Trigger>(orders.back().kind).price.toString();
  out.lines.push_back(line + (reply.kind == HLReply::Kind::filled ? " (filled at once: " + reply.text() + ")." : "."));
  return out;
}

HLOrders::Report HLOrders::close(const HLAsset& asset, const Decimal& mid) {
  std::optional<Position> pos = positionOf(asset);
  if (!pos) throw ExecutionError("No open " + asset.coin + " position.");
  bool isLong = pos->size.isPositive();
  HLOrder exit = ioc(asset, !isLong, pos->size.abs(), mid, true);
  HLReply reply;
  try {
    reply = submit(HLAction::order(std::span(&exit, 1), "na"), "close");
  } catch (const NetError& e) {
    throw ExecutionError("The close's reply didn't come (" + std::string(e.what()) + "): check the " + asset.coin +
                         " position on Hyperliquid now.");
  }
  if (reply.kind != HLReply::Kind::filled) {
    throw ExecutionError("Hyperliquid didn't close the " + asset.coin + " position (" + reply.text().substr(0, 200) +
                         "). It is still open.");
  }
  Report out;
  out.lines.push_back("Closed the " + sideWord(isLong) + " " + pos->size.abs().toString() + " " + asset.coin + ": " +
                      reply.text() + " (PnL before the close: " + pos->unrealizedPnl.toString() + " USDC).");
  // Stops and takes of a closed position would only open a new one.
  std::vector<std::uint64_t> leftovers;
  try {
    for (const AccountOrder& o : openOrders(asset.dex)) {
      if (o.coin == asset.coin && o.isTrigger && o.reduceOnly) leftovers.push_back(o.oid);
    }
  } catch (const std::exception&) {
  }
  if (!leftovers.empty()) cancelQuietly(asset, leftovers, "leftover stop and take-profit", out);
  return out;
}

HLOrders::Report HLOrders::partialClose(const HLAsset& asset, const Decimal& size, const Decimal& mid) {
  std::optional<Position> pos = positionOf(asset);
  if (!pos) throw ExecutionError("No open " + asset.coin + " position.");
  bool isLong = pos->size.isPositive();
  Decimal part = std::min(size, pos->size.abs());
  HLOrder exit = ioc(asset, !isLong, part, mid, true);
  HLReply reply;
  try {
    reply = submit(HLAction::order(std::span(&exit, 1), "na"), "partial close");
  } catch (const NetError& e) {
    throw ExecutionError("The partial close's reply didn't come (" + std::string(e.what()) + "): check the " +
                         asset.coin + " position on Hyperliquid now.");
  }
  if (reply.kind != HLReply::Kind::filled) {
    throw ExecutionError("Hyperliquid didn't close part of the " + asset.coin + " position (" +
                         reply.text().substr(0, 200) + "). It is unchanged.");
  }
  Report out;
  out.lines.push_back("Closed " + reply.size.toString() + " " + asset.coin + " at " + reply.avgPx.toString() + ", " +
                      (pos->size.abs() - reply.size).toString() + " left, stop and take-profit in place.");
  return out;
}

HLOrders::Report HLOrders::moveStop(const HLAsset& asset, const Decimal& stop, const Decimal& mid,
                                    const std::optional<Decimal>& breakevenEntry) {
  std::optional<Position> pos = positionOf(asset);
  if (!pos) throw ExecutionError("No open " + asset.coin + " position.");
  bool isLong = pos->size.isPositive();
  HLOrder fresh = trigger(asset, isLong, pos->size.abs(), stop, "sl");
  const std::string shown = std::get<HLOrder::Trigger>(fresh.kind).price.toString();
  if (isLong ? stop >= mid : stop <= mid) {
    throw ExecutionError("Stop " + shown + " is " + (isLong ? "at or above" : "at or below") + " the price " +
                         mid.toString() + ": it would trigger at once. To exit, type «close».");
  }
  std::vector<AccountOrder> before = openOrders(asset.dex);
  HLReply reply;
  try {
    reply = submit(HLAction::order(std::span(&fresh, 1), "positionTpsl"), "stop");
  } catch (const NetError& e) {
    throw ExecutionError("The new stop's reply didn't come (" + std::string(e.what()) +
                         "); the old stop was left in place.");
  }
  if (reply.kind == HLReply::Kind::error || reply.unclear) {
    throw ExecutionError("New stop rejected: " + sentence(reply.message.substr(0, 200)) + " The old stop stays.");
  }
  Report out;
  out.lines.push_back(breakevenEntry ? "Stop moved to " + shown + " (entry " + breakevenEntry->toString() +
                                           " plus fees). The trade can no longer end in a loss, barring slippage."
                                     : "Stop moved to " + shown + ".");
  std::vector<HLCancel> old;
  std::string oldPrices;
  for (const AccountOrder& o : before) {
    if (o.coin != asset.coin || !o.isStop()) continue;
    old.push_back({asset.index, static_cast<std::int64_t>(o.oid)});
    oldPrices += (oldPrices.empty() ? "" : ", ") + (o.triggerPx ? o.triggerPx->toString() : "#" + std::to_string(o.oid));
  }
  if (old.empty()) return out;
  std::string failure;
  try {
    HLReply c = submit(HLAction::cancel(old), "cancel");
    if (c.kind == HLReply::Kind::error || c.unclear) failure = c.message.substr(0, 200);
  } catch (const NetError& e) {
    failure = e.what();
  }
  if (failure.empty()) return out;
  // A failed cancel may mean the old stop is already gone: only the book says
  // whether two stops now rest.
  bool stillThere = true;
  try {
    stillThere = false;
    for (const AccountOrder& o : openOrders(asset.dex)) {
      for (const HLCancel& c : old) stillThere = stillThere || o.oid == static_cast<std::uint64_t>(c.orderId);
    }
  } catch (const std::exception&) {
    stillThere = true;
  }
  if (stillThere) {
    out.lines.push_back("Hyperliquid didn't cancel the old stop at " + oldPrices + " (" + failure +
                        "): both stops rest, cancel the old one on Hyperliquid.");
  }
  return out;
}

HLOrders::Report HLOrders::moveTake(const HLAsset& asset, const Decimal& take, const Decimal& mid) {
  std::optional<Position> pos = positionOf(asset);
  if (!pos) throw ExecutionError("No open " + asset.coin + " position.");
  bool isLong = pos->size.isPositive();
  HLOrder fresh = trigger(asset, isLong, pos->size.abs(), take, "tp");
  const std::string shown = std::get<HLOrder::Trigger>(fresh.kind).price.toString();
  if (isLong ? take <= mid : take >= mid) {
    throw ExecutionError("Take-profit " + shown + " is " + (isLong ? "at or below" : "at or above") + " the price " +
                         mid.toString() + ": it would trigger at once.");
  }
  std::vector<AccountOrder> before = openOrders(asset.dex);
  HLReply reply;
  try {
    reply = submit(HLAction::order(std::span(&fresh, 1), "positionTpsl"), "take-profit");
  } catch (const NetError& e) {
    throw ExecutionError("The new take-profit's reply didn't come (" + std::string(e.what()) +
                         "); the old one was left in place.");
  }
  if (reply.kind == HLReply::Kind::error || reply.unclear) {
    throw ExecutionError("New take-profit rejected: " + sentence(reply.message.substr(0, 200)) + " The old one stays.");
  }
  std::vector<HLCancel> old;
  for (const AccountOrder& o : before) {
    if (o.coin == asset.coin && o.isTake()) old.push_back({asset.index, static_cast<std::int64_t>(o.oid)});
  }
  bool kept = false;
  if (!old.empty()) {
    try {
      HLReply c = submit(HLAction::cancel(old), "cancel");
      kept = c.kind == HLReply::Kind::error || c.unclear;
    } catch (const NetError&) {
      kept = true;
    }
  }
  Report out;
  out.lines.push_back("Take-profit moved to " + shown + (kept ? ". The old one stays." : "."));
  return out;
}

HLOrders::Report HLOrders::cancel(const HLAsset& asset, const std::vector<std::uint64_t>& oids, const std::string& what) {
  std::vector<HLCancel> cancels;
  for (std::uint64_t oid : oids) cancels.push_back({asset.index, static_cast<std::int64_t>(oid)});
  Report out;
  HLReply reply;
  try {
    reply = submit(HLAction::cancel(cancels), "cancel");
  } catch (const NetError& e) {
    out.lines.push_back("Hyperliquid didn't cancel the " + what + ": its reply didn't come (" + e.what() + ").");
    return out;
  }
  if (reply.unclear || (reply.kind == HLReply::Kind::error && reply.statuses.empty())) {
    out.lines.push_back("Hyperliquid didn't cancel the " + what + ": " + sentence(reply.message.substr(0, 200)));
    return out;
  }
  std::size_t failed = 0;
  for (const HLOrderStatus& s : reply.statuses) {
    if (!s.failed()) continue;
    ++failed;
    out.lines.push_back("Hyperliquid didn't cancel the " + what + ": " + sentence(s.message));
  }
  if (failed == 0) out.lines.push_back("Cancelled the " + what + ".");
  return out;
}

HLOrders::Report HLOrders::spotOrder(const std::string& pairName, int pairIndex, int szDecimals, bool isBuy,
                                     const Decimal& size, const Decimal& mid) {
  HLOrder o;
  o.asset = 10000 + pairIndex;
  o.isBuy = isBuy;
  o.price = HLAction::roundPrice(mid * iocBound(isBuy), szDecimals, true);
  o.size = HLAction::roundSize(size, szDecimals);
  o.kind = HLOrder::Limit{"Ioc"};
  HLReply reply;
  try {
    reply = submit(HLAction::order(std::span(&o, 1), "na"), isBuy ? "spot buy" : "spot sell");
  } catch (const NetError& e) {
    throw ExecutionError("The " + pairName + " order's reply didn't come (" + std::string(e.what()) +
                         "): check your spot balances on Hyperliquid.");
  }
  if (reply.kind != HLReply::Kind::filled) {
    throw ExecutionError("The " + pairName + " order didn't fill (" + reply.text().substr(0, 200) + ").");
  }
  Report out;
  out.lines.push_back(std::string(isBuy ? "Bought " : "Sold ") + reply.size.toString() + " " + pairName + " at " +
                      reply.avgPx.toString() + ".");
  return out;
}

namespace {

void requireAccepted(const HLReply& reply, const std::string& what) {
  if (reply.unclear) {
    throw ExecutionError("Hyperliquid's reply to the " + what + " was unreadable: check your balances before trying again.");
  }
  if (reply.kind == HLReply::Kind::error) throw ExecutionError("Hyperliquid refused the " + what + ": " + sentence(reply.message));
}

}  // namespace

HLOrders::Report HLOrders::usdClassTransfer(const Decimal& amount, bool toPerp) {
  const bool mainnet = setup_.mainnet;
  HLReply reply = submitUser(
      [&](std::uint64_t nonce) { return HLAction::usdClassTransfer(amount, toPerp, nonce, mainnet); },
      "usdClassTransfer", {});
  requireAccepted(reply, "transfer");
  return {{"Moved " + amount.toString() + " USDC from " + (toPerp ? "spot to perp." : "perp to spot.")}};
}

HLOrders::Report HLOrders::sendToDex(const Decimal& amount, const std::string& dex) {
  const bool mainnet = setup_.mainnet;
  const std::string& me = setup_.account;
  HLReply reply = submitUser(
      [&](std::uint64_t nonce) { return HLAction::sendAsset(me, "", dex, kUSDCToken, amount, "", nonce, mainnet); },
      "sendAsset", {me});
  requireAccepted(reply, "transfer");
  return {{"Transfer " + amount.toString() + " USDC from the main Hyperliquid balance to the " + dex +
           " exchange — its markets have their own margin."}};
}

HLOrders::Report HLOrders::usdSend(const std::string& destination, const Decimal& amount) {
  if (text::asciiLowercased(destination) == text::asciiLowercased(setup_.account)) {
    throw ExecutionError("That is this wallet's own Hyperliquid account.");
  }
  const bool mainnet = setup_.mainnet;
  HLReply reply = submitUser(
      [&](std::uint64_t time) { return HLAction::usdSend(destination, amount, time, mainnet); }, "usdSend",
      {destination});
  requireAccepted(reply, "transfer");
  return {{"Sent " + amount.toString() + " USDC to " + destination + " on Hyperliquid."}};
}

HLOrders::Report HLOrders::vaultTransfer(const std::string& vaultAddress, bool isDeposit, const Decimal& usd) {
  HLReply reply;
  try {
    reply = submit(HLAction::vaultTransfer(vaultAddress, isDeposit, usd), isDeposit ? "vault deposit" : "vault withdrawal");
  } catch (const NetError& e) {
    throw ExecutionError("The vault transfer's reply didn't come (" + std::string(e.what()) +
                         "): check your vault balance on Hyperliquid.");
  }
  requireAccepted(reply, isDeposit ? "vault deposit" : "vault withdrawal");
  return {{isDeposit ? "Deposited " + usd.toString() + " USDC into the vault " + vaultAddress + "."
                     : "Withdrew " + usd.toString() + " USDC from the vault " + vaultAddress + "."}};
}

}  // namespace orwenna
