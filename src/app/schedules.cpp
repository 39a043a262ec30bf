#include "app/schedules.h"

#include <algorithm>
#include <array>
#include <charconv>

#include <fmt/format.h>

#include "base/files.h"
#include "base/log.h"
#include "base/regex.h"
#include "base/text.h"

namespace orwenna {

namespace {

constexpr std::int64_t kHourMillis = 3'600'000;
constexpr std::int64_t kDayMillis = 86'400'000;

bool leapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int monthLength(int year, int month0) {
  static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month0 == 1 && leapYear(year) ? 29 : kDays[static_cast<std::size_t>(month0)];
}

// Digits only (the patterns say so); nothing when too big for a schedule.
std::optional<int> phraseNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 6) return std::nullopt;
  int out = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), out);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return out;
}

std::string phraseGroup(const RegexMatch& m, std::size_t i) {
  auto g = m.group(i);
  return g ? std::string(*g) : std::string();
}

int unitMax(Every::Unit unit) {
  switch (unit) {
    case Every::Unit::hours: return Every::kMaxHours;
    case Every::Unit::months: return Every::kMaxMonths;
    case Every::Unit::days: break;
  }
  return Every::kMaxDays;
}

// The local day of `base` (a day offset allowed) at hh:mm.
std::optional<std::int64_t> localDayAt(std::tm base, int dayOffset, int hour, int minute, const LocalCalendar& calendar) {
  base.tm_mday += dayOffset;
  base.tm_hour = hour;
  base.tm_min = minute;
  base.tm_sec = 0;
  base.tm_isdst = -1;
  auto s = calendar.seconds(base);
  if (!s) return std::nullopt;
  return *s * 1000;
}

std::string refusedSchedule(const std::string& why) { return why + " Nothing was scheduled."; }

std::string paddedMinute(int v) { return fmt::format("{:02}", v); }

}  // namespace

std::tm SystemCalendar::local(std::int64_t seconds) const {
  std::tm out{};
  const std::time_t t = static_cast<std::time_t>(seconds);
  localtime_r(&t, &out);
  return out;
}

std::optional<std::int64_t> SystemCalendar::seconds(std::tm local) const {
  local.tm_isdst = -1;
  const std::time_t t = std::mktime(&local);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<std::int64_t>(t);
}

SystemCalendar& SystemCalendar::shared() {
  static SystemCalendar calendar;
  return calendar;
}

// --- Every ---------------------------------------------------------------------

std::string Every::text() const {
  switch (unit) {
    case Unit::hours: return n == 1 ? "hour" : std::to_string(n) + " hours";
    case Unit::days:
      if (n == 1) return "day";
      if (n == 7) return "week";
      if (n % 7 == 0) return std::to_string(n / 7) + " weeks";
      return std::to_string(n) + " days";
    case Unit::months: return n == 1 ? "month" : std::to_string(n) + " months";
  }
  return "day";
}

std::int64_t Every::advance(std::int64_t fromMillis, const LocalCalendar& calendar, std::optional<int> day) const {
  const std::int64_t steps = std::max(n, 1);
  if (unit == Unit::hours) return fromMillis + steps * kHourMillis;
  const std::int64_t fraction = ((fromMillis % 1000) + 1000) % 1000;
  std::tm t = calendar.local((fromMillis - fraction) / 1000);
  t.tm_isdst = -1;
  if (unit == Unit::days) {
    t.tm_mday += n;
    if (auto s = calendar.seconds(t)) return *s * 1000 + fraction;
    return fromMillis + steps * kDayMillis;
  }
  const int months = t.tm_mon + n;
  t.tm_year += months / 12;
  t.tm_mon = months % 12;
  // The 1st of the month first, so mktime can't roll the 31st into the next one.
  t.tm_mday = std::min(day.value_or(t.tm_mday), monthLength(t.tm_year + 1900, t.tm_mon));
  if (auto s = calendar.seconds(t)) return *s * 1000 + fraction;
  return fromMillis + steps * 30 * kDayMillis;
}

Json Every::toJson() const {
  const char* key = unit == Unit::hours ? "hours" : unit == Unit::days ? "days" : "months";
  return Json{{key, Json{{"_0", n}}}};
}

