// The rule-based checks that stand between a prepared transaction, action or
// piece of outside text and its signature. Each guard reads what is about to
// be signed, compares it with what the wallet and the confirmed plan allow,
// and returns a Verdict: what was found acceptable and what is wrong. Any
// problem blocks signing.
//
// Guards never throw and never touch the network: parsed messages and
// simulation results are handed in. All are pure and thread-safe, except that
// InjectionGuard::check waits for its classifier (it holds no shared state).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/decimal.h"
#include "base/json.h"
#include "chains/solana_transaction.h"

namespace orwenna {

struct Verdict {
  std::vector<std::string> checks;    // what was verified; shown as ticks
  std::vector<std::string> problems;  // each one blocks signing

  [[nodiscard]] bool clean() const { return problems.empty(); }
  void append(const Verdict& other);
  bool operator==(const Verdict&) const = default;
};

struct SolanaPolicy {
  std::string owner;                            // the only allowed signer and fee payer
  std::set<std::string> recipients;             // may receive SOL or tokens besides the owner
  std::map<std::string, std::string> programs;  // allow-list: program id → label
  Decimal maxPriorityFee;                       // SOL
  // When set, a program reached through a lookup-table entry is judged by
  // the id the table gives instead of being refused.
  bool trustLookupTables = false;

  // Every program the system knows, in display order: (id, label).
  static const std::vector<std::pair<std::string, std::string>>& knownPrograms();
  [[nodiscard]] static std::optional<std::string> programLabel(std::string_view id);
  // An allow-list drawn from the known programs. REQUIRES: every id is known.
  static std::map<std::string, std::string> allow(const std::vector<std::string_view>& ids);
};

struct SolanaGuard {
  // A simulated balance bound in base units; the change after − before must
  // be at least `atLeast`.
  struct BalanceRule {
    std::string label;
    std::int64_t before = 0;
    std::int64_t after = 0;
    std::int64_t atLeast = 0;
  };

  static constexpr std::uint32_t kDefaultComputeUnitLimit = 200'000;

  // `accounts` is the full account list of the message (static keys, then
  // the lookup-table entries); entries it lacks count as unknown accounts.
  [[nodiscard]] static Verdict check(const SolanaMessage& message, const std::vector<std::string>& accounts,
                                     const SolanaPolicy& policy);
  [[nodiscard]] static Verdict balances(const std::vector<BalanceRule>& rules);
};

struct HLGuard {
  static constexpr std::string_view kHLPVault = "0xdfc24b077bc1425ad1dea75bcb6f8158e10df303";

  // `action` is the Hyperliquid action object about to be signed; addresses
  // compare case-insensitively.
  [[nodiscard]] static Verdict check(const Json& action, std::string_view owner,
                                     const std::vector<std::string>& approved, std::string_view agentAddress);
};

// The recipient, sender and amount of a bridge deposit; an absent field is
// shown as "none".
struct BridgeBinding {
  std::optional<std::string> recipient;
  std::optional<std::string> sender;
  std::optional<std::string> amount;  // base units
};

struct BindingGuard {
  // EVM addresses compare case-insensitively, amounts by value.
  [[nodiscard]] static Verdict check(std::string_view label, const BridgeBinding& planned,
                                     const BridgeBinding& quoted);
};

struct DepositGuard {
  // The fields a deposit address is bound to, in the order they are checked.
  static const std::vector<std::string>& fields();
  // `bound` is what the service says the address is bound to, `requested`
  // what was asked for; both are JSON objects with the fields above (strings
  // or numbers).
  [[nodiscard]] static Verdict check(const Json& bound, const Json& requested);
};

struct InjectionHeuristics {
  struct Findings {
    std::vector<std::string> commands;   // phrases that address the assistant
    std::vector<std::string> addresses;  // EVM or Solana addresses in the text
    bool transferVerb = false;           // the text asks to move money
  };
  [[nodiscard]] static Findings scan(std::string_view text);
};

// A reviewer that labels outside text "data", "instructions" or
// "payment_redirect" with a confidence from 0 to 1.
class InjectionClassifier {
 public:
  struct Label {
    std::string label;
    double confidence = 0;
  };
  virtual ~InjectionClassifier() = default;
  virtual std::string name() const = 0;
  // False when it cannot be asked at all (no key); the guard then goes on
  // with local rules alone, as without a classifier.
  virtual bool available() const { return true; }
  // Throws std::exception carrying the reason when there is no answer.
  virtual Label classify(std::string_view text, std::string_view source) const = 0;
};

struct InjectionGuard {
  // `source` says where the text came from ("web page", "token description",
  // …). Blocks while the classifier answers; its failure never blocks.
  [[nodiscard]] static Verdict check(std::string_view text, std::string_view source,
                                     const InjectionClassifier* classifier = nullptr);
};

}  // namespace orwenna
