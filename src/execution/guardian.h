// Exit rules the exchange cannot express — the stop to breakeven once the
// partial take has filled, and a stop that trails the best price — and the
// guardian that carries them out on Hyperliquid.
//
// ExitRules is a plain value; ExitRulesStore keeps the table by coin in the
// defaults under "exitRules" (a nested object) and is thread-safe.
// Guardian::step is a pure decision. Guardian::pass reads the account, moves
// stops through the shared HLOrders (so its submissions share the executor's
// nonces and lock) and posts notices; passes are serialised and a pass asked
// for while one runs is skipped. The references given must outlive the value.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "base/decimal.h"
#include "base/json.h"
#include "execution/hl_orders.h"
#include "platform/defaults.h"
#include "trading/market.h"
#include "trading/risk_policy.h"

namespace orwenna {

struct ExitRules {
  Decimal openedSize;  // signed as the exchange reports it
  Decimal entry;
  bool long_ = true;   // "long" in JSON
  bool breakevenAfterPartial = false;
  std::optional<Decimal> trailingPct;
  Decimal peak;        // best mark since the rules were set; starts at the entry
  bool movedToBreakeven = false;
  bool partialOrderPending = false;

  friend bool operator==(const ExitRules&, const ExitRules&) = default;

  Json toJson() const;
  // Nothing when a field is missing or of the wrong type.
  [[nodiscard]] static std::optional<ExitRules> fromJson(const Json& json);
  // Fresh rules for a position just opened: peak at the entry, flags clear.
  static ExitRules opened(const Decimal& size, const Decimal& entry, bool breakevenAfterPartial,
                          std::optional<Decimal> trailingPct);
};

class ExitRulesStore {
 public:
  explicit ExitRulesStore(Defaults defaults);

  std::map<std::string, ExitRules> all() const;
  std::optional<ExitRules> get(const std::string& coin) const;
  bool empty() const;
  // Both write the defaults only when the table changed. Throw FileError.
  void put(const std::string& coin, const ExitRules& rules);
  void remove(const std::string& coin);

 private:
  void save() const;

  Defaults defaults_;
  mutable std::mutex mutex_;
  std::map<std::string, ExitRules> table_;
};

// One line for the chat (and the desktop), in both languages; the receiver
// shows the one of the conversation. `key` ties it to an activity ("perp:ETH").
struct Notice {
  std::string key;
  std::string title;
  std::string text;
  std::string titleRU;
  std::string textRU;
};

class Guardian {
 public:
  struct StopTo {
    Decimal price;
  };
  struct StopToBreakeven {};
  using Action = std::variant<StopTo, StopToBreakeven>;

  // `rules` is updated in place (peak, the breakeven flag). `round` gives the
  // price as the exchange would accept it; the candidate is rounded before it
  // is compared with the mark.
  [[nodiscard]] static std::optional<Action> step(ExitRules& rules, const Decimal& size,
                                                  const std::optional<Decimal>& stop, const Decimal& mark,
                                                  const std::function<Decimal(const Decimal&)>& round = {});

  // One coin's decision from what the pass read: the rules as they become,
  // and the stop price to move to (the entry for a breakeven).
  struct Decision {
    ExitRules rules;
    std::optional<Action> action;
    Decimal target;
  };
  [[nodiscard]] static Decision decide(ExitRules rules, const HyperliquidAccount::Position& position,
                                       const std::vector<HyperliquidAccount::Order>& orders, const Market& market);

  struct Setup {
    HLOrders& orders;
    ExitRulesStore& rules;
    // The markets with their current marks; a coin missing from it is skipped.
    std::function<MarketTable()> markets;
    std::function<void(const Notice&)> notify;  // may be empty
  };

  // What one pass did, for the command line and the tests.
  struct PassReport {
    bool ran = false;  // false: another pass was running, or the positions read failed
    std::vector<std::string> moved;    // coins whose stop moved
    std::vector<std::string> removed;  // coins whose rules went
    std::vector<std::string> failures; // finished sentences
  };

  explicit Guardian(Setup setup);

  // Every rules entry against the account: a coin with no position in a
  // successful read loses its rules, as does a flipped or grown position;
  // a failed read changes nothing. A breakeven move is recorded (and
  // announced) only once the new stop is in, so a failed one is tried again
  // on the next pass; each failure is reported once until it succeeds.
  PassReport pass();

 private:
  void passCoin(const std::string& coin, ExitRules rules, const HyperliquidAccount::Position& position,
                const std::vector<HyperliquidAccount::Order>& orders, const MarketTable& markets,
                PassReport& out);
  void failed(const std::string& coin, const std::string& message, PassReport& out);

  Setup s_;
  std::mutex passMutex_;
  std::set<std::string> reported_;  // coins whose current failure was already told
};

// The one background task of price alerts and the guardian: the alert check,
// then a guardian pass, then a sleep on the monotonic clock — 10 seconds while
// any alert or exit rule exists, 30 otherwise. `wake` runs the next round at
// once (a trail was just set). Thread-safe; stop() (or the destructor) ends
// the task and waits for it.
class GuardianLoop {
 public:
  static constexpr std::chrono::seconds kBusyPause{10};
  static constexpr std::chrono::seconds kIdlePause{30};

  // `alerts` runs the price-alert check and says whether any alert exists;
  // it may be empty until alerts exist.
  GuardianLoop(Guardian& guardian, const ExitRulesStore& rules, std::function<bool()> alerts = {});
  ~GuardianLoop();
  GuardianLoop(const GuardianLoop&) = delete;
  GuardianLoop& operator=(const GuardianLoop&) = delete;

  void start();
  void wake();
  void stop();
  // One round: alerts, then the pass; the pause that should follow.
  std::chrono::seconds round();

 private:
  Guardian& guardian_;
  const ExitRulesStore& rules_;
  std::function<bool()> alerts_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stopping_ = false;
  bool woken_ = false;
  std::thread thread_;
};

// The tightest reduce-only stop of the position among the open orders (on the
// side that closes it), or nothing.
[[nodiscard]] std::optional<Decimal> restingStop(const std::vector<HyperliquidAccount::Order>& orders,
                                                 const std::string& coin, bool isLong);

// A stop moved by hand to N% from the entry.
struct ManualStop {
  Decimal stop;                         // the new trigger price
  std::optional<std::string> refusal;   // set: the stop must not move
};
// `capital` unknown or not above zero skips the risk check.
[[nodiscard]] ManualStop manualStop(const Decimal& entry, const Decimal& size, const Decimal& pct,
                                    const std::optional<Decimal>& capital, const RiskPolicy& policy);

}  // namespace orwenna
