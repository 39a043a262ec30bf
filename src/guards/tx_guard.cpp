#include "guards/tx_guard.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "base/regex.h"
#include "base/text.h"
#include "chains/spl.h"

namespace orwenna {

void Verdict::append(const Verdict& other) {
  checks.insert(checks.end(), other.checks.begin(), other.checks.end());
  problems.insert(problems.end(), other.problems.begin(), other.problems.end());
}

// ---------------------------------------------------------------------------
// Solana

const std::vector<std::pair<std::string, std::string>>& SolanaPolicy::knownPrograms() {
  static const std::vector<std::pair<std::string, std::string>> table = {
      {std::string(SolanaPrograms::kSystem), "System"},
      {std::string(SolanaPrograms::kComputeBudget), "Compute Budget"},
      {std::string(SolanaPrograms::kToken), "SPL Token"},
      {std::string(SolanaPrograms::kToken2022), "Token-2022"},
      {std::string(SolanaPrograms::kAssociatedToken), "Associated Token"},
      {"JUP6LkbZbjS1jKKwapdHNy74zcZ3tLUZoi5QNyVTaV4", "Jupiter Swap"},
      {"jup3YeL8QhtSx1e253b2FDvsMNC87fDrgQZivbrndc9", "Jupiter Lend Earn"},
      {"DCA265Vj8a9CEuX1eb1LWRnDT7uK6q1xMipnNyatn23M", "DCA"},
      {"99vQwtBwYtrqqD9YSXbdum3KBdxPAVxYTaQ3cfnJSrN2", "Relay Depository"},
      {"KLend2g3cP87fffoy8q1mQqGKjrxjC8boSyAYavgmjD", "Kamino Lend"},
      {"KvauGMspG5k6rtzrqqn7WNn3oZdyKqLKwK2XWQ8FLjd", "Kamino Vault"},
      {"FarmsPZpWu9i7Kky8tPN37rs2TpmMrAZrC7S7vJa91Hr", "Kamino Farms"},
      {std::string(SolanaPrograms::kAddressLookupTable), "Address Lookup Table"},
  };
  return table;
}

std::optional<std::string> SolanaPolicy::programLabel(std::string_view id) {
  for (const auto& [known, label] : knownPrograms()) {
    if (known == id) return label;
  }
  return std::nullopt;
}

std::map<std::string, std::string> SolanaPolicy::allow(const std::vector<std::string_view>& ids) {
  std::map<std::string, std::string> out;
  for (auto id : ids) {
    auto label = programLabel(id);
    if (!label) throw std::invalid_argument("unknown program " + std::string(id));
    out.emplace(std::string(id), *label);
  }
  return out;
}

namespace {

constexpr std::string_view kRelayDepository = "99vQwtBwYtrqqD9YSXbdum3KBdxPAVxYTaQ3cfnJSrN2";
constexpr std::string_view kNativeMint = "So11111111111111111111111111111111111111112";
// Anchor discriminators: the first 8 bytes of SHA-256("global:" + name).
constexpr std::array<std::uint8_t, 8> kRelayDepositNative = {13, 158, 13, 223, 95, 213, 28, 6};
constexpr std::array<std::uint8_t, 8> kRelayDepositToken = {11, 156, 96, 218, 39, 163, 180, 19};

std::uint64_t readU64(const Bytes& data, std::size_t at) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(data[at + i]) << (8 * i);
  return v;
}

std::uint32_t readU32(const Bytes& data, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(data[at + i]) << (8 * i);
  return v;
}

bool isTokenProgram(std::string_view id) {
  return id == SolanaPrograms::kToken || id == SolanaPrograms::kToken2022;
}

// The per-message context shared by the instruction rules.
class SolanaJudge {
 public:
  SolanaJudge(const SolanaMessage& m, const std::vector<std::string>& accounts, const SolanaPolicy& p)
      : message_(m), accounts_(accounts), policy_(p) {
    collectTokenAccounts();
  }

  Verdict run() {
    Verdict v;
    for (std::size_t k = 0; k < message_.instructions.size(); ++k) judge(k + 1, message_.instructions[k], v);
    priorityFee(v);
    return v;
  }

