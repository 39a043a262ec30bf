// The conversation: takes each chat message, decides what happens to it and
// writes the answer back into the chat. Local checks run first, in a fixed
// order (the send guard, the steering screen, a typed yes or cancel, the
// answer to a pending question for an amount, the app's own words); only then
// is the message handed to the chat router, whose reading becomes a plan on
// the canvas, a card waiting for Confirm, a reply with option cards, or
// nothing. Typed text never moves money: only `confirm`, carrying the card's
// id and version, hands a card to the executor.
//
// Threading: every public method is called on the app thread (the AppLoop
// the Workspace was given) — the Workspace is its state's only owner. Model
// calls, lookups and the executor run on worker threads and post their
// results back. One model call runs at a time; a newer message or `stop`
// makes an earlier reading stale, and a stale reading is dropped. Observers
// get every change through the listener, each event with a revision number;
// `stateJson` gives the whole state at a revision. `snapshot` (the
// PortfolioSource) may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/activity.h"
#include "app/agent.h"
#include "app/app_loop.h"
#include "app/canvases.h"
#include "app/conversation_ports.h"
#include "app/file_writer.h"
#include "app/portfolio.h"
#include "base/clock.h"
#include "base/json.h"
#include "guards/second_check.h"
#include "router/chat_router.h"
#include "trading/market.h"
#include "trading/review.h"
#include "trading/risk_policy.h"

namespace orwenna {

// Where a message came from: set by whoever received it, never by its text.
enum class MessageSource { composer, quickButton, voice, debug };

struct WorkspaceEvent {
  std::uint64_t rev = 0;
  std::string kind;  // "message", "draft", "card", "options", "composer", "status", "canvas", "activity", "show", "site", "notice"
  Json data;
};

class Workspace final : public Agent::PortfolioSource {
 public:
  // The card waiting for Confirm.
  struct Card {
    enum class Status { waiting, executing, done, failed };
    std::string id;   // UUID
    int version = 1;  // bumped on every change; Confirm must carry the current one
    std::string code;  // short code the terminal types to confirm it
    std::string command;  // the whole command line
    std::vector<PendingAction> steps;
    std::string text;  // the message that created it (pendingText)
    std::string canvas;
    std::optional<std::string> next;
    Status status = Status::waiting;
    std::int64_t at = 0;
  };

  struct AwaitingAmount {
    WalletCommand command;
    std::string unit;                  // "USDC", "SOL"
    std::optional<std::string> place;  // "Jupiter Lend", "Hyperliquid"
    std::string canvas;
  };

  struct Services {
    Services(Clock& clock, Random& random, TaskPoster& loop, std::filesystem::path dataDir)
        : clock(clock), random(random), loop(loop), dataDir(std::move(dataDir)) {}
    Clock& clock;
    Random& random;
    TaskPoster& loop;
    std::filesystem::path dataDir;
    // The connected model; empty when none is. `modelName` names it in replies.
    ChatRouter::Ask ask;
    std::string modelName;
    std::optional<std::string> providerID;
    ChatRouter::RunLookup lookup;  // required
    // The market table; may block on its first read, so it is asked on workers.
    std::function<std::shared_ptr<const MarketTable>()> markets;
    const SecondCheckClassifier* secondCheck = nullptr;  // none: local rules only
    bool modelSecondReader = true;
    const AddressBook* addressBook = nullptr;
    SignerLock* signerLock = nullptr;
    MoneyExecutor* executor = nullptr;
    Automations* automations = nullptr;
    RiskPolicy policy;
    ChatRouter::ChatLanguage language = ChatRouter::ChatLanguage::auto_;
  };

  enum class ConfirmResult { started, stale, notWaiting };

  using Listener = std::function<void(const WorkspaceEvent&)>;

  // REQUIRES: destroyed on the app thread, or after the loop has stopped.
  // Loads canvases.json, activity.json and folder-icons.json from the data
  // folder; a file that can't be read is set aside and said in the chat.
  explicit Workspace(Services services);
  ~Workspace() override;
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  void setListener(Listener listener) { listener_ = std::move(listener); }
  // Balances, positions and favorites as the account reads last saw them.
  void setHoldings(Agent::PortfolioSnapshot holdings);
  void setMemory(Agent::Memory memory) { memory_ = std::move(memory); }

