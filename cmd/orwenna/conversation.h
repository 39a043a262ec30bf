// The conversation as the app's front ends run it: the services, the model
// the user connected, the read tools and lookups, the app thread and the
// Workspace on it. `orwenna chat` and the web interface both start from here.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/app_executor.h"
#include "app/app_loop.h"
#include "app/read_tools.h"
#include "app/send_moves.h"
#include "app/swap_moves.h"
#include "app/services.h"
#include "app/workspace.h"
#include "base/files.h"
#include "execution/journal.h"
#include "execution/guardian.h"
#include "guards/second_check.h"
#include "orwenna/model_choice.h"
#include "signing/trade_signer.h"

namespace orwenna::cmd {

struct ConversationOptions {
  std::string provider, model, evm, solana;
};

class Conversation {
 public:
  // Throws CommandFailure when a provider asked for by name can't be used;
  // without one asked for, no connected model is no model.
  explicit Conversation(const ConversationOptions& options);
  // Writes every pending file, then ends the Workspace and the app thread.
  ~Conversation();
  Conversation(const Conversation&) = delete;
  Conversation& operator=(const Conversation&) = delete;

  AppLoop& loop() { return loop_; }
  Workspace& workspace() { return *workspace_; }
  const std::optional<ChosenModel>& model() const { return chosen_; }
  const AppPaths& paths() const { return paths_; }
  const Services& services() const { return services_; }
  // The signer and journal Confirm uses, shared with the site wallet.
  TradeSigner& sendSigner() { return *sendSigner_; }
  Journal& journal() { return *journal_; }

  // Waits until no model call, queued message or execution is in flight.
  void waitIdle();

  // Starts the background guardian when exit rules are stored (otherwise the
  // first trade that sets some starts it). Its notices go to the chat and the
  // desktop.
  void startGuardian();

 private:
  AppPaths paths_;
  Services services_;
  std::optional<ChosenModel> chosen_;
  std::shared_ptr<Agent::ReadTools> tools_;
  std::shared_ptr<Agent::Lookups> lookups_;
  std::shared_ptr<SecondCheckClassifier> classifier_;
  // What Confirm reaches: the executor and the signer's book and lock.
  std::unique_ptr<SignerAddressBook> addressBook_;
  std::unique_ptr<SignerLockPort> signerLock_;
  std::unique_ptr<SocketTradeSigner> sendSigner_;
  std::unique_ptr<Journal> journal_;
  std::unique_ptr<SendMoves> sends_;  // the wallet steps of a card
  std::unique_ptr<SwapMoves> swaps_;  // swaps, then the sends
  std::unique_ptr<TradeDesk> desk_;
  AppLoop loop_;
  std::unique_ptr<Workspace> workspace_;
  // Declared last: the loop stops before what it uses goes away.
  std::unique_ptr<ExitRulesStore> exitRules_;
  std::mutex guardianMutex_;
  std::unique_ptr<Guardian> guardian_;
  std::unique_ptr<GuardianLoop> guardianLoop_;

  void ensureGuardian();
  void notice(const Notice& n);
};

}  // namespace orwenna::cmd