 private:
  // The key at an instruction's account position, if the list holds it.
  std::optional<std::string> key(const SolanaMessage::Instruction& ix, std::size_t position) const {
    if (position >= ix.accounts.size()) return std::nullopt;
    int index = ix.accounts[position];
    if (index < 0 || static_cast<std::size_t>(index) >= accounts_.size()) return std::nullopt;
    return accounts_[static_cast<std::size_t>(index)];
  }

  bool isAllowedWallet(const std::string& address) const {
    return address == policy_.owner || policy_.recipients.count(address) > 0;
  }

  // Token accounts that belong to the owner or a recipient: their associated
  // accounts for every mint this message names, and the associated accounts
  // it creates for them (those the chain itself checks against the owner).
  void collectTokenAccounts() {
    std::set<std::pair<std::string, std::string>> mints;  // (mint, token program)
    for (const auto& ix : message_.instructions) {
      auto program = programId(ix);
      if (!program) continue;
      if (isTokenProgram(*program) && !ix.data.empty() && ix.data[0] == 12) {
        if (auto mint = key(ix, 1)) mints.emplace(*mint, *program);
      }
      // Wrapping SOL pays lamports into the wallet's own wrapped-SOL account
      // and syncs it; that account is the wallet's, not a stranger's.
      if (isTokenProgram(*program) && !ix.data.empty() && ix.data[0] == 17) {
        mints.emplace(std::string(kNativeMint), std::string(SolanaPrograms::kToken));
      }
      if (*program == SolanaPrograms::kAssociatedToken && (ix.data.empty() || ix.data[0] <= 1)) {
        auto ata = key(ix, 1), wallet = key(ix, 2), mint = key(ix, 3), tokenProgram = key(ix, 5);
        if (ata && wallet && isAllowedWallet(*wallet)) tokenAccountOwners_[*ata] = *wallet;
        if (mint && tokenProgram && isTokenProgram(*tokenProgram)) mints.emplace(*mint, *tokenProgram);
      }
    }
    std::vector<std::string> wallets{policy_.owner};
    wallets.insert(wallets.end(), policy_.recipients.begin(), policy_.recipients.end());
    for (const auto& [mint, tokenProgram] : mints) {
      for (const auto& wallet : wallets) {
        try {
          tokenAccountOwners_[SPL::associatedTokenAddress(wallet, mint, tokenProgram)] = wallet;
        } catch (const std::exception&) {
          // An unreadable mint or wallet owns nothing we could credit.
        }
      }
    }
  }

  std::optional<std::string> programId(const SolanaMessage::Instruction& ix) const {
    if (ix.programIndex < 0) return std::nullopt;
    auto i = static_cast<std::size_t>(ix.programIndex);
    if (i >= message_.staticKeys.size() && !policy_.trustLookupTables) return std::nullopt;
    if (i < message_.staticKeys.size()) return message_.staticKeys[i];
    if (i < accounts_.size()) return accounts_[i];
    return std::nullopt;
  }

  // Who owns a credited address: the wallet itself, or the wallet behind one
  // of its token accounts.
  std::optional<std::string> ownerOf(const std::string& address) const {
    if (isAllowedWallet(address)) return address;
    auto it = tokenAccountOwners_.find(address);
    if (it != tokenAccountOwners_.end()) return it->second;
    return std::nullopt;
  }

  void judge(std::size_t number, const SolanaMessage::Instruction& ix, Verdict& v) {
    const std::string head = "Instruction " + std::to_string(number) + ": ";
    auto program = programId(ix);
    if (!program) {
      v.problems.push_back(head + "the program is loaded from a lookup table.");
      return;
    }
    auto allowed = policy_.programs.find(*program);
    if (allowed == policy_.programs.end()) {
      v.problems.push_back(head + "program " + *program + " is not on the allowed list.");
      return;
    }
    const std::string& id = *program;
    if (id == SolanaPrograms::kSystem) return system(head, ix, v);
    if (id == SolanaPrograms::kComputeBudget) return computeBudget(ix);
    if (isTokenProgram(id)) return token(head, ix, v);
    if (id == SolanaPrograms::kAssociatedToken) return associatedToken(head, ix, v);
    if (id == SolanaPrograms::kAddressLookupTable) return lookupTable(head, ix, v);
    if (id == kRelayDepository) return relay(head, ix, v);
    v.checks.push_back("Calls " + allowed->second + ". The balance simulation checks the result.");
  }