  // Runs the road for one message; returns at once (the model call is a task).
  void send(const std::string& text, MessageSource source);
  // Appends a system message to the current canvas and saves it.
  void reply(const std::string& text);
  // Ends the model call in progress, if any.
  void stop();
  // Adds or replaces (by id) an entry of the activity log.
  void log(Activity activity);
  // Hands the card to the executor when `cardID` and `version` name the card
  // waiting now; anything else signs nothing.
  ConfirmResult confirm(const std::string& cardID, int version);
  // The Cancel button: drops the waiting card.
  void cancelCard();
  void newCanvas();
  // Parks the waiting card under the canvas left and restores the one parked
  // under `canvasID`. False when there is no such canvas.
  bool switchCanvas(const std::string& canvasID);
  void setFolderIcon(const std::string& folder, const std::string& icon);
  const std::map<std::string, std::string>& folderIcons() const { return folderIcons_; }
  // A background "check: …" through the same one-call gate.
  void runCheck(const std::string& what, bool byHand);

  // Steps an automation brought back (a fired alert, a due task, a recurring
  // buy), prepared as if typed on a canvas of their own: `canvas` when it
  // still exists, else a new one titled `title`. Their card is parked there,
  // never over the card on screen; nothing is signed before its Confirm.
  struct AutomationRun {
    std::string title;
    std::vector<std::string> steps;
    bool untrusted = false;  // the steps were not the user's own words
    std::optional<std::string> canvas;
    std::shared_ptr<const MarketTable> markets;  // may be null: the last table read
    // Said on the canvas before the steps run.
    std::vector<std::string> notes;
    // Signs the card without Confirm (the automation wallet): `execute` runs
    // on the executor's worker. Only cards of wallet moves it can sign.
    struct Unattended {
      std::string wallet;  // its name, for the chat
      std::function<ExecutionResult(const std::vector<PendingAction>&)> execute;
    };
    std::optional<Unattended> unattended;
  };
  struct AutomationOutcome {
    std::string canvas;
    bool ready = false;  // a card waits for Confirm
    bool unattended = false;  // its card went to the automation wallet
    std::optional<std::string> stoppedAt;  // the step the chain stopped at
  };
  AutomationOutcome runAutomation(const AutomationRun& run);
  // Writes every file waiting now (quit, SIGTERM).
  void flush();
  // Another model for the turns that start from now on (the model picker);
  // an empty `ask` means no model.
  void setModel(ChatRouter::Ask ask, std::string modelName, std::optional<std::string> providerID);
  // The risk policy the next plans are checked against (the settings screen).
  void setPolicy(const RiskPolicy& policy) { s_.policy = policy; }

  // What loading the files found wrong (also said in the chat).
  const std::vector<std::string>& loadNotices() const { return loadNotices_; }

  // --- State (app thread) ---
  std::uint64_t revision() const { return rev_; }
  bool idle() const;  // no model call, queued message or execution in flight
  bool modelRunning() const { return modelRunning_; }
  bool busy() const { return busy_; }
  const std::vector<Message>& messages() const;
  const CanvasSession& canvas() const { return canvases_[current_]; }
  const std::vector<CanvasSession>& canvases() const { return canvases_; }
  const std::optional<Card>& card() const { return card_; }
  std::optional<PendingAction> pendingAction() const;
  const std::map<std::string, Card>& parkedPending() const { return parked_; }
  const std::optional<AwaitingAmount>& awaitingAmount() const { return awaiting_; }
  const std::optional<Agent::NextSteps>& nextSteps() const { return nextSteps_; }
  const std::string& draftReply() const { return draftReply_; }
  const std::string& composer() const { return composer_; }
  const std::vector<Activity>& activities() const { return activities_; }
  const std::optional<TradeIntent>& intent() const { return canvas().intent; }
  Json stateJson() const;

  // The ChatRouter context of the current canvas, as the next model call gets it.
  ChatRouter::Context context() const;
  Language replyLanguage() const;

  // PortfolioSource: any thread.
  Agent::PortfolioSnapshot snapshot() const override;

 private:
  struct Turn;
  struct TurnResult;
  struct Queued {
    std::string text;
    MessageSource source;
    std::string activity;
    std::string canvas;
    bool check = false;   // a background "check: …"
    bool byHand = false;  // the check was asked for in the chat
    // A request going on after its step: how the step went and what was said since.
    std::optional<Agent::AgentGoal> goal;
    Agent::StepOutcome outcome = Agent::StepOutcome::unknown;
    std::vector<std::string> repliesSince;
  };

