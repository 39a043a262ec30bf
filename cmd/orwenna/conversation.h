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
#include "app/automation_wallet.h"
#include "app/automations.h"
#include "app/bridge_moves.h"
#include "app/recurring_moves.h"
#include "app/call_moves.h"
#include "app/pay_moves.h"
#include "app/read_tools.h"
#include "app/send_moves.h"
#include "app/swap_moves.h"
#include "app/yield_moves.h"
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
  // desktop. Its round checks the price alerts and runs the due tasks first;
  // when the guardian can't run (no trading account), they get a round of
  // their own.
  void startGuardian();

  AppAutomations& automations() { return *automations_; }

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
  std::unique_ptr<ScopedWalletSigner> sendSigner_;
  std::unique_ptr<Journal> journal_;
  std::unique_ptr<SendMoves> sends_;  // the wallet steps of a card
  std::unique_ptr<PayMoves> pays_;      // paid API calls (MPP on Tempo), then the sends
  std::unique_ptr<CallMoves> calls_;    // raw contract calls and revocations, then the pays
  std::unique_ptr<YieldMoves> yields_;  // the lending places, then the calls
  std::unique_ptr<SwapMoves> swaps_;    // swaps, then the lending places
  std::unique_ptr<RecurringMoves> recurring_;  // Jupiter DCA orders, then the swaps
  std::unique_ptr<BridgeMoves> bridges_;        // bridges, then the DCA orders
  std::string bridgeActivity_;            // the activity entry of the bridge running now (app thread)
  std::unique_ptr<TradeDesk> desk_;
  AppLoop loop_;
  std::unique_ptr<Workspace> workspace_;
  // Declared last: the loop stops before what it uses goes away.
  std::unique_ptr<ExitRulesStore> exitRules_;
  std::mutex guardianMutex_;
  std::unique_ptr<Guardian> guardian_;
  std::unique_ptr<GuardianLoop> guardianLoop_;
  std::unique_ptr<SignerAutomationWallet> automationWallet_;
  std::unique_ptr<AppAutomations> automations_;
  std::unique_ptr<AutomationTicker> ticker_;  // only while the guardian's loop isn't there

  void ensureGuardian();
  // Something was armed: the round that carries the automations runs soon.
  void ensureTicking();
  void notice(const Notice& n);
};

}  // namespace orwenna::cmd