  void system(const std::string& head, const SolanaMessage::Instruction& ix, Verdict& v) {
    if (ix.data.size() < 12 || readU32(ix.data, 0) != 2) {
      v.problems.push_back(head + "System is allowed only for SOL transfers.");
      return;
    }
    auto to = key(ix, 1);
    if (to && !isAllowedWallet(*to)) {
      if (auto holder = ownerOf(*to)) {
        v.checks.push_back(head + "SOL → " +
                           (*holder == policy_.owner ? "your token account." : "approved address " + *holder + "."));
        return;
      }
    }
    if (!to || !isAllowedWallet(*to)) {
      v.problems.push_back("SOL goes to someone else's address " + to.value_or("(missing account)"));
      return;
    }
    v.checks.push_back(head + "SOL → " + (*to == policy_.owner ? "your wallet." : "approved address " + *to + "."));
  }

  void computeBudget(const SolanaMessage::Instruction& ix) {
    if (ix.data.empty()) return;
    if (ix.data[0] == 3 && ix.data.size() >= 9) {
      std::uint64_t price = readU64(ix.data, 1);
      price_ = std::max(price_.value_or(0), price);
    } else if (ix.data[0] == 2 && ix.data.size() >= 5) {
      std::uint32_t units = readU32(ix.data, 1);
      limit_ = std::max(limit_.value_or(0), units);
    }
  }

  void token(const std::string& head, const SolanaMessage::Instruction& ix, Verdict& v) {
    int op = ix.data.empty() ? -1 : ix.data[0];
    switch (op) {
      case 3:
      case 12: {
        // Transfer: source, destination, authority.
        // TransferChecked: source, mint, destination, authority.
        std::size_t needed = op == 3 ? 3 : 4;
        if (ix.accounts.size() < needed) {
          v.problems.push_back(head + "incomplete token transfer.");
          return;
        }
        auto destination = key(ix, op == 3 ? 1 : 2);
        auto owner = destination ? ownerOf(*destination) : std::nullopt;
        if (!owner) {
          v.problems.push_back("Tokens go to someone else's account " + destination.value_or("(missing account)"));
          return;
        }
        v.checks.push_back(head + "tokens → " +
                           (*owner == policy_.owner ? "your token account." : "approved address " + *owner + "."));
        return;
      }
      case 17:
        v.checks.push_back("wSOL sync.");
        return;
      case 9: {
        auto destination = key(ix, 1);
        auto owner = destination ? ownerOf(*destination) : std::nullopt;
        if (!owner) {
          v.problems.push_back("Closing the account sends the remainder to someone else's address.");
          return;
        }
        v.checks.push_back(std::string("Temporary account closes, remainder → ") +
                           (*owner == policy_.owner ? "your token account" : "approved address " + *owner));
        return;
      }
      default:
        v.problems.push_back(head + "token operation " + (op < 0 ? std::string("(none)") : std::to_string(op)) +
                             " is forbidden (approvals, owner changes and the like).");
    }
  }

  void associatedToken(const std::string& head, const SolanaMessage::Instruction& ix, Verdict& v) {
    // Create (no data or 0) and create-idempotent (1): payer, account, wallet, mint, …
    if (!ix.data.empty() && ix.data[0] > 1) {
      v.problems.push_back(head + "only token account creation is allowed on Associated Token.");
      return;
    }
    auto wallet = key(ix, 2);
    if (ix.accounts.size() < 4 || !wallet) {
      v.problems.push_back(head + "incomplete account creation.");
      return;
    }
    if (isAllowedWallet(*wallet)) {
      v.checks.push_back("Creates a token account owned by " + *wallet);
    } else {
      v.problems.push_back("Creates a token account for someone else's wallet " + *wallet);
    }
  }

  void lookupTable(const std::string& head, const SolanaMessage::Instruction& ix, Verdict& v) {
    // Instructions are a little-endian u32: 0 create, 2 extend; the authority
    // is the second account of both.
    auto authority = key(ix, 1);
    std::optional<std::uint32_t> op;
    if (ix.data.size() >= 4) op = readU32(ix.data, 0);
    if (authority && *authority == policy_.owner && op == 0u) {
      v.checks.push_back("Creates your lookup table (rent in SOL).");
    } else if (authority && *authority == policy_.owner && op == 2u) {
      v.checks.push_back("Extends your lookup table.");
    } else {
      v.problems.push_back(head + "the lookup table is not yours, or the operation is not create/extend.");
    }
  }

