// `orwenna keys new|addresses|import` and `orwenna address check`: recovery
// phrases, the accounts of a phrase, pasted private keys and pasted addresses.
// Phrases, passphrases and keys are read from standard input only, never from
// arguments, and wiped after use.
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <iostream>
#include <string>

#include "base/clock.h"
#include "base/json.h"
#include "orwenna/command.h"
#include "signing/accounts.h"
#include "signing/address_check.h"
#include "signing/derivation.h"
#include "signing/imported_key.h"
#include "signing/mnemonic.h"
#include "signing/secret.h"

namespace orwenna::cmd {

namespace {

struct Account {
  std::string kind, label, path, address;
};

void addKeysNew(CLI::App& keys) {
  auto* cmd = keys.add_subcommand("new", "Print a new 12-word recovery phrase");
  cmd->callback([] {
    std::string phrase = Mnemonic::generate(SecureRandom::shared());
    std::cout << phrase << '\n';
    wipeString(phrase);
  });
}

void addKeysAddresses(CLI::App& keys) {
  auto* cmd = keys.add_subcommand(
      "addresses", "Read a recovery phrase from standard input and print its EVM/Hyperliquid, Solana and NEAR accounts");
  struct Options {
    std::uint32_t index = 0;
    bool passphrase = false;
    bool json = false;
  };
  auto options = std::make_shared<Options>();
  cmd->add_option("--index", options->index, "Account index (0 to 2147483647)")->check(CLI::Range(0u, 2147483647u));
  cmd->add_flag("--passphrase-prompt", options->passphrase,
                "Also read a BIP-39 passphrase, on the line after the phrase");
  cmd->add_flag("--json", options->json, "Print JSON");
  cmd->callback([options] {
    std::string phrase = readSecretLine("Recovery phrase: ");
    std::string passphrase = options->passphrase ? readSecretLine("Passphrase: ") : std::string();
    SecretBytes seed;
    try {
      seed = Mnemonic::seed(phrase, passphrase);
    } catch (...) {
      wipeString(phrase);
      wipeString(passphrase);
      throw;
    }
    wipeString(phrase);
    wipeString(passphrase);

    std::uint32_t i = options->index;
    std::vector<Account> accounts;
    {
      std::string path = WalletPath::evm(i);
      accounts.push_back({"evm", "EVM · Hyperliquid", path,
                          EVMAccount::address(Derivation::secp256k1(seed.span(), path).span())});
    }
    {
      std::string path = WalletPath::solana(i);
      accounts.push_back({"solana", "Solana", path,
                          SolanaAccount::address(Derivation::ed25519(seed.span(), path).span())});
    }
    {
      std::string path = WalletPath::near(i);
      accounts.push_back({"near", "NEAR", path,
                          NearAccount::implicitAccount(Derivation::ed25519(seed.span(), path).span())});
    }
    if (options->json) {
      Json list = Json::array();
      for (const auto& a : accounts) {
        list.push_back(Json{{"kind", a.kind}, {"label", a.label}, {"path", a.path}, {"address", a.address}});
      }
      std::cout << Json{{"index", i}, {"accounts", list}}.dump(2) << '\n';
    } else {
      for (const auto& a : accounts) std::cout << a.label << "  " << a.path << "\n  " << a.address << '\n';
    }
  });
}

void addKeysImport(CLI::App& keys) {
  auto* cmd = keys.add_subcommand("import", "Read a pasted private key from standard input and print its kind and address");
  auto json = std::make_shared<bool>(false);
  cmd->add_flag("--json", *json, "Print JSON");
  cmd->callback([json] {
    std::string text = readStandardInput();
    std::optional<ImportedKey> key;
    try {
      key.emplace(ImportedKey::parse(text));
    } catch (...) {
      wipeString(text);
      throw;
    }
    wipeString(text);
    std::string kind = key->kind() == ImportedKey::Kind::evm ? "evm" : "solana";
    if (*json) {
      std::cout << Json{{"kind", kind}, {"label", key->label()}, {"address", key->address()}}.dump(2) << '\n';
    } else {
      std::cout << key->label() << "  " << key->address() << '\n';
    }
  });
}

void addAddressCheck(CLI::App& app) {
  auto* address = app.add_subcommand("address", "Check pasted addresses");
  address->require_subcommand(1);
  auto* check = address->add_subcommand("check", "Print the problem with an address on a network, or \"ok\"");
  auto args = std::make_shared<std::pair<std::string, std::string>>();
  std::string networks;
  for (auto n : AddressCheck::allNetworks()) {
    if (!networks.empty()) networks += ", ";
    networks += AddressCheck::rawValue(n);
  }
  check->add_option("NETWORK", args->first, "One of: " + networks)->required();
  check->add_option("ADDRESS", args->second, "The address as pasted")->required();
  check->callback([args, networks] {
    auto network = AddressCheck::networkFromRawValue(args->first);
    if (!network) throw CommandFailure("Unknown network \"" + args->first + "\". Networks: " + networks + ".", 2);
    if (auto problem = AddressCheck::problem(args->second, *network)) throw CommandFailure(*problem, 1);
    std::cout << "ok\n";
  });
}

CommandRegistrar keysRegistrar([](CLI::App& app) {
  auto* keys = app.add_subcommand("keys", "Recovery phrases, their accounts, and imported keys");
  keys->require_subcommand(1);
  addKeysNew(*keys);
  addKeysAddresses(*keys);
  addKeysImport(*keys);
  addAddressCheck(app);
});

}  // namespace

}  // namespace orwenna::cmd