Every Every::fromJson(const Json& json) {
  if (!json.is_object() || json.size() != 1) throw JsonShapeError("\"every\" is not one of hours, days, months");
  Every e;
  const std::string key = json.begin().key();
  if (key == "hours") e.unit = Unit::hours;
  else if (key == "days") e.unit = Unit::days;
  else if (key == "months") e.unit = Unit::months;
  else throw JsonShapeError("\"every\" is not one of hours, days, months");
  const std::int64_t n = requireInt(json.begin().value(), "_0");
  if (n < 1 || n > unitMax(e.unit)) throw JsonShapeError("\"every\" has a number out of range");
  e.n = static_cast<int>(n);
  return e;
}

// --- ScheduledTask ---------------------------------------------------------------

Json ScheduledTask::toJson() const {
  Json j{{"id", id}, {"steps", steps}, {"next", iso8601(next)}};
  if (every) j["every"] = every->toJson();
  if (because) j["because"] = *because;
  if (untrusted) j["untrusted"] = *untrusted;
  if (paused) j["paused"] = *paused;
  if (day) j["day"] = *day;
  return j;
}

ScheduledTask ScheduledTask::fromJson(const Json& json) {
  if (!json.is_object()) throw JsonShapeError("A scheduled task is not an object");
  ScheduledTask t;
  t.id = requireString(json, "id");
  const Json& steps = requireField(json, "steps");
  if (!steps.is_array() || steps.empty()) throw JsonShapeError("Field \"steps\" is not a list of steps");
  for (const auto& s : steps) {
    if (!s.is_string()) throw JsonShapeError("Field \"steps\" holds a non-string");
    t.steps.push_back(s.get<std::string>());
  }
  auto next = parseIso8601(requireString(json, "next"));
  if (!next) throw JsonShapeError("Field \"next\" is not a time");
  t.next = *next;
  if (json.contains("every")) t.every = Every::fromJson(json.at("every"));
  t.because = optionalString(json, "because");
  if (json.contains("untrusted")) t.untrusted = requireBool(json, "untrusted");
  if (json.contains("paused")) t.paused = requireBool(json, "paused");
  if (json.contains("day")) {
    const std::int64_t d = requireInt(json, "day");
    if (d < 1 || d > 31) throw JsonShapeError("Field \"day\" is not a day of the month");
    t.day = static_cast<int>(d);
  }
  return t;
}

// --- Time phrases ------------------------------------------------------------------

namespace Schedules {

std::vector<std::string> steps(std::string_view text) {
  static const Regex split(R"(\s+then\s+|\s*;\s*)", Regex::kCaseInsensitive);
  std::vector<std::string> out;
  std::size_t start = 0;
  auto push = [&](std::string_view piece) {
    std::string t = text::trimmed(piece);
    if (!t.empty()) out.push_back(std::move(t));
  };
  for (const RegexMatch& m : split.allMatches(text)) {
    push(text.substr(start, m.begin() - start));
    start = m.end();
  }
  push(text.substr(start));
  return out;
}

std::string localText(std::int64_t millis, const LocalCalendar& calendar) {
  std::tm t = calendar.local(millis / 1000);
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min);
}

