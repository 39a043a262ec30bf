// Scheduled tasks ("every monday at 9:00: buy SOL for 10 USDC") and recurring
// buys. A task's time phrase becomes its next run and its repetition; days and
// months step through the local calendar (a daylight-saving change keeps the
// clock time, the 31st of a month keeps its day and lands on the last day of
// a shorter month), hours step in exact seconds.
//
// The tasks are kept in defaults.json under "tasks" as a JSON string of the
// list; the recurring buys under "schedules" (a JSON string) with the global
// pause under "schedulePaused". TaskStore and RecurringBuys are thread-safe.
// A due task is advanced (or, run once, removed) and saved before it is
// handed out, so it runs at most once per due time even across a crash, and
// after downtime it runs once, not once per missed time. TaskStore keeps
// defaults.json the truth across processes: its changes hold the DataLock of
// the file's folder, and it rereads the tasks when the file was replaced.
#pragma once

#include <ctime>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "app/data_lock.h"
#include "base/decimal.h"
#include "base/json.h"
#include "base/language.h"
#include "platform/defaults.h"

namespace orwenna {

// Local wall-clock arithmetic. Injected so tests can pin the time zone.
class LocalCalendar {
 public:
  virtual ~LocalCalendar() = default;
  // Seconds since 1970 → local broken-down time.
  virtual std::tm local(std::int64_t seconds) const = 0;
  // Local broken-down time (fields may be out of range; the daylight-saving
  // flag is worked out) → seconds since 1970; nothing when it has no answer.
  [[nodiscard]] virtual std::optional<std::int64_t> seconds(std::tm local) const = 0;
};

// localtime_r / mktime under the process's time zone (TZ).
class SystemCalendar final : public LocalCalendar {
 public:
  std::tm local(std::int64_t seconds) const override;
  std::optional<std::int64_t> seconds(std::tm local) const override;
  static SystemCalendar& shared();
};

struct Every {
  enum class Unit { hours, days, months };
  Unit unit = Unit::days;
  int n = 1;  // 1 … kMax of its unit
  friend bool operator==(const Every&, const Every&) = default;

  // Ten years of any unit at most: a bigger number is a typo, not a plan.
  static constexpr int kMaxHours = 87'600;
  static constexpr int kMaxDays = 3'650;
  static constexpr int kMaxMonths = 120;

  // The words after "every " ("hour", "2 weeks", "10 days", "month").
  std::string text() const;
  // The next time after `fromMillis`. `day` keeps a monthly task on its day
  // of the month (clamped to a shorter month's last day).
  std::int64_t advance(std::int64_t fromMillis, const LocalCalendar& calendar, std::optional<int> day = {}) const;

  Json toJson() const;  // {"days": {"_0": 14}}
  [[nodiscard]] static Every fromJson(const Json& json);
};

struct ScheduledTask {
  std::string id;  // UUID
  std::vector<std::string> steps;
  std::int64_t next = 0;  // ms since 1970
  std::optional<Every> every;
  std::optional<std::string> because;
  std::optional<bool> untrusted;
  std::optional<bool> paused;
  std::optional<int> day;  // the day of the month a monthly task keeps
  friend bool operator==(const ScheduledTask&, const ScheduledTask&) = default;

  Json toJson() const;
  [[nodiscard]] static ScheduledTask fromJson(const Json& json);
};

// When a time phrase runs: the first time, the repetition, and words for it.
struct Timing {
  std::int64_t next = 0;
  std::optional<Every> every;
  std::optional<int> day;
  std::string words;  // "every day at 9:00"
  friend bool operator==(const Timing&, const Timing&) = default;
};

namespace Schedules {

// The steps of a scheduled line, split on "then" and ";".
std::vector<std::string> steps(std::string_view text);

// The time phrase ("every 2 weeks at 9:00", "tomorrow", "on 2026-12-24") as
// of `nowMillis`: its Timing, or the sentence refusing it ("every 0 hours",
// "every weekday", minutes, "25:99", a date in the past).
[[nodiscard]] std::variant<Timing, std::string> timing(std::string_view when, std::int64_t nowMillis,
                                                       const LocalCalendar& calendar);

// "2026-12-08 09:00" in local time.
std::string localText(std::int64_t millis, const LocalCalendar& calendar);

}  // namespace Schedules

class TaskStore {
 public:
  explicit TaskStore(Defaults defaults);

  std::vector<ScheduledTask> all() const;
  bool empty() const;
  // True when a task with the same steps and timing is stored.
  bool contains(const ScheduledTask& task) const;
  // Throw FileError when defaults.json can't be written.
  void add(const ScheduledTask& task);
  bool remove(const std::string& id);
  std::size_t removeAll();

  // The tasks due at `nowMillis` (not paused, `next` not after now), as they
  // were; a repeating one is advanced past now and a one-off removed, and the
  // list saved, before they are returned.
  std::vector<ScheduledTask> takeDue(std::int64_t nowMillis, const LocalCalendar& calendar);

 private:
  void save() const;
  void refreshLocked() const;

  Defaults defaults_;
  mutable std::mutex mutex_;
  mutable std::vector<ScheduledTask> tasks_;
  mutable std::optional<FileStamp> seen_;
};

// A recurring USDC buy of a token.
struct Schedule {
  std::string symbol;
  Decimal usdc;
  int days = 1;
  std::int64_t next = 0;  // ms since 1970
  std::optional<bool> paused;
  friend bool operator==(const Schedule&, const Schedule&) = default;

  Json toJson() const;
  [[nodiscard]] static Schedule fromJson(const Json& json);
  // "buy SOL for 10 USDC"
  std::string buyLine() const;
};

class RecurringBuys {
 public:
  explicit RecurringBuys(Defaults defaults);

  std::vector<Schedule> all() const;
  bool paused() const;
  // Replaces a stored buy of the same symbol. Throws FileError.
  void add(const Schedule& schedule);
  // Sets the global pause; the number of buys it holds.
  std::size_t pauseAll();
  bool remove(const std::string& symbol);

  // The buys due at `nowMillis`, as they were; each advanced by its days past
  // now and saved first. Nothing while the global pause is set.
  std::vector<Schedule> takeDue(std::int64_t nowMillis, const LocalCalendar& calendar);

 private:
  void save() const;

  Defaults defaults_;
  mutable std::mutex mutex_;
  std::vector<Schedule> buys_;
  bool paused_ = false;
};

}  // namespace orwenna
