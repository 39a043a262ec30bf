#include "execution/executor.h"

#include <algorithm>
#include <utility>

#include "base/bytes.h"
#include "base/text.h"
#include "chains/abi.h"
#include "chains/evm_call.h"
#include "chains/spl.h"
#include "signing/base58.h"
#include "execution/execution_error.h"
#include "execution/solana_send.h"
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
    const bool opening = main.accountValue.isZero() && main.withdrawable.isZero() && main.spotUSDC.isZero();
    const bool solanaReady = s_.solana && !s_.wallet.solana.empty();
    const Decimal onSolana = solanaReady ? solanaUSDC() : Decimal(0);
    const Decimal fee = opening ? openingFee() : Decimal(0);
    const Decimal bring = shortfall + fee;

    // A first deposit through 1Click opens the account without the fee.
    if (opening && solanaReady && s_.opening) {
      std::optional<OpeningQuote> q;
      try {
        q = s_.opening->quoteOpening(s_.wallet.solana, s_.wallet.evm, shortfall, s_.clock.nowMillis());
        if (q->arriving.isPositive() && q->arriving < shortfall) {
          const Decimal more = (shortfall * shortfall / q->arriving).rounded(2, RoundingMode::up);
          q = s_.opening->quoteOpening(s_.wallet.solana, s_.wallet.evm, more, s_.clock.nowMillis());
        }
      } catch (const Error&) {
        q.reset();  // no quote: Relay opens it
      }
      if (q && q->depositAddress && q->spend.isPositive() && q->arriving >= shortfall && onSolana >= q->spend) {
        const Decimal lost = q->spend - q->arriving;
        if (CostlyMove::exceeds(lost, q->spend)) {
          throw CostlyMove(lost, q->spend, "Opening your Hyperliquid account with " + usdc(q->spend) + " through NEAR Intents");
        }
        p.openVia1Click = OpenVia1Click{q->spend, q->arriving};
        funding.push_back("NEAR Intents opens your Hyperliquid account: " + usdc(q->spend) + " from Solana, " +
                          usdc(q->arriving) +
                          " arrive, no opening fee. Usually 2–4 min; the trade waits for it and re-checks the price.");
      }
    }

    if (!p.openVia1Click && s_.relay && solanaReady && onSolana >= bring) {
      BridgeStep b;
      b.opening = fee;
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

    std::optional<std::string> gasShort;
    if (!p.openVia1Click && !p.bridge && s_.funding && s_.evm && !s_.wallet.evm.empty()) {
      p.fundFrom = fundingFromEVM(shortfall, bring, onSolana, gasShort);
      if (p.fundFrom) {
        const EVMNetwork& net = *p.fundFrom->net;
        const std::string coin = EVMNetwork::gasCoinForGas(net.chainId);
        if (p.fundFrom->gasTopup.isPositive()) {
          funding.push_back(coin + " on " + net.name + " first: " + p.fundFrom->gasTopup.toString() +
                            " USDC from Solana over Relay, the gas that pays the deposit there.");
        }
        std::string line = "Bring " + usdc(p.fundFrom->usdc) + " from " + net.name + " over Relay: " +
                           usdc(p.fundFrom->arriving) + " arrive on Hyperliquid (an exact approval, then the deposit).";
        if (opening) line += " " + usdc(fee) + " of it once for opening your Hyperliquid account.";
        funding.push_back(line);
      }
    }

    if (!p.openVia1Click && !p.bridge && !p.fundFrom) {
      if (gasShort) throw ExecutionError(*gasShort);
      if (!solanaReady || !s_.relay) {
        throw ExecutionError("The trade needs " + usdc(needed) + " of margin; Hyperliquid has " +
                             usdc(main.withdrawable) + " free and no Solana wallet is set up to bring the rest: " +
                             usdc(main.withdrawable) + ", less than the trade needs.");
      }
      throw ExecutionError("The trade needs " + usdc(needed) + " of margin: Hyperliquid has " +
                           usdc(main.withdrawable) + " free and Solana " + usdc(onSolana) + ", " +
                           usdc(main.withdrawable + onSolana) + ", less than the trade needs.");
    }
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
  if (p.openVia1Click) p.changes.push_back("Solana USDC: −" + Fmt::num(p.openVia1Click->units, 2) + ".");
  if (p.fundFrom) {
    p.changes.push_back(p.fundFrom->net->name + " USDC: −" + Fmt::num(p.fundFrom->usdc, 2) + ".");
    if (p.fundFrom->gasTopup.isPositive()) {
      p.changes.push_back("Solana USDC: −" + Fmt::num(p.fundFrom->gasTopup, 2) + " for gas on " + p.fundFrom->net->name + ".");
    }
  }
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
  if (p.openVia1Click) {
    Envelope envelope;
    envelope.maxInput = p.openVia1Click->units;
    envelope.minOutput = (p.openVia1Click->arriving * creditShare()).rounded(6, RoundingMode::up);
    envelope.destination = s_.wallet.evm;
    envelope.expires = s_.clock.nowMillis() + std::chrono::milliseconds(kEnvelopeLife).count();
    runOpening(*p.openVia1Click, envelope);
    travelled = true;
  }
  if (p.fundFrom) {
    Envelope envelope;
    envelope.maxInput = p.fundFrom->usdc;
    envelope.minOutput = (p.fundFrom->arriving * creditShare()).rounded(6, RoundingMode::up);
    envelope.destination = s_.wallet.evm;
    envelope.expires = s_.clock.nowMillis() + std::chrono::milliseconds(kEnvelopeLife).count();
    runFundFrom(*p.fundFrom, envelope);
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

  awaitRelayCredit(q.requestId, baseline, q.arriving * creditShare(),
                   "Relay returned " + usdc(q.spend) + ". Check your Solana balance.", "Solana");
}

void Executor::awaitRelayCredit(const std::string& requestId, const Decimal& baseline, const Decimal& wanted,
                                const std::string& returned, const std::string& from) {
  Journal& journal = s_.orders.setup().journal;
  auto journalOutcome = [&](EntryKind kind, const std::string& what) {
    try {
      journal.append({s_.clock.nowMillis(), "relay", requestId, kind, what});
    } catch (const JournalError&) {
      // The move's outcome stands; recovery settles the open entry later.
    }
  };
  const std::int64_t start = s_.clock.monotonicMillis();
  const std::int64_t limit = std::chrono::milliseconds(kBridgeWait).count();
  for (;;) {
    Decimal now = Hyperliquid::balance(s_.orders.info(), s_.wallet.evm).withdrawable;
    if (now - baseline >= wanted) {
      journalOutcome(EntryKind::settled, "credited " + (now - baseline).toString() + " USDC on Hyperliquid from " + from);
      say("Bridge done in " + std::to_string((s_.clock.monotonicMillis() - start) / 1000) + " s.");
      return;
    }
    std::string status;
    try {
      status = text::asciiLowercased(s_.relay ? s_.relay->relayStatus(requestId) : std::string());
    } catch (const std::exception&) {
    }
    if (status == "refund" || status == "refunded" || status == "failure") {
      journalOutcome(EntryKind::failed, "Relay " + status);
      throw ExecutionError(returned);
    }
    if (s_.clock.monotonicMillis() - start >= limit) break;
    s_.clock.sleepFor(std::chrono::milliseconds(kBridgePoll).count());
  }
  throw ExecutionError("Relay didn't credit the USDC within 4 minutes. Order " + requestId +
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

Decimal Executor::solanaUSDC() const {
  Decimal held(0);
  for (const auto& a : s_.solana->tokenAccounts(s_.wallet.solana, std::string(SolanaPrograms::kUsdcMint)))
    held = held + usdcFromUnits(a.amount);
  return held;
}

namespace {

// Gas a funding deposit needs on a network without a fixed floor: an approve
// and a deposit at the node's price.
constexpr std::uint64_t kFundingGas = 300'000;

UInt256 gasNeeded(const EVMNetwork& net, const EVMRPC& rpc) {
  if (net.gasFloor) return *net.gasFloor;
  return rpc.gasPrice() * UInt256(kFundingGas);
}

Decimal evmUSDC(const EVMRPC& rpc, const EVMNetwork& net, const std::string& owner) {
  Bytes answer = rpc.ethCall(net.usdc, ABI::call("balanceOf(address)", {ABI::Value::address(owner)}));
  if (answer.size() != 32) return Decimal(0);
  return Decimal::parse(formatUnits(fromBigEndian(answer), net.usdcDecimals));
}

std::string units6(const Decimal& usdcAmount, int decimals) {
  return usdcAmount.scaledByPowerOfTen(decimals).rounded(0, RoundingMode::down).toString();
}

}  // namespace

std::optional<Executor::FundFrom> Executor::fundingFromEVM(const Decimal& shortfall, const Decimal& bring,
                                                            const Decimal& onSolana,
                                                            std::optional<std::string>& gasShort) {
  for (const char* key : kFundingNetworks) {
    const EVMNetwork* net = EVMNetwork::byKey(key);
    if (!net) continue;
    std::optional<RelayEVMDeposit> q;
    UInt256 native, floor;
    try {
      EVMRPC rpc = s_.evm(*net);
      const Decimal held = evmUSDC(rpc, *net, s_.wallet.evm);
      if (held < bring) continue;
      q = s_.funding->quoteEVMToHyperliquid(*net, s_.wallet.evm, bring);
      if (q->arriving.isPositive() && q->arriving < shortfall) {
        const Decimal more = (bring * shortfall / q->arriving).rounded(2, RoundingMode::up);
        if (held < more) continue;
        q = s_.funding->quoteEVMToHyperliquid(*net, s_.wallet.evm, more);
      }
      if (!q->amountIn || !q->spend.isPositive() || q->calls.empty() || held < q->spend) continue;
      native = rpc.balance(s_.wallet.evm);
      floor = gasNeeded(*net, rpc);
    } catch (const Error&) {
      continue;  // a network that can't be read or quoted just now funds nothing
    }
    const Decimal lost = q->spend - q->arriving - (bring - shortfall);
    if (CostlyMove::exceeds(lost, q->spend)) {
      throw CostlyMove(lost, q->spend, "Bringing " + usdc(q->spend) + " from " + net->name + " over Relay");
    }
    FundFrom f{net, q->spend, q->arriving, Decimal(0)};
    if (native < floor) {
      const std::string coin = EVMNetwork::gasCoinForGas(net->chainId);
      if (!s_.relay || !s_.solana || s_.wallet.solana.empty() || onSolana < kGasTopupUSDC) {
        gasShort = net->name + " holds the " + usdc(q->spend) + " but only " + formatUnits(native, 18) + " " + coin +
                   " for gas, and Solana has too little USDC to bring it. Send a little " + coin + " or USDC to Solana.";
        continue;
      }
      f.gasTopup = kGasTopupUSDC;
    }
    return f;
  }
  return std::nullopt;
}

void Executor::buyGas(const EVMNetwork& net, const EVMRPC& rpc) {
  if (!s_.funding || !s_.solana || !s_.relay) {
    throw ExecutionError("No route brings gas to " + net.name + "." + std::string(kNothingSigned));
  }
  const std::string coin = EVMNetwork::gasCoinForGas(net.chainId);
  const UInt256 before = rpc.balance(s_.wallet.evm);
  RelayDeposit q = s_.funding->quoteGasTopup(s_.wallet.solana, net, s_.wallet.evm, kGasTopupUSDC);
  if (!q.amountIn || !q.spend.isPositive() || q.instructions.empty()) {
    throw ExecutionError("Relay didn't give the amount to send for gas on " + net.name + "." + std::string(kNothingSigned));
  }
  const std::string units = units6(kGasTopupUSDC, 6);
  if (EVMCall::sameAddress(q.recipient, s_.wallet.evm)) q.recipient = s_.wallet.evm;
  Verdict binding = BindingGuard::check("Relay", {s_.wallet.evm, s_.wallet.solana, units}, {q.recipient, q.sender, q.amountIn});
  if (!binding.clean()) {
    throw ExecutionError("The Relay quote for gas doesn't match the plan: " + text::join(binding.problems, " ") +
                         kNothingSigned);
  }
  Journal& journal = s_.orders.setup().journal;
  SolanaMove m;
  m.owner = s_.wallet.solana;
  m.instructions = q.instructions;
  m.extraPrograms = {std::string(kRelayDepositoryProgram)};
  const std::string mine = SPL::associatedTokenAddress(m.owner, SolanaPrograms::kUsdcMint, SolanaPrograms::kToken);
  m.watches = {{"USDC", mine, true, -Decimal::parse(units).toInt64().value_or(0)}, {"SOL", m.owner, false, -5'000'000}};
  m.envelope = Envelope{kGasTopupUSDC, Decimal(0), s_.wallet.evm,
                        s_.clock.nowMillis() + std::chrono::milliseconds(kEnvelopeLife).count()};
  m.input = q.spend;
  m.output = q.arriving;
  m.destination = q.recipient;
  m.note = "Gas top-up: " + usdc(q.spend) + " from Solana to " + coin + " on " + net.name + " over Relay, order " + q.requestId;
  m.onSigned = [&](const std::string& tx) {
    journal.append({s_.clock.nowMillis(), "relay", q.requestId, EntryKind::signed_,
                    "Relay " + q.spend.toString() + " USDC Solana → " + coin + " on " + net.name + " for gas, tx " + tx});
  };
  SolanaSender sender(*s_.solana, s_.orders.setup().signer, journal, s_.clock);
  ChainSendOutcome sent = sender.send(m);
  if (sent.kind != ChainSendOutcome::Kind::confirmed) {
    if (sent.kind != ChainSendOutcome::Kind::unknown) {
      try {
        journal.append({s_.clock.nowMillis(), "relay", q.requestId,
                        sent.kind == ChainSendOutcome::Kind::expired ? EntryKind::expired : EntryKind::failed,
                        "The deposit didn't land."});
      } catch (const JournalError&) {
      }
      throw ExecutionError("The gas top-up didn't land on Solana (" + sent.detail +
                           "). No trade; the money stayed on Solana and " + net.name + ".");
    }
    throw ExecutionError("The gas top-up's fate on Solana is unknown (" + sent.detail + "). Order " + q.requestId +
                         " is in the journal; the trade wasn't opened.");
  }
  say("Gas top-up sent on Solana; waiting for " + coin + " on " + net.name + ".");
  const std::int64_t start = s_.clock.monotonicMillis();
  for (;;) {
    std::string status;
    try {
      status = text::asciiLowercased(s_.relay->relayStatus(q.requestId));
    } catch (const std::exception&) {
    }
    UInt256 now = before;
    try {
      now = rpc.balance(s_.wallet.evm);
    } catch (const std::exception&) {
    }
    if (now > before) {
      journal.append({s_.clock.nowMillis(), "relay", q.requestId, EntryKind::settled,
                      "credited " + formatUnits(now - before, 18) + " " + coin + " on " + net.name});
      say("Gas on " + net.name + ": " + formatUnits(now - before, 18) + " " + coin + " arrived.");
      return;
    }
    if (status == "refund" || status == "refunded" || status == "failure") {
      journal.append({s_.clock.nowMillis(), "relay", q.requestId, EntryKind::failed, "Relay " + status});
      throw ExecutionError("Relay returned the gas top-up's " + usdc(q.spend) + ". Check your Solana balance. No trade; the USDC is still on " +
                           net.name + ".");
    }
    if (s_.clock.monotonicMillis() - start >= std::chrono::milliseconds(kBridgeWait).count()) break;
    s_.clock.sleepFor(std::chrono::milliseconds(kBridgePoll).count());
  }
  throw ExecutionError("Relay didn't bring the gas to " + net.name + " within 4 minutes. Order " + q.requestId +
                       " is in the journal; the trade wasn't opened and the USDC is still on " + net.name + ".");
}

void Executor::runFundFrom(const FundFrom& planned, const Envelope& envelope) {
  if (!s_.funding || !s_.evm || !planned.net) {
    throw ExecutionError("No route from EVM networks is set up." + std::string(kNothingSigned));
  }
  const EVMNetwork& net = *planned.net;
  EVMRPC rpc = s_.evm(net);
  // The gas may have arrived since the card; bought only when still short.
  bool afterGas = false;
  if (planned.gasTopup.isPositive() && rpc.balance(s_.wallet.evm) < gasNeeded(net, rpc)) {
    buyGas(net, rpc);
    afterGas = true;
  }
  auto stopped = [&](const std::string& why) -> ExecutionError {
    return ExecutionError(afterGas ? why + " The gas top-up went through; no trade, the USDC is still on " + net.name + "."
                                   : why + kNothingSigned);
  };

  const Decimal baseline = Hyperliquid::balance(s_.orders.info(), s_.wallet.evm).withdrawable;
  RelayEVMDeposit q = s_.funding->quoteEVMToHyperliquid(net, s_.wallet.evm, planned.usdc);
  if (!q.amountIn || !q.spend.isPositive() || q.calls.empty()) throw stopped("Relay didn't give the amount to send.");
  if (EVMCall::sameAddress(q.recipient, s_.wallet.evm)) q.recipient = s_.wallet.evm;
  if (EVMCall::sameAddress(q.sender, s_.wallet.evm)) q.sender = s_.wallet.evm;
  const std::string units = units6(planned.usdc, net.usdcDecimals);
  std::vector<std::string> problems =
      BindingGuard::check("Relay", {s_.wallet.evm, s_.wallet.evm, units}, {q.recipient, q.sender, q.amountIn}).problems;
  for (auto& v : envelope.violations(s_.clock.nowMillis(), q.spend, q.arriving, q.recipient)) problems.push_back(std::move(v));
  if (!problems.empty()) throw stopped("The price moved past what was approved: " + text::join(problems, " "));
  // Every call is judged before the first is signed.
  const UInt256 limit = *parseUInt256(units);
  for (const auto& call : q.calls) {
    if (call.chainId != net.chainId) {
      throw stopped("Relay's step " + call.id + " is for chain " + std::to_string(call.chainId) + ", not " + net.name + ".");
    }
    auto value = parseUInt256(call.value);
    if (!value || *value != UInt256(0)) throw stopped("Relay's step " + call.id + " also sends " + call.value + " wei.");
    EVMCall decoded = EVMCall::decode(call.to, call.data);
    if (auto p = EVMCall::problem(decoded, s_.wallet.evm, s_.clock.nowMillis() / 1000)) throw stopped(*p);
    const bool moves = decoded.kind == EVMCall::Kind::approve || decoded.kind == EVMCall::Kind::increaseAllowance ||
                       decoded.kind == EVMCall::Kind::transfer;
    if (moves && decoded.amount > limit) {
      throw stopped("Relay's step " + call.id + " moves " + formatUnits(decoded.amount, net.usdcDecimals) +
                    " USDC, more than the " + planned.usdc.toString() + " approved.");
    }
  }

  Journal& journal = s_.orders.setup().journal;
  EVMSender sender(net, rpc, s_.orders.setup().signer, journal, s_.clock, evmNonces_);
  ChainSendOutcome sent;
  bool anySigned = afterGas;
  for (std::size_t i = 0; i < q.calls.size(); ++i) {
    const auto& call = q.calls[i];
    EVMCall decoded = EVMCall::decode(call.to, call.data);
    EVMMove m;
    m.wallet = s_.wallet.evm;
    m.to = call.to;
    m.data = call.data;
    m.recipients = {call.to};
    if (!decoded.to.empty()) m.recipients.push_back(decoded.to);
    m.spendAsset = net.usdc;
    m.spendDecimals = net.usdcDecimals;
    m.envelope = envelope;
    m.input = q.spend;
    m.output = q.arriving;
    m.destination = q.recipient;
    m.note = "Funding " + call.id + ": " + usdc(q.spend) + " from " + net.name + " to Hyperliquid over Relay, order " +
             q.requestId;
    if (i + 1 == q.calls.size()) {
      m.onSigned = [&](const std::string& tx) {
        journal.append({s_.clock.nowMillis(), "relay", q.requestId, EntryKind::signed_,
                        "Relay " + q.spend.toString() + " USDC " + net.name + " → Hyperliquid, tx " + tx});
      };
    }
    try {
      sent = sender.send(m);
    } catch (const ExecutionError& e) {
      if (!anySigned) throw;
      // Something was signed already (the gas, or the approval): the stop must not say otherwise.
      std::string why = e.what();
      if (why.ends_with(kNothingWasSigned)) why.resize(why.size() - kNothingWasSigned.size());
      if (why.starts_with("Nothing was signed: ")) why = why.substr(std::string_view("Nothing was signed: ").size());
      while (!why.empty() && why.back() == ' ') why.pop_back();
      throw ExecutionError("The " + call.id + " step wasn't signed: " + why + " No trade; the USDC is still on " +
                           net.name + ".");
    }
    anySigned = true;
    if (sent.kind != ChainSendOutcome::Kind::confirmed) break;
  }
  if (sent.kind != ChainSendOutcome::Kind::confirmed) {
    bool journaled = false;
    for (const auto& e : journal.open()) journaled = journaled || (e.chain == "relay" && e.id == q.requestId);
    if (sent.kind == ChainSendOutcome::Kind::unknown) {
      throw ExecutionError("The funding transaction's fate on " + net.name + " is unknown (" + sent.detail + ")." +
                           (journaled ? " Order " + q.requestId + " is in the journal; the trade wasn't opened."
                                      : " The trade wasn't opened."));
    }
    if (journaled) {
      try {
        journal.append({s_.clock.nowMillis(), "relay", q.requestId,
                        sent.kind == ChainSendOutcome::Kind::expired ? EntryKind::expired : EntryKind::failed,
                        "The deposit didn't land."});
      } catch (const JournalError&) {
      }
    }
    throw ExecutionError("The funding transaction didn't land on " + net.name + " (" + sent.detail +
                         "). No trade; the USDC is still on " + net.name + ".");
  }
  say("Deposit confirmed on " + net.name + "; waiting for Relay to credit Hyperliquid.");
  awaitRelayCredit(q.requestId, baseline, q.arriving * creditShare(),
                   "Relay returned " + usdc(q.spend) + ". Check your " + net.name + " balance.", net.name);
}

void Executor::runOpening(const OpenVia1Click& planned, const Envelope& envelope) {
  if (!s_.opening || !s_.solana) throw ExecutionError("No route from Solana is set up." + std::string(kNothingSigned));
  const Decimal held = solanaUSDC();
  if (held < planned.units) {
    throw ExecutionError("Solana has " + Fmt::num(held, 2) + " USDC; opening through NEAR Intents needs " +
                         usdc(planned.units) + "." + kNothingSigned);
  }
  const Decimal baseline = Hyperliquid::balance(s_.orders.info(), s_.wallet.evm).withdrawable;
  const std::int64_t askedAt = s_.clock.nowMillis();
  OpeningQuote q;
  try {
    q = s_.opening->quoteOpening(s_.wallet.solana, s_.wallet.evm, planned.units, askedAt);
  } catch (const Error&) {
    throw ExecutionError("NEAR Intents didn't quote Solana → Hyperliquid just now. Nothing was signed; Relay can open "
                         "it instead.");
  }
  if (!q.depositAddress) throw ExecutionError("1Click gave no deposit address. Nothing was signed.");
  const std::string deposit = *q.depositAddress;
  std::vector<std::string> problems;
  std::optional<std::string> quotedRecipient = s_.wallet.evm;
  if (q.bound.is_object()) {
    problems = DepositGuard::check(q.bound, q.asked).problems;
    if (auto it = q.bound.find("recipient"); it != q.bound.end() && it->is_string()) quotedRecipient = it->get<std::string>();
  }
  for (auto& v : envelope.violations(s_.clock.nowMillis(), q.spend, q.arriving, quotedRecipient)) problems.push_back(std::move(v));
  if (q.deadline && *q.deadline <= s_.clock.nowMillis()) problems.push_back("The 1Click quote has already run out.");
  auto exact = Decimal::tryParse(q.amountIn);
  if (!exact || !exact->isInteger() || !exact->isPositive()) problems.push_back("1Click's quote gives no whole amount to send.");
  if (!problems.empty()) {
    throw ExecutionError("The price moved past what was approved: " + text::join(problems, " ") + kNothingSigned);
  }

  Journal& journal = s_.orders.setup().journal;
  const auto amount = static_cast<std::uint64_t>(exact->toInt64().value_or(0));
  SolanaMove m;
  m.owner = s_.wallet.solana;
  m.instructions = SPL::transferInstructions({m.owner, deposit, std::string(SolanaPrograms::kUsdcMint),
                                              std::string(SolanaPrograms::kToken), amount, 6, true});
  m.recipients = {deposit};
  m.tokenOwners[SPL::associatedTokenAddress(deposit, SolanaPrograms::kUsdcMint, SolanaPrograms::kToken)] = deposit;
  const std::string mine = SPL::associatedTokenAddress(m.owner, SolanaPrograms::kUsdcMint, SolanaPrograms::kToken);
  m.watches = {{"USDC", mine, true, -static_cast<std::int64_t>(amount)}, {"SOL", m.owner, false, -5'000'000}};
  m.envelope = envelope;
  m.input = q.spend;
  m.output = q.arriving;
  m.destination = quotedRecipient;
  m.note = "Opening deposit: " + usdc(q.spend) + " from Solana over 1Click to " + deposit;
  m.onSigned = [&](const std::string& tx) {
    journal.append({s_.clock.nowMillis(), "1click", deposit, EntryKind::signed_,
                    "1Click " + q.spend.toString() + " USDC Solana → Hyperliquid for " + s_.wallet.evm + ", tx " + tx});
  };
  SolanaSender sender(*s_.solana, s_.orders.setup().signer, journal, s_.clock);
  ChainSendOutcome sent = sender.send(m);
  auto journalOutcome = [&](EntryKind kind, const std::string& what) {
    try {
      journal.append({s_.clock.nowMillis(), "1click", deposit, kind, what});
    } catch (const JournalError&) {
      // The outcome stands; recovery settles the open entry later.
    }
  };
  if (sent.kind == ChainSendOutcome::Kind::unknown) {
    throw ExecutionError("The deposit's fate on Solana is unknown (" + sent.detail + "). Deposit " + deposit +
                         " is in the journal; the trade wasn't opened.");
  }
  if (sent.kind != ChainSendOutcome::Kind::confirmed) {
    journalOutcome(sent.kind == ChainSendOutcome::Kind::expired ? EntryKind::expired : EntryKind::failed,
                   "The deposit didn't land.");
    throw ExecutionError("The deposit to NEAR Intents didn't land (" + sent.detail +
                         "). The money stayed on Solana; you can retry.");
  }
  say("Deposit sent on Solana; NEAR Intents is opening your Hyperliquid account.");

  const Decimal wanted = q.arriving * creditShare();
  const std::int64_t start = s_.clock.monotonicMillis();
  std::string last;
  for (;;) {
    Decimal now = Hyperliquid::balance(s_.orders.info(), s_.wallet.evm).withdrawable;
    if (now - baseline >= wanted) {
      journalOutcome(EntryKind::settled, "credited " + (now - baseline).toString() + " USDC on Hyperliquid");
      say("NEAR Intents opened your Hyperliquid account in " +
          std::to_string((s_.clock.monotonicMillis() - start) / 1000) + " s.");
      return;
    }
    std::optional<OpeningStatus> status;
    try {
      status = s_.opening->openingStatus(deposit);
    } catch (const std::exception&) {
    }
    if (status && status->status != last) {
      say("1Click deposit " + deposit + ": " + status->status + ".");
      last = status->status;
    }
    if (status && status->final && status->status != "SUCCESS") {
      journalOutcome(EntryKind::failed, "1Click ended " + status->status);
      throw ExecutionError("1Click returned " + status->refunded.value_or(q.spend.toString()) +
                           " USDC. Check your Solana balance.");
    }
    if (status && status->status == "PENDING_DEPOSIT" && q.deadline && s_.clock.nowMillis() > *q.deadline) {
      journalOutcome(EntryKind::expired, "The quote ran out before 1Click saw the deposit");
      throw ExecutionError("1Click's quote ran out before it saw the deposit to " + deposit +
                           ". 1Click sends what reaches it late back to your Solana wallet; the trade wasn't opened.");
    }
    if (s_.clock.monotonicMillis() - start >= std::chrono::milliseconds(kOpeningWait).count()) break;
    s_.clock.sleepFor(std::chrono::milliseconds(kBridgePoll).count());
  }
  throw ExecutionError("1Click didn't credit the USDC within 10 minutes. Deposit " + deposit +
                       " is in the journal; the trade wasn't opened.");
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
