// `orwenna wallet create|import|list|addresses|forget|lock|status`: the
// signer's wallets from the command line. Everything goes through the signer
// service (started when it is not running); this process never holds a key.
// A phrase or key to import is read from standard input only and wiped once
// sent; the phrase of a new wallet is printed once and wiped.
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "base/files.h"
#include "base/json.h"
#include "orwenna/command.h"
#include "signing/secret.h"
#include "signing/signer_client.h"

namespace orwenna::cmd {

namespace {

namespace sr = signer_request;

SignerReply askSigner(const SignerRequest& request) {
  // A signer this command starts inherits the terminal, so a text-mode
  // pinentry can ask there, as gpg's does.
  if (std::getenv("GPG_TTY") == nullptr) {
    for (int fd : {STDIN_FILENO, STDERR_FILENO, STDOUT_FILENO}) {
      if (isatty(fd) == 1) {
        if (const char* tty = ttyname(fd)) ::setenv("GPG_TTY", tty, 0);
        break;
      }
    }
  }
  SignerClient client(SignerLocation::forApp(AppPaths::fromEnvironment()));
  SignerReply reply = client.send(request);
  if (!reply.ok) throw CommandFailure(reply.errorText());
  return reply;
}

Json walletJson(const SignerWallet& w, bool active) {
  Json j{{"id", w.id}, {"label", w.label}, {"kind", w.kind}, {"active", active}};
  if (w.evm) j["evm"] = *w.evm;
  if (w.solana) j["solana"] = *w.solana;
  if (w.near) j["near"] = *w.near;
  if (w.automation) j["automation"] = true;
  if (w.test) j["test"] = true;
  return j;
}

void printAddresses(const SignerReply& r, bool json) {
  if (json) {
    Json j = Json::object();
    if (r.evmAddress) j["evm"] = *r.evmAddress;
    if (r.solanaAddress) j["solana"] = *r.solanaAddress;
    if (r.nearAddress) j["near"] = *r.nearAddress;
    std::cout << j.dump(2) << '\n';
    return;
  }
  if (!r.evmAddress && !r.solanaAddress && !r.nearAddress) {
    std::cout << "The signer holds no wallet yet: orwenna wallet create, or orwenna wallet import.\n";
    return;
  }
  if (r.evmAddress) std::cout << "EVM · Hyperliquid  " << *r.evmAddress << '\n';
  if (r.solanaAddress) std::cout << "Solana  " << *r.solanaAddress << '\n';
  if (r.nearAddress) std::cout << "NEAR  " << *r.nearAddress << '\n';
}

void addCreate(CLI::App& wallet) {
  auto* cmd = wallet.add_subcommand("create", "Make a new wallet inside the signer and show its recovery phrase once");
  auto options = std::make_shared<std::pair<bool, bool>>();  // requirePresence, json
  cmd->add_flag("--require-presence", options->first, "Ask for the passphrase at every signature of this wallet");
  cmd->add_flag("--json", options->second, "Print JSON");
  cmd->callback([options] {
    SignerReply r = askSigner(sr::CreateWallet{options->first});
    std::string phrase = r.phrase.value_or("");
    if (options->second) {
      Json j{{"phrase", phrase}};
      if (r.evmAddress) j["evm"] = *r.evmAddress;
      if (r.solanaAddress) j["solana"] = *r.solanaAddress;
      std::string text = j.dump(2);
      std::cout << text << '\n';
      wipeJsonStrings(j);
      wipeString(text);
    } else {
      std::cout << "Recovery phrase (write it down now; it is not shown again):\n  " << phrase << "\n";
      printAddresses(r, false);
    }
    wipeString(phrase);
  });
}

void addImport(CLI::App& wallet) {
  auto* cmd = wallet.add_subcommand(
      "import", "Read a recovery phrase (or, with --key, a private key) from standard input into the signer");
  struct Options {
    bool key = false;
    bool passphrase = false;
    bool requirePresence = false;
    bool json = false;
  };
  auto options = std::make_shared<Options>();
  cmd->add_flag("--key", options->key, "Import one private key (Solana or EVM) instead of a phrase");
  cmd->add_flag("--passphrase-prompt", options->passphrase,
                "Also read the phrase's BIP-39 passphrase, on the line after the phrase");
  cmd->add_flag("--require-presence", options->requirePresence,
                "Ask for the passphrase at every signature of this wallet");
  cmd->add_flag("--json", options->json, "Print JSON");
  cmd->callback([options] {
    SignerReply r;
    if (options->key) {
      std::string key = readSecretLine("Private key: ");
      sr::ImportPrivateKey request(std::move(key));
      wipeString(key);
      r = askSigner(request);
    } else {
      std::string phrase = readSecretLine("Recovery phrase: ");
      std::string passphrase = options->passphrase ? readSecretLine("Passphrase: ") : std::string();
      sr::ImportMnemonic request(phrase, passphrase, options->requirePresence);
      wipeString(phrase);
      wipeString(passphrase);
      r = askSigner(request);
    }
    printAddresses(r, options->json);
  });
}

void addList(CLI::App& wallet) {
  auto* cmd = wallet.add_subcommand("list", "List the signer's wallets");
  auto json = std::make_shared<bool>(false);
  cmd->add_flag("--json", *json, "Print JSON");
  cmd->callback([json] {
    SignerReply r = askSigner(sr::Status{});
    const auto wallets = r.wallets.value_or(std::vector<SignerWallet>{});
    if (*json) {
      Json list = Json::array();
      for (const auto& w : wallets) list.push_back(walletJson(w, r.activeWallet == w.id));
      std::cout << list.dump(2) << '\n';
      return;
    }
    if (wallets.empty()) std::cout << "The signer holds no wallet yet.\n";
    for (const auto& w : wallets) {
      std::cout << (r.activeWallet == w.id ? "* " : "  ") << w.label << "  (" << w.kind
                << (w.automation.value_or(false) ? ", automation" : "") << ", id " << w.id << ")\n";
      if (w.evm) std::cout << "    EVM · Hyperliquid  " << *w.evm << '\n';
      if (w.solana) std::cout << "    Solana  " << *w.solana << '\n';
    }
  });
}

void addAddresses(CLI::App& wallet) {
  auto* cmd = wallet.add_subcommand("addresses", "Print the active wallet's addresses");
  auto json = std::make_shared<bool>(false);
  cmd->add_flag("--json", *json, "Print JSON");
  cmd->callback([json] { printAddresses(askSigner(sr::Status{}), *json); });
}

void addForget(CLI::App& wallet) {
  auto* cmd = wallet.add_subcommand("forget", "Erase every key the signer holds (the signer asks you to confirm)");
  cmd->callback([] {
    askSigner(sr::Forget{});
    std::cout << "The signer's keys are erased.\n";
  });
}

void addLock(CLI::App& wallet) {
  auto* cmd = wallet.add_subcommand("lock", "Lock the signer: the next signature asks for the passphrase");
  cmd->callback([] {
    askSigner(sr::Lock{});
    std::cout << "The signer is locked.\n";
  });
}

void addStatus(CLI::App& wallet) {
  auto* cmd = wallet.add_subcommand("status", "The signer's wallets, trading key and session");
  auto json = std::make_shared<bool>(false);
  cmd->add_flag("--json", *json, "Print JSON");
  cmd->callback([json] {
    SignerReply r = askSigner(sr::Status{});
    if (*json) {
      std::cout << r.toJson().dump(2) << '\n';
      return;
    }
    const auto count = r.wallets ? r.wallets->size() : 0;
    std::cout << "Wallets: " << count << '\n';
    if (const SignerWallet* active = r.activeWalletRecord()) std::cout << "Active: " << active->label << '\n';
    printAddresses(r, false);
    if (r.agentAddress) {
      std::cout << "Trading key: " << *r.agentAddress << (r.agentActive.value_or(false) ? " (on)" : " (off)") << '\n';
    }
    const auto session = r.sessionLength.value_or(0);
    std::cout << "Session: " << (session > 0 ? std::to_string(session / 60) + " minutes" : std::string("none"))
              << '\n';
  });
}

CommandRegistrar walletRegistrar([](CLI::App& app) {
  auto* wallet = app.add_subcommand("wallet", "The signer's wallets: create, import, list, addresses, forget, lock, status");
  wallet->require_subcommand(1);
  addCreate(*wallet);
  addImport(*wallet);
  addList(*wallet);
  addAddresses(*wallet);
  addForget(*wallet);
  addLock(*wallet);
  addStatus(*wallet);
});

}  // namespace

}  // namespace orwenna::cmd
