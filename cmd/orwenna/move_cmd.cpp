// `orwenna move "LINE" [--json] [--confirm]`: prepares a wallet command that
// sends (USDC, SOL, tokens, NEAR, closing the NEAR account), swaps on
// Jupiter ("buy SOL for 10 USDC", "sell all JUP"), bridges ("move 10 USDC
// from Solana to Base", "sell 2 NEAR"), sets Jupiter DCA orders, lends
// (Jupiter Lend, Kamino, Aave, Morpho, and spreading USDC across them) or
// calls a contract, and prints its card; with --confirm it carries the move out through the
// signer, as the chat's Confirm does, and prints the outcome. Recipients come
// only from the signer's address book; a swap or a bridge is held to its
// card's quote.
#include <iostream>
#include <memory>

#include "app/bridge_moves.h"
#include "app/call_moves.h"
#include "app/recurring_moves.h"
#include "app/send_moves.h"
#include "app/swap_moves.h"
#include "app/yield_moves.h"
#include "app/services.h"
#include "base/files.h"
#include "execution/journal.h"
#include "language/wallet_command.h"
#include "orwenna/command.h"
#include "signing/signer_client.h"
#include "signing/trade_signer.h"

namespace orwenna::cmd {

namespace {

struct MoveOptions {
  std::string line;
  bool json = false;
  bool confirm = false;
};

// The signer's address book, read once.
class SignerBook final : public AddressBook {
 public:
  explicit SignerBook(std::vector<SavedAddress> entries) : entries_(std::move(entries)) {}
  std::vector<SavedAddress> entries() const override { return entries_; }

