#include "orwenna/conversation.h"

#include <chrono>
#include <set>
#include <thread>

#include "base/clock.h"
#include "base/log.h"
#include "orwenna/command.h"
#include "hyperliquid/info.h"
#include "platform/defaults.h"
#include "platform/desktop_notice.h"
#include "trading/risk_policy.h"

namespace orwenna::cmd {

Conversation::Conversation(const ConversationOptions& options)
    : paths_(AppPaths::fromEnvironment()), services_(Services::fromProcess()) {
  paths_.ensureExist();
  log::openLog(paths_.dataDir);
  try {
    chosen_ = connectModel(services_, options.provider, options.model);
  } catch (const CommandFailure&) {
    if (!options.provider.empty()) throw;  // asked for by name: say why it can't be used
  }
  Agent::UserAddresses me;
  if (!options.evm.empty()) me.evm = options.evm;
  if (!options.solana.empty()) me.solana = options.solana;
  tools_ = std::make_shared<Agent::ReadTools>(services_, me);
  lookups_ = std::make_shared<Agent::Lookups>(tools_->lookups());
  classifier_ = std::make_shared<SecondCheckClassifier>(services_.secondCheck());

  Workspace::Services s(services_.clock, SecureRandom::shared(), loop_, paths_.dataDir);
  if (chosen_) {
    s.ask = ChatRouter::askWith(*chosen_->client, chosen_->model);
    s.modelName = chosen_->name;
    s.providerID = chosen_->providerID;
  }
  s.lookup = lookups_->callback();
  // The table is read once, on the first worker that asks; no copy per turn.
  auto tools = tools_;
  s.markets = [tools] { return std::shared_ptr<const MarketTable>(tools, &tools->markets().table()); };
  if (classifier_->connected()) s.secondCheck = classifier_.get();
  s.policy = RiskPolicy::load();
  const SignerLocation signer = SignerLocation::forApp(paths_);
  addressBook_ = std::make_unique<SignerAddressBook>(signer);
  signerLock_ = std::make_unique<SignerLockPort>(signer);
  sendSigner_ = std::make_unique<ScopedWalletSigner>(signer);  // the automation wallet within a run's scope
  journal_ = std::make_unique<Journal>(Journal::inDataFolder(paths_.dataDir));
  // The active wallet's addresses, asked of the signer for each step: the user may switch wallets.
  auto activeAddresses = [signer] {
    WalletAddresses addresses;
    try {
      addresses = scopedAddresses(SignerClient(signer).send(signer_request::Status{}));
    } catch (const Error& e) {
      log::warn("send: the signer's addresses couldn't be read: {}", e.what());
    }
    return addresses;
  };
  sends_ = std::make_unique<SendMoves>(services_, *addressBook_, *sendSigner_, *journal_, activeAddresses);
  pays_ = std::make_unique<PayMoves>(services_, *sendSigner_, *journal_, activeAddresses, sends_.get());
  calls_ = std::make_unique<CallMoves>(services_, *sendSigner_, *journal_, activeAddresses, pays_.get());
  yields_ = std::make_unique<YieldMoves>(services_, *sendSigner_, *journal_, activeAddresses, calls_.get());
  swaps_ = std::make_unique<SwapMoves>(services_, *sendSigner_, *journal_, activeAddresses, yields_.get());
  // Progress of a long move (a bridge) shows in the chat as it happens.
  auto progress = [this](const std::string& line) {
    loop_.post([this, line] {
      if (workspace_) workspace_->reply(line);
    });
  };
  recurring_ = std::make_unique<RecurringMoves>(services_, *sendSigner_, *journal_, activeAddresses, swaps_.get());
  bridges_ = std::make_unique<BridgeMoves>(services_, *sendSigner_, *journal_, activeAddresses, recurring_.get(),
                                           progress);
  yields_->setHead(bridges_.get());  // a spread's steps (a bridge, a swap, a send) go through the whole chain
  // A bridge runs for minutes: its step card shows in the activity log as it goes.
  bridges_->onStep([this](const ActivityBubble& step) {
    loop_.post([this, step] {
      if (!workspace_) return;
      if (bridgeActivity_.empty() || (step.status == "running" && step.lines.size() <= 1)) {
        bridgeActivity_ = makeUuid(SecureRandom::shared());
      }
      Activity a;
      a.id = bridgeActivity_;
      a.at = services_.clock.nowMillis();
      a.kind = Activity::Kind::execution;
      a.title = step.title;
      a.bubbles = {step};
      if (step.status == "failed") a.failed = true;
      workspace_->log(std::move(a));
    });
  });
  desk_ = std::make_unique<TradeDesk>(
      services_, TradeDesk::Options{signer, paths_.dataDir, {options.solana, options.evm},
                                    services_.hyperliquidTestnet, bridges_.get(), progress});
  exitRules_ = std::make_unique<ExitRulesStore>(Defaults::standard());
  // A trade with a partial take or a trail leaves its rules to the guardian,
  // replacing any of an earlier position of the coin.
  desk_->onTraded([this](const Executor::Opened& opened) {
    try {
      if (!opened.partialPlaced && !opened.trailingPct) {
        exitRules_->remove(opened.asset);
        return;
      }
      exitRules_->put(opened.asset,
                      ExitRules::opened(opened.size, opened.entry, opened.partialPlaced, opened.trailingPct));
      ensureGuardian();
      guardianLoop_->wake();
    } catch (const std::exception& e) {
      log::warn("exit rules of {}: {}", opened.asset, e.what());
    }
  });
  // A trail asked for in the chat keeps any rules the trade left (a partial
  // take still pending) and runs a pass at once.
  desk_->onTrail([this](const std::string& coin, const HyperliquidAccount::Position& position,
                        const Decimal& percent) {
    std::optional<ExitRules> rules = exitRules_->get(coin);
    if (!rules || rules->openedSize.isPositive() != position.size.isPositive())
      rules = ExitRules::opened(position.size, position.entry, false, std::nullopt);
    rules->trailingPct = percent;
    exitRules_->put(coin, *rules);
    ensureGuardian();
    guardianLoop_->wake();
  });
  s.executor = desk_.get();
  s.addressBook = addressBook_.get();
  s.signerLock = signerLock_.get();

  AppAutomations::Setup a(services_.clock, SecureRandom::shared(), loop_, SystemCalendar::shared());
  a.dataDir = paths_.dataDir;
  a.defaults = Defaults::standard();
  const std::string hlRoot = services_.endpoints.hyperliquid.root(!services_.hyperliquidTestnet);
  // Only the own dex and the builder dexes an alert names: not every dex each 10 s.
  a.readMarks = [this, hlRoot](const std::vector<std::string>& coins) {
    const Hyperliquid::InfoApi info{services_.http, services_.clock, hlRoot};
    std::map<std::string, Decimal, std::less<>> marks;
    for (const auto& [name, m] : Hyperliquid::markets(info)) marks[name] = m.markPx;
    std::set<std::string> dexes;
    for (const auto& c : coins)
      if (auto colon = c.find(':'); colon != std::string::npos) dexes.insert(c.substr(0, colon));
    if (!dexes.empty()) {
      const auto list = Hyperliquid::perpDexs(info);
      for (std::size_t i = 0; i < list.size(); ++i) {
        if (!dexes.count(list[i].name)) continue;
        for (const auto& [name, m] : Hyperliquid::markets(info, Hyperliquid::DexRef{list[i].name, static_cast<int>(i)}))
          marks[name] = m.markPx;
      }
    }
    return marks;
  };
  a.markets = s.markets;
  a.notify = [](const std::string& title, const std::string& text) { (void)notifyDesktop(title, text); };
  a.armed = [this] { ensureTicking(); };
  automationWallet_ = std::make_unique<SignerAutomationWallet>(signer, services_, *desk_);
  a.signing = automationWallet_.get();
  automations_ = std::make_unique<AppAutomations>(std::move(a));
  s.automations = automations_.get();
  loop_.sync([&] {
    workspace_ = std::make_unique<Workspace>(std::move(s));
    workspace_->setMemory(Agent::Memory::load(Defaults::standard()));
    automations_->attach(workspace_.get());
  });
}

Conversation::~Conversation() {
  if (guardianLoop_) guardianLoop_->stop();
  if (ticker_) ticker_->stop();
  loop_.sync([&] {
    automations_->attach(nullptr);
    workspace_->setListener(nullptr);
    workspace_->flush();
    workspace_.reset();
  });
  loop_.stop();
}

void Conversation::waitIdle() {
  for (;;) {
    bool idle = false;
    loop_.sync([&] { idle = workspace_->idle(); });
    if (idle) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void Conversation::startGuardian() {
  const bool automations = automations_->armedAnything();
  if (exitRules_->empty() && !automations) return;
  try {
    ensureGuardian();
  } catch (const std::exception& e) {
    if (!exitRules_->empty()) {
      loop_.post([this, what = std::string(e.what())] {
        if (workspace_) workspace_->reply("The guardian can't manage stops: " + what);
      });
    }
    if (automations) ensureTicking();
  }
}

void Conversation::ensureTicking() {
  std::lock_guard lock(guardianMutex_);
  if (guardianLoop_) {
    guardianLoop_->wake();
  } else if (ticker_) {
    ticker_->wake();
  } else {
    ticker_ = std::make_unique<AutomationTicker>([this] { return automations_->tick(); });
  }
}

void Conversation::ensureGuardian() {
  std::lock_guard lock(guardianMutex_);
  if (guardianLoop_) return;
  HLOrders& orders = desk_->executor().orders();
  const Hyperliquid::InfoApi info{services_.http, services_.clock,
                                  services_.endpoints.hyperliquid.root(!services_.hyperliquidTestnet)};
  guardian_ = std::make_unique<Guardian>(
      Guardian::Setup{orders, *exitRules_, [info] { return Hyperliquid::loadMarketTable(info); },
                      [this](const Notice& n) { notice(n); }});
  // One round for both: the alerts and due tasks first, then the guardian's
  // pass — unless the automations already have a round of their own.
  guardianLoop_ = std::make_unique<GuardianLoop>(*guardian_, *exitRules_, [this] {
    bool separate = false;
    {
      std::lock_guard lock(guardianMutex_);
      separate = ticker_ != nullptr;
    }
    return separate ? !automations_->alerts().empty() : automations_->tick();
  });
  guardianLoop_->start();
}

void Conversation::notice(const Notice& n) {
  loop_.post([this, n] {
    if (!workspace_) return;
    const bool ru = workspace_->replyLanguage() == Language::russian;
    workspace_->reply((ru ? n.titleRU : n.title) + "\n" + (ru ? n.textRU : n.text));
    (void)notifyDesktop(ru ? n.titleRU : n.title, ru ? n.textRU : n.text);
  });
}

}  // namespace orwenna::cmd
