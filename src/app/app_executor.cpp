#include "app/app_executor.h"

#include <utility>

#include "defi/funding_routes.h"
#include "defi/relay.h"
#include "execution/hl_nonces.h"
#include "signing/trade_signer.h"

#include "app/chat_replies.h"
#include "base/text.h"
#include "execution/execution_error.h"
#include "guards/tx_guard.h"
#include "hyperliquid/account.h"
#include "hyperliquid/info.h"
#include "signing/signer_protocol.h"
#include "trading/risk_calc.h"

namespace orwenna {

namespace {

constexpr const char* kNoAccount = "No Hyperliquid account is set up to trade from. Nothing was signed.";

ExecutionResult finished(ExecutionResult::Outcome outcome, std::vector<std::string> lines, const std::string& kind,
                         const std::string& title, const std::string& asset) {
  ExecutionResult r;
  r.outcome = outcome;
  r.reply = text::join(lines, "\n");
  ActivityBubble b;
  b.kind = kind;
  b.title = title;
  b.lines = lines;
  b.asset = asset;
  b.status = outcome == ExecutionResult::Outcome::done ? "done"
             : outcome == ExecutionResult::Outcome::failed ? "failed"
                                                           : "unknown";
  r.lines = std::move(lines);
  r.bubbles.push_back(std::move(b));
  return r;
}

// Runs one step; an ExecutionError is a plain failure, anything else leaves
// the move's fate to be checked.
template <typename F>
ExecutionResult guarded(const std::string& kind, const std::string& title, const std::string& asset, F&& run) {
  try {
    return run();
  } catch (const ExecutionError& e) {
    return finished(ExecutionResult::Outcome::failed, {e.what()}, kind, title, asset);
  } catch (const std::exception& e) {
    return finished(ExecutionResult::Outcome::unknown,
                    {std::string("The move stopped on an error (") + e.what() +
                     "). Check Hyperliquid and the journal before trying again."},
                    kind, title, asset);
  }
}

}  // namespace

AppExecutor::AppExecutor(Executor* executor, MarketLookup markets, WalletMoveRunner* moves, Language language)
    : executor_(executor), markets_(std::move(markets)), moves_(moves), language_(language) {}

AppExecutor::MarketLookup AppExecutor::liveMarkets(Executor& executor) {
  return [&executor](const std::string& name) -> std::optional<Market> {
    MarketTable table = Hyperliquid::loadMarketTable(executor.orders().info());
    if (const Market* m = table.find(name)) return *m;
    return std::nullopt;
  };
}

ExecutionResult AppExecutor::execute(const std::vector<PendingAction>& steps) {
  ExecutionResult all;
  all.outcome = ExecutionResult::Outcome::done;
  std::vector<std::string> replies;
  for (const PendingAction& step : steps) {
    ExecutionResult one;
    if (const auto* t = std::get_if<PendingAction::Trade>(&step.value)) {
      one = trade(*t);
    } else if (const auto* p = std::get_if<PendingAction::Position>(&step.value)) {
      one = position(*p);
    } else if (std::optional<ExecutionResult> hl = std::holds_alternative<WalletCommand>(step.value)
                                                       ? hyperliquidMove(std::get<WalletCommand>(step.value))
                                                       : std::nullopt) {
      one = std::move(*hl);
    } else {
      std::optional<ExecutionResult> ran = moves_ ? moves_->run(step) : std::nullopt;
      one = ran ? std::move(*ran)
                : finished(ExecutionResult::Outcome::failed, {Replies::notAvailable(step.line(), language_)},
                           std::string(step.kindName()), step.line(), "");
    }
    if (!one.reply.empty()) replies.push_back(one.reply);
    all.lines.insert(all.lines.end(), one.lines.begin(), one.lines.end());
    all.bubbles.insert(all.bubbles.end(), one.bubbles.begin(), one.bubbles.end());
    if (one.outcome != ExecutionResult::Outcome::done) {
      all.outcome = one.outcome;
      break;
    }
  }
  all.reply = text::join(replies, "\n");
  return all;
}

ExecutionResult AppExecutor::trade(const PendingAction::Trade& step) {
  const std::string title = step.intent.command();
  return guarded("trade", title, step.intent.asset, [&] {
    if (!executor_) throw ExecutionError(kNoAccount);
    std::optional<Market> market = markets_(step.intent.asset);
    if (!market) throw ExecutionError("Hyperliquid has no " + step.intent.asset + " market. Nothing was signed.");
    // Sized at the price the card showed, so the size is the one confirmed.
    if (step.price.isPositive()) market->markPx = step.price;
    Evaluation ev = RiskCalc::evaluate(step.intent, &*market);
    if (!ev.missing.empty()) {
      throw ExecutionError("The plan isn't ready: missing " + text::join(ev.missing, ", ") + ".");
    }
    if (ev.problem) throw ExecutionError(*ev.problem + " Nothing was signed.");
    Executor::Prepared prepared = executor_->prepare(step.intent, *market, *ev.sizing);
    if (step.price.isPositive()) prepared.mid = step.price;
    Executor::Opened opened = executor_->perform(prepared);
    return finished(opened.protectedByStop ? ExecutionResult::Outcome::done : ExecutionResult::Outcome::unknown,
                    opened.lines, "trade", title, opened.asset);
  });
}

ExecutionResult AppExecutor::position(const PendingAction::Position& step) {
  const std::string title = step.command.line() + " " + step.coin;
  return guarded("position", title, step.coin, [&] {
    if (!executor_) throw ExecutionError(kNoAccount);
    std::optional<Market> market = markets_(step.coin);
    if (!market) throw ExecutionError("Hyperliquid has no " + step.coin + " market. Nothing was signed.");
    HLOrders& orders = executor_->orders();
    const HLAsset asset = HLAsset::of(*market);
    auto lock = executor_->oneMove();
    auto mids = HyperliquidAccount::mids(orders.info());
    auto it = mids.find(step.coin);
    if (it == mids.end()) throw ExecutionError("Hyperliquid gave no price for " + step.coin + ". Nothing was signed.");
    const Decimal mid = it->second;
    std::optional<HyperliquidAccount::Position> pos;
    for (auto& p : orders.positions(market->dex))
      if (p.coin == step.coin && !p.size.isZero()) pos = p;
    HLOrders::Report report = std::visit(
        [&](const auto& c) -> HLOrders::Report {
          using C = std::decay_t<decltype(c)>;
          if constexpr (std::is_same_v<C, PositionCommand::close>) {
            if (c.fraction >= Decimal(1) || !pos) return orders.close(asset, mid);
            return orders.partialClose(asset, pos->size.abs() * c.fraction, mid);
          } else if constexpr (std::is_same_v<C, PositionCommand::stopTo>) {
            return orders.moveStop(asset, c.price, mid);
          } else if constexpr (std::is_same_v<C, PositionCommand::takeTo>) {
            return orders.moveTake(asset, c.price, mid);
          } else if constexpr (std::is_same_v<C, PositionCommand::trail>) {
            if (!trail_) return HLOrders::Report{{HLOrders::kTrailingStopNote}};
            if (!pos) throw ExecutionError("No open " + step.coin + " position.");
            if (!c.percent.isPositive() || c.percent >= Decimal(100))
              throw ExecutionError("A trailing distance must be above 0% and below 100%.");
            trail_(step.coin, *pos, c.percent);
            HLOrders::Report r;
            r.lines.push_back(language_ == Language::russian
                                  ? "orwenna держит стоп " + step.coin + " в " + c.percent.toString() +
                                        "% от лучшей цены и только подтягивает его — пока orwenna открыта."
                                  : "orwenna keeps the " + step.coin + " stop " + c.percent.toString() +
                                        "% behind the best price and only ever tightens it — while orwenna is "
                                        "open or in the menu bar.");
            bool stopResting = false;
            for (const auto& o : orders.openOrders(market->dex))
              stopResting = stopResting || (o.coin == step.coin && o.isTrigger);
            if (!stopResting)
              r.lines.push_back(language_ == Language::russian
                                    ? "На бирже нет стоп-ордера " + step.coin + ": двигать нечего, пока его не поставят."
                                    : "There is no " + step.coin +
                                          " stop order on the exchange, so nothing moves until one is set.");
            return r;
          } else if constexpr (std::is_same_v<C, PositionCommand::stopToBreakeven>) {
            if (!pos) throw ExecutionError("No open " + step.coin + " position.");
            const Decimal fees = RiskCalc::takerFee() * Decimal(2);
            const Decimal be = pos->entry * (pos->size.isPositive() ? Decimal(1) + fees : Decimal(1) - fees);
            return orders.moveStop(asset, be, mid, pos->entry);
          } else {
            std::vector<std::uint64_t> oids;
            for (const auto& o : orders.openOrders(market->dex))
              if (o.coin == step.coin && !o.isTrigger) oids.push_back(o.oid);
            if (oids.empty()) throw ExecutionError("No resting " + step.coin + " order to cancel.");
            return orders.cancel(asset, oids, "limit order");
          }
        },
        step.command.value);
    return finished(ExecutionResult::Outcome::done, report.lines, "position", title, step.coin);
  });
}

std::optional<ExecutionResult> AppExecutor::hyperliquidMove(const WalletCommand& command) {
  const std::string title = command.line();
  if (!executor_) return std::nullopt;
  if (const auto* h = std::get_if<wallet::hlp>(&command.value)) {
    return guarded("wallet", title, "HLP", [&] {
      const std::string vault(HLGuard::kHLPVault);
      HLOrders::Report r = h->deposit ? executor_->vaultDeposit(vault, h->amount.value_or(Decimal(0)))
                                      : executor_->vaultWithdraw(vault, h->amount);
      return finished(ExecutionResult::Outcome::done, r.lines, "wallet", title, "HLP");
    });
  }
  if (const auto* b = std::get_if<wallet::hlSpotBuy>(&command.value)) {
    return guarded("wallet", title, b->symbol, [&] {
      HLOrders::Report r = executor_->spotBuy(b->symbol, b->usdc.value_or(Decimal(0)));
      return finished(ExecutionResult::Outcome::done, r.lines, "wallet", title, b->symbol);
    });
  }
  if (const auto* s = std::get_if<wallet::hlSpotSell>(&command.value)) {
    return guarded("wallet", title, s->symbol, [&] {
      HLOrders::Report r = executor_->spotSell(s->symbol, s->amount);
      return finished(ExecutionResult::Outcome::done, r.lines, "wallet", title, s->symbol);
    });
  }
  return std::nullopt;
}

std::vector<SavedAddress> SignerAddressBook::entries() const {
  std::vector<SavedAddress> out;
  // Read on the app thread for every message: never start a signer for it.
  std::error_code ec;
  if (!std::filesystem::exists(location_.socket, ec)) return out;
  try {
    SignerReply reply = SignerClient(location_).send(SignerRequest{signer_request::AddressBook{}});
    if (!reply.ok || !reply.addresses) return out;
    for (const auto& a : *reply.addresses) out.push_back({a.name, a.address, a.network});
  } catch (const std::exception&) {
  }
  return out;
}

void SignerLockPort::lock() {
  std::error_code ec;
  if (!std::filesystem::exists(location_.socket, ec)) return;  // no signer running, no session to end
  try {
    (void)SignerClient(location_).send(SignerRequest{signer_request::Lock{}});
  } catch (const std::exception&) {
    // A signer that can't be reached holds no open session.
  }
}

struct TradeDesk::Parts {
  Parts(const Services& services, const Options& o, TradeWallet wallet)
      : signer(o.signer),
        journal(Journal::inDataFolder(o.dataDir)),
        nonces(services.clock, HLNonces::highestIn(journal)),
        orders({services.http, services.clock, signer, journal, nonces, services.endpoints.hyperliquid, !o.testnet,
                wallet.evm}),
        solana(services.solana()),
        relay(services.http, services.endpoints.relay),
        funding(relay),
        // No opening through 1Click here: the signer service pays no Solana
        // address it does not hold, so its deposit would always be refused.
        executor({wallet, orders, services.clock, services.http, &solana, &relay, o.report, &funding, nullptr,
                  [&services](const EVMNetwork& network) { return services.evm(network); }}),
        app(&executor, AppExecutor::liveMarkets(executor), o.moves) {}

