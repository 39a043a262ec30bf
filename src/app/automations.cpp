#include "app/automations.h"

#include "base/files.h"
#include "base/log.h"
#include "base/text.h"
#include "language/command_reader.h"

namespace orwenna {

namespace {

bool automationStepReadable(const std::string& step, const MarketNames& names) {
  return CommandReader::read(step, names, std::nullopt).has_value();
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

std::string AppAutomations::saveSchedule(const CommandLines::Scheduled& schedule, const std::string& canvas) {
  (void)canvas;
  const bool ru = language() == Language::russian;
  const std::vector<std::string> steps = Schedules::steps(schedule.command);
  auto table = tableOrNull();
  const MarketNames names = table ? table->names() : MarketNames{};
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
  // Unattended signing isn't wired into the app: every run waits for Confirm.
  return ru ? "Запланировано: " + description + " (ближайший запуск " + next + "). Движения будут ждать твоего Confirm."
            : "Scheduled: " + description + " (next run " + next + "). Its moves will wait for your Confirm.";
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
      s_.loop.post([this, task, table] {
        if (!workspace_) return;
        Workspace::AutomationRun run;
        run.title = "⏰ " + text::join(task.steps, ", then ");
        run.steps = task.steps;
        run.untrusted = task.untrusted.value_or(false);
        run.markets = table;
        (void)workspace_->runAutomation(run);
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
