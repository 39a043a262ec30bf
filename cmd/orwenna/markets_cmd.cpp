// `orwenna markets`, `orwenna size` and `orwenna balance`: the live market
// table, a trade sized and checked exactly as the chat shows it, and wallet
// balances. The clients come from Services (app/services.h), so endpoints
// follow ORWENNA_HL_API and ORWENNA_SOLANA_RPC.
#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "app/services.h"
#include "base/json.h"
#include "base/log.h"
#include "chains/solana_rpc.h"
#include "hyperliquid/info.h"
#include "language/intent_parser.h"
#include "trading/advice.h"
#include "trading/fmt.h"
#include "trading/plan_blocks.h"
#include "trading/review.h"
#include "trading/risk_policy.h"
#include "orwenna/command.h"

namespace orwenna::cmd {
namespace {

Decimal numberOption(const std::string& text, const char* what) {
  auto value = Decimal::tryParse(text);
  if (!value) throw CommandFailure(fmt::format("{} must be a plain number, not \"{}\".", what, text));
  return *value;
}

std::optional<Decimal> dayMovePct(const Market& m) {
  if (!m.prevDayPx || !m.prevDayPx->isPositive()) return std::nullopt;
  return (m.markPx - *m.prevDayPx) / *m.prevDayPx * Decimal(100);
}

std::optional<Decimal> yearlyFundingPct(const Market& m) {
  if (!m.funding) return std::nullopt;
  return *m.funding * Decimal(24 * 365 * 100);
}

std::string signedPct(const std::optional<Decimal>& value) {
  if (!value) return "-";
  std::string text = Fmt::num(*value, 2) + "%";
  if (value->isPositive()) text.insert(text.begin(), '+');
  return text;
}

std::optional<Decimal> rounded1(const std::optional<Decimal>& value) {
  if (!value) return std::nullopt;
  return value->rounded(1);
}

struct MarketsOptions {
  std::string dex;
  std::string sort = "volume";
  int limit = 0;
  bool json = false;
};

void runMarkets(const MarketsOptions& o) {
  const Services services = Services::fromProcess();
  Hyperliquid::InfoApi api = services.hyperliquidInfo();
  std::vector<Market> rows;
  if (o.dex.empty()) {
    MarketTable table = Hyperliquid::loadMarketTable(api);
    for (const auto& [_, m] : table.markets()) rows.push_back(m);
    for (const auto& dex : table.unreadDexes()) std::cerr << "Markets of " << dex << " could not be read.\n";
  } else {
    auto dexes = Hyperliquid::perpDexs(api);
    auto it = std::find_if(dexes.begin(), dexes.end(), [&](const auto& d) { return d.name == o.dex; });
    if (it == dexes.end() || o.dex.empty()) throw CommandFailure("No builder dex named \"" + o.dex + "\" on Hyperliquid.");
    Hyperliquid::DexRef ref{o.dex, static_cast<int>(it - dexes.begin())};
    for (auto& [_, m] : Hyperliquid::markets(api, ref)) rows.push_back(std::move(m));
  }

  auto key = [&](const Market& m) -> Decimal {
    if (o.sort == "move") return dayMovePct(m).value_or(Decimal(0)).abs();
    if (o.sort == "funding") return yearlyFundingPct(m).value_or(Decimal(0)).abs();
    return m.volume24h;
  };
  std::stable_sort(rows.begin(), rows.end(), [&](const Market& a, const Market& b) { return key(a) > key(b); });
  if (o.limit > 0 && rows.size() > static_cast<std::size_t>(o.limit)) rows.resize(static_cast<std::size_t>(o.limit));

  if (o.json) {
    Json out = Json::array();
    for (const Market& m : rows) out.push_back(m);
    std::cout << out.dump(2) << '\n';
    return;
  }
  std::cout << fmt::format("{:<16} {:>16} {:>9} {:>14} {:>7} {:>22}\n", "MARKET", "MARK", "24H", "FUNDING/YEAR",
                           "MAX LEV", "VOLUME 24H");
  for (const Market& m : rows) {
    std::cout << fmt::format("{:<16} {:>16} {:>9} {:>14} {:>7} {:>22}\n", m.name, priceText(m.markPx),
                             signedPct(rounded1(dayMovePct(m))), signedPct(rounded1(yearlyFundingPct(m))),
                             std::to_string(m.maxLeverage) + "x", "$" + Fmt::num(m.volume24h, 0));
  }
}

struct SizeOptions {
  std::string line;
  std::string equity;
  std::string openRisk;
  std::string hl;
  bool json = false;
};

void runSize(const SizeOptions& o) {
  const Services services = Services::fromProcess();
  Hyperliquid::InfoApi api = services.hyperliquidInfo();
  MarketTable table = Hyperliquid::loadMarketTable(api);
  auto parsed = IntentParser::parse(o.line, table.names(), std::nullopt);
  if (!parsed) throw CommandFailure("That line is not a trade: \"" + o.line + "\".");
  if (parsed->asset.empty()) throw CommandFailure("Which market? The line names none.");

  Live live;
  live.marketsLoaded = true;
  live.policy = RiskPolicy::load();
  live.openRisk = o.openRisk.empty() ? Decimal(0) : numberOption(o.openRisk, "--open-risk");
  if (!o.equity.empty()) live.equity = numberOption(o.equity, "--equity");
  if (!o.hl.empty()) {
    Hyperliquid::Balance balance = Hyperliquid::balance(api, o.hl);
    live.hlAddressSet = true;
    live.hlWithdrawable = balance.withdrawable;
    if (!live.equity) live.equity = balance.accountValue + balance.spotUSDC;
  }
  if (Market* market = table.find(parsed->asset)) {
    try {
      market->atrPct = Hyperliquid::atrPct(api, market->name);
    } catch (const std::exception& e) {
      std::cerr << "ATR not available: " << e.what() << '\n';
    }
    live.market = *market;
  }

  const Review r = review(*parsed, live.market ? &*live.market : nullptr, live.equity, live.policy, live.openRisk);
  const RulesOutcome& rules = r.rules;
  const Evaluation& ev = r.evaluation;
  live.notes = rules.notes;
  std::vector<Block> blocks = Plan::blocks(rules.intent, live);

  if (o.json) {
    Json out{{"intent", rules.intent.toJson()}, {"command", rules.intent.command()}, {"notes", rules.notes}};
    out["missing"] = ev.missing;
    if (ev.problem) out["problem"] = *ev.problem;
    Json jb = Json::array();
    for (const Block& b : blocks) {
      jb.push_back({{"id", b.id}, {"label", b.label}, {"title", b.title}, {"lines", b.lines},
                    {"status", statusName(b.status)}});
    }
    out["blocks"] = jb;
    Json ja = Json::array();
    for (const Advice& a : r.advice) ja.push_back({{"level", levelName(a.level)}, {"text", a.text}});
    out["advice"] = ja;
    std::cout << out.dump(2) << '\n';
    return;
  }
  std::cout << rules.intent.command() << "\n\n";
  for (const Block& b : blocks) {
    std::cout << b.title << " — " << b.label << " [" << statusName(b.status) << "]\n";
    for (const auto& line : b.lines) std::cout << "  " << line << '\n';
    std::cout << '\n';
  }
  if (!r.advice.empty()) {
    std::cout << "Advice\n";
    for (const Advice& a : r.advice) std::cout << "  [" << levelName(a.level) << "] " << a.text << '\n';
  }
  if (!ev.canPlace()) std::cout << "\nThis trade cannot be placed as it stands.\n";
  else if (r.breaksARule())
    std::cout << "\nA rule is broken: this trade would not be offered for signing.\n";
}

struct BalanceOptions {
  std::string hl;
  std::string solana;
  bool json = false;
};

void runBalance(const BalanceOptions& o) {
  if (o.hl.empty() && o.solana.empty()) throw CommandFailure("Give --hl ADDRESS, --solana ADDRESS or both.");
  const Services services = Services::fromProcess();
  Json out = Json::object();
  if (!o.hl.empty()) {
    Hyperliquid::Balance b = Hyperliquid::balance(services.hyperliquidInfo(), o.hl);
    out["hyperliquid"] = {{"accountValue", b.accountValue}, {"withdrawable", b.withdrawable}, {"spotUSDC", b.spotUSDC}};
    if (!o.json) {
      std::cout << "Hyperliquid " << o.hl << "\n  account value " << Fmt::usd(b.accountValue) << ", withdrawable "
                << Fmt::usd(b.withdrawable) << ", spot USDC " << Fmt::usd(b.spotUSDC) << '\n';
    }
  }
  if (!o.solana.empty()) {
    SolanaRPC::Holdings b = services.solana().holdings(o.solana);
    Json tokens = Json::array();
    for (const auto& t : b.tokens) {
      tokens.push_back({{"mint", t.mint}, {"program", t.program}, {"amount", t.amount}, {"decimals", t.decimals}});
    }
    out["solana"] = {{"sol", b.sol}, {"usdc", b.usdc}, {"tokens", tokens}};
    if (!o.json) {
      std::cout << "Solana " << o.solana << "\n  " << b.sol.toString() << " SOL, " << b.usdc.toString() << " USDC\n";
      for (const auto& t : b.tokens) std::cout << "  " << t.amount.toString() << " of " << t.mint << '\n';
    }
  }
  if (o.json) std::cout << out.dump(2) << '\n';
}

const CommandRegistrar marketsRegistrar([](CLI::App& app) {
  auto markets = std::make_shared<MarketsOptions>();
  CLI::App* m = app.add_subcommand("markets", "Hyperliquid perpetual markets, own and builder-deployed");
  m->add_option("--dex", markets->dex, "only the markets of this builder dex");
  m->add_option("--sort", markets->sort, "volume (default), move (largest 24h move) or funding (largest, either sign)")
      ->check(CLI::IsMember({"volume", "move", "funding"}));
  m->add_option("--limit", markets->limit, "show at most N markets")->check(CLI::NonNegativeNumber);
  m->add_flag("--json", markets->json, "machine-readable output");
  m->callback([markets] { runMarkets(*markets); });

  auto size = std::make_shared<SizeOptions>();
  CLI::App* s = app.add_subcommand("size", "Size and check a trade line against the live market");
  s->add_option("line", size->line, "a trade, e.g. \"long BTC risk 10 stop 2%\"")->required();
  s->add_option("--equity", size->equity, "capital in USD for the percentage checks");
  s->add_option("--open-risk", size->openRisk, "summed loss at the stops of open positions (default 0)");
  s->add_option("--hl", size->hl, "Hyperliquid address: its free balance funds the margin");
  s->add_flag("--json", size->json, "machine-readable output");
  s->callback([size] { runSize(*size); });

  auto balance = std::make_shared<BalanceOptions>();
  CLI::App* b = app.add_subcommand("balance", "Hyperliquid and Solana balances of an address");
  b->add_option("--hl", balance->hl, "Hyperliquid (0x…) address");
  b->add_option("--solana", balance->solana, "Solana address");
  b->add_flag("--json", balance->json, "machine-readable output");
  b->callback([balance] { runBalance(*balance); });
});

}  // namespace
}  // namespace orwenna::cmd