  SocketTradeSigner signer;
  Journal journal;
  HLNonces nonces;
  HLOrders orders;
  SolanaRPC solana;
  RelayClient relay;
  RelayFunding funding;
  Executor executor;
  AppExecutor app;
};

TradeDesk::TradeDesk(const Services& services, Options options)
    : services_(services), options_(std::move(options)) {}

TradeDesk::~TradeDesk() = default;

Executor& TradeDesk::executor() {
  std::lock_guard lock(mutex_);
  if (!parts_) {
    TradeWallet wallet = options_.wallet;
    if (wallet.evm.empty() || wallet.solana.empty()) {
      SignerReply status = SignerClient(options_.signer).send(SignerRequest{signer_request::Status{}});
      if (wallet.evm.empty() && status.evmAddress) wallet.evm = *status.evmAddress;
      if (wallet.solana.empty() && status.solanaAddress) wallet.solana = *status.solanaAddress;
    }
    if (wallet.evm.empty()) {
      throw ExecutionError("The signer holds no wallet with an EVM key, so there is no Hyperliquid account to trade "
                           "from. Nothing was signed.");
    }
    parts_ = std::make_unique<Parts>(services_, options_, std::move(wallet));
    if (traded_) parts_->executor.onTraded(traded_);
    if (trail_) parts_->app.setTrail(trail_);
  }
  return parts_->executor;
}

ExecutionResult TradeDesk::execute(const std::vector<PendingAction>& steps) {
  bool hyperliquid = false;
  for (const auto& s : steps) {
    const auto* w = std::get_if<WalletCommand>(&s.value);
    hyperliquid = hyperliquid || std::holds_alternative<PendingAction::Trade>(s.value) ||
                  std::holds_alternative<PendingAction::Position>(s.value) ||
                  (w && (std::holds_alternative<wallet::hlp>(w->value) ||
                         std::holds_alternative<wallet::hlSpotBuy>(w->value) ||
                         std::holds_alternative<wallet::hlSpotSell>(w->value)));
  }
  try {
    (void)executor();
  } catch (const std::exception& e) {
    if (hyperliquid) {
      ExecutionResult r;
      r.outcome = ExecutionResult::Outcome::failed;
      r.reply = e.what();
      r.lines = {r.reply};
      return r;
    }
    // Without an account the other moves still go to their own runner.
    return AppExecutor(nullptr, {}, options_.moves).execute(steps);
  }
  return parts_->app.execute(steps);
}

}  // namespace orwenna
