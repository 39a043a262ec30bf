#include "fakes/fake_hyperliquid.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "base/bytes.h"
#include "base/text.h"
#include "signing/eip712.h"
#include "signing/evm_signer.h"
#include "signing/hl_action.h"
#include "signing/hl_signer.h"
#include "signing/msgpack.h"

namespace orwenna::testing {

namespace {

constexpr std::int64_t kDayMillis = 86'400'000;
constexpr std::size_t kNonceSetSize = 100;

std::string lower(std::string_view s) { return text::asciiLowercased(s); }

Json okStatuses(const char* type, Json statuses) {
  return Json{{"status", "ok"}, {"response", {{"type", type}, {"data", {{"statuses", std::move(statuses)}}}}}};
}

Json okDefault() { return Json{{"status", "ok"}, {"response", {{"type", "default"}}}}; }

Json refused(const std::string& message) { return Json{{"status", "err"}, {"response", message}}; }

Json errorStatus(const std::string& message) { return Json{{"error", message}}; }

bool validSize(const Decimal& size, int szDecimals) { return size.isPositive() && size.scale() <= szDecimals; }

// Five significant figures unless whole, and at most 6 − szDecimals decimals.
bool validPrice(const Decimal& px, int szDecimals) {
  return px.isPositive() && px.scale() <= 6 - szDecimals && (px.isInteger() || px.significantDigits() <= 5);
}

std::array<std::uint8_t, 32> word(const Json& hex) {
  std::optional<Bytes> bytes = fromHex(hex.get<std::string>());
  if (!bytes || bytes->size() != 32) throw std::invalid_argument("signature part is not 32 bytes");
  std::array<std::uint8_t, 32> out{};
  std::copy(bytes->begin(), bytes->end(), out.begin());
  return out;
}

std::optional<std::uint64_t> actionNonce(const Json& action) {
  for (const char* key : {"nonce", "time"}) {
    auto it = action.find(key);
    if (it != action.end() && it->is_number_unsigned()) return it->get<std::uint64_t>();
  }
  return std::nullopt;
}

}  // namespace

FakeHyperliquid::FakeHyperliquid(const Clock& clock, bool mainnet) : clock_(clock), mainnet_(mainnet) {
  server_.on("POST", "/exchange", [this](const RecordedRequest& r) { return exchange(r); });
  server_.on("POST", "/info", [this](const RecordedRequest& r) { return info(r); });
}

void FakeHyperliquid::addMarket(const std::string& coin, int szDecimals, const Decimal& mid) {
  std::lock_guard lock(mutex_);
  markets_.push_back({coin, static_cast<int>(markets_.size()), szDecimals, mid});
}

void FakeHyperliquid::setMid(const std::string& coin, const Decimal& mid) {
  std::lock_guard lock(mutex_);
  for (Market& m : markets_) {
    if (m.coin == coin) m.mid = mid;
  }
}

void FakeHyperliquid::addAccount(const std::string& address, const Decimal& perpUSDC, const Decimal& spotUSDC) {
  std::lock_guard lock(mutex_);
  Account& a = accounts_[lower(address)];
  a.perp = perpUSDC;
  a.spot = spotUSDC;
}

void FakeHyperliquid::approveAgent(const std::string& account, const std::string& agent) {
  std::lock_guard lock(mutex_);
  agents_[lower(agent)] = lower(account);
}

void FakeHyperliquid::setPosition(const std::string& account, const std::string& coin, const Decimal& szi,
                                  const Decimal& entryPx) {
  std::lock_guard lock(mutex_);
  accounts_[lower(account)].positions[coin] = {coin, szi, entryPx};
}

void FakeHyperliquid::addHistory(const std::string& account, const std::string& kind, Json row) {
  std::lock_guard lock(mutex_);
  accounts_[lower(account)].history[kind].push_back(std::move(row));
}

void FakeHyperliquid::setPageSize(std::size_t rows) {
  std::lock_guard lock(mutex_);
  pageSize_ = rows;
}

int FakeHyperliquid::infoCount(const std::string& type) const {
  std::lock_guard lock(mutex_);
  auto it = infoCounts_.find(type);
  return it == infoCounts_.end() ? 0 : it->second;
}

void FakeHyperliquid::fail(Failure failure) {
  std::lock_guard lock(mutex_);
  failures_.insert(failure);
}

void FakeHyperliquid::clear(Failure failure) {
  std::lock_guard lock(mutex_);
  failures_.erase(failure);
}

std::vector<FakeHyperliquid::Position> FakeHyperliquid::positions(const std::string& account) const {
  std::lock_guard lock(mutex_);
  std::vector<Position> out;
  if (const Account* a = accountOf(account)) {
    for (const auto& [_, p] : a->positions) out.push_back(p);
  }
  return out;
}

std::vector<FakeHyperliquid::Order> FakeHyperliquid::orders(const std::string& account) const {
  std::lock_guard lock(mutex_);
  const Account* a = accountOf(account);
  return a != nullptr ? a->orders : std::vector<Order>{};
}

Decimal FakeHyperliquid::perpUSDC(const std::string& account) const {
  std::lock_guard lock(mutex_);
  const Account* a = accountOf(account);
  return a != nullptr ? a->perp : Decimal(0);
}

Decimal FakeHyperliquid::spotUSDC(const std::string& account) const {
  std::lock_guard lock(mutex_);
  const Account* a = accountOf(account);
  return a != nullptr ? a->spot : Decimal(0);
}

Decimal FakeHyperliquid::vaultEquity(const std::string& account, const std::string& vault) const {
  std::lock_guard lock(mutex_);
  const Account* a = accountOf(account);
  if (a == nullptr) return Decimal(0);
  auto it = a->vaults.find(lower(vault));
  return it != a->vaults.end() ? it->second : Decimal(0);
}

std::vector<FakeHyperliquid::Action> FakeHyperliquid::actions() const {
  std::lock_guard lock(mutex_);
  return actions_;
}

std::vector<FakeHyperliquid::Action> FakeHyperliquid::accepted() const {
  std::vector<Action> out;
  for (Action& a : actions()) {
    if (a.accepted) out.push_back(std::move(a));
  }
  return out;
}

FakeHyperliquid::Account* FakeHyperliquid::accountOf(const std::string& address) {
  auto it = accounts_.find(lower(address));
  return it != accounts_.end() ? &it->second : nullptr;
}

const FakeHyperliquid::Account* FakeHyperliquid::accountOf(const std::string& address) const {
  auto it = accounts_.find(lower(address));
  return it != accounts_.end() ? &it->second : nullptr;
}

const FakeHyperliquid::Market* FakeHyperliquid::marketByAsset(std::int64_t asset) const {
  for (const Market& m : markets_) {
    if (m.asset == asset) return &m;
  }
  return nullptr;
}

const FakeHyperliquid::Market* FakeHyperliquid::marketByCoin(const std::string& coin) const {
  for (const Market& m : markets_) {
    if (m.coin == coin) return &m;
  }
  return nullptr;
}

std::optional<std::string> FakeHyperliquid::checkNonce(const std::string& signer, std::uint64_t nonce) {
  const std::int64_t now = clock_.nowMillis();
  const auto n = static_cast<std::int64_t>(nonce);
  if (n < now - 2 * kDayMillis || n > now + kDayMillis) {
    return "Invalid nonce: nonce " + std::to_string(nonce) + " is too far from the current time.";
  }
  std::set<std::uint64_t>& used = nonces_[lower(signer)];
  if (used.contains(nonce)) return "Invalid nonce: duplicate nonce " + std::to_string(nonce) + ".";
  if (used.size() >= kNonceSetSize && nonce < *used.begin()) {
    return "Invalid nonce: nonce " + std::to_string(nonce) + " is lower than every recent one.";
  }
  used.insert(nonce);
  while (used.size() > kNonceSetSize) used.erase(used.begin());
  return std::nullopt;
}

FakeResponse FakeHyperliquid::exchange(const RecordedRequest& request) {
  const FakeResponse unreadable =
      FakeResponse::text("Failed to deserialize the JSON body into the target type", 422);
  std::optional<Json> body = parseJson(request.body);
  if (!body || !body->is_object() || !body->contains("action") || !body->contains("nonce") ||
      !body->contains("signature")) {
    return unreadable;
  }
  std::lock_guard lock(mutex_);
  Action record;
  record.action = (*body)["action"];
  const Json& action = record.action;
  MsgPack packed;
  EVMSignature signature;
  std::optional<std::string> vault;
  try {
    record.type = action.at("type").get<std::string>();
    record.nonce = body->at("nonce").get<std::uint64_t>();
    packed = MsgPack::fromPlainJson(action);
    const Json& sig = body->at("signature");
    signature.r = word(sig.at("r"));
    signature.s = word(sig.at("s"));
    signature.v = sig.at("v").get<int>();
    if (auto v = body->find("vaultAddress"); v != body->end() && v->is_string()) vault = v->get<std::string>();
  } catch (const std::exception&) {
    return unreadable;
  }

  auto answer = [&](Json reply, bool accepted) {
    record.accepted = accepted;
    if (!accepted) record.refusal = reply.value("response", std::string());
    actions_.push_back(record);
    return FakeResponse::json(reply.dump());
  };

  const bool approve = record.type == "approveAgent";
  const bool userSigned = approve || HLAction::userType(record.type) != nullptr;
  try {
    EIP712::Parts parts = approve      ? HLSigner::approveAgentParts(packed, mainnet_)
                          : userSigned ? HLSigner::userParts(packed, mainnet_)
                                       : HLSigner::l1Parts(packed, record.nonce, vault, std::nullopt, mainnet_);
    record.signer = EVMSigner::recover(signature, EIP712::digest(parts));
  } catch (const std::exception& e) {
    return answer(refused(std::string("Invalid signature: ") + e.what()), false);
  }

  if (userSigned) {
    if (action.value("hyperliquidChain", std::string()) != HLAction::chainName(mainnet_)) {
      return answer(refused("Invalid hyperliquidChain."), false);
    }
    if (actionNonce(action) != record.nonce) return answer(refused("Nonce does not match the action's own."), false);
  }
  std::string owner = lower(record.signer);
  if (!accounts_.contains(owner)) {
    auto agent = agents_.find(owner);
    if (userSigned || agent == agents_.end()) {
      return answer(refused("User or API Wallet " + owner + " does not exist."), false);
    }
    owner = agent->second;
  }
  record.account = owner;
  if (auto bad = checkNonce(record.signer, record.nonce)) return answer(refused(*bad), false);
  Account& account = accounts_[owner];

  try {
    if (record.type == "order") {
      bool opening = false;
      for (const Json& w : action.at("orders")) {
        if (!w.at("t").contains("trigger") && !w.at("r").get<bool>()) opening = true;
      }
      Json reply = orderAction(account, action);
      FakeResponse response = answer(reply, true);
      if (opening && failures_.erase(Failure::html502) > 0) {
        response = FakeResponse::text(
            "<html><head><title>502 Bad Gateway</title></head><body><center><h1>502 Bad Gateway</h1></center>"
            "</body></html>",
            502);
        response.contentType = "text/html";
      } else if (opening && failures_.erase(Failure::loseReply) > 0) {
        response.dropConnection = true;
      }
      return response;
    }
    if (record.type == "cancel") return answer(cancelAction(account, action), true);
    if (record.type == "updateLeverage") {
      if (failures_.contains(Failure::rejectLeverage)) return answer(refused("Invalid leverage value"), false);
      if (!marketByAsset(action.at("asset").get<std::int64_t>())) return answer(refused("Unknown asset."), false);
      account.leverage[action.at("asset").get<int>()] = action.at("leverage").get<std::int64_t>();
      return answer(okDefault(), true);
    }
    if (record.type == "vaultTransfer") {
      Decimal usd = Decimal(action.at("usd").get<std::uint64_t>()).scaledByPowerOfTen(-6);
      Decimal& equity = account.vaults[lower(action.at("vaultAddress").get<std::string>())];
      bool deposit = action.at("isDeposit").get<bool>();
      if (deposit ? account.perp < usd : equity < usd) return answer(refused("Insufficient balance."), false);
      account.perp += deposit ? -usd : usd;
      equity += deposit ? usd : -usd;
      return answer(okDefault(), true);
    }
    if (record.type == "usdClassTransfer") {
      Decimal amount = Decimal::parse(action.at("amount").get<std::string>());
      bool toPerp = action.at("toPerp").get<bool>();
      if ((toPerp ? account.spot : account.perp) < amount) return answer(refused("Insufficient balance."), false);
      account.perp += toPerp ? amount : -amount;
      account.spot += toPerp ? -amount : amount;
      return answer(okDefault(), true);
    }
    if (record.type == "usdSend" || record.type == "sendAsset") {
      Decimal amount = Decimal::parse(action.at("amount").get<std::string>());
      if (account.perp < amount) return answer(refused("Insufficient balance."), false);
      account.perp -= amount;
      std::string to = lower(action.at("destination").get<std::string>());
      if (record.type == "usdSend" && accounts_.contains(to)) accounts_[to].perp += amount;
      // Perp to perp between accounts: the destination's balance rises by what left.
      if (record.type == "sendAsset" && action.value("sourceDex", "") == "" && action.value("destinationDex", "") == "" &&
          to != owner) {
        accounts_[to].perp += amount;
      }
      return answer(okDefault(), true);
    }
    if (approve) {
      agents_[lower(action.at("agentAddress").get<std::string>())] = owner;
      return answer(okDefault(), true);
    }
  } catch (const std::exception& e) {
    return answer(refused(std::string("Failed to process the action: ") + e.what()), false);
  }
  return answer(refused("Unknown action type " + record.type + "."), false);
}

Json FakeHyperliquid::orderAction(Account& account, const Json& action) {
  const std::string grouping = action.at("grouping").get<std::string>();
  Json statuses = Json::array();
  std::optional<std::size_t> parent;
  for (const Json& wire : action.at("orders")) {
    Json status = placeOne(account, wire, parent);
    if (grouping == "normalTpsl" && statuses.empty() && status.contains("resting")) parent = account.orders.size() - 1;
    statuses.push_back(std::move(status));
  }
  return okStatuses("order", std::move(statuses));
}

Json FakeHyperliquid::placeOne(Account& account, const Json& wire, std::optional<std::size_t> parent) {
  const std::int64_t asset = wire.at("a").get<std::int64_t>();
  const std::string at = " asset=" + std::to_string(asset);
  const Market* market = marketByAsset(asset);
  if (market == nullptr) return errorStatus("Invalid asset." + at);
  Order o;
  o.coin = market->coin;
  o.isBuy = wire.at("b").get<bool>();
  o.limitPx = Decimal::parse(wire.at("p").get<std::string>());
  o.size = Decimal::parse(wire.at("s").get<std::string>());
  o.reduceOnly = wire.at("r").get<bool>();
  if (!validSize(o.size, market->szDecimals)) return errorStatus("Order has invalid size." + at);
  if (!validPrice(o.limitPx, market->szDecimals)) return errorStatus("Order has invalid price." + at);
  const Json& type = wire.at("t");

  if (auto trig = type.find("trigger"); trig != type.end()) {
    o.isTrigger = true;
    o.tpsl = trig->at("tpsl").get<std::string>();
    o.triggerPx = Decimal::parse(trig->at("triggerPx").get<std::string>());
    if (!validPrice(o.triggerPx, market->szDecimals)) return errorStatus("Order has invalid trigger price." + at);
    if (o.tpsl == "sl" && failures_.erase(Failure::rejectStop) > 0) return errorStatus("Invalid TP/SL price." + at);
    if (o.tpsl == "tp" && failures_.erase(Failure::rejectTake) > 0) return errorStatus("Invalid TP/SL price." + at);
    o.oid = nextOid_++;
    if (parent) {
      account.orders[*parent].children.push_back(o);
    } else {
      account.orders.push_back(o);
    }
    return Json{{"resting", {{"oid", o.oid}}}};
  }

  const std::string tif = type.at("limit").at("tif").get<std::string>();
  Decimal size = o.size;
  if (o.reduceOnly) {
    auto pos = account.positions.find(o.coin);
    if (pos == account.positions.end() || pos->second.szi.isPositive() == o.isBuy) {
      return errorStatus("Reduce only order would increase position." + at);
    }
    size = std::min(size, pos->second.szi.abs());
  } else if (o.size * o.limitPx < Decimal(10)) {
    return errorStatus("Order must have minimum value of $10." + at);
  } else if (tif == "Ioc" && failures_.erase(Failure::partialFill) > 0) {
    size = (size / Decimal(2)).rounded(market->szDecimals, RoundingMode::towardZero);
  }
  o.oid = nextOid_++;
  bool crosses = o.isBuy ? o.limitPx >= market->mid : o.limitPx <= market->mid;
  if (crosses) {
    applyFill(account, *market, o.isBuy, size, o.oid);
    return Json{{"filled", {{"totalSz", size.toString()}, {"avgPx", market->mid.toString()}, {"oid", o.oid}}}};
  }
  if (tif == "Ioc") return errorStatus("Order could not immediately match against any resting orders." + at);
  account.orders.push_back(o);
  return Json{{"resting", {{"oid", o.oid}}}};
}

void FakeHyperliquid::applyFill(Account& account, const Market& market, bool isBuy, const Decimal& size,
                                std::uint64_t oid) {
  Position& p = account.positions[market.coin];
  p.coin = market.coin;
  Fill f{market.coin, market.mid, size, isBuy, "", Decimal(0), clock_.nowMillis(), oid};
  if (p.szi.isZero() || p.szi.isPositive() == isBuy) {
    Decimal held = p.szi.abs();
    p.entryPx = (held * p.entryPx + size * market.mid) / (held + size);
    f.dir = isBuy ? "Open Long" : "Open Short";
  } else {
    Decimal closed = std::min(size, p.szi.abs());
    f.closedPnl = closed * (market.mid - p.entryPx) * Decimal(p.szi.isPositive() ? 1 : -1);
    f.dir = p.szi.isPositive() ? "Close Long" : "Close Short";
    account.perp += f.closedPnl;
    if (size > p.szi.abs()) p.entryPx = market.mid;
  }
  p.szi += isBuy ? size : -size;
  if (p.szi.isZero()) account.positions.erase(market.coin);
  account.fills.push_back(std::move(f));
}

Json FakeHyperliquid::cancelAction(Account& account, const Json& action) {
  Json statuses = Json::array();
  if (failures_.erase(Failure::rejectCancel) > 0) {
    for (std::size_t i = 0; i < action.at("cancels").size(); ++i) statuses.push_back(errorStatus("Cancel failed."));
    return okStatuses("cancel", std::move(statuses));
  }
  for (const Json& c : action.at("cancels")) {
    const std::int64_t asset = c.at("a").get<std::int64_t>();
    const std::uint64_t oid = c.at("o").get<std::uint64_t>();
    const Market* market = marketByAsset(asset);
    bool removed = false;
    for (auto it = account.orders.begin(); it != account.orders.end() && !removed; ++it) {
      if (market != nullptr && it->coin == market->coin && it->oid == oid) {
        account.orders.erase(it);
        removed = true;
        break;
      }
      auto& kids = it->children;
      auto kid = std::find_if(kids.begin(), kids.end(), [&](const Order& k) { return k.oid == oid; });
      if (kid != kids.end() && market != nullptr && kid->coin == market->coin) {
        kids.erase(kid);
        removed = true;
      }
    }
    statuses.push_back(removed ? Json("success")
                               : errorStatus("Order was never placed, already canceled, or filled. asset=" +
                                             std::to_string(asset)));
  }
  return okStatuses("cancel", std::move(statuses));
}

namespace {

Json orderJson(const FakeHyperliquid::Order& o, std::int64_t now) {
  Json children = Json::array();
  for (const auto& c : o.children) children.push_back(orderJson(c, now));
  std::string type = !o.isTrigger ? "Limit" : o.tpsl == "sl" ? "Stop Market" : "Take Profit Market";
  return Json{{"coin", o.coin},
              {"side", o.isBuy ? "B" : "A"},
              {"limitPx", o.limitPx.toString()},
              {"sz", o.size.toString()},
              {"oid", o.oid},
              {"timestamp", now},
              {"triggerCondition", o.isTrigger ? "Price " + o.triggerPx.toString() : "N/A"},
              {"isTrigger", o.isTrigger},
              {"triggerPx", o.isTrigger ? o.triggerPx.toString() : "0.0"},
              {"children", std::move(children)},
              {"isPositionTpsl", false},
              {"reduceOnly", o.reduceOnly},
              {"orderType", type},
              {"origSz", o.size.toString()},
              {"tif", o.isTrigger ? Json(nullptr) : Json("Gtc")},
              {"cloid", nullptr}};
}

}  // namespace

Json FakeHyperliquid::clearinghouseState(const Account& account) const {
  Json rows = Json::array();
  Decimal upnlSum;
  Decimal notional;
  for (const auto& [coin, p] : account.positions) {
    const Market* m = marketByCoin(coin);
    Decimal mid = m != nullptr ? m->mid : p.entryPx;
    Decimal upnl = p.szi * (mid - p.entryPx);
    upnlSum += upnl;
    notional += p.szi.abs() * mid;
    auto lev = m != nullptr && account.leverage.contains(m->asset) ? account.leverage.at(m->asset) : 1;
    rows.push_back({{"type", "oneWay"},
                    {"position",
                     {{"coin", coin},
                      {"szi", p.szi.toString()},
                      {"leverage", {{"type", "isolated"}, {"value", lev}}},
                      {"entryPx", p.entryPx.toString()},
                      {"positionValue", (p.szi.abs() * mid).toString()},
                      {"unrealizedPnl", upnl.toString()},
                      {"returnOnEquity", "0.0"},
                      {"liquidationPx", nullptr},
                      {"marginUsed", "0.0"}}}});
  }
  Json summary{{"accountValue", (account.perp + upnlSum).toString()},
               {"totalNtlPos", notional.toString()},
               {"totalRawUsd", account.perp.toString()},
               {"totalMarginUsed", "0.0"}};
  return Json{{"marginSummary", summary},
              {"crossMarginSummary", summary},
              {"withdrawable", account.perp.toString()},
              {"assetPositions", std::move(rows)},
              {"time", clock_.nowMillis()}};
}

FakeResponse FakeHyperliquid::info(const RecordedRequest& request) {
  std::lock_guard lock(mutex_);
  if (failures_.contains(Failure::infoDown)) {
    FakeResponse r = FakeResponse::text("<html><body><h1>502 Bad Gateway</h1></body></html>", 502);
    r.contentType = "text/html";
    return r;
  }
  std::optional<Json> body = parseJson(request.body);
  const FakeResponse unreadable =
      FakeResponse::text("Failed to deserialize the JSON body into the target type", 422);
  if (!body || !body->is_object() || !(*body)["type"].is_string()) return unreadable;
  const std::string type = (*body)["type"].get<std::string>();
  const std::string user = lower(body->value("user", std::string()));
  static const Account kEmpty;
  const Account* account = accountOf(user);
  if (account == nullptr) account = &kEmpty;
  const std::int64_t now = clock_.nowMillis();
  ++infoCounts_[type];

  if (type == "userFillsByTime" || type == "userFunding" || type == "userNonFundingLedgerUpdates") {
    if (!(*body)["startTime"].is_number_integer()) return unreadable;
    const std::int64_t from = (*body)["startTime"].get<std::int64_t>();
    std::vector<Json> rows;
    if (auto it = account->history.find(type); it != account->history.end()) {
      for (const Json& r : it->second) {
        if (r["time"].get<std::int64_t>() >= from) rows.push_back(r);
      }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Json& a, const Json& b) {
      return a["time"].get<std::int64_t>() < b["time"].get<std::int64_t>();
    });
    if (rows.size() > pageSize_) rows.resize(pageSize_);
    return FakeResponse::json(Json(rows).dump());
  }
  if (type == "clearinghouseState") return FakeResponse::json(clearinghouseState(*account).dump());
  if (type == "frontendOpenOrders") {
    Json out = Json::array();
    for (const Order& o : account->orders) out.push_back(orderJson(o, now));
    return FakeResponse::json(out.dump());
  }
  if (type == "userFills") {
    Json out = Json::array();
    for (auto it = account->fills.rbegin(); it != account->fills.rend(); ++it) {
      out.push_back({{"coin", it->coin},
                     {"px", it->px.toString()},
                     {"sz", it->size.toString()},
                     {"side", it->isBuy ? "B" : "A"},
                     {"time", it->time},
                     {"startPosition", "0.0"},
                     {"dir", it->dir},
                     {"closedPnl", it->closedPnl.toString()},
                     {"hash", "0x" + std::string(64, '0')},
                     {"oid", it->oid},
                     {"crossed", true},
                     {"fee", "0.0"},
                     {"tid", it->oid},
                     {"feeToken", "USDC"}});
    }
    return FakeResponse::json(out.dump());
  }
  if (type == "userVaultEquities") {
    Json out = Json::array();
    for (const auto& [vault, equity] : account->vaults) {
      out.push_back({{"vaultAddress", vault}, {"equity", equity.toString()}, {"lockedUntilTimestamp", now + kDayMillis}});
    }
    return FakeResponse::json(out.dump());
  }
  if (type == "allMids") {
    Json out = Json::object();
    for (const Market& m : markets_) out[m.coin] = m.mid.toString();
    out["@0"] = "0.2";
    return FakeResponse::json(out.dump());
  }
  const Json spotMeta{
      {"tokens",
       {{{"name", "USDC"}, {"szDecimals", 8}, {"weiDecimals", 8}, {"index", 0}, {"tokenId", "0x6d1e7cde53ba9467b783cb7c530ce054"}},
        {{"name", "PURR"}, {"szDecimals", 0}, {"weiDecimals", 5}, {"index", 1}, {"tokenId", "0xc1fb593aeffbeb02f85e0308e9956a90"}}}},
      {"universe", {{{"name", "PURR/USDC"}, {"tokens", {1, 0}}, {"index", 0}, {"isCanonical", true}}}}};
  if (type == "spotMeta") return FakeResponse::json(spotMeta.dump());
  if (type == "spotMetaAndAssetCtxs") {
    Json ctxs = Json::array({{{"coin", "PURR/USDC"}, {"midPx", "0.2"}, {"markPx", "0.2001"}, {"prevDayPx", "0.19"}}});
    return FakeResponse::json(Json::array({spotMeta, ctxs}).dump());
  }
  if (type == "spotClearinghouseState") {
    Json balances = Json::array(
        {{{"coin", "USDC"}, {"token", 0}, {"total", account->spot.toString()}, {"hold", "0.0"}, {"entryNtl", "0.0"}}});
    return FakeResponse::json(Json{{"balances", balances}}.dump());
  }
  return unreadable;
}

}  // namespace orwenna::testing