std::variant<Timing, std::string> timing(std::string_view whenText, std::int64_t nowMillis,
                                          const LocalCalendar& calendar) {
  static constexpr unsigned kCI = Regex::kCaseInsensitive;
  static const Regex spaces(R"(\s+)");
  static const Regex weekdays(
      R"(\bevery\s+(?:\d+\s+)?(?:week\s*days?|weekends?|work\s*days?|business\s+days?)\b)", kCI);
  static const Regex minutes(R"(\bevery\s+(?:\d+\s+)?(?:minutes?|mins?)\b)", kCI);
  static const Regex atTime(R"(\bat\s+(\d{1,2}):(\d\d)$)", kCI);
  static const Regex inN(R"(^in\s+(\d+)\s+(minute|hour|day|week|month)s?\b(?:\s+at\s+\d{1,2}:\d\d)?$)", kCI);
  static const Regex tomorrow(R"(^tomorrow(?:\s+at\s+\d{1,2}:\d\d)?$)", kCI);
  static const Regex onDate(R"(^on\s+(\d{4})-(\d\d)-(\d\d)(?:\s+at\s+\d{1,2}:\d\d)?$)", kCI);
  static const Regex weekly(
      R"(^every\s+(sunday|monday|tuesday|wednesday|thursday|friday|saturday)(?:\s+at\s+\d{1,2}:\d\d)?$)", kCI);
  static const Regex monthly(
      R"(^every\s+month\s+on\s+(?:the\s+|day\s+)?(\d{1,2})(?:st|nd|rd|th)?(?:\s+at\s+\d{1,2}:\d\d)?$)", kCI);
  static const Regex everyN(R"(^every\s+(?:(\d+)\s+)?(hour|day|week|month)s?\b(?:\s+at\s+\d{1,2}:\d\d)?$)", kCI);
  static const Regex bareAt(R"(^at\s+\d{1,2}:\d\d$)", kCI);

  const std::string when = text::lowercased(spaces.replaceAll(text::trimmed(whenText), " "));
  if (weekdays.matches(when)) {
    return refusedSchedule("I can’t repeat a task on weekdays only yet — name a day (“every monday at 9:00”) or "
                            "say “every day”.");
  }
  if (minutes.matches(when)) {
    return refusedSchedule("A task repeats at most every hour — “every N minutes” isn’t something I schedule.");
  }

  // The time of day, when one is given; 9:00 otherwise for day-based phrases.
  std::optional<std::pair<int, int>> clock;
  if (auto m = atTime.firstMatch(when)) {
    auto h = phraseNumber(phraseGroup(*m, 1));
    auto mi = phraseNumber(phraseGroup(*m, 2));
    if (!h || !mi || *h > 23 || *mi > 59) {
      return refusedSchedule("“" + phraseGroup(*m, 1) + ":" + phraseGroup(*m, 2) + "” isn’t a time of day.");
    }
    clock = std::pair{*h, *mi};
  }
  const int hour = clock ? clock->first : 9;
  const int minute = clock ? clock->second : 0;
  const std::tm now = calendar.local(nowMillis / 1000);
  const std::string atWords = clock ? " at " + std::to_string(hour) + ":" + paddedMinute(minute) : "";
  const std::string cannot = refusedSchedule("I couldn’t work that time out on the calendar.");

  Timing out;
  auto unitOf = [](const std::string& word) {
    if (word == "hour") return Every::Unit::hours;
    if (word == "month") return Every::Unit::months;
    return Every::Unit::days;
  };

  if (auto m = inN.firstMatch(when)) {
    const std::string unit = phraseGroup(*m, 2);
    auto n = phraseNumber(phraseGroup(*m, 1));
    if (!n || *n == 0) return refusedSchedule("“" + when + "” isn’t a time ahead — say how long from now.");
    if (unit == "minute") {
      if (*n > Every::kMaxHours * 60) return refusedSchedule("That’s too far ahead.");
      out.next = nowMillis + static_cast<std::int64_t>(*n) * 60'000;
    } else {
      Every e{unitOf(unit), unit == "week" ? *n * 7 : *n};
      if (*n > unitMax(e.unit) || e.n > Every::kMaxDays) return refusedSchedule("That’s too far ahead.");
      out.next = e.advance(nowMillis, calendar);
    }
    out.words = when;
    return out;
  }
  if (tomorrow.matches(when)) {
    auto next = localDayAt(now, 1, clock ? hour : now.tm_hour, clock ? minute : now.tm_min, calendar);
    if (!next) return cannot;
    out.next = *next;
    out.words = "tomorrow" + atWords;
    return out;
  }
  if (auto m = onDate.firstMatch(when)) {
    auto y = phraseNumber(phraseGroup(*m, 1));
    auto mo = phraseNumber(phraseGroup(*m, 2));
    auto d = phraseNumber(phraseGroup(*m, 3));
    if (!y || !mo || !d || *mo < 1 || *mo > 12 || *d < 1 || *d > monthLength(*y, *mo - 1)) {
      return refusedSchedule("“" + phraseGroup(*m, 1) + "-" + phraseGroup(*m, 2) + "-" + phraseGroup(*m, 3) + "” isn’t a date.");
    }
    std::tm t{};
    t.tm_year = *y - 1900;
    t.tm_mon = *mo - 1;
    t.tm_mday = *d;
    auto next = localDayAt(t, 0, hour, minute, calendar);
    if (!next) return cannot;
    if (*next <= nowMillis) return refusedSchedule("That time has already passed.");
    out.next = *next;
    out.words = "on " + phraseGroup(*m, 1) + "-" + phraseGroup(*m, 2) + "-" + phraseGroup(*m, 3) + atWords;
    return out;
  }
  if (auto m = weekly.firstMatch(when)) {
    static constexpr std::array<std::string_view, 7> kDays{"sunday",   "monday", "tuesday", "wednesday",
                                                           "thursday", "friday", "saturday"};
    const std::string day = phraseGroup(*m, 1);
    const int wday = static_cast<int>(std::find(kDays.begin(), kDays.end(), day) - kDays.begin());
    const int ahead = (wday - now.tm_wday + 7) % 7;
    auto next = localDayAt(now, ahead, hour, minute, calendar);
    if (next && *next <= nowMillis) next = localDayAt(now, ahead + 7, hour, minute, calendar);
    if (!next) return cannot;
    out.next = *next;
    out.every = Every{Every::Unit::days, 7};
    out.words = "every " + day + atWords;
    return out;
  }
  if (auto m = monthly.firstMatch(when)) {
    auto d = phraseNumber(phraseGroup(*m, 1));
    if (!d || *d < 1 || *d > 31) return refusedSchedule("A month has no day " + phraseGroup(*m, 1) + ".");
    std::optional<std::int64_t> next;
    for (int ahead = 0; ahead <= 1 && (!next || *next <= nowMillis); ++ahead) {
      std::tm t = now;
      const int months = t.tm_mon + ahead;
      t.tm_year += months / 12;
      t.tm_mon = months % 12;
      t.tm_mday = std::min(*d, monthLength(t.tm_year + 1900, t.tm_mon));
      next = localDayAt(t, 0, hour, minute, calendar);
      if (!next) return cannot;
    }
    out.next = *next;
    out.every = Every{Every::Unit::months, 1};
    out.day = *d;
    out.words = "every month on the " + std::to_string(*d) + atWords;
    return out;
  }
  if (auto m = everyN.firstMatch(when)) {
    const std::string unit = phraseGroup(*m, 2);
    int n = 1;
    if (m->group(1)) {
      auto parsed = phraseNumber(phraseGroup(*m, 1));
      if (!parsed || *parsed == 0) return refusedSchedule("“" + when + "” never comes round — the number must be 1 or more.");
      n = *parsed;
    }
    Every e{unitOf(unit), unit == "week" ? n * 7 : n};
    if (n > unitMax(e.unit) || e.n > unitMax(e.unit)) return refusedSchedule("“" + when + "” is too far apart.");
    out.every = e;
    if (e.unit == Every::Unit::months) out.day = now.tm_mday;
    if (clock) {
      // The next time the clock reads hh:mm, then the repetition from there.
      auto next = localDayAt(now, 0, hour, minute, calendar);
      if (next && *next <= nowMillis) next = localDayAt(now, 1, hour, minute, calendar);
      if (!next) return cannot;
      out.next = *next;
    } else {
      out.next = e.advance(nowMillis, calendar, out.day);
    }
    out.words = "every " + e.text() + atWords;
    return out;
  }
  if (bareAt.matches(when)) {
    auto next = localDayAt(now, 0, hour, minute, calendar);
    if (next && *next <= nowMillis) next = localDayAt(now, 1, hour, minute, calendar);
    if (!next) return cannot;
    out.next = *next;
    out.words = "at " + std::to_string(hour) + ":" + paddedMinute(minute);
    return out;
  }
  return refusedSchedule("I don’t know when “" + when + "” is.");
}

}  // namespace Schedules

