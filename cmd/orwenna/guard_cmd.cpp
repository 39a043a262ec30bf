// `orwenna guard …`: the verdict of the transaction guards on a Solana
// transaction, and of the outside-text guard on text read from standard
// input (with the second check when ORWENNA_OPENROUTER_KEY holds a key).
// A verdict with problems exits with status 2.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/services.h"
#include "base/bytes.h"
#include "base/json.h"
#include "chains/solana_transaction.h"
#include "guards/second_check.h"
#include "guards/tx_guard.h"
#include "orwenna/command.h"

namespace orwenna::cmd {

namespace {

constexpr int kBlocked = 2;

void printVerdict(const Verdict& v, bool json) {
  if (json) {
    std::cout << Json{{"checks", v.checks}, {"problems", v.problems}}.dump(2) << '\n';
  } else {
    for (const auto& line : v.checks) std::cout << "✓ " << line << '\n';
    for (const auto& line : v.problems) std::cout << "✗ " << line << '\n';
  }
  if (!v.clean()) {
    throw CommandFailure("Blocked: " + std::to_string(v.problems.size()) +
                             (v.problems.size() == 1 ? " problem." : " problems.") + " Nothing may be signed.",
                         kBlocked);
  }
}

struct SolanaOptions {
  std::string base64;
  std::string owner;
  std::vector<std::string> recipients;
  std::vector<std::string> programs;
  std::string maxPriorityFee = "0.005";
  bool trustLookupTables = false;
  bool json = false;
};

void guardSolana(const SolanaOptions& o) {
  auto bytes = fromBase64(o.base64);
  if (!bytes) throw CommandFailure("The transaction is not Base64.");
  if (!isSolanaAddress(o.owner)) throw CommandFailure("Invalid Solana address: " + o.owner);
  SolanaPolicy policy;
  policy.owner = o.owner;
  for (const auto& r : o.recipients) {
    if (!isSolanaAddress(r)) throw CommandFailure("Invalid Solana address: " + r);
    policy.recipients.insert(r);
  }
  std::vector<std::string_view> ids;
  if (o.programs.empty()) {
    ids = {SolanaPrograms::kSystem, SolanaPrograms::kComputeBudget, SolanaPrograms::kToken,
           SolanaPrograms::kToken2022, SolanaPrograms::kAssociatedToken};
  }
  for (const auto& id : o.programs) {
    if (!SolanaPolicy::programLabel(id)) {
      std::string known;
      for (const auto& [k, label] : SolanaPolicy::knownPrograms()) known += "\n  " + k + "  " + label;
      throw CommandFailure("Unknown program " + id + ". Known programs:" + known);
    }
    ids.push_back(id);
  }
  policy.programs = SolanaPolicy::allow(ids);
  auto fee = Decimal::tryParse(o.maxPriorityFee);
  if (!fee || *fee < Decimal(0)) throw CommandFailure("Unexpected number format: " + o.maxPriorityFee);
  policy.maxPriorityFee = *fee;
  policy.trustLookupTables = o.trustLookupTables;

  auto message = SolanaTransaction::parseMessage(SolanaTransaction::parse(*bytes).message);
  // Lookup tables are not fetched: their entries stay unknown accounts.
  printVerdict(SolanaGuard::check(message, message.staticKeys, policy), o.json);
}

void guardText(const std::string& source, bool json) {
  std::string text = readStandardInput();
  const SecondCheckClassifier classifier = Services::fromProcess().secondCheck();
  if (!classifier.connected() && !json) std::cout << SecondCheckReview::kNotConnected << '\n';
  printVerdict(InjectionGuard::check(text, source, &classifier), json);
}

CommandRegistrar guardRegistrar([](CLI::App& app) {
  CLI::App* guard = app.add_subcommand("guard", "What the guards find in a transaction or in outside text");
  guard->require_subcommand(1);

  static SolanaOptions solana;
  auto* solanaCmd = guard->add_subcommand("solana", "The verdict on a Base64 Solana transaction before signing");
  solanaCmd->add_option("BASE64", solana.base64, "the transaction in Base64")->required();
  solanaCmd->add_option("--owner", solana.owner, "the wallet: the only allowed signer and fee payer")->required();
  solanaCmd->add_option("--recipient", solana.recipients, "an address that may receive SOL or tokens (repeatable)");
  solanaCmd->add_option("--program", solana.programs,
                        "an allowed program id (repeatable; default: System, Compute Budget, SPL Token, "
                        "Token-2022, Associated Token)");
  solanaCmd->add_option("--max-priority-fee", solana.maxPriorityFee, "the highest priority fee in SOL")
      ->capture_default_str();
  solanaCmd->add_flag("--trust-lookup-tables", solana.trustLookupTables,
                      "judge programs named through lookup tables instead of refusing them");
  solanaCmd->add_flag("--json", solana.json, "print the verdict as JSON");
  solanaCmd->callback([] { guardSolana(solana); });

  static std::string source = "outside text";
  static bool textJson = false;
  auto* textCmd = guard->add_subcommand(
      "text", "The verdict on outside text read from standard input (second check with ORWENNA_OPENROUTER_KEY)");
  textCmd->add_option("--source", source, "where the text came from, e.g. \"web page\"")->capture_default_str();
  textCmd->add_flag("--json", textJson, "print the verdict as JSON");
  textCmd->callback([] { guardText(source, textJson); });
});

}  // namespace

}  // namespace orwenna::cmd