 private:
  std::vector<SavedAddress> entries_;
};

SignerReply ask(const SignerLocation& location, const SignerRequest& request) {
  SignerClient client(location);
  SignerReply reply = client.send(request);
  if (!reply.ok) throw CommandFailure(reply.errorText());
  return reply;
}

void printOutcome(const MoveOptions& options, Json out, const std::string& card, const ExecutionResult& result) {
  const char* outcome = result.outcome == ExecutionResult::Outcome::done     ? "done"
                        : result.outcome == ExecutionResult::Outcome::failed ? "failed"
                                                                             : "unknown";
  if (options.json) {
    out["outcome"] = outcome;
    out["reply"] = result.reply;
    out["checks"] = result.lines;
    std::cout << out.dump(2) << '\n';
  } else {
    std::cout << card << '\n';
    for (const auto& line : result.lines) std::cout << "  ✓ " << line << '\n';
    if (result.outcome == ExecutionResult::Outcome::done) std::cout << result.reply << '\n';
  }
  if (result.outcome != ExecutionResult::Outcome::done) throw CommandFailure(result.reply);
}

// False when the line is not a swap.
bool runSwap(const MoveOptions& options, const WalletCommand& command, const SignerLocation& location) {
  SignerReply status = ask(location, signer_request::Status{});
  WalletAddresses addresses{status.solanaAddress, status.evmAddress, status.nearAddress};
  Services services = Services::fromProcess();
  SocketTradeSigner signer(location);
  Journal journal = Journal::inDataFolder(AppPaths::fromEnvironment().dataDir);
  SwapMoves swaps(services, signer, journal, [addresses] { return addresses; }, nullptr);
  auto card = swaps.card(command);
  if (!card) return false;
  Json out{{"line", command.line()}, {"card", card->refusal ? *card->refusal : card->text}, {"chain", "Solana"}};
  if (card->refusal) {
    if (options.json) std::cout << out.dump(2) << '\n';
    throw CommandFailure(*card->refusal);
  }
  out["minOut"] = card->minOut.toString();
  if (!options.confirm) {
    if (options.json) {
      std::cout << out.dump(2) << '\n';
    } else {
      std::cout << card->text << '\n' << "Run again with --confirm to carry it out.\n";
    }
    return true;
  }
  printOutcome(options, out, card->text, *swaps.swap(command, card));
  return true;
}

// False when the line is not a bridge.
bool runBridge(const MoveOptions& options, const WalletCommand& command, const SignerLocation& location) {
  if (!BridgeMoves::planOf(command)) return false;
  SignerReply status = ask(location, signer_request::Status{});
  WalletAddresses addresses{status.solanaAddress, status.evmAddress, status.nearAddress};
  Services services = Services::fromProcess();
  SocketTradeSigner signer(location);
  Journal journal = Journal::inDataFolder(AppPaths::fromEnvironment().dataDir);
  BridgeMoves bridges(services, signer, journal, [addresses] { return addresses; }, nullptr,
                      [&options](const std::string& line) {
                        if (!options.json) std::cout << "  … " << line << std::endl;
                      });
  auto card = bridges.card(command);
  Json out{{"line", command.line()},
           {"card", card->refusal ? *card->refusal : card->text},
           {"route", card->route == BridgeMoves::Route::relay ? "relay" : "1click"}};
  if (card->refusal) {
    if (options.json) std::cout << out.dump(2) << '\n';
    throw CommandFailure(*card->refusal);
  }
  out["amount"] = card->amount.toString();
  out["minOut"] = card->minOut.toString();
  out["recipient"] = card->recipient;
  if (!options.confirm) {
    if (options.json) {
      std::cout << out.dump(2) << '\n';
    } else {
      std::cout << card->text << '\n' << "Run again with --confirm to carry it out.\n";
    }
    return true;
  }
  printOutcome(options, out, card->text, *bridges.bridge(command, card));
  return true;
}

// False when the line is not a Jupiter DCA command. Listing signs nothing and
// needs no --confirm.
bool runRecurring(const MoveOptions& options, const WalletCommand& command, const SignerLocation& location) {
  const bool listing = std::holds_alternative<wallet::jupiterDCAOrders>(command.value);
  if (!listing && !std::holds_alternative<wallet::jupiterDCA>(command.value) &&
      !std::holds_alternative<wallet::jupiterDCACancel>(command.value)) {
    return false;
  }
  Json out{{"line", command.line()}};
  if (!listing && !options.confirm) {
    if (options.json) {
      std::cout << out.dump(2) << '\n';
    } else {
      std::cout << command.line() << '\n' << "Run again with --confirm to carry it out.\n";
    }
    return true;
  }
  SignerReply status = ask(location, signer_request::Status{});
  WalletAddresses addresses{status.solanaAddress, status.evmAddress, status.nearAddress};
  Services services = Services::fromProcess();
  SocketTradeSigner signer(location);
  Journal journal = Journal::inDataFolder(AppPaths::fromEnvironment().dataDir);
  RecurringMoves recurring(services, signer, journal, [addresses] { return addresses; }, nullptr);
  printOutcome(options, out, command.line(), *recurring.run(PendingAction{command}));
  return true;
}

// False when the line is not a lending move.
bool runYield(const MoveOptions& options, const WalletCommand& command, const SignerLocation& location,
              const AddressBook& book) {
  SignerReply status = ask(location, signer_request::Status{});
  WalletAddresses addresses{status.solanaAddress, status.evmAddress, status.nearAddress};
  Services services = Services::fromProcess();
  SocketTradeSigner signer(location);
  Journal journal = Journal::inDataFolder(AppPaths::fromEnvironment().dataDir);
  auto fixed = [addresses] { return addresses; };
  // The steps of a spread (a bridge, a swap, a send) go through the same chain as in the app.
  SendMoves sends(services, book, signer, journal, fixed);
  CallMoves calls(services, signer, journal, fixed, &sends);
  YieldMoves yields(services, signer, journal, fixed, &calls);
  SwapMoves swaps(services, signer, journal, fixed, &yields);
  BridgeMoves bridges(services, signer, journal, fixed, &swaps, [&options](const std::string& line) {
    if (!options.json) std::cout << "  … " << line << std::endl;
  });
  yields.setHead(&bridges);
  std::optional<YieldMoves::Card> card = yields.card(command);
  if (!card && (std::holds_alternative<wallet::contractCall>(command.value) ||
                std::holds_alternative<wallet::revokeApproval>(command.value))) {
    card = YieldMoves::Card{command.line() + ".", {}, std::nullopt};
  }
  if (!card) return false;
  Json out{{"line", command.line()}, {"card", card->text}, {"steps", card->lines}};
  if (card->refusal) {
    if (options.json) std::cout << out.dump(2) << '\n';
    throw CommandFailure(*card->refusal);
  }
  if (!options.confirm) {
    if (options.json) {
      std::cout << out.dump(2) << '\n';
    } else {
      std::cout << card->text << '\n' << "Run again with --confirm to carry it out.\n";
    }
    return true;
  }
  printOutcome(options, out, card->text, *yields.run(PendingAction{command}));
  return true;
}

void runMove(const MoveOptions& options) {
  auto command = WalletCommand::parse(options.line);
  if (!command) throw CommandFailure("That line isn't a wallet command: " + options.line);
  const AppPaths paths = AppPaths::fromEnvironment();
  const SignerLocation location = SignerLocation::forApp(paths);
  std::vector<SavedAddress> saved;
  for (const auto& a : ask(location, signer_request::AddressBook{}).addresses.value_or(std::vector<SignerAddress>{})) {
    saved.push_back({a.name, a.address, a.network});
  }
  SignerBook book(std::move(saved));
  if (runSwap(options, *command, location)) return;
  if (runBridge(options, *command, location)) return;
  if (runRecurring(options, *command, location)) return;
  if (runYield(options, *command, location, book)) return;
  auto card = SendMoves::card(*command, book);
  if (!card) throw CommandFailure("orwenna move carries out sends, swaps, bridges, DCA orders, lending moves and contract calls only; this line is a " +
                                  std::string(command->caseName()) + " command.");
  Json out{{"line", command->line()}, {"card", card->text}, {"chain", card->chain}};
  if (card->address) out["address"] = *card->address;
  if (card->refusal || !options.confirm) {
    if (options.json) {
      if (card->refusal) out["refusal"] = *card->refusal;
      std::cout << out.dump(2) << '\n';
    } else if (!card->refusal) {
      std::cout << card->text << '\n' << "Run again with --confirm to carry it out.\n";
    }
    if (card->refusal) throw CommandFailure(*card->refusal);
    return;
  }
  SignerReply status = ask(location, signer_request::Status{});
  WalletAddresses addresses{status.solanaAddress, status.evmAddress, status.nearAddress};
  Services services = Services::fromProcess();
  SocketTradeSigner signer(location);
  Journal journal = Journal::inDataFolder(paths.dataDir);
  SendMoves moves(services, book, signer, journal, [addresses] { return addresses; });
  auto result = moves.run(PendingAction{*command});
  printOutcome(options, out, card->text, *result);
}

CommandRegistrar moveRegistrar([](CLI::App& app) {
  auto options = std::make_shared<MoveOptions>();
  CLI::App* sub = app.add_subcommand("move", "prepare a send, a swap or a bridge and show its card; --confirm carries it out");
  sub->add_option("line", options->line, "the wallet command, e.g. \"send 5 USDC to Mom\"")->required();
  sub->add_flag("--json", options->json, "print JSON instead of text");
  sub->add_flag("--confirm", options->confirm, "carry the move out through the signer");
  sub->callback([options] { runMove(*options); });
});

}  // namespace

}  // namespace orwenna::cmd