// --- TaskStore ------------------------------------------------------------------------

namespace {

// A list kept as a JSON string under `key`; a value that can't be read is
// moved to "<key>SetAside" rather than overwritten.
template <class T>
std::vector<T> loadStoredList(const Defaults& defaults, std::string_view key) {
  auto value = defaults.value(key);
  if (!value) return {};
  try {
    std::optional<Json> list = value->is_string() ? parseJson(value->get<std::string>()) : std::nullopt;
    if (!list || !list->is_array()) throw JsonShapeError("not a JSON list in a string");
    std::vector<T> out;
    for (const auto& item : *list) out.push_back(T::fromJson(item));
    return out;
  } catch (const std::exception& e) {
    log::warn("defaults \"{}\" can't be read ({}); set aside", key, e.what());
    try {
      defaults.setValue(std::string(key) + "SetAside", *value, key);
    } catch (const std::exception& w) {
      log::warn("defaults \"{}\": {}", key, w.what());
    }
    return {};
  }
}

template <class T>
void saveStoredList(const Defaults& defaults, std::string_view key, const std::vector<T>& items) {
  Json list = Json::array();
  for (const auto& item : items) list.push_back(item.toJson());
  defaults.setValue(key, Json(list.dump()), key);
}

}  // namespace

TaskStore::TaskStore(Defaults defaults) : defaults_(std::move(defaults)) {
  // The stamp before the read: a write landing in between is then seen as a
  // change at the next look, never taken for the version we hold.
  seen_ = FileStamp::of(defaults_.file());
  tasks_ = loadStoredList<ScheduledTask>(defaults_, "tasks");
}