  void relay(const std::string& head, const SolanaMessage::Instruction& ix, Verdict& v) {
    // deposit_native / deposit_token (amount: u64, id: [u8; 32]); accounts:
    // depository, sender, depositor (the account credited), …
    bool deposit = ix.data.size() >= 16 &&
                   (std::equal(kRelayDepositNative.begin(), kRelayDepositNative.end(), ix.data.begin()) ||
                    std::equal(kRelayDepositToken.begin(), kRelayDepositToken.end(), ix.data.begin()));
    if (!deposit) {
      v.problems.push_back(head + "only deposits are allowed on Relay.");
      return;
    }
    auto depositor = key(ix, 2);
    if (!depositor || *depositor != policy_.owner) {
      v.problems.push_back("Relay deposit is not from your wallet.");
      return;
    }
    v.checks.push_back("Relay deposit: " + std::to_string(readU64(ix.data, 8)) +
                       " units from your wallet. The quote sets the recipient.");
  }

  void priorityFee(Verdict& v) const {
    if (!price_ || *price_ == 0) return;
    std::uint32_t limit = limit_.value_or(SolanaGuard::kDefaultComputeUnitLimit);
    unsigned __int128 microLamports = static_cast<unsigned __int128>(*price_) * limit;
    if (microLamports > std::numeric_limits<std::uint64_t>::max()) {
      v.problems.push_back("Priority fee out of range.");
      return;
    }
    // micro-lamports → lamports (10^-6) → SOL (10^-9)
    Decimal sol = Decimal::fromParts(false, microLamports, -15);
    if (sol > policy_.maxPriorityFee) {
      v.problems.push_back("Priority fee up to " + sol.toString() + " SOL is too high.");
    } else {
      v.checks.push_back("Priority fee up to " + sol.toString() + " SOL.");
    }
  }

  const SolanaMessage& message_;
  const std::vector<std::string>& accounts_;
  const SolanaPolicy& policy_;
  std::map<std::string, std::string> tokenAccountOwners_;  // token account → owning wallet
  std::optional<std::uint64_t> price_;
  std::optional<std::uint32_t> limit_;
};

std::string signedChange(__int128 change) {
  bool negative = change < 0;
  unsigned __int128 magnitude = negative ? static_cast<unsigned __int128>(-change) : static_cast<unsigned __int128>(change);
  return Decimal::fromParts(negative, magnitude, 0).toString();
}

}  // namespace

Verdict SolanaGuard::check(const SolanaMessage& message, const std::vector<std::string>& accounts,
                           const SolanaPolicy& policy) {
  Verdict v;
  if (message.requiredSignatures != 1 || message.staticKeys.empty() || message.staticKeys[0] != policy.owner) {
    v.problems.push_back("Only your wallet may sign and pay for the transaction.");
    return v;
  }
  v.checks.push_back("Only your wallet signs and pays the fee.");
  v.append(SolanaJudge(message, accounts, policy).run());
  return v;
}

Verdict SolanaGuard::balances(const std::vector<BalanceRule>& rules) {
  Verdict v;
  for (const auto& rule : rules) {
    __int128 change = static_cast<__int128>(rule.after) - rule.before;
    if (change < rule.atLeast) {
      v.problems.push_back("Simulation: " + rule.label + " changes by " + signedChange(change) +
                           "; the minimum allowed is " + std::to_string(rule.atLeast) + ".");
    } else {
      v.checks.push_back(rule.label + " " + (change >= 0 ? "+" : "") + signedChange(change));
    }
  }
  return v;
}

// ---------------------------------------------------------------------------
// Hyperliquid, bridges and deposit addresses

namespace {

bool sameAddress(std::string_view a, std::string_view b) { return text::lowercased(a) == text::lowercased(b); }

bool isEvmAddress(std::string_view s) {
  static const Regex evm("0x[0-9a-fA-F]{40}");
  return evm.matchesWhole(s);
}

// Equal as the same EVM address in any case, the same number, or the same text.
bool sameValue(const std::string& a, const std::string& b) {
  if (a == b) return true;
  if (isEvmAddress(a) && isEvmAddress(b)) return sameAddress(a, b);
  auto x = Decimal::tryParse(a), y = Decimal::tryParse(b);
  return x && y && *x == *y;
}

std::optional<std::string> textOf(const Json& object, const std::string& key) {
  if (!object.is_object()) return std::nullopt;
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return std::nullopt;
  if (it->is_string()) return it->get<std::string>();
  if (it->is_number_integer() || it->is_number_unsigned()) return it->dump();
  if (it->is_number_float()) {
    auto exact = Decimal::tryParse(it->dump());
    return exact ? exact->toString() : it->dump();
  }
  return it->dump();
}

}  // namespace

