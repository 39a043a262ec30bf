// `orwenna move "LINE" [--json] [--confirm]`: prepares a wallet command that
// sends (USDC, SOL, tokens, NEAR, closing the NEAR account), swaps on
// Jupiter ("buy SOL for 10 USDC", "sell all JUP"), bridges ("move 10 USDC
// from Solana to Base", "sell 2 NEAR"), sets Jupiter DCA orders, lends
// (Jupiter Lend, Kamino, Aave, Morpho, and spreading USDC across them) or
// calls a contract, and prints its card; with --confirm it carries the move out through the
// signer, as the chat's Confirm does, and prints the outcome. Recipients come
// only from the signer's address book; a swap or a bridge is held to its
// card's quote.
#include <functional>
#include <iostream>
#include <memory>
#include <optional>

#include "app/bridge_moves.h"
#include "app/call_moves.h"
#include "app/pay_moves.h"
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

// What a move carried out from here needs: the signer's own addresses, the
// services, the signer as the pipelines' signer, and the journal.
struct MoveParts {
  explicit MoveParts(const SignerLocation& location)
      : addresses(addressesOf(ask(location, signer_request::Status{}))),
        services(Services::fromProcess()),
        signer(location),
        journal(Journal::inDataFolder(AppPaths::fromEnvironment().dataDir)) {}
  static WalletAddresses addressesOf(const SignerReply& status) {
    return WalletAddresses{status.solanaAddress, status.evmAddress, status.nearAddress};
  }
  std::function<WalletAddresses()> fixed() const {
    return [a = addresses] { return a; };
  }

  WalletAddresses addresses;
  Services services;
  SocketTradeSigner signer;
  Journal journal;
};

// A card that is refused or only shown: prints it (the JSON with the refusal,
// or the card and how to go on) and throws the refusal. False when the move
// is to be carried out.
bool shownOnly(const MoveOptions& options, Json out, const std::string& text,
               const std::optional<std::string>& refusal) {
  if (!refusal && options.confirm) return false;
  if (options.json) {
    if (refusal) out["refusal"] = *refusal;
    std::cout << out.dump(2) << '\n';
  } else if (!refusal) {
    std::cout << text << '\n' << "Run again with --confirm to carry it out.\n";
  }
  if (refusal) throw CommandFailure(*refusal);
  return true;
}

// Progress lines of a long move (a bridge), for a person watching.
std::function<void(const std::string&)> progressTo(const MoveOptions& options) {
  return [&options](const std::string& line) {
    if (!options.json) std::cout << "  … " << line << std::endl;
  };
}

// False when the line is not a swap.
bool runSwap(const MoveOptions& options, const WalletCommand& command, const SignerLocation& location) {
  MoveParts m(location);
  SwapMoves swaps(m.services, m.signer, m.journal, m.fixed(), nullptr);
  auto card = swaps.card(command);
  if (!card) return false;
  Json out{{"line", command.line()}, {"card", card->refusal ? *card->refusal : card->text}, {"chain", "Solana"}};
  if (!card->refusal) out["minOut"] = card->minOut.toString();
  if (shownOnly(options, out, card->text, card->refusal)) return true;
  printOutcome(options, out, card->text, *swaps.swap(command, card));
  return true;
}

// False when the line is not a bridge.
bool runBridge(const MoveOptions& options, const WalletCommand& command, const SignerLocation& location) {
  if (!BridgeMoves::planOf(command)) return false;
  MoveParts m(location);
  BridgeMoves bridges(m.services, m.signer, m.journal, m.fixed(), nullptr, progressTo(options));
  auto card = bridges.card(command);
  Json out{{"line", command.line()},
           {"card", card->refusal ? *card->refusal : card->text},
           {"route", card->route == BridgeMoves::Route::relay ? "relay" : "1click"}};
  if (!card->refusal) {
    out["amount"] = card->amount.toString();
    out["minOut"] = card->minOut.toString();
    out["recipient"] = card->recipient;
  }
  if (shownOnly(options, out, card->text, card->refusal)) return true;
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
  if (!listing && shownOnly(options, out, command.line(), std::nullopt)) return true;
  MoveParts m(location);
  RecurringMoves recurring(m.services, m.signer, m.journal, m.fixed(), nullptr);
  printOutcome(options, out, command.line(), *recurring.run(PendingAction{command}));
  return true;
}

// False when the line is not a lending move.
bool runYield(const MoveOptions& options, const WalletCommand& command, const SignerLocation& location,
              const AddressBook& book) {
  MoveParts m(location);
  // The steps of a spread (a bridge, a swap, a send) go through the same chain as in the app.
  SendMoves sends(m.services, book, m.signer, m.journal, m.fixed());
  CallMoves calls(m.services, m.signer, m.journal, m.fixed(), &sends);
  YieldMoves yields(m.services, m.signer, m.journal, m.fixed(), &calls);
  SwapMoves swaps(m.services, m.signer, m.journal, m.fixed(), &yields);
  BridgeMoves bridges(m.services, m.signer, m.journal, m.fixed(), &swaps, progressTo(options));
  yields.setHead(&bridges);
  std::optional<YieldMoves::Card> card = yields.card(command);
  if (!card && (std::holds_alternative<wallet::contractCall>(command.value) ||
                std::holds_alternative<wallet::revokeApproval>(command.value))) {
    card = YieldMoves::Card{command.line() + ".", {}, std::nullopt};
  }
  if (!card) return false;
  Json out{{"line", command.line()}, {"card", card->text}, {"steps", card->lines}};
  if (shownOnly(options, out, card->text, card->refusal)) return true;
  printOutcome(options, out, card->text, *yields.run(PendingAction{command}));
  return true;
}

// False when the line is not a pay command. The card reads the service's
// price and the token from the chain; --confirm pays and shows the answer.
bool runPay(const MoveOptions& options, const WalletCommand& command, const SignerLocation& location) {
  if (!std::holds_alternative<wallet::pay>(command.value)) return false;
  MoveParts m(location);
  PayMoves pays(m.services, m.signer, m.journal, m.fixed(), nullptr);
  auto card = pays.card(command);
  Json out{{"line", command.line()}, {"card", card->text}, {"steps", card->lines}};
  std::string text = card->text;
  for (const auto& line : card->lines) text += "\n  " + line;
  if (shownOnly(options, out, text, card->refusal)) return true;
  printOutcome(options, out, text, *pays.run(PendingAction{command}));
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
  if (runPay(options, *command, location)) return;
  auto card = SendMoves::card(*command, book);
  if (!card) throw CommandFailure("orwenna move carries out sends, swaps, bridges, DCA orders, lending moves, contract calls and payments only; this line is a " +
                                  std::string(command->caseName()) + " command.");
  Json out{{"line", command->line()}, {"card", card->text}, {"chain", card->chain}};
  if (card->address) out["address"] = *card->address;
  // An unsaved recipient is refused before anything is asked of the signer or a node.
  if (card->refusal) (void)shownOnly(options, out, card->text, card->refusal);
  MoveParts m(location);
  SendMoves moves(m.services, book, m.signer, m.journal, m.fixed());
  card = moves.cardOnChain(*command);
  if (!card->lines.empty()) out["steps"] = card->lines;
  std::string text = card->text;
  for (const auto& line : card->lines) text += "\n  " + line;
  if (shownOnly(options, out, text, card->refusal)) return;
  auto result = moves.run(PendingAction{*command});
  printOutcome(options, out, text, *result);
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
