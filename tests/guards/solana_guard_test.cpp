// SolanaGuard against transactions compiled by our own builder and parsed
// back from their wire bytes, as the guard sees them before signing.
#include <gtest/gtest.h>

#include <cstdint>

#include "chains/solana_transaction.h"
#include "chains/spl.h"
#include "guards/tx_guard.h"
#include "signing/base58.h"

namespace orwenna {
namespace {

std::string address(std::string_view seed) {
  auto digest = solanaSha256(asBytes(seed));
  return Base58::encode(ByteView(digest.data(), digest.size()));
}

const std::string kSolanaOwner = address("owner");
const std::string kFriend = address("friend");
const std::string kStranger = address("stranger");
const std::string kUSDC = "EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v";
const std::string kRelay = "99vQwtBwYtrqqD9YSXbdum3KBdxPAVxYTaQ3cfnJSrN2";
const std::string kBlockhash = address("blockhash");

SolanaPolicy policy(std::vector<std::string_view> programs = {SolanaPrograms::kSystem,
                                                             SolanaPrograms::kComputeBudget, SolanaPrograms::kToken,
                                                             SolanaPrograms::kToken2022,
                                                             SolanaPrograms::kAssociatedToken}) {
  SolanaPolicy p;
  p.owner = kSolanaOwner;
  p.recipients = {kFriend};
  p.programs = SolanaPolicy::allow(programs);
  p.maxPriorityFee = Decimal::parse("0.001");
  return p;
}

// Builds, serialises and parses back, so the guard reads real wire bytes.
Verdict judge(const std::vector<SolanaInstruction>& instructions, const SolanaPolicy& p, std::uint64_t price = 1000,
              const std::string& payer = kSolanaOwner) {
  auto built = SolanaTransaction::build(instructions, payer, kBlockhash, price);
  auto parsed = SolanaTransaction::parse(built.transaction);
  auto message = SolanaTransaction::parseMessage(parsed.message);
  return SolanaGuard::check(message, SolanaTransaction::resolveAccounts(message, {}), p);
}

SolanaInstruction tokenInstruction(std::vector<std::string> accounts, Bytes data,
                                   std::string_view program = SolanaPrograms::kToken) {
  SolanaInstruction ix{std::string(program), {}, std::move(data)};
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    ix.accounts.push_back({accounts[i], accounts[i] == kSolanaOwner, i == 0});
  }
  return ix;
}

SolanaInstruction computeLimit(std::uint32_t units) {
  Bytes data{0x02};
  for (int i = 0; i < 4; ++i) data.push_back(static_cast<std::uint8_t>(units >> (8 * i)));
  return {std::string(SolanaPrograms::kComputeBudget), {}, data};
}

Bytes le64(std::uint64_t v, Bytes prefix) {
  for (int i = 0; i < 8; ++i) prefix.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return prefix;
}

std::string ata(const std::string& wallet, std::string_view program = SolanaPrograms::kToken) {
  return SPL::associatedTokenAddress(wallet, kUSDC, program);
}

std::vector<SolanaInstruction> usdcTo(const std::string& recipient, std::string_view program = SolanaPrograms::kToken) {
  return SPL::transferInstructions({kSolanaOwner, recipient, kUSDC, std::string(program), 1'500'000, 6, true});
}

TEST(SolanaGuard, SignerAndFeePayerMustBeTheOwnerAlone) {
  auto v = judge({SolanaTransaction::solTransfer(kStranger, kSolanaOwner, 5)}, policy(), 1000, kStranger);
  EXPECT_EQ(v.problems, std::vector<std::string>{"Only your wallet may sign and pay for the transaction."});
  EXPECT_TRUE(v.checks.empty());

  // A second signer beside the owner is refused too (our builder never
  // compiles one, so the message is written out).
  SolanaMessage m;
  m.requiredSignatures = 2;
  m.staticKeys = {kSolanaOwner, kStranger, std::string(SolanaPrograms::kSystem)};
  m.readonlyUnsignedAccounts = 1;
  m.recentBlockhash = kBlockhash;
  m.instructions = {{2, {1, 0}, le64(5, {2, 0, 0, 0})}};
  auto parsed = SolanaTransaction::parseMessage(SolanaTransaction::encodeMessage(m));
  auto twoSigners = SolanaGuard::check(parsed, parsed.staticKeys, policy());
  EXPECT_EQ(twoSigners.problems, std::vector<std::string>{"Only your wallet may sign and pay for the transaction."});
  EXPECT_TRUE(twoSigners.checks.empty());
}

TEST(SolanaGuard, SolTransfersOnlyToOwnerOrRecipients) {
  struct Case {
    std::string to;
    std::vector<std::string> problems;
    std::string check;
  };
  const Case cases[] = {
      {kSolanaOwner, {}, "Instruction 2: SOL → your wallet."},
      {kFriend, {}, "Instruction 2: SOL → approved address " + kFriend + "."},
      {kStranger, {"SOL goes to someone else's address " + kStranger}, ""},
  };
  for (const auto& c : cases) {
    SolanaInstruction transfer{std::string(SolanaPrograms::kSystem),
                               {{kSolanaOwner, true, true}, {c.to, false, true}},
                               le64(1'000'000, {2, 0, 0, 0})};
    auto v = judge({transfer}, policy());
    EXPECT_EQ(v.problems, c.problems) << c.to;
    EXPECT_EQ(v.checks.front(), "Only your wallet signs and pays the fee.");
    if (!c.check.empty()) {
      EXPECT_EQ(v.checks.at(1), c.check);
    }
  }
  // Any other System instruction (here CreateAccount) is refused.
  auto create = tokenInstruction({kSolanaOwner, kStranger}, le64(0, {0, 0, 0, 0}), SolanaPrograms::kSystem);
  create.data.resize(52);
  EXPECT_EQ(judge({create}, policy()).problems,
            std::vector<std::string>{"Instruction 2: System is allowed only for SOL transfers."});
}

// Wrapping SOL the way swap routes do: lamports go into the wallet's own
// wrapped-SOL account, which is then synced. A stranger's wrapped-SOL
// account stays someone else's.
TEST(SolanaGuard, WrappingSolPaysTheOwnersOwnTokenAccount) {
  const std::string wsol = "So11111111111111111111111111111111111111112";
  auto wrapInto = [&](const std::string& wallet) {
    const std::string account = SPL::associatedTokenAddress(wallet, wsol, SolanaPrograms::kToken);
    SolanaInstruction pay{std::string(SolanaPrograms::kSystem),
                          {{kSolanaOwner, true, true}, {account, false, true}},
                          le64(5'000'000, {2, 0, 0, 0})};
    return std::vector<SolanaInstruction>{pay, tokenInstruction({account}, {17})};
  };
  auto own = judge(wrapInto(kSolanaOwner), policy());
  EXPECT_TRUE(own.problems.empty()) << own.problems.front();
  EXPECT_EQ(own.checks.at(1), "Instruction 2: SOL → your token account.");
  const std::string strangers = SPL::associatedTokenAddress(kStranger, wsol, SolanaPrograms::kToken);
  EXPECT_EQ(judge(wrapInto(kStranger), policy()).problems,
            std::vector<std::string>{"SOL goes to someone else's address " + strangers});
}

TEST(SolanaGuard, TokenTransfersMustCreditOwnerOrRecipient) {
  for (auto program : {SolanaPrograms::kToken, SolanaPrograms::kToken2022}) {
    auto toFriend = judge(usdcTo(kFriend, program), policy());
    EXPECT_TRUE(toFriend.clean()) << toFriend.problems.front();
    EXPECT_EQ(toFriend.checks.at(1), "Creates a token account owned by " + kFriend);
    EXPECT_EQ(toFriend.checks.at(2), "Instruction 3: tokens → approved address " + kFriend + ".");

    auto toStranger = judge(usdcTo(kStranger, program), policy());
    EXPECT_EQ(toStranger.problems,
              (std::vector<std::string>{"Creates a token account for someone else's wallet " + kStranger,
                                        "Tokens go to someone else's account " + ata(kStranger, program)}));
  }
  // TransferChecked from a second account of the owner into its own associated account.
  Bytes checked = le64(7, {12});
  checked.push_back(6);
  auto own = judge({tokenInstruction({address("owner-other"), kUSDC, ata(kSolanaOwner), kSolanaOwner}, checked)}, policy());
  EXPECT_TRUE(own.clean());
  EXPECT_EQ(own.checks.at(1), "Instruction 2: tokens → your token account.");

  // A plain Transfer carries no mint: only accounts this message ties to a wallet count.
  auto plainToKnown = judge({usdcTo(kFriend)[0], tokenInstruction({ata(kSolanaOwner), ata(kFriend), kSolanaOwner}, le64(5, {3}))},
                            policy());
  EXPECT_TRUE(plainToKnown.clean());
  auto plainToUnknown = judge({tokenInstruction({ata(kSolanaOwner), address("somewhere"), kSolanaOwner}, le64(5, {3}))}, policy());
  EXPECT_EQ(plainToUnknown.problems,
            std::vector<std::string>{"Tokens go to someone else's account " + address("somewhere")});

  auto cut = judge({tokenInstruction({ata(kSolanaOwner), ata(kFriend)}, le64(5, {3}))}, policy());
  EXPECT_EQ(cut.problems, std::vector<std::string>{"Instruction 2: incomplete token transfer."});
}

TEST(SolanaGuard, ForbiddenTokenOperations) {
  struct Case {
    std::string name;
    Bytes data;
    int op;
  };
  const Case cases[] = {
      {"Approve", le64(1, {4}), 4},
      {"Revoke", {5}, 5},
      {"SetAuthority", Bytes{6, 2, 1}, 6},
      {"Burn", le64(1, {8}), 8},
      {"FreezeAccount", {10}, 10},
      {"ApproveChecked", le64(1, {13}), 13},
  };
  for (const auto& c : cases) {
    for (auto program : {SolanaPrograms::kToken, SolanaPrograms::kToken2022}) {
      auto v = judge({tokenInstruction({ata(kSolanaOwner), kStranger, kSolanaOwner}, c.data, program)}, policy());
      EXPECT_EQ(v.problems, std::vector<std::string>{"Instruction 2: token operation " + std::to_string(c.op) +
                                                     " is forbidden (approvals, owner changes and the like)."})
          << c.name;
    }
  }
}

TEST(SolanaGuard, CloseAccountAndSyncNative) {
  auto closeTo = [](const std::string& destination) {
    return judge({tokenInstruction({ata(kSolanaOwner), kSolanaOwner}, {17}),
                  tokenInstruction({ata(kSolanaOwner), destination, kSolanaOwner}, {9})},
                 policy());
  };
  auto own = closeTo(kSolanaOwner);
  EXPECT_TRUE(own.clean());
  EXPECT_EQ(own.checks, (std::vector<std::string>{"Only your wallet signs and pays the fee.", "wSOL sync.",
                                                  "Temporary account closes, remainder → your token account",
                                                  "Priority fee up to 0.0000002 SOL."}));
  EXPECT_EQ(closeTo(kFriend).checks.at(2), "Temporary account closes, remainder → approved address " + kFriend);
  EXPECT_EQ(closeTo(kStranger).problems,
            std::vector<std::string>{"Closing the account sends the remainder to someone else's address."});
}

TEST(SolanaGuard, ProgramsOutsideTheListAndBehindLookupTables) {
  const std::string jupiter = "JUP6LkbZbjS1jKKwapdHNy74zcZ3tLUZoi5QNyVTaV4";
  SolanaInstruction swap{jupiter, {{kSolanaOwner, true, true}}, {1, 2, 3}};
  EXPECT_EQ(judge({swap}, policy()).problems,
            std::vector<std::string>{"Instruction 2: program " + jupiter + " is not on the allowed list."});
  auto allowed = judge({swap}, policy({SolanaPrograms::kComputeBudget, jupiter}));
  EXPECT_TRUE(allowed.clean());
  EXPECT_EQ(allowed.checks.at(1), "Calls Jupiter Swap. The balance simulation checks the result.");

  // A version-0 message whose second instruction names its program through a table entry.
  SolanaMessage m;
  m.version = 0;
  m.requiredSignatures = 1;
  m.staticKeys = {kSolanaOwner, std::string(SolanaPrograms::kComputeBudget)};
  m.readonlyUnsignedAccounts = 1;
  m.recentBlockhash = kBlockhash;
  m.instructions = {{1, {}, le64(1000, {3})}, {2, {0}, {17}}};
  m.lookups = {{address("table"), {}, {0}}};
  auto parsed = SolanaTransaction::parseMessage(SolanaTransaction::encodeMessage(m));
  auto accounts = SolanaTransaction::resolveAccounts(parsed, {{address("table"), {std::string(SolanaPrograms::kToken)}}});
  auto refused = SolanaGuard::check(parsed, accounts, policy());
  EXPECT_EQ(refused.problems, std::vector<std::string>{"Instruction 2: the program is loaded from a lookup table."});

  auto trusting = policy();
  trusting.trustLookupTables = true;
  EXPECT_TRUE(SolanaGuard::check(parsed, accounts, trusting).clean());
  // Trusted or not, an unresolved entry is never judged as an allowed program.
  EXPECT_FALSE(SolanaGuard::check(parsed, {kSolanaOwner, std::string(SolanaPrograms::kComputeBudget)}, trusting).clean());
}

TEST(SolanaGuard, RelayDepositsOnlyFromTheOwner) {
  auto p = policy({SolanaPrograms::kComputeBudget, kRelay});
  auto deposit = [&](const std::string& depositor, Bytes discriminator) {
    Bytes data = le64(250'000'000, discriminator);
    data.resize(48, 0xAB);  // the 32-byte deposit id
    return SolanaInstruction{kRelay,
                             {{address("depository"), false, false},
                              {kSolanaOwner, true, true},
                              {depositor, false, false},
                              {address("vault"), false, true},
                              {std::string(SolanaPrograms::kSystem), false, false}},
                             data};
  };
  const Bytes native{13, 158, 13, 223, 95, 213, 28, 6}, token{11, 156, 96, 218, 39, 163, 180, 19};
  for (const auto& kind : {native, token}) {
    auto own = judge({deposit(kSolanaOwner, kind)}, p);
    EXPECT_TRUE(own.clean());
    EXPECT_EQ(own.checks.at(1), "Relay deposit: 250000000 units from your wallet. The quote sets the recipient.");
    EXPECT_EQ(judge({deposit(kStranger, kind)}, p).problems,
              std::vector<std::string>{"Relay deposit is not from your wallet."});
  }
  // execute_transfer and other instructions of the program are not deposits.
  EXPECT_EQ(judge({deposit(kSolanaOwner, {233, 126, 160, 184, 235, 206, 31, 119})}, p).problems,
            std::vector<std::string>{"Instruction 2: only deposits are allowed on Relay."});
}

TEST(SolanaGuard, LookupTableProgram) {
  auto p = policy({SolanaPrograms::kComputeBudget, SolanaPrograms::kAddressLookupTable});
  auto alt = [](std::uint32_t op, const std::string& authority) {
    Bytes data{static_cast<std::uint8_t>(op), 0, 0, 0};
    data.resize(13, 0);
    return SolanaInstruction{std::string(SolanaPrograms::kAddressLookupTable),
                             {{address("table"), false, true}, {authority, authority == kSolanaOwner, false},
                              {kSolanaOwner, true, true}},
                             data};
  };
  EXPECT_EQ(judge({alt(0, kSolanaOwner)}, p).checks.at(1), "Creates your lookup table (rent in SOL).");
  EXPECT_EQ(judge({alt(2, kSolanaOwner)}, p).checks.at(1), "Extends your lookup table.");
  const std::string refused = "Instruction 2: the lookup table is not yours, or the operation is not create/extend.";
  EXPECT_EQ(judge({alt(0, kStranger)}, p).problems, std::vector<std::string>{refused});
  EXPECT_EQ(judge({alt(4, kSolanaOwner)}, p).problems, std::vector<std::string>{refused});  // close
}

TEST(SolanaGuard, PriorityFeeCap) {
  struct Case {
    std::uint64_t price;
    std::optional<std::uint32_t> limit;
    std::string cap;
    std::string line;
    bool problem;
  };
  const Case cases[] = {
      {1'000'000, 1'400'000, "0.0014", "Priority fee up to 0.0014 SOL.", false},
      {1'000'000, 1'400'000, "0.0013999", "Priority fee up to 0.0014 SOL is too high.", true},
      // Without a limit instruction the chain's default of 200,000 units applies.
      {5'000'000, std::nullopt, "0.001", "Priority fee up to 0.001 SOL.", false},
      {5'000'001, std::nullopt, "0.001", "Priority fee up to 0.0010000002 SOL is too high.", true},
      {UINT64_MAX, 2, "1000000", "Priority fee out of range.", true},
  };
  for (const auto& c : cases) {
    auto p = policy();
    p.maxPriorityFee = Decimal::parse(c.cap);
    std::vector<SolanaInstruction> ixs;
    if (c.limit) ixs.push_back(computeLimit(*c.limit));
    auto v = judge(ixs, p, c.price);
    if (c.problem) {
      EXPECT_EQ(v.problems, std::vector<std::string>{c.line}) << c.price;
    } else {
      EXPECT_TRUE(v.clean()) << c.price;
      EXPECT_EQ(v.checks.back(), c.line);
    }
  }
}

TEST(SolanaGuard, BalanceRules) {
  auto v = SolanaGuard::balances({{"SOL", 100, 90, -10}, {"USDC", 0, 5, 5}, {"JUP", 100, 90, -9},
                                  {"BONK", INT64_MIN, INT64_MAX, 0}});
  EXPECT_EQ(v.checks, (std::vector<std::string>{"SOL -10", "USDC +5", "BONK +18446744073709551615"}));
  EXPECT_EQ(v.problems, std::vector<std::string>{"Simulation: JUP changes by -10; the minimum allowed is -9."});
}

}  // namespace
}  // namespace orwenna
