// Price alerts: "tell me when ETH is below 2,500", optionally with steps that
// come back as a plan to confirm when the level is reached. The list lives in
// "alerts.json" (a JSON array, rewritten atomically after every change); a
// file that can't be read is set aside and never overwritten.
//
// The file is the truth: every change is a read-modify-write under the data
// folder's lock (DataLock), and each call first reloads a file another
// process replaced, so `orwenna alerts remove` reaches a running app and two
// running processes never fire one alert twice.
//
// PriceAlerts is thread-safe: the chat sets and clears on the app thread, the
// background tick checks on its own. A firing alert is removed under the same
// lock that finds it, so an alert cleared meanwhile never fires, and each
// fires at most once per run even when the save fails (logged).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/data_lock.h"
#include "base/clock.h"
#include "base/decimal.h"
#include "base/json.h"
#include "base/language.h"
#include "language/commands.h"

namespace orwenna {

struct PriceAlert {
  std::string id;  // UUID
  std::string coin;
  bool above = true;
  Decimal price;
  std::int64_t created = 0;  // ms since 1970
  std::optional<std::vector<std::string>> steps;
  std::optional<std::string> plan;  // the canvas whose plan comes back
  std::optional<bool> untrusted;
  friend bool operator==(const PriceAlert&, const PriceAlert&) = default;

  Json toJson() const;
  // Throws JsonShapeError (or NumberFormatError).
  [[nodiscard]] static PriceAlert fromJson(const Json& json);
};

// Marks by coin, stamped with the continuous clock's reading when they were
// read; a table that is too old is never checked against.
struct MarkRead {
  std::map<std::string, Decimal, std::less<>> marks;
  std::int64_t readAt = 0;  // Clock::monotonicMillis
};

// The alert's chat line when it fires, and the desktop notice's title.
std::string firedText(const PriceAlert& alert, const Decimal& mark, Language language);
std::string firedTitle(const PriceAlert& alert);

class PriceAlerts {
 public:
  // Marks older than this are stale: about two busy ticks.
  static constexpr std::int64_t kStaleAfterMillis = 25'000;

  // Loads `<dataDir>/alerts.json`; see loadNotice() for a file set aside.
  PriceAlerts(std::filesystem::path dataDir, Clock& clock, Random& random);

  // The sentence when the file could not be read and was set aside.
  const std::optional<std::string>& loadNotice() const { return loadNotice_; }

  std::vector<PriceAlert> all() const;
  bool empty() const;
  // The coins the stored alerts name.
  std::vector<std::string> coins() const;

  struct SetRequest {
    AlertCommand::set command;
    std::optional<Decimal> mark;  // the current mark of the coin; none: refused
    // The first step nothing can prepare; set: refused.
    std::optional<std::string> unpreparable;
    // The canvas of an open plan the alert becomes the first step of.
    std::optional<std::string> plan;
    bool untrusted = false;
  };
  // The chat's answer; stores the alert only when it is accepted.
  std::string set(const SetRequest& request, Language language);
  std::string clear(Language language);
  // Removes one by id; false when there is none.
  bool remove(const std::string& id);

  struct Fired {
    PriceAlert alert;
    Decimal mark;
  };
  // The alerts the marks have reached, in list order, removed and saved.
  // Nothing fires on marks read longer than kStaleAfterMillis before
  // `nowMonotonic`; a coin without a mark is skipped.
  std::vector<Fired> check(const MarkRead& marks, std::int64_t nowMonotonic);

 private:
  void saveLocked();
  // Rereads alerts.json when it is not the version last seen here.
  void refreshLocked() const;

  std::filesystem::path dataDir_;
  Clock& clock_;
  Random& random_;
  mutable std::mutex mutex_;
  mutable std::vector<PriceAlert> alerts_;
  mutable std::optional<FileStamp> seen_;
  std::optional<std::string> loadNotice_;
  bool held_ = false;  // a file we couldn't set aside is never overwritten
};

}  // namespace orwenna
