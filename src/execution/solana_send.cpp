#include "execution/solana_send.h"

#include <algorithm>

#include "execution/execution_error.h"
#include "guards/tx_guard.h"
#include "signing/accounts.h"
#include "signing/base58.h"

namespace orwenna {

namespace {

// A token account's amount: bytes 64..72 of its data, little-endian.
std::uint64_t tokenAmountOf(const Bytes& data) {
  if (data.size() < 72) return 0;
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | data[64 + static_cast<std::size_t>(i)];
  return v;
}

std::int64_t clampToInt64(std::uint64_t v) {
  return v > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(v);
}

std::string outcomeNote(const SolanaRPC::Outcome& o) {
  switch (o.kind) {
    case SolanaRPC::Outcome::Kind::confirmed: return "Confirmed.";
    case SolanaRPC::Outcome::Kind::failed: return "Failed on chain: " + o.error;
    case SolanaRPC::Outcome::Kind::expired: return "Expired: the blockhash ran out before it landed.";
  }
  return {};
}

}  // namespace

SolanaSender::SolanaSender(const SolanaRPC& rpc, TradeSigner& signer, Journal& journal, Clock& clock)
    : rpc_(rpc), signer_(signer), journal_(journal), clock_(clock) {}

SolanaSender::Prepared SolanaSender::prepare(const SolanaMove& move) {
  Prepared p;
  try {
    auto latest = rpc_.latestBlockhash();
    p.lastValidBlockHeight = latest.lastValidBlockHeight;
    if (move.received) {
      p.wire = *move.received;
      p.message = SolanaTransaction::checkForSigning(p.wire, move.owner);
    } else {
      auto built = SolanaTransaction::build(move.instructions, move.owner, latest.blockhash, move.microLamportsPerUnit);
      p.wire = std::move(built.transaction);
      p.message = std::move(built.message);
    }
    SolanaMessage message = SolanaTransaction::parseMessage(p.message);
    std::map<std::string, std::vector<std::string>> tables;
    if (!message.lookups.empty()) {
      std::vector<std::string> addresses;
      for (const auto& l : message.lookups) addresses.push_back(l.table);
      tables = rpc_.lookupTables(addresses);
    }
    p.accounts = SolanaTransaction::resolveAccounts(message, tables);

    SolanaPolicy policy;
    policy.owner = move.owner;
    policy.recipients = move.recipients;
    policy.programs = SolanaPolicy::allow({SolanaPrograms::kSystem, SolanaPrograms::kComputeBudget,
                                           SolanaPrograms::kToken, SolanaPrograms::kToken2022,
                                           SolanaPrograms::kAssociatedToken});
    for (const auto& id : move.extraPrograms) {
      if (auto label = SolanaPolicy::programLabel(id)) policy.programs[id] = *label;
    }
    policy.maxPriorityFee = Decimal::parse(kMaxPriorityFee);
    Verdict verdict = SolanaGuard::check(message, p.accounts, policy);
    if (!verdict.clean()) throw ExecutionError(nothingSigned(verdict.problems));
    p.checks = verdict.checks;

    // Balances before, then as the simulation leaves them.
    std::vector<std::string> watched;
    std::vector<std::int64_t> before;
    for (const auto& w : move.watches) {
      watched.push_back(w.address);
      auto info = rpc_.accountInfo(w.address);
      before.push_back(!info ? 0 : clampToInt64(w.token ? tokenAmountOf(info->data) : info->lamports));
    }
    SolanaSimulation simulation = SolanaSimulation::read(rpc_.simulate(p.wire, false, watched), watched);
    if (simulation.feePayerShortOfSol()) {
      std::optional<Decimal> balance;
      try {
        balance = lamportsToSol(rpc_.balance(move.owner));
      } catch (const std::exception&) {
      }
      throw ExecutionError(nothingSigned(SolanaSimulation::notEnoughSolMessage(move.owner, balance)));
    }
    if (simulation.error && move.reroute &&
        simulation.error->find("{\"Custom\":" + std::to_string(move.reroute->customError) + "}") != std::string::npos) {
      throw RouteRefused(nothingSigned("The simulation failed: " + *simulation.error + move.reroute->note));
    }
    if (simulation.error) throw ExecutionError(nothingSigned("The simulation failed: " + *simulation.error));
    std::vector<SolanaGuard::BalanceRule> rules;
    for (std::size_t i = 0; i < move.watches.size(); ++i) {
      const auto& after = simulation.accounts.at(i);
      const std::uint64_t value = move.watches[i].token ? after.tokenAmount.value_or(0) : after.lamports;
      rules.push_back({move.watches[i].label, before[i], clampToInt64(value), move.watches[i].atLeast});
    }
    Verdict balances = SolanaGuard::balances(rules);
    if (!balances.clean()) throw ExecutionError(nothingSigned(balances.problems));
    p.checks.insert(p.checks.end(), balances.checks.begin(), balances.checks.end());
  } catch (const ExecutionError&) {
    throw;
  } catch (const Error& e) {
    throw ExecutionError(nothingSigned(e.what()));
  }
  auto violations = move.envelope.violations(clock_.nowMillis(), move.input, move.output, move.destination);
  if (!violations.empty()) throw ExecutionError(nothingSigned(violations));
  return p;
}

ChainSendOutcome SolanaSender::send(const SolanaMove& move) {
  ChainSendOutcome outcome;
  outcome.chain = "solana";
  for (int attempt = 0; attempt < 2; ++attempt) {
    Prepared p = prepare(move);
    signer_request::SignSolana request;
    request.wire = p.wire;
    request.accounts = p.accounts;
    request.recipients.assign(move.recipients.begin(), move.recipients.end());
    request.tokenOwners = move.tokenOwners;
    request.extraPrograms = move.extraPrograms;
    Bytes signedWire;
    try {
      signedWire = signer_.signSolana(request);
    } catch (const Error& e) {
      throw ExecutionError(nothingSigned(e.what()));
    }

    // The signer returns a whole transaction: only the one we checked, signed
    // by the owner, may go out.
    SolanaTransaction::Parsed parsed;
    bool same = false;
    try {
      parsed = SolanaTransaction::parse(signedWire);
      const auto owner = solanaAddressBytes(move.owner);
      same = parsed.message == p.message && parsed.signatures.size() == 1 &&
             Ed25519::verify(owner, parsed.message, parsed.signatures[0]);
    } catch (const std::exception&) {
      same = false;
    }
    if (!same) throw ExecutionError("What was signed isn't what was checked, so it was not sent. The money is still in your wallet.");
    outcome.id = Base58::encode(parsed.signatures[0]);
    outcome.checks = p.checks;
    journal_.append({clock_.nowMillis(), "solana", outcome.id, Journal::Entry::Kind::signed_, move.note});
    if (move.onSigned) move.onSigned(outcome.id);

    try {
      (void)rpc_.send(signedWire);
    } catch (const SolanaRPCError& e) {
      journal_.append({clock_.nowMillis(), "solana", outcome.id, Journal::Entry::Kind::failed,
                       std::string("Refused by the node: ") + e.what()});
      throw ExecutionError(std::string("Solana refused the transaction: ") + e.what() +
                           " It was not sent; the money is still in your wallet.");
    } catch (const Error& e) {
      outcome.kind = ChainSendOutcome::Kind::unknown;
      outcome.detail = e.what();
      return outcome;
    }

    SolanaRPC::Outcome landed;
    try {
      landed = rpc_.waitForConfirmation(outcome.id, p.lastValidBlockHeight, kConfirmationSeconds);
    } catch (const Error& e) {
      outcome.kind = ChainSendOutcome::Kind::unknown;
      outcome.detail = e.what();
      return outcome;
    }
    Journal::Entry::Kind kind = landed.kind == SolanaRPC::Outcome::Kind::confirmed ? Journal::Entry::Kind::confirmed
                                : landed.kind == SolanaRPC::Outcome::Kind::failed  ? Journal::Entry::Kind::failed
                                                                                   : Journal::Entry::Kind::expired;
    journal_.append({clock_.nowMillis(), "solana", outcome.id, kind, outcomeNote(landed)});
    outcome.detail = landed.error;
    if (landed.kind == SolanaRPC::Outcome::Kind::confirmed) {
      outcome.kind = ChainSendOutcome::Kind::confirmed;
      return outcome;
    }
    if (landed.kind == SolanaRPC::Outcome::Kind::failed) {
      outcome.kind = ChainSendOutcome::Kind::failed;
      return outcome;
    }
    outcome.kind = ChainSendOutcome::Kind::expired;
    // A received transaction carries the route's blockhash: it is not ours to rebuild.
    if (move.received) return outcome;
  }
  return outcome;
}

}  // namespace orwenna
