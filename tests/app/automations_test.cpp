// Price alerts, scheduled tasks and recurring buys: the stores and their
// files, the time phrases on a pinned calendar (US Eastern rules, so a
// daylight-saving change falls inside the tests), and the background round
// against a real Workspace on its app thread.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <thread>

#include "app/alerts.h"
#include "app/app_loop.h"
#include "app/automations.h"
#include "app/schedules.h"
#include "app/workspace.h"
#include "base/files.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

// 2027-03-13 12:00 in New York (EST); the clocks go forward the next night.
constexpr std::int64_t kBeforeSpringForward = 1'804'957'200'000;

// Pins the process's time zone for one test.
class EasternTime {
 public:
  EasternTime() {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    ::setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    ::tzset();
  }
  ~EasternTime() {
    if (saved_) ::setenv("TZ", saved_->c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::optional<std::string> saved_;
};

Timing timingOf(std::string_view when, std::int64_t now) {
  auto t = Schedules::timing(when, now, SystemCalendar::shared());
  if (auto* refusal = std::get_if<std::string>(&t)) ADD_FAILURE() << when << ": " << *refusal;
  return std::get_if<Timing>(&t) ? std::get<Timing>(t) : Timing{};
}

std::string refusalOf(std::string_view when, std::int64_t now) {
  auto t = Schedules::timing(when, now, SystemCalendar::shared());
  return std::holds_alternative<std::string>(t) ? std::get<std::string>(t) : "<accepted>";
}

std::string local(std::int64_t millis) { return Schedules::localText(millis, SystemCalendar::shared()); }

AlertCommand::set alertAt(const std::string& coin, const char* price, std::optional<bool> above = std::nullopt,
                          std::vector<std::string> steps = {}) {
  return AlertCommand::set{coin, Decimal::parse(price), above, std::move(steps)};
}

PriceAlerts::SetRequest request(AlertCommand::set command, std::optional<Decimal> mark,
                                std::optional<std::string> unpreparable = std::nullopt,
                                std::optional<std::string> plan = std::nullopt) {
  PriceAlerts::SetRequest r;
  r.command = std::move(command);
  r.mark = std::move(mark);
  r.unpreparable = std::move(unpreparable);
  r.plan = std::move(plan);
  return r;
}

// --- Alerts ------------------------------------------------------------------------

TEST(PriceAlerts, SettingRefusesWhatCantWorkAndKeepsTheRestInItsFile) {
  testing::TempDir dir;
  testing::FixedClock clock;
  PriceAlerts alerts(dir.path(), clock, SecureRandom::shared());

  EXPECT_EQ(alerts.set(request(alertAt("BTC", "90000"), std::nullopt), Language::english),
            "No price for BTC right now — try again in a moment.");
  EXPECT_EQ(alerts.set(request(alertAt("BTC", "90000", true), Decimal(91000)), Language::english),
            "BTC is already above 90,000: now 91,000.");
  EXPECT_EQ(alerts.set(request(alertAt("BTC", "95000", std::nullopt, {"fly to the moon"}), Decimal(91000), "fly to the moon"),
                       Language::english),
            "I can set the alert, but orwenna can’t do “fly to the moon” yet — nothing was set.");
  EXPECT_TRUE(alerts.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "alerts.json"));

  // No side given: the level against the price decides it.
  std::string answer =
      alerts.set(request(alertAt("BTC", "85000", std::nullopt, {"buy SOL for 10 USDC"}), Decimal(91000)), Language::english);
  EXPECT_NE(answer.find(" Then I’ll prepare “buy SOL for 10 USDC” and send it to you to confirm."), std::string::npos)
      << answer;
  // On a canvas with a plan: the distance to the level.
  EXPECT_EQ(alerts.set(request(alertAt("ETH", "2200"), Decimal(2000), std::nullopt, std::string("canvas-1")), Language::english),
            "🔔 Added to the plan as its first step: when ETH is above 2,200 (now 10% away), this plan comes back to "
            "you to confirm, with any changes you make to it until then.");

  PriceAlerts reloaded(dir.path(), clock, SecureRandom::shared());
  ASSERT_EQ(reloaded.all(), alerts.all());
  EXPECT_FALSE(reloaded.all()[0].above);
  EXPECT_EQ(reloaded.all()[1].plan, std::optional<std::string>("canvas-1"));

  EXPECT_EQ(alerts.clear(Language::english), "Price alerts cleared (2).");
  EXPECT_EQ(alerts.clear(Language::english), "There were no price alerts.");
  EXPECT_TRUE(PriceAlerts(dir.path(), clock, SecureRandom::shared()).empty());
}

TEST(PriceAlerts, FireOnceAtTheLevelAndNeverOnStaleMarks) {
  testing::TempDir dir;
  testing::FixedClock clock;
  PriceAlerts alerts(dir.path(), clock, SecureRandom::shared());
  (void)alerts.set(request(alertAt("BTC", "90000", true), Decimal(89000)), Language::english);
  (void)alerts.set(request(alertAt("BTC", "90000", false), Decimal(91000)), Language::english);
  (void)alerts.set(request(alertAt("ETH", "2000", false), Decimal(2100)), Language::english);

  MarkRead marks{{{"BTC", Decimal(90000)}, {"ETH", Decimal(1990)}}, clock.monotonicMillis()};
  // Read half a minute ago: too old to act on.
  clock.sleepFor(30'000);
  EXPECT_TRUE(alerts.check(marks, clock.monotonicMillis()).empty());
  EXPECT_EQ(alerts.all().size(), 3u);

  marks.readAt = clock.monotonicMillis();
  marks.marks.erase("ETH");  // a coin without a mark waits
  auto fired = alerts.check(marks, clock.monotonicMillis());
  ASSERT_EQ(fired.size(), 2u);  // equality fires both sides
  EXPECT_TRUE(fired[0].alert.above);
  EXPECT_FALSE(fired[1].alert.above);
  EXPECT_EQ(firedText(fired[0].alert, fired[0].mark, Language::english),
            "BTC is above 90,000: now 90,000. The alert is done; set another any time.");
  EXPECT_EQ(firedText(fired[1].alert, fired[1].mark, Language::russian),
            "BTC ниже 90,000: сейчас 90,000. Алерт сработал; поставь новый, когда захочешь.");
  EXPECT_TRUE(alerts.check(marks, clock.monotonicMillis()).empty());
  EXPECT_EQ(PriceAlerts(dir.path(), clock, SecureRandom::shared()).coins(), std::vector<std::string>{"ETH"});
}

TEST(PriceAlerts, ACorruptFileIsSetAsideNotOverwritten) {
  testing::TempDir dir;
  testing::FixedClock clock;
  writeFileAtomically(dir.path() / "alerts.json", "[{\"id\": \"x\", \"coin\": ");
  PriceAlerts alerts(dir.path(), clock, SecureRandom::shared());
  ASSERT_TRUE(alerts.loadNotice().has_value());
  EXPECT_TRUE(alerts.empty());
  bool setAside = false;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    if (e.path().filename().string().starts_with("alerts.json.corrupt-")) {
      setAside = true;
      EXPECT_EQ(readFile(e.path()), std::optional<std::string>("[{\"id\": \"x\", \"coin\": "));
    }
  EXPECT_TRUE(setAside);
}

// --- Time phrases ----------------------------------------------------------------------

TEST(ScheduleTiming, DaysKeepTheClockTimeAcrossDaylightSavingAndHoursDoNot) {
  EasternTime tz;
  Timing daily = timingOf("every day at 13:00", kBeforeSpringForward);
  EXPECT_EQ(daily.every, (Every{Every::Unit::days, 1}));
  EXPECT_EQ(local(daily.next), "2027-03-13 13:00");
  const std::int64_t second = daily.every->advance(daily.next, SystemCalendar::shared());
  EXPECT_EQ(local(second), "2027-03-14 13:00");
  EXPECT_EQ(second - daily.next, 23 * 3'600'000);  // the short night
  EXPECT_EQ(local(daily.every->advance(second, SystemCalendar::shared())), "2027-03-15 13:00");

  // Hours are exact: the clock time moves on with the change.
  Timing hourly = timingOf("every 12 hours", kBeforeSpringForward);
  EXPECT_EQ(hourly.next - kBeforeSpringForward, 12 * 3'600'000);
  EXPECT_EQ(local(hourly.next), "2027-03-14 00:00");
  EXPECT_EQ(local(hourly.every->advance(hourly.next, SystemCalendar::shared())), "2027-03-14 13:00");

  // Saturday noon: next Monday, then weekly.
  Timing monday = timingOf("every Monday at 8:30", kBeforeSpringForward);
  EXPECT_EQ(local(monday.next), "2027-03-15 08:30");
  EXPECT_EQ(monday.every, (Every{Every::Unit::days, 7}));
  EXPECT_EQ(local(timingOf("every saturday at 11:00", kBeforeSpringForward).next), "2027-03-20 11:00");

  EXPECT_EQ(local(timingOf("tomorrow at 7:05", kBeforeSpringForward).next), "2027-03-14 07:05");
  EXPECT_EQ(local(timingOf("at 13:00", kBeforeSpringForward).next), "2027-03-13 13:00");
  EXPECT_EQ(local(timingOf("at 11:00", kBeforeSpringForward).next), "2027-03-14 11:00");
  EXPECT_EQ(local(timingOf("on 2027-04-01 at 10:00", kBeforeSpringForward).next), "2027-04-01 10:00");
  EXPECT_EQ(timingOf("in 3 days", kBeforeSpringForward).every, std::nullopt);
  EXPECT_EQ(timingOf("every 2 weeks", kBeforeSpringForward).every, (Every{Every::Unit::days, 14}));
}

TEST(ScheduleTiming, MonthEndsClampAndKeepTheirDay) {
  EasternTime tz;
  const std::int64_t jan31 = 1'801'404'000'000;  // 2027-01-31 09:00
  Timing monthly = timingOf("every month on the 31st at 9:00", jan31 - 60'000);
  EXPECT_EQ(local(monthly.next), "2027-01-31 09:00");
  std::int64_t t = monthly.next;
  std::vector<std::string> runs;
  for (int i = 0; i < 4; ++i) {
    t = monthly.every->advance(t, SystemCalendar::shared(), monthly.day);
    runs.push_back(local(t));
  }
  EXPECT_EQ(runs, (std::vector<std::string>{"2027-02-28 09:00", "2027-03-31 09:00", "2027-04-30 09:00",
                                            "2027-05-31 09:00"}));
  // Past the 31st this month: the next month, clamped.
  EXPECT_EQ(local(timingOf("every month on day 30", jan31).next), "2027-02-28 09:00");
}

TEST(ScheduleTiming, RefusesWhatWouldLoopOrMisread) {
  EasternTime tz;
  for (const char* when : {"every 0 hours", "every 0 days", "in 0 hours", "every 5 minutes", "every weekday",
                           "every weekday at 9:00", "at 25:99", "every day at 24:00", "on 2027-02-30",
                           "on 2026-01-01", "every 9999999 hours", "every 200 months", "whenever"}) {
    EXPECT_NE(refusalOf(when, kBeforeSpringForward), "<accepted>") << when;
  }
  EXPECT_EQ(refusalOf("every weekday", kBeforeSpringForward),
            "I can’t repeat a task on weekdays only yet — name a day (“every monday at 9:00”) or say “every day”. "
            "Nothing was scheduled.");
}

TEST(ScheduleTiming, EveryInWords) {
  auto words = [](Every::Unit u, int n) { return Every{u, n}.text(); };
  EXPECT_EQ(words(Every::Unit::hours, 1), "hour");
  EXPECT_EQ(words(Every::Unit::hours, 6), "6 hours");
  EXPECT_EQ(words(Every::Unit::days, 1), "day");
  EXPECT_EQ(words(Every::Unit::days, 7), "week");
  EXPECT_EQ(words(Every::Unit::days, 14), "2 weeks");
  EXPECT_EQ(words(Every::Unit::days, 10), "10 days");
  EXPECT_EQ(words(Every::Unit::months, 1), "month");
  EXPECT_EQ(words(Every::Unit::months, 3), "3 months");
  EXPECT_EQ(Every({Every::Unit::days, 14}).toJson().dump(), R"({"days":{"_0":14}})");
  EXPECT_EQ(Every::fromJson(Json::parse(R"({"months":{"_0":2}})")), (Every{Every::Unit::months, 2}));
  EXPECT_THROW((void)Every::fromJson(Json::parse(R"({"hours":{"_0":0}})")), JsonShapeError);
  EXPECT_EQ(Schedules::steps("buy SOL for 10 USDC then send 1 SOL to bob; lend 5 USDC"),
            (std::vector<std::string>{"buy SOL for 10 USDC", "send 1 SOL to bob", "lend 5 USDC"}));
}

// --- Stores -----------------------------------------------------------------------------

TEST(TaskStore, AfterDowntimeADueTaskRunsOnceAndIsSavedBeforeItRuns) {
  EasternTime tz;
  testing::TempDir dir;
  Defaults defaults(dir.path() / "defaults.json");
  TaskStore store(defaults);
  ScheduledTask hourly{"T1", {"buy SOL for 10 USDC"}, kBeforeSpringForward - 10 * 3'600'000 - 60'000,
                       Every{Every::Unit::hours, 1}, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
  ScheduledTask once{"T2", {"lend 5 USDC"}, kBeforeSpringForward - 1000, std::nullopt, std::nullopt, std::nullopt,
                     std::nullopt, std::nullopt};
  ScheduledTask paused = once;
  paused.id = "T3";
  paused.paused = true;
  store.add(hourly);
  store.add(once);
  store.add(paused);
  EXPECT_TRUE(store.contains(hourly));

  auto due = store.takeDue(kBeforeSpringForward, SystemCalendar::shared());
  ASSERT_EQ(due.size(), 2u);
  EXPECT_EQ(due[0].id, "T1");
  EXPECT_EQ(due[1].id, "T2");
  // What is stored already points past now: a crash during the run can't repeat it.
  TaskStore reread(defaults);
  auto stored = reread.all();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].next, kBeforeSpringForward + 3'600'000 - 60'000);
  EXPECT_EQ(stored[1], paused);
  EXPECT_TRUE(store.takeDue(kBeforeSpringForward + 60'000, SystemCalendar::shared()).empty());
  // Kept as a JSON string of the list.
  auto raw = defaults.value("tasks");
  ASSERT_TRUE(raw && raw->is_string());
  EXPECT_EQ(Json::parse(raw->get<std::string>())[0]["every"], Json::parse(R"({"hours":{"_0":1}})"));

  // A value that can't be read is set aside, not lost under the next save.
  defaults.setValue("tasks", Json("not json"), "tasks");
  TaskStore broken(defaults);
  EXPECT_TRUE(broken.empty());
  EXPECT_EQ(defaults.value("tasksSetAside"), std::optional<Json>(Json("not json")));
}

TEST(RecurringBuys, AdvanceByDaysOnceAndHoldWhilePaused) {
  EasternTime tz;
  testing::TempDir dir;
  Defaults defaults(dir.path() / "defaults.json");
  RecurringBuys buys(defaults);
  buys.add(Schedule{"SOL", Decimal(10), 7, kBeforeSpringForward - 20LL * 86'400'000, std::nullopt});
  auto due = buys.takeDue(kBeforeSpringForward, SystemCalendar::shared());
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].buyLine(), "buy SOL for 10 USDC");
  EXPECT_EQ(local(buys.all()[0].next), "2027-03-14 12:00");  // 21 days on, the same clock time after the change
  EXPECT_EQ(buys.pauseAll(), 1u);
  EXPECT_TRUE(RecurringBuys(defaults).paused());
  EXPECT_TRUE(buys.takeDue(kBeforeSpringForward + 30LL * 86'400'000, SystemCalendar::shared()).empty());
}

// --- The background round against a Workspace ------------------------------------------------

class RecordingExecutor final : public MoneyExecutor {
 public:
  ExecutionResult execute(const std::vector<PendingAction>&) override {
    ++runs;
    return {ExecutionResult::Outcome::done, "done", {}, {}};
  }
  std::atomic<int> runs{0};
};

struct Room {
  Room() : calendar(SystemCalendar::shared()) {
    table = std::make_shared<MarketTable>();
    Market btc;
    btc.name = "BTC";
    btc.markPx = Decimal(91000);
    btc.szDecimals = 5;
    btc.maxLeverage = 40;
    table->merge({{"BTC", btc}});
    AppAutomations::Setup setup(clock, SecureRandom::shared(), loop, calendar);
    setup.dataDir = dir.path() / "data";
    ensureDirectory(setup.dataDir);
    setup.defaults = Defaults(dir.path() / "defaults.json");
    setup.readMarks = [this](const std::vector<std::string>& coins) {
      if (failing) throw Error("Hyperliquid didn't answer");
      std::map<std::string, Decimal, std::less<>> out;
      for (const auto& c : coins) out[c] = mark;
      return out;
    };
    setup.markets = [this] { return std::shared_ptr<const MarketTable>(table); };
    setup.notify = [this](const std::string& title, const std::string& text) { notices.push_back({title, text}); };
    automations = std::make_unique<AppAutomations>(std::move(setup));
    Workspace::Services s(clock, SecureRandom::shared(), loop, dir.path() / "data");
    s.lookup = [](const std::string&, const std::string&) { return std::string(); };
    s.ask = [this](const std::vector<LLMMessage>&, bool, const PartialText&) { return modelAnswer; };
    s.markets = [this] { return std::shared_ptr<const MarketTable>(table); };
    s.executor = &executor;
    s.automations = automations.get();
    loop.sync([&] {
      ws = std::make_unique<Workspace>(std::move(s));
      automations->attach(ws.get());
    });
  }
  ~Room() {
    loop.sync([&] {
      automations->attach(nullptr);
      ws.reset();
    });
  }
  template <class F>
  auto on(F f) {
    decltype(f()) out;
    loop.sync([&] { out = f(); });
    return out;
  }
  void tick() {
    (void)automations->tick();
    loop.sync([] {});
  }
  std::vector<std::string> replies() {
    return on([&] {
      std::vector<std::string> out;
      for (const auto& m : ws->messages())
        if (!m.fromUser) out.push_back(m.text);
      return out;
    });
  }

  testing::TempDir dir;
  testing::FixedClock clock{kBeforeSpringForward};
  const LocalCalendar& calendar;
  std::shared_ptr<MarketTable> table;
  Decimal mark{91000};
  bool failing = false;
  std::string modelAnswer = R"({"route":"chat","reply":"Nothing to add."})";
  std::vector<std::pair<std::string, std::string>> notices;  // written on the tick's or app thread, read after sync
  RecordingExecutor executor;
  AppLoop loop;
  std::unique_ptr<AppAutomations> automations;
  std::unique_ptr<Workspace> ws;
};

TEST(AutomationRound, AnAlertFiresOnceWithItsLineActivityAndNoticeNotOnAFailedRead) {
  EasternTime tz;
  Room room;
  const std::string answer =
      room.on([&] { return room.automations->saveAlert(AlertCommand{alertAt("BTC", "90000")}, room.ws->canvas().id); });
  EXPECT_EQ(answer.rfind("🔔 Alert set: BTC below 90,000", 0), 0u) << answer;
  ASSERT_FALSE(room.automations->alerts().empty());

  // The market read fails while the price is through the level: nothing fires.
  room.mark = Decimal(89000);
  room.failing = true;
  room.tick();
  EXPECT_FALSE(room.automations->alerts().empty());
  EXPECT_TRUE(room.notices.empty());

  room.failing = false;
  room.tick();
  room.tick();
  const std::string line = "BTC is below 90,000: now 89,000. The alert is done; set another any time.";
  auto replies = room.replies();
  EXPECT_EQ(std::count(replies.begin(), replies.end(), line), 1);
  ASSERT_EQ(room.notices.size(), 1u);
  EXPECT_EQ(room.notices[0], (std::pair<std::string, std::string>{"🔔 BTC", line}));
  EXPECT_EQ(room.on([&] { return room.ws->activities().back().title; }), std::optional<std::string>("🔔 BTC"));
  EXPECT_EQ(Json::parse(*readFile(room.dir.path() / "data" / "alerts.json")), Json::array());
  EXPECT_EQ(room.executor.runs.load(), 0);
}

TEST(AutomationRound, PlansComeBackParkedOnTheirOwnCanvasNeverOverTheCardOnScreen) {
  EasternTime tz;
  Room room;
  // A card waits on screen.
  const std::string screen = room.on([&] { return room.ws->canvas().id; });
  const auto onScreen = room.on([&] {
    return room.ws->runAutomation({"by hand", {"buy JUP for 3 USDC"}, false, screen, nullptr, {}, {}});
  });
  EXPECT_TRUE(onScreen.ready);
  const auto screenCard = room.on([&] { return room.ws->card(); });
  ASSERT_TRUE(screenCard.has_value());
  EXPECT_EQ(screenCard->command, "buy JUP for 3 USDC");

  (void)room.on([&] {
    return room.automations->saveAlert(AlertCommand{alertAt("BTC", "92000", true, {"buy SOL for 10 USDC"})}, screen);
  });
  EXPECT_EQ(room.on([&] {
              return room.automations->saveSchedule({"every day at 9:00", "buy ETH for 5 USDC then teleport home"},
                                                    screen);
            }),
            "I can schedule that, but orwenna can’t do “teleport home” yet — nothing was scheduled.");
  EXPECT_EQ(room.on([&] { return room.automations->saveSchedule({"every day at 9:00", "buy ETH for 5 USDC"}, screen); }),
            "Scheduled: buy ETH for 5 USDC, every day at 9:00 (next run 2027-03-14 09:00). Its moves will wait for your "
            "Confirm; to run them by themselves, say «create an automation wallet».");
  EXPECT_EQ(room.on([&] { return room.automations->saveSchedule({"every day at 9:00", "buy ETH for 5 USDC"}, screen); }),
            "That’s already scheduled: buy ETH for 5 USDC, every day at 9:00. It’s on the canvas.");

  room.mark = Decimal(92500);
  room.tick();
  auto parked = room.on([&] { return room.ws->parkedPending(); });
  ASSERT_EQ(parked.size(), 1u);
  const auto& [alertCanvas, alertCard] = *parked.begin();
  EXPECT_NE(alertCanvas, screen);
  EXPECT_EQ(alertCard.command, "buy SOL for 10 USDC");
  EXPECT_EQ(room.on([&] { return room.ws->card()->id; }), screenCard->id);
  EXPECT_EQ(room.on([&] { return room.ws->canvas().id; }), screen);

  // A day of downtime later the daily task runs once, on a canvas of its own.
  room.clock.sleepFor(3LL * 86'400'000);
  room.tick();
  room.tick();
  parked = room.on([&] { return room.ws->parkedPending(); });
  ASSERT_EQ(parked.size(), 2u);
  int ethCards = 0;
  for (const auto& [canvas, card] : parked) ethCards += card.command == "buy ETH for 5 USDC" ? 1 : 0;
  EXPECT_EQ(ethCards, 1);
  const auto tasks = room.automations->tasks().all();
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_EQ(local(tasks[0].next), "2027-03-17 09:00");
  EXPECT_EQ(room.executor.runs.load(), 0);

  EXPECT_EQ(room.on([&] { return room.automations->cancelSchedules(); }), "Scheduled tasks cancelled: 1.");
  EXPECT_EQ(room.on([&] { return room.automations->cancelSchedules(); }), "Nothing was scheduled.");
}

TEST(AutomationRound, AScheduleFromAnOptionTheModelWroteNeverRunsUnattended) {
  EasternTime tz;
  Room room;
  const std::string option = "every day at 9:00: buy ETH for 5 USDC";
  room.modelAnswer = R"({"route":"chat","reply":"A daily buy would average in.","options":[{"title":"Daily",)"
                     R"("comment":"5 USDC a day","command":")" + option + R"(","recommended":true}]})";
  room.loop.sync([&] { room.ws->send("how should I buy ETH?", MessageSource::composer); });
  for (int i = 0; i < 400 && !room.on([&] { return room.ws->nextSteps().has_value(); }); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  room.loop.sync([&] { room.ws->send(option, MessageSource::quickButton); });
  room.loop.sync([] {});
  const auto tasks = room.automations->tasks().all();
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_TRUE(tasks.front().untrusted.value_or(false));
  const auto replies = room.replies();
  EXPECT_NE(replies.back().find("These steps aren’t your own words, so its moves will wait for your Confirm."),
            std::string::npos) << replies.back();
}

TEST(AutomationRound, ATaskWithAConditionRunsOnlyWhenAFreshMarkMeetsIt) {
  EasternTime tz;
  Room room;
  const std::string screen = room.on([&] { return room.ws->canvas().id; });
  auto schedule = [&](const char* command) {
    return room.on([&] { return room.automations->saveSchedule({"every day at 9:00", command}, screen); });
  };
  EXPECT_EQ(schedule("buy ETH for 5 USDC because the moon is full"),
            "I can’t check “the moon is full” myself — nothing was scheduled.");
  EXPECT_EQ(schedule("buy ETH for 5 USDC if BTC is at 90000"),
            "I can’t check “BTC is at 90000” myself — nothing was scheduled.");
  const std::string answer = schedule("buy ETH for 5 USDC because BTC is below 90,000");
  EXPECT_TRUE(answer.starts_with("Scheduled: buy ETH for 5 USDC, every day at 9:00")) << answer;
  EXPECT_TRUE(answer.ends_with(" I'll look myself each time and write only when it's met; what I suggest waits for "
                               "your Confirm."))
      << answer;
  ASSERT_EQ(room.automations->tasks().all().size(), 1u);
  EXPECT_EQ(room.automations->tasks().all()[0].because, std::optional<std::string>("BTC is below 90,000"));
  const std::size_t said = room.replies().size();

  // Not met: nothing is written and nothing is prepared.
  room.clock.sleepFor(86'400'000);
  room.tick();
  EXPECT_EQ(room.replies().size(), said);
  EXPECT_TRUE(room.on([&] { return room.ws->parkedPending(); }).empty());
  // The mark can't be read: said, and nothing runs on a guess.
  room.failing = true;
  room.clock.sleepFor(86'400'000);
  room.tick();
  auto replies = room.replies();
  ASSERT_EQ(replies.size(), said + 1);
  EXPECT_EQ(replies.back(),
            "I couldn’t check “BTC is below 90,000” for “buy ETH for 5 USDC”: Hyperliquid didn't answer — nothing ran.");
  EXPECT_TRUE(room.on([&] { return room.ws->parkedPending(); }).empty());
  // Met: the note and the card, waiting for Confirm.
  room.failing = false;
  room.mark = Decimal(89000);
  room.clock.sleepFor(86'400'000);
  room.tick();
  auto parked = room.on([&] { return room.ws->parkedPending(); });
  ASSERT_EQ(parked.size(), 1u);
  const auto ownCanvas = room.on([&] {
    std::vector<std::string> out;
    for (const auto& c : room.ws->canvases())
      if (c.id == parked.begin()->first)
        for (const auto& m : c.messages) out.push_back(m.text);
    return out;
  });
  EXPECT_NE(std::find(ownCanvas.begin(), ownCanvas.end(), "“BTC is below 90,000” is met: now 89,000."), ownCanvas.end());
  EXPECT_EQ(parked.begin()->second.command, "buy ETH for 5 USDC");
  EXPECT_EQ(parked.begin()->second.status, Workspace::Card::Status::waiting);
  EXPECT_EQ(room.executor.runs.load(), 0);
}

TEST(AutomationRound, AnAlertOnAPlanBringsThePlanBackAsItNowStandsWithoutTakingTheScreen) {
  EasternTime tz;
  Room room;
  const std::string screen = room.on([&] { return room.ws->canvas().id; });
  (void)room.on([&] { return room.ws->runAutomation({"plan", {"long BTC risk $20 stop 2%"}, false, screen, nullptr, {}, {}}); });
  ASSERT_TRUE(room.on([&] { return room.ws->canvas().intent.has_value(); }));
  EXPECT_EQ(room.on([&] { return room.automations->saveAlert(AlertCommand{alertAt("BTC", "92000")}, screen); })
                .rfind("🔔 Added to the plan as its first step: when BTC is above 92,000", 0),
            0u);
  // The plan changes after the alert was set, and a card waits on screen.
  (void)room.on([&] { return room.ws->runAutomation({"edit", {"stop 3%"}, false, screen, nullptr, {}, {}}); });
  const std::string planNow = room.on([&] { return room.ws->canvas().intent->command(); });
  (void)room.on([&] { return room.ws->runAutomation({"other", {"buy JUP for 3 USDC"}, false, screen, nullptr, {}, {}}); });
  const auto screenCard = room.on([&] { return room.ws->card(); });
  ASSERT_TRUE(screenCard.has_value());

  room.mark = Decimal(92000);
  room.tick();
  EXPECT_EQ(room.on([&] { return room.ws->card()->id; }), screenCard->id);
  auto parked = room.on([&] { return room.ws->parkedPending(); });
  ASSERT_EQ(parked.count(screen), 1u);
  // The card carries the plan with the edit (the rules may add their leverage).
  EXPECT_EQ(parked.at(screen).command.rfind(planNow, 0), 0u) << parked.at(screen).command;
  EXPECT_NE(planNow.find("stop 3%"), std::string::npos) << planNow;
}

// A writer killed with SIGKILL while it adds alerts leaves alerts.json whole:
// the next start reads it without setting it aside, with every alert whose
// set returned before the kill.
TEST(PriceAlerts, AKillWhileSavingLeavesTheFileWhole) {
  testing::TempDir dir;
  testing::FixedClock clock;
  std::size_t acknowledged = 0;
  for (int trial = 0; trial < 6; ++trial) {
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(report[0]);
      PriceAlerts alerts(dir.path(), clock, SecureRandom::shared());
      for (int i = 0;; ++i) {
        const std::string price = std::to_string(50000 + trial * 1000 + i);
        (void)alerts.set(request(alertAt("BTC", price.c_str(), false), Decimal(90000)), Language::english);
        const std::uint64_t n = alerts.all().size();
        if (::write(report[1], &n, sizeof n) != static_cast<ssize_t>(sizeof n)) _exit(3);
      }
    }
    ::close(report[1]);
    std::uint64_t n = 0;
    for (int r = 0; r < 1 + trial * 3; ++r) {
      ASSERT_EQ(::read(report[0], &n, sizeof n), static_cast<ssize_t>(sizeof n));
      acknowledged = n;
    }
    ::kill(child, SIGKILL);
    while (::read(report[0], &n, sizeof n) == static_cast<ssize_t>(sizeof n)) acknowledged = n;
    ::close(report[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    PriceAlerts reloaded(dir.path(), clock, SecureRandom::shared());
    EXPECT_FALSE(reloaded.loadNotice().has_value()) << *reloaded.loadNotice();
    EXPECT_GE(reloaded.all().size(), acknowledged) << "trial " << trial;
    EXPECT_LE(reloaded.all().size(), acknowledged + 1) << "trial " << trial;
  }
}

// Two processes (the app and `orwenna chat`, or the command line) on one
// data folder: each sees the other's changes before it acts, and an alert
// fires in one of them only, however they race.
TEST(PriceAlerts, OneFileForEveryProcessAndEachAlertFiresOnce) {
  testing::TempDir dir;
  testing::FixedClock clock;
  PriceAlerts app(dir.path(), clock, SecureRandom::shared());
  PriceAlerts cli(dir.path(), clock, SecureRandom::shared());
  (void)app.set(request(alertAt("BTC", "80000", false), Decimal(90000)), Language::english);
  (void)app.set(request(alertAt("ETH", "1000", false), Decimal(2000)), Language::english);
  ASSERT_EQ(cli.all().size(), 2u);
  ASSERT_TRUE(cli.remove(cli.all()[1].id));
  ASSERT_EQ(app.all().size(), 1u);  // the removal reached the running one
  EXPECT_EQ(app.coins(), std::vector<std::string>{"BTC"});

  constexpr int kAlerts = 5;
  constexpr int kProcesses = 4;
  for (int i = 1; i < kAlerts; ++i) {
    (void)cli.set(request(alertAt("BTC", std::to_string(80000 - i).c_str(), false), Decimal(90000)), Language::english);
  }
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(gate[1]);
      PriceAlerts mine(dir.path(), clock, SecureRandom::shared());
      char go = 0;
      if (::read(gate[0], &go, 1) != 1) _exit(100);
      const MarkRead marks{{{"BTC", Decimal(70000)}}, clock.monotonicMillis()};
      _exit(static_cast<int>(mine.check(marks, clock.monotonicMillis()).size()));
    }
    children.push_back(child);
  }
  ::close(gate[0]);
  ASSERT_EQ(::write(gate[1], "gggg", kProcesses), kProcesses);
  ::close(gate[1]);
  int fired = 0;
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    fired += WEXITSTATUS(status);
  }
  EXPECT_EQ(fired, kAlerts);
  EXPECT_TRUE(app.empty());
  EXPECT_TRUE(app.check(MarkRead{{{"BTC", Decimal(70000)}}, clock.monotonicMillis()}, clock.monotonicMillis()).empty());
}

TEST(TaskStore, ADueTaskRunsInOneProcessOnlyAndRemovalsReachTheOther) {
  testing::TempDir dir;
  TaskStore app(Defaults(dir.path() / "defaults.json"));
  TaskStore cli(Defaults(dir.path() / "defaults.json"));
  ScheduledTask daily{"t1", {"buy SOL for 10 USDC"}, 1'000, Every{Every::Unit::days, 1}, {}, {}, {}, {}};
  ScheduledTask once{"t2", {"buy JUP for 5 USDC"}, 1'000, std::nullopt, {}, {}, {}, {}};
  app.add(daily);
  cli.add(once);
  EXPECT_EQ(app.all().size(), 2u);
  EXPECT_EQ(cli.takeDue(2'000, SystemCalendar::shared()).size(), 2u);
  EXPECT_TRUE(app.takeDue(2'000, SystemCalendar::shared()).empty());
  ASSERT_TRUE(cli.remove("t1"));
  EXPECT_TRUE(app.empty());
}

}  // namespace
}  // namespace orwenna
