// A fake Hyperliquid exchange on 127.0.0.1: POST /info and POST /exchange in
// the real wire format, over accounts with perp and spot USDC, positions,
// resting and trigger orders, fills and vault equity.
//
// Every /exchange body is checked as the exchange checks it: the action's
// MessagePack is rebuilt from the posted JSON, the signer recovered with the
// real hashing code (L1 "Agent" or user-signed typed data, for this fake's
// network), and only the account itself or an agent it approved is accepted
// (user-signed actions need the account). A nonce is refused when that signer
// used it already, when it is not above the lowest of the signer's 100 highest
// nonces, or when it is more than two days behind or one day ahead of the
// clock. IOC orders fill at the mid or not at all; GTC orders rest; trigger
// orders rest until removed. A sendAsset between perp balances credits its
// destination, so a bridge can see what reached its depository. Prices and sizes are held to the exchange's
// rules (5 significant figures, 6 − szDecimals decimals, $10 minimum).
//
// Failures can be scripted (see Failure). Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/decimal.h"
#include "base/json.h"
#include "fakes/fake_server.h"
#include "hyperliquid/endpoints.h"

namespace orwenna::testing {

class FakeHyperliquid {
 public:
  enum class Failure {
    rejectLeverage,  // standing: every updateLeverage is refused
    rejectStop,      // once: the next stop ("sl") gets an error status
    rejectTake,      // once: the next take ("tp") gets an error status
    html502,         // once: the next opening order is processed, then answered by a 502 gateway page
    loseReply,       // once: the next opening order is processed, then the connection drops
    infoDown,        // standing: every /info request answers 502
    partialFill,     // once: the next opening IOC fills only half its size
    rejectCancel,    // once: the next cancel action's orders all get error statuses and stay
  };

  struct Order {
    std::uint64_t oid = 0;
    std::string coin;
    bool isBuy = false;
    Decimal limitPx;
    Decimal size;
    bool reduceOnly = false;
    bool isTrigger = false;
    Decimal triggerPx;
    std::string tpsl;  // "sl", "tp" for triggers
    std::vector<Order> children;
  };

  struct Position {
    std::string coin;
    Decimal szi;
    Decimal entryPx;
  };

  // One /exchange request whose body could be read.
  struct Action {
    std::string type;
    std::uint64_t nonce = 0;
    std::string signer;   // recovered, EIP-55
    std::string account;  // who it acted for; empty when refused before that
    bool accepted = false;
    std::string refusal;  // the exchange's message when not accepted
    Json action;
  };

  explicit FakeHyperliquid(const Clock& clock, bool mainnet = true);

  std::string url() const { return server_.url(); }
  // Both roots pointing here.
  HLEndpoints endpoints() const { return {url(), url()}; }
  FakeServer& server() { return server_; }

  // Markets get asset numbers in the order they are added.
  void addMarket(const std::string& coin, int szDecimals, const Decimal& mid);
  void setMid(const std::string& coin, const Decimal& mid);
  void addAccount(const std::string& address, const Decimal& perpUSDC, const Decimal& spotUSDC = Decimal(0));
  void approveAgent(const std::string& account, const std::string& agent);
  void setPosition(const std::string& account, const std::string& coin, const Decimal& szi, const Decimal& entryPx);

  // History rows served as they come, by time from "startTime", at most
  // `pageSize` per answer: "userFillsByTime", "userFunding" and
  // "userNonFundingLedgerUpdates" (`kind` is that request's type).
  void addHistory(const std::string& account, const std::string& kind, Json row);
  void setPageSize(std::size_t rows);
  // How many /info requests of this type were answered.
  int infoCount(const std::string& type) const;

  void fail(Failure failure);
  void clear(Failure failure);

  std::vector<Position> positions(const std::string& account) const;
  std::vector<Order> orders(const std::string& account) const;
  Decimal perpUSDC(const std::string& account) const;
  Decimal spotUSDC(const std::string& account) const;
  Decimal vaultEquity(const std::string& account, const std::string& vault) const;
  std::vector<Action> actions() const;
  std::vector<Action> accepted() const;

 private:
  struct Fill {
    std::string coin;
    Decimal px;
    Decimal size;
    bool isBuy = false;
    std::string dir;
    Decimal closedPnl;
    std::int64_t time = 0;
    std::uint64_t oid = 0;
  };
  struct Account {
    Decimal perp;
    Decimal spot;
    std::map<std::string, Position> positions;
    std::vector<Order> orders;
    std::vector<Fill> fills;
    std::map<std::string, Decimal> vaults;
    std::map<int, std::int64_t> leverage;
    std::map<std::string, std::vector<Json>> history;  // by request type
  };
  struct Market {
    std::string coin;
    int asset = 0;
    int szDecimals = 0;
    Decimal mid;
  };

  FakeResponse exchange(const RecordedRequest& request);
  FakeResponse info(const RecordedRequest& request);
  Json orderAction(Account& account, const Json& action);
  Json placeOne(Account& account, const Json& wire, std::optional<std::size_t> parent);
  void applyFill(Account& account, const Market& market, bool isBuy, const Decimal& size, std::uint64_t oid);
  Json cancelAction(Account& account, const Json& action);
  std::optional<std::string> checkNonce(const std::string& signer, std::uint64_t nonce);
  const Market* marketByAsset(std::int64_t asset) const;
  const Market* marketByCoin(const std::string& coin) const;
  Account* accountOf(const std::string& address);
  const Account* accountOf(const std::string& address) const;
  Json clearinghouseState(const Account& account) const;

  const Clock& clock_;
  const bool mainnet_;
  mutable std::mutex mutex_;
  std::vector<Market> markets_;
  std::map<std::string, Account> accounts_;      // by lower-case address
  std::map<std::string, std::string> agents_;    // lower-case agent → lower-case account
  std::map<std::string, std::set<std::uint64_t>> nonces_;  // by lower-case signer
  std::set<Failure> failures_;
  std::vector<Action> actions_;
  std::uint64_t nextOid_ = 1000;
  std::size_t pageSize_ = 2000;
  std::map<std::string, int> infoCounts_;
  // Last, so it stops serving before the state it reads goes away.
  FakeServer server_;
};

}  // namespace orwenna::testing