Verdict HLGuard::check(const Json& action, std::string_view owner, const std::vector<std::string>& approved,
                       std::string_view agentAddress) {
  Verdict v;
  auto type = action.is_object() && action.contains("type") && action.at("type").is_string()
                  ? textOf(action, "type")
                  : std::nullopt;
  if (!type) {
    v.problems.push_back("Unrecognized action.");
    return v;
  }
  const std::string& t = *type;
  if (t == "order" || t == "cancel" || t == "updateLeverage") {
    v.checks.push_back("Trading action inside your account.");
  } else if (t == "usdClassTransfer") {
    v.checks.push_back("Transfer between your spot and perp balances.");
  } else if (t == "spotSend" || t == "withdraw3" || t == "usdSend" || t == "sendAsset") {
    std::string destination = textOf(action, "destination").value_or("none");
    bool ok = sameAddress(destination, owner) ||
              std::any_of(approved.begin(), approved.end(),
                          [&](const std::string& a) { return sameAddress(destination, a); });
    if (ok && !destination.empty()) {
      v.checks.push_back("Funds → approved address " + destination);
    } else {
      v.problems.push_back("Funds go to someone else's address " + destination);
    }
  } else if (t == "vaultTransfer") {
    std::string vault = textOf(action, "vaultAddress").value_or("none");
    if (sameAddress(vault, kHLPVault)) {
      v.checks.push_back("Transfer between your account and the HLP vault.");
    } else {
      v.problems.push_back("Transfer to an unknown vault " + vault);
    }
  } else if (t == "approveAgent") {
    std::string agent = textOf(action, "agentAddress").value_or("none");
    if (!agentAddress.empty() && sameAddress(agent, agentAddress)) {
      v.checks.push_back("Approves your agent key.");
    } else {
      v.problems.push_back("Approves an unknown agent " + agent);
    }
  } else {
    v.problems.push_back("Action " + t + " is not allowed.");
  }
  return v;
}

Verdict BindingGuard::check(std::string_view label, const BridgeBinding& planned, const BridgeBinding& quoted) {
  Verdict v;
  auto compare = [&](const char* field, const std::optional<std::string>& plan,
                     const std::optional<std::string>& quote) {
    if (plan && quote && sameValue(*plan, *quote)) return;
    v.problems.push_back(std::string(field) + " " + quote.value_or("none") + " instead of " + plan.value_or("none"));
  };
  compare("recipient", planned.recipient, quoted.recipient);
  compare("sender", planned.sender, quoted.sender);
  compare("amount", planned.amount, quoted.amount);
  if (v.problems.empty()) v.checks.push_back(std::string(label) + ": recipient, sender and amount are yours.");
  return v;
}

const std::vector<std::string>& DepositGuard::fields() {
  static const std::vector<std::string> list = {"recipient", "refundTo", "originAsset", "destinationAsset", "amount"};
  return list;
}

Verdict DepositGuard::check(const Json& bound, const Json& requested) {
  Verdict v;
  for (const auto& field : fields()) {
    auto have = textOf(bound, field), want = textOf(requested, field);
    if (have && want && sameValue(*have, *want)) continue;
    v.problems.push_back("The deposit address is bound to a different " + field + " " + have.value_or("none") +
                         " instead of " + want.value_or("none"));
  }
  if (v.problems.empty()) {
    v.checks.push_back("The deposit address is bound to a quote with your recipient, refund address and amount.");
  }
  return v;
}

// ---------------------------------------------------------------------------
// Outside text