void TaskStore::refreshLocked() const {
  const std::optional<FileStamp> now = FileStamp::of(defaults_.file());
  if (now == seen_) return;
  seen_ = now;
  tasks_ = loadStoredList<ScheduledTask>(defaults_, "tasks");
}

std::vector<ScheduledTask> TaskStore::all() const {
  std::lock_guard lock(mutex_);
  refreshLocked();
  return tasks_;
}

bool TaskStore::empty() const {
  std::lock_guard lock(mutex_);
  refreshLocked();
  return tasks_.empty();
}

bool TaskStore::contains(const ScheduledTask& task) const {
  std::lock_guard lock(mutex_);
  refreshLocked();
  return std::any_of(tasks_.begin(), tasks_.end(), [&](const ScheduledTask& t) {
    return t.steps == task.steps && t.every == task.every && t.day == task.day &&
           (t.every ? true : t.next == task.next);
  });
}

void TaskStore::save() const {
  saveStoredList(defaults_, "tasks", tasks_);
  seen_ = FileStamp::of(defaults_.file());
}

void TaskStore::add(const ScheduledTask& task) {
  std::lock_guard lock(mutex_);
  DataLock files(defaults_.file().parent_path());
  refreshLocked();
  tasks_.push_back(task);
  try {
    save();
  } catch (...) {
    tasks_.pop_back();
    throw;
  }
}

bool TaskStore::remove(const std::string& id) {
  std::lock_guard lock(mutex_);
  DataLock files(defaults_.file().parent_path());
  refreshLocked();
  auto it = std::find_if(tasks_.begin(), tasks_.end(), [&](const ScheduledTask& t) { return t.id == id; });
  if (it == tasks_.end()) return false;
  tasks_.erase(it);
  save();
  return true;
}

std::size_t TaskStore::removeAll() {
  std::lock_guard lock(mutex_);
  DataLock files(defaults_.file().parent_path());
  refreshLocked();
  const std::size_t n = tasks_.size();
  if (n > 0) {
    tasks_.clear();
    save();
  }
  return n;
}

