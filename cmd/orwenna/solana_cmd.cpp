// `orwenna solana …`: decode a transaction, read a balance, derive an
// associated token account, resolve a .sol name and check a node. Node
// clients come from Services (app/services.h): ORWENNA_SOLANA_RPC or the
// public node.
#include <iostream>
#include <optional>
#include <string>

#include "app/services.h"
#include "base/bytes.h"
#include "chains/sns.h"
#include "chains/solana_rpc.h"
#include "chains/solana_transaction.h"
#include "chains/spl.h"
#include "orwenna/command.h"
#include "signing/base58.h"
#include "signing/wallet_error.h"

namespace orwenna::cmd {

namespace {

std::string joined(const std::vector<int>& list) {
  std::string out;
  for (int i : list) out += (out.empty() ? "" : ", ") + std::to_string(i);
  return "[" + out + "]";
}

std::string labelled(const std::string& key) {
  auto label = SolanaPrograms::label(key);
  return label ? key + " (" + *label + ")" : key;
}

// Where an account index points: a static key, or an entry of a lookup table.
std::string describeAccount(const SolanaMessage& m, int index) {
  std::size_t i = static_cast<std::size_t>(index);
  if (i < m.staticKeys.size()) return std::to_string(index) + " " + labelled(m.staticKeys[i]);
  std::size_t at = m.staticKeys.size();
  for (int pass = 0; pass < 2; ++pass) {
    for (const auto& l : m.lookups) {
      const auto& list = pass == 0 ? l.writable : l.readonly;
      if (i < at + list.size()) {
        return std::to_string(index) + " lookup " + l.table + "[" + std::to_string(list[i - at]) + "]" +
               (pass == 0 ? " writable" : " read-only");
      }
      at += list.size();
    }
  }
  return std::to_string(index) + " (no such account)";
}

void printMessage(const SolanaMessage& m) {
  std::cout << "Message: " << (m.version ? "version " + std::to_string(*m.version) : std::string("legacy")) << '\n';
  std::cout << "  header: " << m.requiredSignatures << " required signature(s), " << m.readonlySignedAccounts
            << " read-only signed, " << m.readonlyUnsignedAccounts << " read-only unsigned\n";
  std::cout << "  recent blockhash: " << m.recentBlockhash << '\n';
  std::cout << "Keys:\n";
  const int n = static_cast<int>(m.staticKeys.size());
  for (int i = 0; i < n; ++i) {
    bool signer = i < m.requiredSignatures;
    bool writable = signer ? i < m.requiredSignatures - m.readonlySignedAccounts : i < n - m.readonlyUnsignedAccounts;
    std::cout << "  " << i << "  " << labelled(m.staticKeys[static_cast<std::size_t>(i)]) << "  "
              << (signer ? "signer " : "") << (writable ? "writable" : "read-only") << (i == 0 ? "  fee payer" : "")
              << '\n';
  }
  if (!m.lookups.empty()) {
    std::cout << "Lookups:\n";
    for (const auto& l : m.lookups) {
      std::cout << "  table " << l.table << ": writable " << joined(l.writable) << ", read-only " << joined(l.readonly)
                << '\n';
    }
  }
  std::cout << "Instructions:\n";
  for (std::size_t k = 0; k < m.instructions.size(); ++k) {
    const auto& ix = m.instructions[k];
    std::cout << "  " << k << "  program " << describeAccount(m, ix.programIndex) << '\n';
    for (int a : ix.accounts) std::cout << "       account " << describeAccount(m, a) << '\n';
    std::cout << "       data: " << (ix.data.empty() ? "(none)" : toHex(ix.data)) << '\n';
  }
}

void decode(const std::string& text) {
  auto bytes = fromBase64(text);
  if (!bytes) throw CommandFailure("That isn't Base64 text.");
  SolanaTransaction::Parsed parsed;
  try {
    parsed = SolanaTransaction::parse(*bytes);
  } catch (const WalletError& transactionError) {
    // Perhaps a bare message rather than a transaction.
    try {
      SolanaMessage m = SolanaTransaction::parseMessage(*bytes);
      printMessage(m);
      return;
    } catch (const WalletError&) {
      throw transactionError;
    }
  }
  std::cout << "Signatures: " << parsed.signatures.size() << '\n';
  for (std::size_t i = 0; i < parsed.signatures.size(); ++i) {
    const auto& s = parsed.signatures[i];
    bool empty = std::all_of(s.begin(), s.end(), [](std::uint8_t b) { return b == 0; });
    std::cout << "  " << i << "  " << (empty ? std::string("(empty)") : Base58::encode(s)) << '\n';
  }
  printMessage(SolanaTransaction::parseMessage(parsed.message));
}

SolanaRPC client() { return Services::fromProcess().solana(); }

CommandRegistrar solanaRegistrar([](CLI::App& app) {
  CLI::App* solana = app.add_subcommand("solana", "Solana transactions, balances, token accounts, .sol names, nodes");
  solana->require_subcommand(1);

  auto* decodeCmd = solana->add_subcommand("decode", "Show a Base64 transaction's header, keys, lookups and instructions");
  static std::string base64;
  decodeCmd->add_option("BASE64", base64, "the transaction (or message) in Base64")->required();
  decodeCmd->callback([] { decode(base64); });

  auto* balanceCmd = solana->add_subcommand("balance", "The SOL balance of an address");
  static std::string balanceAddress;
  balanceCmd->add_option("ADDRESS", balanceAddress)->required();
  balanceCmd->callback([] {
    (void)solanaAddressBytes(balanceAddress);
    std::uint64_t lamports = client().balance(balanceAddress);
    std::cout << lamportsToSol(lamports).toString() << " SOL (" << lamports << " lamports)\n";
  });

  auto* ataCmd = solana->add_subcommand("ata", "The associated token account of an owner for a mint");
  static std::string owner, mint;
  static bool token2022 = false;
  ataCmd->add_option("OWNER", owner)->required();
  ataCmd->add_option("MINT", mint)->required();
  ataCmd->add_flag("--token-2022", token2022, "the mint belongs to the Token-2022 program");
  ataCmd->callback([] {
    std::cout << SPL::associatedTokenAddress(owner, mint, token2022 ? SolanaPrograms::kToken2022 : SolanaPrograms::kToken)
              << '\n';
  });

  auto* resolveCmd = solana->add_subcommand("resolve", "The wallet that owns a .sol name");
  static std::string name;
  resolveCmd->add_option("NAME", name, "e.g. example.sol")->required();
  resolveCmd->callback([] { std::cout << SNS::resolve(name, client()) << '\n'; });

  auto* nodeCmd = solana->add_subcommand("node-check", "Check that a node is a usable mainnet Solana node");
  static std::string url;
  nodeCmd->add_option("URL", url)->required();
  nodeCmd->callback([] {
    const Services services = Services::fromProcess();
    if (auto problem = SolanaRPC::checkNode(url, services.http, services.clock)) {
      throw CommandFailure(*problem);
    }
    std::cout << "The node answers as a mainnet Solana node.\n";
  });
});

}  // namespace

}  // namespace orwenna::cmd
