// `orwenna keep-running on|off|status`, `orwenna alerts [remove ID|all]
// [--json]` and `orwenna tasks [remove ID|all] [--json]`: the background app's
// systemd units, and the price alerts and scheduled tasks it keeps.
//
// The lists are read from their files; a removal made while the app runs is
// seen by the app only after its next start (it keeps its own copy).
#include <iostream>
#include <memory>

#include "app/alerts.h"
#include "app/schedules.h"
#include "base/clock.h"
#include "base/files.h"
#include "base/text.h"
#include "orwenna/command.h"
#include "platform/defaults.h"
#include "platform/keep_running.h"
#include "platform/process.h"
#include "trading/risk_calc.h"

namespace orwenna::cmd {
namespace {

struct ListOptions {
  bool json = false;
  std::string removeId;  // "all" removes every one
};

void keepRunning(const std::string& what) {
  const auto folder = KeepRunning::unitFolder();
  const auto systemctl = KeepRunning::systemSystemctl();
  if (what == "on") {
    KeepRunning::turnOn(folder, executableDirectory() / "orwenna", systemctl);
    std::cout << "Keep running is on: every 60 s orwenna starts in the background when it isn't running ("
              << (folder / KeepRunning::kTimer).string() << ").\n";
    if (!systemctl) std::cout << "systemctl wasn't found: the units are written but not enabled.\n";
  } else if (what == "off") {
    KeepRunning::turnOff(folder, systemctl);
    std::cout << "Keep running is off: orwenna runs only when you start it.\n";
  } else {
    const KeepRunning::Status s = KeepRunning::status(folder, systemctl);
    std::cout << "Keep running is " << (s.installed ? "on" : "off");
    if (s.timer) std::cout << " (timer " << *s.timer << ")";
    std::cout << ".\n";
  }
}

void alerts(const ListOptions& o) {
  AppPaths paths = AppPaths::fromEnvironment();
  paths.ensureExist();
  PriceAlerts store(paths.dataDir, SystemClock::shared(), SecureRandom::shared());
  if (store.loadNotice()) std::cerr << *store.loadNotice() << '\n';
  if (!o.removeId.empty()) {
    if (o.removeId == "all") {
      std::cout << store.clear(Language::english) << '\n';
    } else if (!store.remove(o.removeId)) {
      throw CommandFailure("No price alert has the id " + o.removeId + ".");
    } else {
      std::cout << "Alert " << o.removeId << " removed.\n";
    }
    return;
  }
  const auto list = store.all();
  if (o.json) {
    Json out = Json::array();
    for (const auto& a : list) out.push_back(a.toJson());
    std::cout << out.dump(2) << '\n';
    return;
  }
  if (list.empty()) std::cout << "No price alerts.\n";
  for (const auto& a : list) {
    std::cout << a.id << "  " << a.coin << (a.above ? " RISES to " : " FALLS to ") << priceText(a.price);
    if (a.steps) std::cout << " — then " << text::join(*a.steps, ", then ");
    if (a.plan) std::cout << " — brings its plan back";
    std::cout << '\n';
  }
}

void tasks(const ListOptions& o) {
  TaskStore store(Defaults::standard());
  RecurringBuys buys(Defaults::standard());
  if (!o.removeId.empty()) {
    if (o.removeId == "all") {
      std::cout << "Scheduled tasks removed: " << store.removeAll() << ".\n";
    } else if (store.remove(o.removeId)) {
      std::cout << "Task " << o.removeId << " removed.\n";
    } else if (buys.remove(o.removeId)) {
      std::cout << "Recurring buy of " << o.removeId << " removed.\n";
    } else {
      throw CommandFailure("No scheduled task has the id " + o.removeId + ".");
    }
    return;
  }
  const auto list = store.all();
  const auto recurring = buys.all();
  if (o.json) {
    Json t = Json::array();
    for (const auto& task : list) t.push_back(task.toJson());
    Json b = Json::array();
    for (const auto& s : recurring) b.push_back(s.toJson());
    std::cout << Json{{"tasks", t}, {"schedules", b}, {"schedulePaused", buys.paused()}}.dump(2) << '\n';
    return;
  }
  if (list.empty() && recurring.empty()) std::cout << "Nothing is scheduled.\n";
  const LocalCalendar& calendar = SystemCalendar::shared();
  for (const auto& task : list) {
    std::cout << task.id << "  " << text::join(task.steps, ", then ") << " — next "
              << Schedules::localText(task.next, calendar);
    if (task.every) std::cout << ", every " << task.every->text();
    if (task.paused.value_or(false)) std::cout << " (paused)";
    std::cout << '\n';
  }
  for (const auto& s : recurring) {
    std::cout << s.symbol << "  " << s.buyLine() << " every " << Every{Every::Unit::days, s.days}.text() << " — next "
              << Schedules::localText(s.next, calendar)
              << (buys.paused() || s.paused.value_or(false) ? " (paused)" : "") << '\n';
  }
}

void addList(CLI::App& app, const char* name, const char* what, void (*run)(const ListOptions&)) {
  auto o = std::make_shared<ListOptions>();
  CLI::App* sub = app.add_subcommand(name, what);
  sub->add_flag("--json", o->json, "print JSON");
  CLI::App* remove = sub->add_subcommand("remove", "remove one by its id, or all");
  remove->add_option("id", o->removeId, "the id, or all")->required();
  sub->callback([o, run] { run(*o); });
}

CommandRegistrar automationRegistrar([](CLI::App& app) {
  auto what = std::make_shared<std::string>("status");
  CLI::App* keep = app.add_subcommand(
      "keep-running", "start orwenna in the background every 60 s when it isn't running (systemd user timer)");
  keep->add_option("what", *what, "on, off or status")->check(CLI::IsMember({"on", "off", "status"}));
  keep->callback([what] { keepRunning(*what); });
  addList(app, "alerts", "the price alerts (remove ID|all to remove)", alerts);
  addList(app, "tasks", "the scheduled tasks and recurring buys (remove ID|all to remove)", tasks);
});

}  // namespace
}  // namespace orwenna::cmd