std::vector<ScheduledTask> TaskStore::takeDue(std::int64_t nowMillis, const LocalCalendar& calendar) {
  std::lock_guard lock(mutex_);
  // Another process may have run (and advanced) a task since our last look.
  DataLock files(defaults_.file().parent_path());
  refreshLocked();
  std::vector<ScheduledTask> due;
  std::vector<ScheduledTask> kept;
  for (auto& t : tasks_) {
    if (t.paused.value_or(false) || t.next > nowMillis) {
      kept.push_back(t);
      continue;
    }
    due.push_back(t);
    if (!t.every) continue;  // run once: gone
    // After downtime: past every missed time, so it runs once, not once per tick.
    ScheduledTask advanced = t;
    while (advanced.next <= nowMillis) {
      const std::int64_t next = advanced.every->advance(advanced.next, calendar, advanced.day);
      advanced.next = next > advanced.next ? next : advanced.next + kHourMillis;
    }
    kept.push_back(std::move(advanced));
  }
  if (due.empty()) return due;
  tasks_ = std::move(kept);
  try {
    save();
  } catch (const std::exception& e) {
    log::warn("scheduled tasks: {}", e.what());
  }
  return due;
}

// --- Recurring buys ------------------------------------------------------------------

Json Schedule::toJson() const {
  Json j{{"symbol", symbol}, {"usdc", usdc}, {"days", days}, {"next", iso8601(next)}};
  if (paused) j["paused"] = *paused;
  return j;
}

Schedule Schedule::fromJson(const Json& json) {
  if (!json.is_object()) throw JsonShapeError("A recurring buy is not an object");
  Schedule s;
  s.symbol = requireString(json, "symbol");
  s.usdc = requireDecimal(json, "usdc");
  const std::int64_t days = requireInt(json, "days");
  if (days < 1 || days > Every::kMaxDays) throw JsonShapeError("Field \"days\" is out of range");
  s.days = static_cast<int>(days);
  auto next = parseIso8601(requireString(json, "next"));
  if (!next) throw JsonShapeError("Field \"next\" is not a time");
  s.next = *next;
  if (json.contains("paused")) s.paused = requireBool(json, "paused");
  return s;
}

std::string Schedule::buyLine() const { return "buy " + symbol + " for " + usdc.toString() + " USDC"; }

RecurringBuys::RecurringBuys(Defaults defaults) : defaults_(std::move(defaults)) {
  buys_ = loadStoredList<Schedule>(defaults_, "schedules");
  auto paused = defaults_.value("schedulePaused");
  paused_ = paused && paused->is_boolean() && paused->get<bool>();
}

std::vector<Schedule> RecurringBuys::all() const {
  std::lock_guard lock(mutex_);
  return buys_;
}

bool RecurringBuys::paused() const {
  std::lock_guard lock(mutex_);
  return paused_;
}

void RecurringBuys::save() const { saveStoredList(defaults_, "schedules", buys_); }

void RecurringBuys::add(const Schedule& schedule) {
  std::lock_guard lock(mutex_);
  std::erase_if(buys_, [&](const Schedule& s) { return s.symbol == schedule.symbol; });
  buys_.push_back(schedule);
  save();
  if (paused_) {
    // A new buy is asked for now: the pause of the old ones ends.
    paused_ = false;
    defaults_.setValue("schedulePaused", Json(false), "schedulePaused");
  }
}

std::size_t RecurringBuys::pauseAll() {
  std::lock_guard lock(mutex_);
  paused_ = true;
  defaults_.setValue("schedulePaused", Json(true), "schedulePaused");
  return buys_.size();
}

bool RecurringBuys::remove(const std::string& symbol) {
  std::lock_guard lock(mutex_);
  const std::size_t n = std::erase_if(buys_, [&](const Schedule& s) { return s.symbol == symbol; });
  if (n == 0) return false;
  save();
  return true;
}

std::vector<Schedule> RecurringBuys::takeDue(std::int64_t nowMillis, const LocalCalendar& calendar) {
  std::lock_guard lock(mutex_);
  std::vector<Schedule> due;
  if (paused_) return due;
  for (auto& s : buys_) {
    if (s.paused.value_or(false) || s.next > nowMillis) continue;
    due.push_back(s);
    const Every e{Every::Unit::days, s.days};
    while (s.next <= nowMillis) {
      const std::int64_t next = e.advance(s.next, calendar);
      s.next = next > s.next ? next : s.next + kDayMillis;
    }
  }
  if (due.empty()) return due;
  try {
    save();
  } catch (const std::exception& e) {
    log::warn("recurring buys: {}", e.what());
  }
  return due;
}

}  // namespace orwenna
