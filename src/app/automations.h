// The app's automations behind the conversation's Automations port: price
// alerts, scheduled tasks and recurring buys, and the background round that
// fires and runs them.
//
// The port's methods and attach() are called on the app thread. tick() runs
// on the background task (the guardian's loop, or AutomationTicker when the
// guardian can't run): it reads the marks off the app thread, takes what is
// due from the stores (which are thread-safe) and posts the chat lines,
// activity entries and prepared plans to the app thread. A due task of the
// user's own words signs its wallet moves from the automation wallet, when
// there is one, without Confirm; every other move a run prepares (an alert's
// plan, a recurring buy, an untrusted task) waits on its card for Confirm.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/alerts.h"
#include "app/app_loop.h"
#include "app/conversation_ports.h"
#include "app/schedules.h"
#include "app/workspace.h"
#include "base/clock.h"
#include "platform/defaults.h"
#include "trading/market.h"

namespace orwenna {

class AppAutomations final : public Automations {
 public:
  struct Setup {
    Setup(Clock& clock, Random& random, TaskPoster& loop, const LocalCalendar& calendar)
        : clock(clock), random(random), loop(loop), calendar(calendar) {}
    Clock& clock;
    Random& random;
    TaskPoster& loop;  // the Workspace's app thread
    const LocalCalendar& calendar;
    std::filesystem::path dataDir;  // alerts.json
    Defaults defaults{std::filesystem::path()};  // "tasks", "schedules"
    // The marks of these coins from the exchange; throws when the read fails.
    std::function<std::map<std::string, Decimal, std::less<>>(const std::vector<std::string>& coins)> readMarks;
    // The market table steps are read against; may block.
    std::function<std::shared_ptr<const MarketTable>()> markets;
    // A desktop notice; may be empty.
    std::function<void(const std::string& title, const std::string& text)> notify;
    // Something was armed: the background round should start or come sooner.
    std::function<void()> armed;
    // The automation wallet; null: every run waits for Confirm.
    AutomationSigning* signing = nullptr;
  };

  explicit AppAutomations(Setup setup);

  // REQUIRES: on the app thread. Null detaches (before the Workspace goes).
  void attach(Workspace* workspace);

  std::string saveAlert(const AlertCommand& alert, const std::string& canvas) override;
  std::string saveSchedule(const CommandLines::Scheduled& schedule, const std::string& canvas,
                           bool untrusted = false) override;
  std::string cancelSchedules() override;
  std::string saveRecurringBuy(const WalletCommand& command) override;

  // One background round: the alert check, then the due tasks and recurring
  // buys. True while any alert is armed (the round's pace).
  bool tick();
  bool armedAnything() const;

  // The alerts board: the armed alerts (side "RISES" or "FALLS", the level,
  // the percent away from the last mark read, when there is one) and the
  // tasks (steps, next run in local time, repetition), as the page shows
  // them. Never blocks on a read. Any thread.
  Json board();

  PriceAlerts& alerts() { return alerts_; }
  TaskStore& tasks() { return tasks_; }
  RecurringBuys& buys() { return buys_; }

 private:
  Language language() const;
  std::optional<Decimal> markOf(const std::string& coin);
  void fire(const PriceAlerts::Fired& fired, const std::shared_ptr<const MarketTable>& markets);
  std::shared_ptr<const MarketTable> tableOrNull();
  // On the background round: how a due task runs (the wallet it signs from,
  // or the stop for too little SOL); nothing when its condition isn't met or
  // can't be checked (said in the chat).
  std::optional<Workspace::AutomationRun> taskRun(const ScheduledTask& task, const std::shared_ptr<const MarketTable>& table);

  Setup s_;
  PriceAlerts alerts_;
  TaskStore tasks_;
  RecurringBuys buys_;
  Workspace* workspace_ = nullptr;  // app thread only
  std::mutex marksMutex_;
  MarkRead lastRead_;
};

// The background round when the guardian's loop isn't there to carry it:
// tick, then a pause on the steady clock (10 s while alerts are armed, 30 s
// otherwise). stop() (or the destructor) ends it and waits.
class AutomationTicker {
 public:
  static constexpr std::chrono::seconds kBusyPause{10};
  static constexpr std::chrono::seconds kIdlePause{30};

  explicit AutomationTicker(std::function<bool()> round);
  ~AutomationTicker();
  AutomationTicker(const AutomationTicker&) = delete;
  AutomationTicker& operator=(const AutomationTicker&) = delete;

  void wake();
  void stop();

 private:
  std::function<bool()> round_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stopping_ = false;
  bool woken_ = false;
  std::thread thread_;
};

}  // namespace orwenna
