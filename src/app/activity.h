// The activity log: one entry per user request, signed move or automatic
// action, with the step cards and detail lines it produced. The log keeps the
// newest entries only: past kTrimAbove it is cut back to kKeep.
//
// Plain value types and pure functions; thread-safe as values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/decimal.h"
#include "base/json.h"

namespace orwenna {

// A balance before and after a step.
struct MoneyMove {
  std::string place;
  std::string symbol;
  Decimal was;
  Decimal after;
  bool approx = false;
  friend bool operator==(const MoneyMove&, const MoneyMove&) = default;
};

// One step card.
struct ActivityBubble {
  std::string kind;
  std::string label;
  std::string title;
  std::vector<std::string> lines;
  std::string status;
  std::string asset;
  std::optional<std::string> logo;
  std::optional<std::int64_t> signature;
  std::optional<bool> long_;  // JSON key "long"
  std::optional<Json> fill;
  std::optional<Json> answer;
  std::optional<std::vector<MoneyMove>> money;
  friend bool operator==(const ActivityBubble&, const ActivityBubble&) = default;
};

struct Activity {
  enum class Kind { request, execution, automatic };

  std::string id;        // UUID
  std::int64_t at = 0;   // ms since 1970
  Kind kind = Kind::request;
  std::optional<std::string> request;
  std::optional<std::string> understood;
  std::optional<std::string> title;
  std::optional<std::string> coin;
  std::vector<ActivityBubble> bubbles;
  std::vector<std::string> lines;
  std::optional<std::string> schedule;
  std::optional<std::string> canvas;  // UUID
  std::optional<bool> failed;
  std::optional<bool> stopped;
  friend bool operator==(const Activity&, const Activity&) = default;
};

std::string_view activityKindName(Activity::Kind kind);

Json toJson(const MoneyMove& move);
Json toJson(const ActivityBubble& bubble);
Json toJson(const Activity& activity);
// Throw JsonShapeError (or NumberFormatError) naming what is wrong.
[[nodiscard]] MoneyMove moneyMoveFromJson(const Json& json);
[[nodiscard]] ActivityBubble bubbleFromJson(const Json& json);
[[nodiscard]] Activity activityFromJson(const Json& json);

namespace ActivityLog {

inline constexpr std::size_t kKeep = 1000;
inline constexpr std::size_t kTrimAbove = 1100;

// Cuts the oldest entries (the front) once the log holds more than
// kTrimAbove, so that kKeep remain. True when something was cut.
bool trim(std::vector<Activity>& log);
// The newest kKeep entries as the JSON array of "activity.json".
std::string fileText(const std::vector<Activity>& log);
// Throws JsonShapeError when the text is not an array of entries.
[[nodiscard]] std::vector<Activity> parseFile(std::string_view text);

}  // namespace ActivityLog
}  // namespace orwenna