  // Posts to the app thread; dropped once the Workspace is gone.
  void post(Task task);
  void emit(std::string kind, Json data);
  void emitStatus();
  CanvasSession* canvasById(const std::string& id);
  void appendMessage(const std::string& canvasID, Message message);
  void replyOn(const std::string& canvasID, const std::string& text);
  void saveCanvases();
  void saveActivity();
  void saveFolderIcons();
  Activity* activityById(const std::string& id);
  void logLine(const std::string& activityID, std::string line);

  bool sendGuard(const std::string& text, const std::string& activity);
  bool localSteering(const std::string& text, const std::string& activity);
  bool typedYes(const std::string& text, MessageSource source);
  bool typedCancel(const std::string& text);
  bool awaitedAmount(const std::string& text, const std::string& activity);
  bool appWord(const std::string& text, const std::string& activity);
  bool offeredCard(const std::string& text, MessageSource source, const std::string& activity);

  void startModel(Queued message);
  void finishTurn(std::uint64_t turn, TurnResult result);
  void startQueued();
  void endModel();

  // Acting on a command line; `message` is the user's text it came from.
  void actOnCommand(const std::string& line, const std::string& message, const std::string& canvasID,
                    const std::string& activity, const ChatRouter::Reading* reading, bool background = false);
  void actOnReading(const ChatRouter::Reading& reading, const std::string& message, const std::string& canvasID,
                    const std::string& activity, const std::optional<std::string>& answer, bool check);
  void cancelByText(const std::string& canvasID);
  // A card for a canvas not on screen, or one a background check made while a
  // card waits, is parked under its canvas; it shows once that canvas is free.
  void placeCard(Card card, bool background);
  void showParked();
  void dropCard();
  void setPlan(const std::string& canvasID, const TradeIntent& intent, const std::string& activity,
               bool background = false);
  void executeCard();
  void finishExecution(const std::string& cardID, ExecutionResult result);

  std::shared_ptr<const MarketTable> marketsNow() const;
  std::string newId();

  Services s_;
  // Tasks posted to the loop hold it weakly, so none outlives the Workspace.
  std::shared_ptr<int> life_ = std::make_shared<int>(0);
  Listener listener_;
  std::uint64_t rev_ = 0;
  std::unique_ptr<CoalescingWriter> writer_;
  // Model calls run one at a time anyway (the gate), so one thread serves
  // them all; the executor has its own, so a signing never waits on a model.
  AppLoop modelWorker_;
  AppLoop executorWorker_;

  std::vector<CanvasSession> canvases_;
  std::size_t current_ = 0;
  std::map<std::string, std::string> folderIcons_;
  std::vector<Activity> activities_;
  std::optional<std::string> currentActivity_;
  std::vector<std::string> loadNotices_;

  std::optional<Card> card_;
  // A multi-step request in progress and the card of its current step.
  std::optional<Agent::AgentGoal> agentGoal_;
  std::string goalCard_;
  std::map<std::string, Card> parked_;  // by canvas id
  std::optional<AwaitingAmount> awaiting_;
  std::optional<Agent::NextSteps> nextSteps_;
  bool optionClicked_ = false;  // set while an option card's command runs
  std::string draftReply_;
  std::optional<std::int64_t> draftShownAt_;
  std::string composer_;
  bool busy_ = false;
  bool thinking_ = false;
  bool modelRunning_ = false;
  bool stopRequested_ = false;
  bool executing_ = false;
  Agent::Memory memory_;

  // The one-call gate: a call is in flight from its start until its worker
  // posts back, even when its reading has gone stale.
  bool callInFlight_ = false;
  std::uint64_t turn_ = 0;
  std::shared_ptr<std::atomic<bool>> cancelModel_;
  std::optional<Queued> queued_;

  mutable std::mutex holdingsMutex_;
  Agent::PortfolioSnapshot holdings_;
  std::shared_ptr<const MarketTable> lastMarkets_;
};

std::string_view cardStatusName(Workspace::Card::Status status);
std::string_view messageSourceName(MessageSource source);

}  // namespace orwenna