InjectionHeuristics::Findings InjectionHeuristics::scan(std::string_view text) {
  static const std::vector<Regex> commandPatterns = [] {
    std::vector<Regex> list;
    for (const char* p : {
             R"(ignore\s+(all\s+|any\s+|the\s+)?(previous|prior|above|earlier)\s+(instructions|rules|messages|prompts))",
             R"(disregard\s+(all\s+|the\s+|any\s+)?(previous|prior|above|earlier))",
             R"((system|developer)\s+(prompt|message)\s*[:>\]]|[\[<]\s*/?\s*(system|developer)\s*[\]>]|(new|override|updated)\s+(system|developer)\s+(prompt|message)|developer\s+mode)",
             R"((you\s+are\s+now|new\s+instructions|do\s+not\s+tell\s+the\s+user|don't\s+tell\s+the\s+user))",
             R"((игнорируй|забудь|отмени)\s+(все\s+|всё\s+|предыдущие\s+|прежние\s+)*(инструкции|правила|указания))",
             R"((системн\w+\s+(промпт\w*|сообщени\w+)\s*:|нов\w+\s+системн\w+\s+промпт|новые\s+инструкции|ты\s+теперь|не\s+(говори|сообщай)\s+пользователю))",
         }) {
      list.emplace_back(p);
    }
    return list;
  }();
  static const Regex evmAddress("0x[0-9a-fA-F]{40}");
  static const Regex solanaAddress("[1-9A-HJ-NP-Za-km-z]{32,44}");
  // Whole words only: "pays", "repay" and "payout" in a token's description
  // ask nobody to send anything. The nouns stay, as in "payments go to …".
  static const Regex transfer(
      R"((?<![\p{L}\p{N}_])(?:send|transfers?|withdraw|withdrawals?|bridge|deposits?|approve|pay|payments?|отправ\p{L}*|перевед\p{L}*|перевест\p{L}*|переведи|выведи|вывест\p{L}*|скинь|пополн\p{L}*|оплат\p{L}*)(?![\p{L}\p{N}_]))");

  Findings f;
  // Pages arrive in any encoding; invalid UTF-8 must not hide a command.
  const std::string clean = text::sanitized(text);
  const std::string lower = text::lowercased(clean);
  for (const auto& pattern : commandPatterns) {
    for (const auto& m : pattern.allMatches(lower)) f.commands.emplace_back(m.whole());
  }
  // Addresses come from the text as written: lower-casing would change a
  // Base58 address into another one.
  for (const auto* pattern : {&evmAddress, &solanaAddress}) {
    for (const auto& m : pattern->allMatches(clean)) {
      std::string found(m.whole());
      if (std::find(f.addresses.begin(), f.addresses.end(), found) == f.addresses.end()) f.addresses.push_back(found);
    }
  }
  f.transferVerb = transfer.matches(lower);
  return f;
}

Verdict InjectionGuard::check(std::string_view text, std::string_view source, const InjectionClassifier* classifier) {
  Verdict v;
  auto f = InjectionHeuristics::scan(text);
  if (!f.commands.empty()) {
    v.problems.push_back("The text has commands for the assistant: “" + text::join(f.commands, "”, “") + "”.");
  }
  if (!f.addresses.empty()) {
    if (f.transferVerb) {
      v.problems.push_back("The text asks to send funds to " + f.addresses.front() +
                           ". Addresses from text never become recipients.");
    } else {
      v.checks.push_back("The text has an address; it will not become a payment recipient.");
    }
  }
  if (classifier == nullptr || !classifier->available()) {
    v.checks.push_back("Checked by local rules.");
    return v;
  }
  std::string name;
  try {
    name = classifier->name();
    auto answer = classifier->classify(text::sanitized(text), source);
    if (!(answer.confidence >= 0.0 && answer.confidence <= 1.0)) {
      throw std::runtime_error("confidence " + std::to_string(answer.confidence) + " outside 0…1");
    }
    std::string percent = std::to_string(std::lround(answer.confidence * 100));
    if (answer.label == "data") {
      v.checks.push_back(name + ": looks like ordinary data (" + percent + "%).");
    } else if (answer.label == "instructions" && answer.confidence >= 0.7) {
      v.problems.push_back(name + ": the text tries to steer the assistant (" + percent + "%).");
    } else if (answer.label == "payment_redirect" && answer.confidence >= 0.7 && !f.addresses.empty()) {
      // Without an address in the text there is nothing to redirect to.
      v.problems.push_back(name + ": the text tries to redirect funds to its own address (" + percent + "%).");
    } else {
      v.checks.push_back(name + " is unsure: " + answer.label + " (" + percent + "%). Local rules decide.");
    }
  } catch (const std::exception& e) {
    v.checks.push_back(name + " is unavailable (" + e.what() + "); local rules apply.");
  }
  return v;
}

}  // namespace orwenna
