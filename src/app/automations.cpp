#include "app/automations.h"

#include <algorithm>

#include "app/automation_wallet.h"

#include "base/files.h"
#include "base/log.h"
#include "base/regex.h"
#include "base/text.h"
#include "language/command_reader.h"
#include "trading/fmt.h"
#include "trading/risk_calc.h"

namespace orwenna {

namespace {

bool automationStepReadable(const std::string& step, const MarketNames& names) {
  return CommandReader::read(step, names, std::nullopt).has_value();
}

// "buy SOL for 10 USDC because SOL is below 150" → the steps and the condition.
std::pair<std::string, std::optional<std::string>> splitBecause(const std::string& command) {
  static const Regex re(R"(^(.+?)\s+(?:because|only\s+if|if|потому\s+что|только\s+если|если)\s+(.+?)\s*[.!]?$)",
                        Regex::kCaseInsensitive | Regex::kDotAll);
  auto m = re.firstMatch(command);
  if (!m) return {command, std::nullopt};
  return {std::string(*m->group(1)), std::string(*m->group(2))};
}

// A condition read as a price level of one market, the alert grammar's form
// ("ETH is below 2,500"); nothing for any other form, which can't be checked
// deterministically. "at" has no side to check, so it is not a condition.
std::optional<AlertCommand::set> becauseCondition(const std::string& condition, const MarketNames& names) {
  auto alert = AlertCommand::parse("when " + condition, names);
  const auto* set = alert ? std::get_if<AlertCommand::set>(&alert->value) : nullptr;
  if (!set || !set->above || !set->steps.empty()) return std::nullopt;
  return *set;
}

}  // namespace

AppAutomations::AppAutomations(Setup setup)
    : s_(std::move(setup)),
      alerts_(s_.dataDir, s_.clock, s_.random),
      tasks_(s_.defaults),
      buys_(s_.defaults) {}

void AppAutomations::attach(Workspace* workspace) {
  workspace_ = workspace;
  if (workspace_ && alerts_.loadNotice()) workspace_->reply(*alerts_.loadNotice());
}

Language AppAutomations::language() const {
  return workspace_ ? workspace_->replyLanguage() : Language::english;
}

std::shared_ptr<const MarketTable> AppAutomations::tableOrNull() {
  if (!s_.markets) return nullptr;
  try {
    return s_.markets();
  } catch (const std::exception& e) {
    log::warn("automations: the markets couldn't be read: {}", e.what());
    return nullptr;
  }
}

std::optional<Decimal> AppAutomations::markOf(const std::string& coin) {
  {
    std::lock_guard lock(marksMutex_);
    auto it = lastRead_.marks.find(coin);
    if (it != lastRead_.marks.end() &&
        s_.clock.monotonicMillis() - lastRead_.readAt <= PriceAlerts::kStaleAfterMillis)
      return it->second;
  }
  auto table = tableOrNull();
  const Market* m = table ? table->find(coin) : nullptr;
  if (!m || !m->markPx.isPositive()) return std::nullopt;
  return m->markPx;
}

bool AppAutomations::armedAnything() const {
  return !alerts_.empty() || !tasks_.empty() || !buys_.all().empty();
}

std::string AppAutomations::saveAlert(const AlertCommand& alert, const std::string& canvas) {
  const Language lang = language();
  if (std::holds_alternative<AlertCommand::clear>(alert.value)) return alerts_.clear(lang);
  PriceAlerts::SetRequest request;
  request.command = std::get<AlertCommand::set>(alert.value);
  auto table = tableOrNull();
  const MarketNames names = table ? table->names() : MarketNames{};
  for (const auto& step : request.command.steps) {
    if (!automationStepReadable(step, names)) {
      request.unpreparable = step;
      break;
    }
  }
  if (!request.unpreparable) request.mark = markOf(request.command.coin);
  // Without steps of its own, an alert set on a canvas with a plan brings that plan back.
  if (request.command.steps.empty() && workspace_) {
    for (const auto& c : workspace_->canvases())
      if (c.id == canvas && c.intent) request.plan = canvas;
  }
  std::string answer = alerts_.set(request, lang);
  if (s_.armed && !alerts_.empty()) s_.armed();
  return answer;
}

std::string AppAutomations::saveSchedule(const CommandLines::Scheduled& schedule, const std::string& canvas,
                                         bool untrusted) {
  (void)canvas;
  const bool ru = language() == Language::russian;
  const auto [command, because] = splitBecause(schedule.command);
  const std::vector<std::string> steps = Schedules::steps(command);
  auto table = tableOrNull();
  const MarketNames names = table ? table->names() : MarketNames{};
  if (because && !becauseCondition(*because, names)) {
    return ru ? "Проверить «" + *because + "» сам я не смогу — ничего не запланировано."
              : "I can’t check “" + *because + "” myself — nothing was scheduled.";
  }
  for (const auto& step : steps) {
    if (!automationStepReadable(step, names)) {
      return ru ? "Запланировать могу, но «" + step + "» orwenna пока не умеет — ничего не запланировано."
                : "I can schedule that, but orwenna can’t do “" + step + "” yet — nothing was scheduled.";
    }
  }
  auto timing = Schedules::timing(schedule.when, s_.clock.nowMillis(), s_.calendar);
  if (auto* refusal = std::get_if<std::string>(&timing)) return *refusal;
  const Timing& t = std::get<Timing>(timing);
  ScheduledTask task;
  task.id = makeUuid(s_.random);
  task.steps = steps;
  task.next = t.next;
  task.every = t.every;
  task.day = t.day;
  task.because = because;
  if (untrusted) task.untrusted = true;
  const std::string description = text::join(steps, ", then ") + ", " + t.words;
  if (tasks_.contains(task)) {
    return ru ? "Это уже запланировано: " + description + ". Это на канвасе."
              : "That’s already scheduled: " + description + ". It’s on the canvas.";
  }
  try {
    tasks_.add(task);
  } catch (const Error& e) {
    return e.what();
  }
  if (s_.armed) s_.armed();
  const std::string next = Schedules::localText(t.next, s_.calendar);
  const bool automationWallet = s_.signing && s_.signing->wallet().has_value();
  std::string answer = ru ? "Запланировано: " + description + " (ближайший запуск " + next + ")."
                          : "Scheduled: " + description + " (next run " + next + ").";
  if (because) {
    // What a condition suggests always waits for Confirm, automation wallet or not.
    answer += ru ? " Я буду смотреть сам и напишу, только когда условие выполнится; что предложу — будет ждать твоего Confirm."
                 : " I'll look myself each time and write only when it's met; what I suggest waits for your Confirm.";
  } else if (untrusted) {
    answer += ru ? " Эти шаги написаны не тобой, поэтому движения будут ждать твоего Confirm."
                 : " These steps aren’t your own words, so its moves will wait for your Confirm.";
  } else if (automationWallet) {
    answer += ru ? " Движения пойдут сами с кошелька автоматизации, без Touch ID."
                 : " Its moves run by themselves from the automation wallet, no Touch ID.";
  } else {
    answer += ru ? " Движения будут ждать твоего Confirm; чтобы шли сами, скажи «создай кошелёк автоматизации»."
                 : " Its moves will wait for your Confirm; to run them by themselves, say «create an automation wallet».";
  }
  return answer;
}

std::optional<Workspace::AutomationRun> AppAutomations::taskRun(const ScheduledTask& task,
                                                                const std::shared_ptr<const MarketTable>& table) {
  Workspace::AutomationRun run;
  run.title = "⏰ " + text::join(task.steps, ", then ");
  run.steps = task.steps;
  run.untrusted = task.untrusted.value_or(false);
  run.markets = table;
  if (task.because) {
    const bool ru = language() == Language::russian;
    const std::string& because = *task.because;
    std::optional<std::string> problem;
    auto condition = becauseCondition(because, table ? table->names() : MarketNames{});
    std::optional<Decimal> mark;
    if (!condition) {
      problem = ru ? "это условие не читается как цена" : "it doesn’t read as a price condition";
    } else {
      try {
        auto marks = s_.readMarks({condition->coin});
        if (auto it = marks.find(condition->coin); it != marks.end() && it->second.isPositive()) mark = it->second;
        else problem = ru ? "нет цены " + condition->coin : "there is no price for " + condition->coin;
      } catch (const std::exception& e) {
        problem = e.what();
      }
    }
    if (problem) {
      // Not known to be met is not met: nothing runs, and the user hears why.
      const std::string said = ru ? "Не смог проверить «" + because + "» для «" + text::join(task.steps, ", потом ") +
                                        "»: " + *problem + " — ничего не запускал."
                                  : "I couldn’t check “" + because + "” for “" + text::join(task.steps, ", then ") +
                                        "”: " + *problem + " — nothing ran.";
      s_.loop.post([this, said] {
        if (workspace_) workspace_->reply(said);
      });
      if (s_.notify) s_.notify(run.title, said);
      return std::nullopt;
    }
    const bool met = *condition->above ? *mark >= condition->price : *mark <= condition->price;
    if (!met) return std::nullopt;
    run.notes = {ru ? "Условие «" + because + "» выполнено: сейчас " + priceText(*mark) + "."
                    : "“" + because + "” is met: now " + priceText(*mark) + "."};
    if (s_.notify) s_.notify(run.title, run.notes[0]);
    return run;  // what it suggests waits for Confirm
  }
  // Steps that aren't the user's own words never sign by themselves.
  if (!s_.signing || run.untrusted) return run;
  std::optional<AutomationSigning::Wallet> wallet = s_.signing->wallet();
  if (!wallet) return run;
  const bool solana = std::any_of(task.steps.begin(), task.steps.end(), paysSolanaFees);
  if (solana && wallet->solana) {
    std::optional<Decimal> sol = s_.signing->solBalance(*wallet);
    if (sol && *sol < automationMinSol()) {
      const bool ru = language() == Language::russian;
      run.notes = {ru ? "На кошельке автоматизации «" + wallet->label + "» " + sol->toString() +
                            " SOL — мало для комиссий Solana и счетов, которые открывает движение. Пришли на него "
                            "0.01 SOL, и следующий запуск пройдёт."
                      : "The automation wallet «" + wallet->label + "» holds " + sol->toString() +
                            " SOL — too little for Solana’s fees and the accounts a move opens. Send it 0.01 SOL and "
                            "the next run goes through."};
      // The top-up waits for Confirm from the main wallet.
      run.steps = {"Send 0.01 SOL to " + *wallet->solana};
      return run;
    }
  }
  AutomationSigning* signing = s_.signing;
  run.unattended = Workspace::AutomationRun::Unattended{
      wallet->label, [signing, w = *wallet](const std::vector<PendingAction>& steps) {
        return signing->execute(w, steps);
      }};
  return run;
}

std::string AppAutomations::cancelSchedules() {
  const bool ru = language() == Language::russian;
  std::size_t n = 0;
  try {
    n = tasks_.removeAll();
  } catch (const Error& e) {
    return e.what();
  }
  if (n == 0) return ru ? "Ничего не было запланировано." : "Nothing was scheduled.";
  return ru ? "Отменено запланированных задач: " + std::to_string(n)
            : "Scheduled tasks cancelled: " + std::to_string(n) + ".";
}

std::string AppAutomations::saveRecurringBuy(const WalletCommand& command) {
  const bool ru = language() == Language::russian;
  try {
    if (std::holds_alternative<wallet::stopSchedules>(command.value)) {
      const std::size_t n = buys_.all().empty() ? 0 : buys_.pauseAll();
      if (n == 0) return ru ? "Регулярных покупок не было." : "There were no recurring buys.";
      return ru ? "Регулярные покупки остановлены: " + std::to_string(n) + "."
                : "Recurring buys stopped: " + std::to_string(n) + ".";
    }
    const auto* c = std::get_if<wallet::schedule>(&command.value);
    if (!c) return ru ? "Это не регулярная покупка." : "That isn’t a recurring buy.";
    if (c->days < 1 || c->days > Every::kMaxDays || !c->usdc.isPositive()) {
      return ru ? "Такую регулярную покупку не завести — ничего не запланировано."
                : "That recurring buy can’t be set up — nothing was scheduled.";
    }
    Schedule s;
    s.symbol = c->asset.symbol;
    s.usdc = c->usdc;
    s.days = c->days;
    const Every every{Every::Unit::days, c->days};
    s.next = every.advance(s_.clock.nowMillis(), s_.calendar);
    buys_.add(s);
    if (s_.armed) s_.armed();
    const std::string next = Schedules::localText(s.next, s_.calendar);
    return ru ? "Регулярная покупка: " + s.buyLine() + " каждые " + std::to_string(c->days) + " дн., первая " + next +
                    ". Каждая покупка придёт карточкой на подтверждение."
              : "Recurring buy: " + s.buyLine() + " every " + every.text() + ", first on " + next +
                    ". Each buy comes to you as a card to confirm.";
  } catch (const Error& e) {
    return e.what();
  }
}

void AppAutomations::fire(const PriceAlerts::Fired& fired, const std::shared_ptr<const MarketTable>& markets) {
  s_.loop.post([this, fired, markets] {
    if (!workspace_) return;
    const PriceAlert& alert = fired.alert;
    const std::string text = firedText(alert, fired.mark, language());
    workspace_->reply(text);
    Activity a;
    a.id = makeUuid(s_.random);
    a.at = s_.clock.nowMillis();
    a.kind = Activity::Kind::automatic;
    a.title = firedTitle(alert);
    a.coin = alert.coin;
    a.lines = {text};
    workspace_->log(std::move(a));
    if (s_.notify) s_.notify(firedTitle(alert), text);

    Workspace::AutomationRun run;
    run.title = firedTitle(alert);
    run.untrusted = alert.untrusted.value_or(false);
    run.markets = markets;
    if (alert.steps) {
      run.steps = *alert.steps;
    } else if (alert.plan) {
      // The plan as it stands now, edits since the alert included.
      for (const auto& c : workspace_->canvases())
        if (c.id == *alert.plan && c.intent) run.steps = {c.intent->command()};
      run.canvas = alert.plan;
    }
    if (!run.steps.empty()) (void)workspace_->runAutomation(run);
  });
}

bool AppAutomations::tick() {
  if (!alerts_.empty()) {
    try {
      auto marks = s_.readMarks(alerts_.coins());
      std::lock_guard lock(marksMutex_);
      lastRead_ = MarkRead{std::move(marks), s_.clock.monotonicMillis()};
    } catch (const std::exception& e) {
      // The marks from before stay, and age out: nothing fires on them for long.
      log::warn("price alerts: the marks couldn't be read: {}", e.what());
    }
    MarkRead read;
    {
      std::lock_guard lock(marksMutex_);
      read = lastRead_;
    }
    auto fired = alerts_.check(read, s_.clock.monotonicMillis());
    std::shared_ptr<const MarketTable> table;
    for (const auto& f : fired)
      if (f.alert.steps || f.alert.plan) table = tableOrNull();
    for (const auto& f : fired) fire(f, table);
  }

  const std::int64_t now = s_.clock.nowMillis();
  auto dueTasks = tasks_.takeDue(now, s_.calendar);
  auto dueBuys = buys_.takeDue(now, s_.calendar);
  if (!dueTasks.empty() || !dueBuys.empty()) {
    auto table = tableOrNull();
    for (const auto& task : dueTasks) {
      auto run = taskRun(task, table);
      if (!run) continue;
      s_.loop.post([this, run = std::move(*run)] {
        if (workspace_) (void)workspace_->runAutomation(run);
      });
    }
    for (const auto& buy : dueBuys) {
      s_.loop.post([this, buy, table] {
        if (!workspace_) return;
        const bool ru = language() == Language::russian;
        Workspace::AutomationRun run;
        run.title = "Scheduled " + buy.symbol + " buy";
        run.steps = {buy.buyLine()};
        run.markets = table;
        auto outcome = workspace_->runAutomation(run);
        if (!s_.notify) return;
        if (outcome.ready) {
          s_.notify(buy.symbol + " buy waits for your Confirm", ru ? "Регулярная покупка готова на своём канвасе."
                                                                    : "The scheduled buy is ready on its canvas.");
        } else {
          s_.notify(ru ? "Регулярная покупка " + buy.symbol + " пропущена" : "Scheduled " + buy.symbol + " buy skipped",
                    outcome.stoppedAt.value_or(buy.buyLine()));
        }
      });
    }
  }
  return !alerts_.empty();
}

Json AppAutomations::board() {
  MarkRead read;
  {
    std::lock_guard lock(marksMutex_);
    read = lastRead_;
  }
  Json alerts = Json::array();
  for (const auto& a : alerts_.all()) {
    Json item{{"id", a.id}, {"coin", a.coin}, {"side", a.above ? "RISES" : "FALLS"}, {"price", priceText(a.price)},
              {"away", nullptr}};
    if (auto m = read.marks.find(a.coin); m != read.marks.end() && m->second.isPositive()) {
      item["away"] = Fmt::num((a.price - m->second).abs() / m->second * Decimal(100), 2);
    }
    if (a.steps) item["steps"] = *a.steps;
    alerts.push_back(std::move(item));
  }
  Json tasks = Json::array();
  for (const auto& t : tasks_.all()) {
    Json item{{"id", t.id}, {"steps", t.steps}, {"next", Schedules::localText(t.next, s_.calendar)},
              {"every", t.every ? Json(t.every->text()) : Json(nullptr)}};
    if (t.because) item["because"] = *t.because;
    if (t.paused.value_or(false)) item["paused"] = true;
    if (t.untrusted.value_or(false)) item["untrusted"] = true;
    tasks.push_back(std::move(item));
  }
  return Json{{"alerts", std::move(alerts)}, {"tasks", std::move(tasks)}};
}

// --- AutomationTicker ------------------------------------------------------------

AutomationTicker::AutomationTicker(std::function<bool()> round) : round_(std::move(round)) {
  thread_ = std::thread([this] {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      lock.unlock();
      bool busy = false;
      try {
        busy = round_();
      } catch (const std::exception& e) {
        log::warn("automations: {}", e.what());
      }
      lock.lock();
      // The next pause starts after the round ends: rounds never overlap.
      cv_.wait_for(lock, busy ? kBusyPause : kIdlePause, [this] { return stopping_ || woken_; });
      woken_ = false;
    }
  });
}

AutomationTicker::~AutomationTicker() { stop(); }

void AutomationTicker::wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  cv_.notify_all();
}

void AutomationTicker::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

}  // namespace orwenna
