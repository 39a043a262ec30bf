// HLOrders: the Hyperliquid side of execution — submitting signed actions with
// their nonce, journal entries and reply, and the order operations the
// executor performs for a perp trade: leverage, the entry with its stop and
// take-profit, limit entries, closes, stop and take moves, cancels, and
// transfers between balances.
//
// Every submission takes a nonce from the shared HLNonces, asks the
// TradeSigner, journals `signed` (chain "hyperliquid", id = the nonce), posts,
// and journals `confirmed` or `failed` with the reply's text. A reply lost in
// transport, or one that is not the exchange's JSON (a 5xx page), leaves the
// entry `signed`: the action may have gone through. `mainnet` chooses both the
// signature's network and the API root, so testnet is a full mode.
//
// Operations report in finished sentences (Report::lines) and throw
// ExecutionError when they stop before anything moved. Thread-safe:
// submissions are serialised, so two never share a nonce or interleave their
// journal entries; the references given must outlive the value.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/decimal.h"
#include "base/http.h"
#include "execution/hl_nonces.h"
#include "execution/hl_reply.h"
#include "execution/journal.h"
#include "hyperliquid/account.h"
#include "hyperliquid/endpoints.h"
#include "signing/hl_action.h"
#include "signing/trade_signer.h"
#include "trading/market.h"

namespace orwenna {

// What an order needs to know about its market.
struct HLAsset {
  std::string coin;  // the market's name ("BTC", "xyz:GOLD")
  int index = 0;     // asset number in orders
  int szDecimals = 0;
  std::optional<std::string> dex;  // builder dex, for the account reads

  static HLAsset of(const Market& market);
};

class HLOrders {
 public:
  // USDC as "sendAsset" names it.
  static constexpr const char* kUSDCToken = "USDC:0x6d1e7cde53ba9467b783cb7c530ce054";
  static constexpr const char* kTrailingStopNote =
      "A trailing stop is kept by the orwenna app, not placed on the exchange.";

  struct Setup {
    HttpClient& http;
    const Clock& clock;
    TradeSigner& signer;
    Journal& journal;
    HLNonces& nonces;
    HLEndpoints endpoints;
    bool mainnet = true;
    std::string account;  // the account's 0x address: positions and orders are read for it
  };

  struct Report {
    std::vector<std::string> lines;
    std::string text() const;  // the lines joined by line feeds
  };

  struct OpenPlan {
    HLAsset asset;
    bool isLong = true;
    Decimal size;  // planned; the stop and take follow the filled size
    Decimal mid;   // the price the entry is bounded around
    int leverage = 1;
    std::optional<Decimal> stop;
    std::optional<Decimal> take;
    std::optional<Decimal> partialTake;  // the price of a second take for half the position
  };

  struct OpenResult : Report {
    enum class Position { none, protectedByStop, unprotected, closed, unknown };
    Position position = Position::none;
    Decimal size;   // what is open (filled, or found after a lost reply)
    Decimal avgPx;  // the fill's average price, or the position's entry
  };

  struct LimitPlan {
    HLAsset asset;
    bool isLong = true;
    Decimal size;
    Decimal price;
    std::optional<Decimal> stop;
    std::optional<Decimal> take;
  };

  explicit HLOrders(Setup setup);

  // One L1 action: nonce, signature, journal, POST, reply. `note` names it in
  // the journal ("entry", "stop"). Throws NetError when no reply came (the
  // `signed` entry stays), SignerError, JournalError.
  HLReply submit(const MsgPack& action, std::string_view note);
  // A user-signed action built around the next nonce; the exchange body's
  // nonce is the action's own "nonce" (or "time"), and an action without one
  // throws ExecutionError "No nonce". Throws as submit.
  HLReply submitUser(const std::function<MsgPack(std::uint64_t nonce)>& build, std::string_view note,
                     const std::vector<std::string>& recipients);

  // Reads for this account on this network.
  Hyperliquid::InfoApi info() const;
  std::vector<HyperliquidAccount::Position> positions(const std::optional<std::string>& dex = std::nullopt) const;
  std::vector<HyperliquidAccount::Order> openOrders(const std::optional<std::string>& dex = std::nullopt) const;

  // "Leverage 5×, isolated margin."; ExecutionError when refused or unanswered.
  std::string setLeverage(const HLAsset& asset, int leverage);
  // Leverage, the IOC entry, then its stop, take and partial take.
  OpenResult openPosition(const OpenPlan& plan);
  // A resting entry with its stop and take in one "normalTpsl" action.
  Report placeLimit(const LimitPlan& plan);
  Report close(const HLAsset& asset, const Decimal& mid);
  Report partialClose(const HLAsset& asset, const Decimal& size, const Decimal& mid);
  // New stop first, then the old one cancelled. With `breakevenEntry` the
  // report says the trade can no longer end in a loss.
  Report moveStop(const HLAsset& asset, const Decimal& stop, const Decimal& mid,
                  const std::optional<Decimal>& breakevenEntry = std::nullopt);
  Report moveTake(const HLAsset& asset, const Decimal& take, const Decimal& mid);
  // `what` names the orders in the report ("limit order", "orders").
  Report cancel(const HLAsset& asset, const std::vector<std::uint64_t>& oids, const std::string& what);
  // Spot IOC within 1% of the mid; `pairIndex` as in spotMeta.
  Report spotOrder(const std::string& pairName, int pairIndex, int szDecimals, bool isBuy, const Decimal& size,
                   const Decimal& mid);

  Report usdClassTransfer(const Decimal& amount, bool toPerp);
  // Margin moved from the main balance to a builder dex's.
  Report sendToDex(const Decimal& amount, const std::string& dex);
  Report usdSend(const std::string& destination, const Decimal& amount);
  Report vaultTransfer(const std::string& vaultAddress, bool isDeposit, const Decimal& usd);

  const Setup& setup() const { return setup_; }

 private:
  HLReply post(const MsgPack& action, std::uint64_t nonce, const EVMSignature& signature, std::string_view note);
  HLOrder ioc(const HLAsset& asset, bool isBuy, const Decimal& size, const Decimal& mid, bool reduceOnly) const;
  HLOrder trigger(const HLAsset& asset, bool closesLong, const Decimal& size, const Decimal& triggerPx,
                  const char* tpsl) const;
  void protect(const OpenPlan& plan, OpenResult& out);
  void emergencyClose(const OpenPlan& plan, const HLReply& protection, OpenResult& out);
  void cancelQuietly(const HLAsset& asset, const std::vector<std::uint64_t>& oids, const std::string& what,
                     Report& out);
  std::optional<HyperliquidAccount::Position> positionOf(const HLAsset& asset) const;

  Setup setup_;
  std::mutex submitMutex_;
};

}  // namespace orwenna
