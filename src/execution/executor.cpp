#include "execution/executor.h"

#include <algorithm>
#include <utility>

#include "base/bytes.h"
#include "base/text.h"
#include "signing/base58.h"
#include "execution/execution_error.h"
#include "guards/tx_guard.h"
#include "hyperliquid/account.h"
#include "hyperliquid/info.h"
#include "signing/signer_protocol.h"
#include "trading/fmt.h"

namespace orwenna {

namespace {

using EntryKind = Journal::Entry::Kind;

constexpr const char* kNothingSigned = " Nothing was signed.";
// Hyperliquid takes this much of the first deposit to open an account.
const Decimal& openingFee() {
  static const Decimal fee(1);
  return fee;
}
// A credit counts when at least this share of `arriving` shows up.
const Decimal& creditShare() {
  static const Decimal share = Decimal::parse("0.99");
  return share;
}
constexpr std::uint64_t kPriorityMicroLamports = 20'000;
constexpr int kConfirmSeconds = 120;
constexpr std::string_view kRelayDepositoryProgram = "99vQwtBwYtrqqD9YSXbdum3KBdxPAVxYTaQ3cfnJSrN2";

std::string upperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

const Decimal& onePercent() {
  static const Decimal p = Decimal::parse("0.01");
  return p;
}

bool movedMoreThanOnePercent(const Decimal& from, const Decimal& to) {
  if (!from.isPositive()) return true;
  return (to - from).abs() > from * onePercent();
}

std::string usdc(const Decimal& amount) { return Fmt::num(amount, 2) + " USDC"; }

// USDC has 6 decimals on Solana.
std::string usdcUnits(const Decimal& amount) {
  return (amount * Decimal(1'000'000)).rounded(0, RoundingMode::down).toString();
}
Decimal usdcFromUnits(std::uint64_t units) { return Decimal(static_cast<std::int64_t>(units)) / Decimal(1'000'000); }

std::string sideWord(Side side) { return side == Side::long_ ? "long" : "short"; }

// The margin a plan needs free: its margin and the fees of entry and exit.
Decimal marginNeeded(const Sizing& s) { return (s.margin + s.feesUSD).rounded(2, RoundingMode::up); }

bool isLimit(const TradeIntent& intent) { return intent.entryPx.has_value() || intent.pullbackPct.has_value(); }

std::string withoutFullStop(std::string text) {
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

// Half the position at 1R: as far beyond the entry as the stop is before it.
Decimal partialPrice(const Sizing& s) { return s.entry + (s.entry - s.stopPrice); }

}  // namespace

CostlyMove::CostlyMove(Decimal lostAmount, Decimal paidAmount, std::string whatMove)
    : ExecutionError(whatMove + " would lose " + Fmt::usd(lostAmount) + " of " + Fmt::usd(paidAmount) +
                     ", more than a move may lose on its own. Nothing was signed."),
      lost(std::move(lostAmount)),
      paid(std::move(paidAmount)),
      what(std::move(whatMove)) {}

bool CostlyMove::exceeds(const Decimal& lost, const Decimal& paid) {
  const Decimal share = paid * kMaxLossShare;
  return lost > (share > kMaxLossUSD ? share : kMaxLossUSD);
}

Decimal withdrawableIn(const Json& state) {
  if (!state.is_object()) return Decimal(0);
  auto it = state.find("withdrawable");
  if (it == state.end() || !it->is_string()) return Decimal(0);
  return Decimal::tryParse(it->get<std::string>()).value_or(Decimal(0));
}

Executor::Executor(Setup setup) : s_(std::move(setup)) {}

void Executor::say(const std::string& line) const {
  if (s_.report) s_.report(line);
}

Decimal Executor::midOf(const std::string& coin) const {
  auto mids = HyperliquidAccount::mids(s_.orders.info());
  auto it = mids.find(coin);
  if (it == mids.end() || !it->second.isPositive()) {
    throw ExecutionError("Hyperliquid gave no price for " + coin + " just now." + kNothingSigned);
  }
  return it->second;
}

Decimal Executor::freeOn(const std::optional<std::string>& dex) const {
  if (!dex) return Hyperliquid::balance(s_.orders.info(), s_.wallet.evm).withdrawable;
  Json body{{"type", "clearinghouseState"}, {"user", s_.wallet.evm}, {"dex", *dex}};
  auto answer = parseJson(Hyperliquid::post(s_.orders.info(), body, Hyperliquid::kAccountTimeout));
  return answer ? withdrawableIn(*answer) : Decimal(0);
}

void Executor::requireNoPositionOrOrder(const Market& market) const {
  bool taken = false;
  for (const auto& p : s_.orders.positions(market.dex)) taken = taken || (p.coin == market.name && !p.size.isZero());
  for (const auto& o : s_.orders.openOrders(market.dex)) taken = taken || o.coin == market.name;
  if (taken) {
    throw ExecutionError("There's already a position or order on " + market.name +
                         ". Manage it in chat («stop to breakeven», «close half», «cancel the limit») or pick another "
                         "asset.");
  }
}

Executor::Prepared Executor::prepare(const TradeIntent& intent, const Market& market, const Sizing& sizing) {
  std::vector<std::string> missing;
  if (intent.asset.empty()) missing.emplace_back("the market");
  if (!intent.riskUSD) missing.emplace_back("risk in $");
  if (!intent.stopPct) missing.emplace_back("stop in %");
  if (!sizing.size.isPositive() || !sizing.stopPrice.isPositive()) missing.emplace_back("a size");
  if (!missing.empty()) throw ExecutionError("The plan isn't ready: missing " + text::join(missing, ", ") + ".");

  Prepared p;
  p.intent = intent;
  p.market = market;
  p.sizing = sizing;
  p.leverage = static_cast<int>(intent.leverage.value_or(Decimal(1)).rounded(0, RoundingMode::down).toInt64().value_or(1));
  p.preparedAt = s_.clock.nowMillis();
  p.mid = midOf(market.name);

  requireNoPositionOrOrder(market);
  if (sizing.notional < RiskCalc::minNotional()) {
    throw ExecutionError("The " + market.name + " order is worth " + Fmt::usd(sizing.notional) +
                         ", under the $10 minimum order.");
  }

  // Funding: what the perp balance (or the dex's own margin) lacks.
  const Decimal needed = marginNeeded(sizing);
  std::vector<std::string> funding;
  Decimal mainNeeded = needed;
  if (market.dex) {
    Decimal dexFree = freeOn(market.dex);
    mainNeeded = dexFree >= needed ? Decimal(0) : (needed - dexFree).rounded(2, RoundingMode::up);
  }
  Hyperliquid::Balance main = Hyperliquid::balance(s_.orders.info(), s_.wallet.evm);
  if (mainNeeded > main.withdrawable) {
    const Decimal shortfall = (mainNeeded - main.withdrawable).rounded(2, RoundingMode::up);
    if (!s_.relay || !s_.solana || s_.wallet.solana.empty()) {
      throw ExecutionError("The trade needs " + usdc(needed) + " of margin; Hyperliquid has " +
                           usdc(main.withdrawable) + " free and no Solana wallet is set up to bring the rest: " +
                           usdc(main.withdrawable) + ", less than the trade needs.");
    }
    Decimal onSolana(0);
    for (const auto& a : s_.solana->tokenAccounts(s_.wallet.solana, std::string(SolanaPrograms::kUsdcMint)))
      onSolana = onSolana + usdcFromUnits(a.amount);
    const bool opening = main.accountValue.isZero() && main.withdrawable.isZero() && main.spotUSDC.isZero();
    BridgeStep b;
    b.opening = opening ? openingFee() : Decimal(0);
    const Decimal bring = shortfall + b.opening;
    if (onSolana < bring) {
      throw ExecutionError("The trade needs " + usdc(needed) + " of margin: Hyperliquid has " +
                           usdc(main.withdrawable) + " free and Solana " + usdc(onSolana) + ", " +
                           usdc(main.withdrawable + onSolana) + ", less than the trade needs.");
    }
    RelayDeposit q = s_.relay->quoteSolanaToHyperliquid(s_.wallet.solana, s_.wallet.evm, bring);
    if (!q.amountIn || !q.spend.isPositive()) throw ExecutionError("Relay didn't give the amount to send.");
    if (q.arriving < shortfall && q.arriving.isPositive()) {
      // Relay keeps its fee out of the amount: send enough for the shortfall to arrive.
      const Decimal more = (bring * shortfall / q.arriving).rounded(2, RoundingMode::up);
      if (onSolana < more) {
        throw ExecutionError("The trade needs " + usdc(needed) + " of margin: Hyperliquid has " +
                             usdc(main.withdrawable) + " free and Solana " + usdc(onSolana) +
                             " before Relay's fee, less than the trade needs.");
      }
      q = s_.relay->quoteSolanaToHyperliquid(s_.wallet.solana, s_.wallet.evm, more);
      if (!q.amountIn || !q.spend.isPositive()) throw ExecutionError("Relay didn't give the amount to send.");
    }
    // The opening is paid on purpose; only the rest is the bridge's cost.
    const Decimal lost = q.spend - q.arriving - b.opening;
    if (CostlyMove::exceeds(lost, q.spend)) {
      throw CostlyMove(lost, q.spend, "Bringing " + usdc(q.spend) + " from Solana over Relay");
    }
    b.requestId = q.requestId;
    b.spend = q.spend;
    b.arriving = q.arriving;
    b.feesUSD = q.feesUSD;
    std::string line = "Bring " + usdc(q.spend) + " from Solana over Relay: " + usdc(q.arriving) +
                       " arrive on Hyperliquid (fees $" + q.feesUSD + ", about " + std::to_string(q.seconds) + " s).";
    if (opening) line += " " + usdc(b.opening) + " of it once for opening your Hyperliquid account.";
    funding.push_back(line);
    p.bridge = std::move(b);
  }
  if (market.dex && mainNeeded.isPositive()) {
    p.dexTransfer = DexTransfer{*market.dex, mainNeeded};
    funding.push_back("Transfer " + mainNeeded.toString() + " USDC from the main Hyperliquid balance to the " +
                      *market.dex + " exchange — its markets have their own margin.");
  }

  // The card.
  const std::string side = sideWord(intent.side);
  p.steps.push_back("Leverage " + std::to_string(p.leverage) + "×, isolated margin.");
  if (isLimit(intent)) {
    Decimal distance = ((sizing.entry - sizing.stopPrice).abs() / sizing.entry * Decimal(100)).rounded(2);
    p.steps.push_back("Limit " + side + " " + sizing.size.toString() + " " + market.name + " at " +
                      priceText(sizing.entry) + ", waiting on the exchange, with stop " + priceText(sizing.stopPrice) +
                      " (" + plainText(distance) + "% away).");
  } else {
    p.steps.push_back(std::string(intent.side == Side::long_ ? "Buy " : "Sell ") + sizing.size.toString() + " " +
                      market.name + " at market (about " + Fmt::usd(sizing.notional) + "), filling within 1%.");
    p.steps.push_back("Stop at " + priceText(sizing.stopPrice) + ".");
  }
  if (sizing.takePrice) p.steps.push_back("Take-profit at " + priceText(*sizing.takePrice) + ".");
  if (intent.trailingPct) {
    p.steps.push_back("Trailing stop " + plainText(*intent.trailingPct) +
                      "%: orwenna moves the stop while the app is open (each move is a signature).");
  }
  if (intent.partialTake.value_or(false) && !isLimit(intent)) {
    p.steps.push_back(
        "Partial take-profit: half the position at 1R, as a separate order on the exchange; then the stop moves to "
        "breakeven.");
  }
  p.steps.insert(p.steps.begin(), funding.begin(), funding.end());
  p.changes.push_back("Opens a " + side + " " + market.name + " position of " + sizing.size.toString() + " (" +
                      Fmt::usd(sizing.notional) + ").");
  p.changes.push_back("Margin " + Fmt::usd(sizing.margin) + " from your Hyperliquid balance.");
  p.changes.push_back("Loss at the stop " + Fmt::usd(sizing.lossAtStopUSD) + ", fees included.");
  if (p.bridge) p.changes.push_back("Solana USDC: −" + Fmt::num(p.bridge->spend, 2) + ".");
  return p;
}

Executor::Opened Executor::perform(const Prepared& p) {
  if (p.used->exchange(true)) {
    throw ExecutionError("This plan was already confirmed once; one plan opens one position." +
                         std::string(kNothingSigned));
  }
  std::lock_guard move(moveMutex_);
  const std::string& asset = p.market.name;
  Decimal mid = midOf(asset);
  if (movedMoreThanOnePercent(p.mid, mid)) {
    throw ExecutionError(asset + " moved more than 1% since you confirmed." + kNothingSigned);
  }
  requireNoPositionOrOrder(p.market);

  Opened out;
  bool travelled = false;
  if (p.bridge) {
    Envelope envelope;
    envelope.maxInput = p.bridge->spend;
    envelope.minOutput = (p.bridge->arriving * creditShare()).rounded(6, RoundingMode::up);
    envelope.destination = s_.wallet.evm;
    envelope.expires = s_.clock.nowMillis() + std::chrono::milliseconds(kEnvelopeLife).count();
    runBridge(*p.bridge, envelope);
    travelled = true;
  }
  if (p.dexTransfer) {
    try {
      for (const auto& line : s_.orders.sendToDex(p.dexTransfer->usdc, p.dexTransfer->dex).lines) {
        say(line);
        out.lines.push_back(line);
      }
    } catch (const SignerError& e) {
      throw ExecutionError("The transfer to the " + p.dexTransfer->dex + " exchange wasn't signed (" +
                           std::string(e.what()) + "). No trade" +
                           (travelled ? "; the money is on your Hyperliquid balance." : "." + std::string(kNothingSigned)));
    }
    travelled = true;
  }
  if (travelled) {
    mid = midOf(asset);
    if (movedMoreThanOnePercent(p.mid, mid)) {
      throw ExecutionError(asset + " moved more than 1% while the USDC travelled. No trade; the money is on your "
                                   "Hyperliquid balance.");
    }
  }

  const Sizing& s = p.sizing;
  const bool isLong = p.intent.side == Side::long_;
  out.asset = asset;
  out.stop = s.stopPrice;
  out.take = s.takePrice;
  // Whatever the open signs is journaled before it is sent: the journal tells
  // whether a refusal came before or after the first signature.
  Journal& journal = s_.orders.setup().journal;
  const std::size_t entriesBefore = journal.read().entries.size();
  try {
    if (isLimit(p.intent)) {
      out.lines.push_back(s_.orders.setLeverage(HLAsset::of(p.market), p.leverage));
      HLOrders::LimitPlan plan{HLAsset::of(p.market), isLong, s.size, s.entry, s.stopPrice, s.takePrice};
      for (auto& line : s_.orders.placeLimit(plan).lines) out.lines.push_back(std::move(line));
      out.pending = true;
      out.protectedByStop = true;
      out.entry = s.entry;
      out.size = isLong ? s.size : -s.size;
    } else {
      HLOrders::OpenPlan plan;
      plan.asset = HLAsset::of(p.market);
      plan.isLong = isLong;
      plan.size = s.size;
      plan.mid = mid;
      plan.leverage = p.leverage;
      plan.stop = s.stopPrice;
      plan.take = s.takePrice;
      if (p.intent.partialTake.value_or(false)) plan.partialTake = partialPrice(s);
      HLOrders::OpenResult r = s_.orders.openPosition(plan);
      out.lines.insert(out.lines.end(), r.lines.begin(), r.lines.end());
      using P = HLOrders::OpenResult::Position;
      if (r.position == P::none || r.position == P::closed) throw ExecutionError(r.text());
      out.size = isLong ? r.size : -r.size;
      out.entry = r.avgPx;
      out.protectedByStop = r.position == P::protectedByStop;
      out.partialTake = plan.partialTake;
      out.partialPlaced = std::any_of(r.lines.begin(), r.lines.end(), [](const std::string& l) {
        return l.starts_with("Partial take-profit for");
      });
    }
  } catch (const SignerError& e) {
    bool leverageSigned = true;
    try {
      leverageSigned = journal.read().entries.size() > entriesBefore;
    } catch (const JournalError&) {
    }
    std::string where = travelled ? " No position; the money is on your Hyperliquid balance."
                                  : leverageSigned ? " No order was placed." : std::string(kNothingSigned);
    throw ExecutionError("The signer didn't sign the trade (" + withoutFullStop(e.what()) + ")." + where);
  }
  out.trailingPct = p.intent.trailingPct;
  if (traded_) traded_(out);
  return out;
}

void Executor::runBridge(const BridgeStep& planned, const Envelope& envelope) {
  if (!s_.relay || !s_.solana) throw ExecutionError("No route from Solana is set up." + std::string(kNothingSigned));
  BridgeClient& relay = *s_.relay;
  SolanaRPC& rpc = *s_.solana;
  // The baseline comes first: a credit faster than the confirmation is still seen.
  const Decimal baseline = Hyperliquid::balance(s_.orders.info(), s_.wallet.evm).withdrawable;

  RelayDeposit q = relay.quoteSolanaToHyperliquid(s_.wallet.solana, s_.wallet.evm, planned.spend);
  if (!q.amountIn || !q.spend.isPositive()) {
    throw ExecutionError("Relay didn't give the amount to send." + std::string(kNothingSigned));
  }
  auto violations = envelope.violations(s_.clock.nowMillis(), q.spend, q.arriving, q.recipient);
  if (!violations.empty()) {
    throw ExecutionError("The price moved past what was approved: " + text::join(violations, " ") + kNothingSigned);
  }
  Verdict binding = BindingGuard::check("Relay", {s_.wallet.evm, s_.wallet.solana, usdcUnits(planned.spend)},
                                        {q.recipient, q.sender, q.amountIn});
  if (!binding.clean()) {
    throw ExecutionError("The Relay quote doesn't match the plan: " + text::join(binding.problems, " ") +
                         kNothingSigned);
  }

  SolanaRPC::LatestBlockhash fresh = rpc.latestBlockhash();
  SolanaTransaction::Built built =
      SolanaTransaction::build(q.instructions, s_.wallet.solana, fresh.blockhash, kPriorityMicroLamports);
  SolanaMessage message = SolanaTransaction::parseMessage(built.message);
  SolanaPolicy policy;
  policy.owner = s_.wallet.solana;
  policy.programs = SolanaPolicy::allow({SolanaPrograms::kSystem, SolanaPrograms::kComputeBudget,
                                         SolanaPrograms::kToken, SolanaPrograms::kToken2022,
                                         SolanaPrograms::kAssociatedToken, kRelayDepositoryProgram});
  policy.maxPriorityFee = Decimal::parse("0.001");
  Verdict guard = SolanaGuard::check(message, message.staticKeys, policy);
  if (!guard.clean()) {
    throw ExecutionError("The bridge transaction didn't pass the checks: " + text::join(guard.problems, " ") +
                         kNothingSigned);
  }
  SolanaSimulation sim = SolanaSimulation::read(rpc.simulate(built.transaction, false, {}), {});
  if (sim.error) throw ExecutionError("The simulation failed, so nothing was signed: " + *sim.error);

  Bytes signedTx;
  try {
    signer_request::SignSolana request;
    request.wire = built.transaction;
    request.accounts = message.staticKeys;
    request.extraPrograms = {std::string(kRelayDepositoryProgram)};
    signedTx = s_.orders.setup().signer.signSolana(request);
  } catch (const SignerError& e) {
    throw ExecutionError("The signer didn't sign the bridge deposit (" + withoutFullStop(e.what()) + ")." +
                         kNothingSigned);
  }
  SolanaTransaction::Parsed parsed = SolanaTransaction::parse(signedTx);
  if (parsed.message != built.message || parsed.signatures.empty()) {
    throw ExecutionError("What was signed isn't what was checked. It wasn't sent; the money stayed on Solana.");
  }
  const std::string signature = Base58::encode(parsed.signatures[0]);
  const std::string note = "Relay " + q.spend.toString() + " USDC Solana → Hyperliquid, tx " + signature +
                           "; valid until block " + std::to_string(fresh.lastValidBlockHeight);
  try {
    s_.orders.setup().journal.append({s_.clock.nowMillis(), "relay", q.requestId, EntryKind::signed_, note});
  } catch (const JournalError& e) {
    throw ExecutionError("The bridge deposit was signed, but the journal couldn't record it (" +
                         withoutFullStop(e.what()) + "), so it wasn't sent. The money stayed on Solana.");
  }
  say("Bridge deposit signed: " + usdc(q.spend) + " to Hyperliquid over Relay.");

  auto journalOutcome = [&](EntryKind kind, const std::string& what) {
    try {
      s_.orders.setup().journal.append({s_.clock.nowMillis(), "relay", q.requestId, kind, what});
    } catch (const JournalError&) {
      // The move's outcome stands; recovery settles the open entry later.
    }
  };
  try {
    (void)rpc.send(signedTx);
  } catch (const std::exception&) {
    // It may have reached a leader anyway; the status below decides.
  }
  SolanaRPC::Outcome outcome;
  try {
    outcome = rpc.waitForConfirmation(signature, fresh.lastValidBlockHeight, kConfirmSeconds);
  } catch (const std::exception& e) {
    throw ExecutionError("The bridge transaction's fate is unknown (" + withoutFullStop(e.what()) + "). Order " +
                         q.requestId + " is in the journal; the trade wasn't opened.");
  }
  if (outcome.kind == SolanaRPC::Outcome::Kind::expired && landedAfterAll(signature)) {
    outcome.kind = SolanaRPC::Outcome::Kind::confirmed;
  }
  if (outcome.kind == SolanaRPC::Outcome::Kind::expired) {
    journalOutcome(EntryKind::expired, "not in a block by height " + std::to_string(fresh.lastValidBlockHeight));
    throw ExecutionError("The bridge transaction didn't make it into a block. The money stayed on Solana; you can "
                         "retry.");
  }
  if (outcome.kind == SolanaRPC::Outcome::Kind::failed) {
    journalOutcome(EntryKind::failed, "failed on Solana: " + outcome.error);
    throw ExecutionError("The bridge transaction failed on Solana (" + outcome.error +
                         "). The money stayed on Solana.");
  }
  say("Sent on Solana; waiting for Relay to credit Hyperliquid.");

  const Decimal wanted = q.arriving * creditShare();
  const std::int64_t start = s_.clock.monotonicMillis();
  const std::int64_t limit = std::chrono::milliseconds(kBridgeWait).count();
  for (;;) {
    Decimal now = Hyperliquid::balance(s_.orders.info(), s_.wallet.evm).withdrawable;
    if (now - baseline >= wanted) {
      journalOutcome(EntryKind::settled, "credited " + (now - baseline).toString() + " USDC on Hyperliquid");
      say("Bridge done in " + std::to_string((s_.clock.monotonicMillis() - start) / 1000) + " s.");
      return;
    }
    std::string status;
    try {
      status = text::asciiLowercased(relay.relayStatus(q.requestId));
    } catch (const std::exception&) {
    }
    if (status == "refund" || status == "refunded" || status == "failure") {
      journalOutcome(EntryKind::failed, "Relay " + status);
      throw ExecutionError("Relay returned " + usdc(q.spend) + ". Check your Solana balance.");
    }
    if (s_.clock.monotonicMillis() - start >= limit) break;
    s_.clock.sleepFor(std::chrono::milliseconds(kBridgePoll).count());
  }
  throw ExecutionError("Relay didn't credit the USDC within 4 minutes. Order " + q.requestId +
                       " is in the journal; the trade wasn't opened.");
}

bool Executor::landedAfterAll(const std::string& signature) const {
  try {
    Json statuses = s_.solana->call("getSignatureStatuses",
                                    Json::array({Json::array({signature}), {{"searchTransactionHistory", true}}}));
    const Json& value = statuses.at("value");
    if (!value.is_array() || value.empty() || !value[0].is_object()) return false;
    const Json& st = value[0];
    if (st.contains("err") && !st["err"].is_null()) return false;
    std::string level = st.value("confirmationStatus", "");
    return level == "confirmed" || level == "finalized";
  } catch (const std::exception&) {
    return false;
  }
}

// --- The other Hyperliquid moves ---------------------------------------------

namespace {

struct SpotPick {
  std::string name;  // "HYPE/USDC"
  int index = 0;
  int szDecimals = 0;
  Decimal mid;
};

SpotPick spotPair(const Hyperliquid::InfoApi& api, const std::string& symbol) {
  const std::string want = upperAscii(symbol);
  HyperliquidAccount::SpotMeta meta = HyperliquidAccount::spotMeta(api);
  for (const auto& pair : meta.universe) {
    if (pair.tokens.size() != 2) continue;
    const auto* base = meta.token(pair.tokens[0]);
    const auto* quote = meta.token(pair.tokens[1]);
    if (!base || !quote || quote->name != "USDC" || upperAscii(base->name) != want) continue;
    auto mids = HyperliquidAccount::mids(api);
    auto it = mids.find(pair.name);
    if (it == mids.end()) it = mids.find("@" + std::to_string(pair.index));
    if (it == mids.end() || !it->second.isPositive()) break;
    return {base->name + "/USDC", pair.index, base->szDecimals, it->second};
  }
  throw ExecutionError("Hyperliquid has no " + want + "/USDC spot market." + std::string(kNothingSigned));
}

}  // namespace

HLOrders::Report Executor::classTransfer(const Decimal& amount, bool toPerp) {
  std::lock_guard move(moveMutex_);
  HLOrders::Report r = s_.orders.usdClassTransfer(amount, toPerp);
  if (!toPerp) r.lines = {"Spot balance: +" + amount.toString() + " USDC from perp."};
  return r;
}

HLOrders::Report Executor::usdSend(const std::string& destination, const Decimal& amount) {
  std::lock_guard move(moveMutex_);
  return s_.orders.usdSend(destination, amount);
}

HLOrders::Report Executor::spotBuy(const std::string& symbol, const Decimal& amount) {
  std::lock_guard move(moveMutex_);
  if (amount < Decimal(10)) throw ExecutionError("Hyperliquid's spot book takes orders from 10 USDC." + std::string(kNothingSigned));
  SpotPick pick = spotPair(s_.orders.info(), symbol);
  return s_.orders.spotOrder(pick.name, pick.index, pick.szDecimals, true, amount / pick.mid, pick.mid);
}

HLOrders::Report Executor::spotSell(const std::string& symbol, const std::optional<Decimal>& amount) {
  std::lock_guard move(moveMutex_);
  SpotPick pick = spotPair(s_.orders.info(), symbol);
  Decimal size(0);
  if (amount) {
    size = *amount;
  } else {
    for (const auto& b : HyperliquidAccount::spotBalances(s_.orders.info(), s_.wallet.evm))
      if (upperAscii(b.coin) == upperAscii(symbol)) size = b.total - b.hold;
  }
  if (size * pick.mid < Decimal(10)) {
    throw ExecutionError("Hyperliquid's spot book takes orders from 10 USDC." + std::string(kNothingSigned));
  }
  return s_.orders.spotOrder(pick.name, pick.index, pick.szDecimals, false, size, pick.mid);
}

HLOrders::Report Executor::vaultDeposit(const std::string& vault, const Decimal& amount) {
  std::lock_guard move(moveMutex_);
  if (amount < Decimal(5)) throw ExecutionError("Hyperliquid accepts vault deposits from $5." + std::string(kNothingSigned));
  HLOrders::Report r = s_.orders.vaultTransfer(vault, true, amount);
  r.lines.push_back("Vault deposits stay locked for 4 days.");
  return r;
}

HLOrders::Report Executor::vaultWithdraw(const std::string& vault, const std::optional<Decimal>& amount) {
  std::lock_guard move(moveMutex_);
  Decimal usd(0);
  if (amount) {
    usd = *amount;
  } else {
    for (const auto& v : HyperliquidAccount::vaultEquities(s_.orders.info(), s_.wallet.evm)) {
      if (text::asciiLowercased(v.vaultAddress) == text::asciiLowercased(vault))
        usd = Decimal::tryParse(v.equity).value_or(Decimal(0)).rounded(2, RoundingMode::down);
    }
  }
  if (!usd.isPositive()) throw ExecutionError("Nothing is in that vault to withdraw." + std::string(kNothingSigned));
  return s_.orders.vaultTransfer(vault, false, usd);
}

}  // namespace orwenna
