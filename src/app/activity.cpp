#include "app/activity.h"

namespace orwenna {
namespace {

void putOptional(Json& out, const char* key, const std::optional<std::string>& value) {
  if (value) out[key] = *value;
}
void putOptional(Json& out, const char* key, const std::optional<bool>& value) {
  if (value) out[key] = *value;
}

std::vector<std::string> stringList(const Json& json, std::string_view key) {
  std::vector<std::string> out;
  auto it = json.find(key);
  if (it == json.end() || it->is_null()) return out;
  if (!it->is_array()) throw JsonShapeError("Field \"" + std::string(key) + "\" is not a list");
  for (const auto& item : *it) {
    if (!item.is_string()) throw JsonShapeError("Field \"" + std::string(key) + "\" holds a non-text item");
    out.push_back(item.get<std::string>());
  }
  return out;
}

std::optional<bool> optionalBool(const Json& json, std::string_view key) {
  auto it = json.find(key);
  if (it == json.end() || it->is_null()) return std::nullopt;
  if (!it->is_boolean()) throw JsonShapeError("Field \"" + std::string(key) + "\" is not a boolean");
  return it->get<bool>();
}

}  // namespace

std::string_view activityKindName(Activity::Kind kind) {
  switch (kind) {
    case Activity::Kind::execution: return "execution";
    case Activity::Kind::automatic: return "automatic";
    case Activity::Kind::request: break;
  }
  return "request";
}

Json toJson(const MoneyMove& move) {
  // Amounts as decimal text: a binary number would not hold them exactly.
  return Json{{"place", move.place},
              {"symbol", move.symbol},
              {"was", move.was.toString()},
              {"after", move.after.toString()},
              {"approx", move.approx}};
}

Json toJson(const ActivityBubble& b) {
  Json out = Json{{"kind", b.kind}, {"label", b.label}, {"title", b.title},
                  {"lines", b.lines}, {"status", b.status}, {"asset", b.asset}};
  putOptional(out, "logo", b.logo);
  if (b.signature) out["signature"] = *b.signature;
  putOptional(out, "long", b.long_);
  if (b.fill) out["fill"] = *b.fill;
  if (b.answer) out["answer"] = *b.answer;
  if (b.money) {
    Json money = Json::array();
    for (const auto& m : *b.money) money.push_back(toJson(m));
    out["money"] = std::move(money);
  }
  return out;
}

Json toJson(const Activity& a) {
  Json out = Json{{"id", a.id}, {"at", iso8601(a.at)}, {"kind", activityKindName(a.kind)}};
  putOptional(out, "request", a.request);
  putOptional(out, "understood", a.understood);
  putOptional(out, "title", a.title);
  putOptional(out, "coin", a.coin);
  Json bubbles = Json::array();
  for (const auto& b : a.bubbles) bubbles.push_back(toJson(b));
  out["bubbles"] = std::move(bubbles);
  out["lines"] = a.lines;
  putOptional(out, "schedule", a.schedule);
  putOptional(out, "canvas", a.canvas);
  putOptional(out, "failed", a.failed);
  putOptional(out, "stopped", a.stopped);
  return out;
}

MoneyMove moneyMoveFromJson(const Json& json) {
  return MoneyMove{requireString(json, "place"), requireString(json, "symbol"), requireDecimal(json, "was"),
                   requireDecimal(json, "after"), optionalBool(json, "approx").value_or(false)};
}

ActivityBubble bubbleFromJson(const Json& json) {
  ActivityBubble b;
  b.kind = optionalString(json, "kind").value_or("");
  b.label = optionalString(json, "label").value_or("");
  b.title = optionalString(json, "title").value_or("");
  b.lines = stringList(json, "lines");
  b.status = optionalString(json, "status").value_or("");
  b.asset = optionalString(json, "asset").value_or("");
  b.logo = optionalString(json, "logo");
  if (auto it = json.find("signature"); it != json.end() && !it->is_null()) {
    if (!it->is_number_integer()) throw JsonShapeError("Field \"signature\" is not a whole number");
    b.signature = it->get<std::int64_t>();
  }
  b.long_ = optionalBool(json, "long");
  if (auto it = json.find("fill"); it != json.end() && !it->is_null()) b.fill = *it;
  if (auto it = json.find("answer"); it != json.end() && !it->is_null()) b.answer = *it;
  if (auto it = json.find("money"); it != json.end() && !it->is_null()) {
    if (!it->is_array()) throw JsonShapeError("Field \"money\" is not a list");
    b.money.emplace();
    for (const auto& m : *it) b.money->push_back(moneyMoveFromJson(m));
  }
  return b;
}

Activity activityFromJson(const Json& json) {
  if (!json.is_object()) throw JsonShapeError("An activity entry is not an object");
  Activity a;
  a.id = requireString(json, "id");
  auto at = parseIso8601(requireString(json, "at"));
  if (!at) throw JsonShapeError("Field \"at\" is not an ISO-8601 date");
  a.at = *at;
  std::string kind = requireString(json, "kind");
  if (kind == "request") a.kind = Activity::Kind::request;
  else if (kind == "execution") a.kind = Activity::Kind::execution;
  else if (kind == "automatic") a.kind = Activity::Kind::automatic;
  else throw JsonShapeError("Field \"kind\" is not an activity kind");
  a.request = optionalString(json, "request");
  a.understood = optionalString(json, "understood");
  a.title = optionalString(json, "title");
  a.coin = optionalString(json, "coin");
  if (auto it = json.find("bubbles"); it != json.end() && !it->is_null()) {
    if (!it->is_array()) throw JsonShapeError("Field \"bubbles\" is not a list");
    for (const auto& b : *it) a.bubbles.push_back(bubbleFromJson(b));
  }
  a.lines = stringList(json, "lines");
  a.schedule = optionalString(json, "schedule");
  a.canvas = optionalString(json, "canvas");
  a.failed = optionalBool(json, "failed");
  a.stopped = optionalBool(json, "stopped");
  return a;
}

namespace ActivityLog {

bool trim(std::vector<Activity>& log) {
  if (log.size() <= kTrimAbove) return false;
  log.erase(log.begin(), log.end() - static_cast<std::ptrdiff_t>(kKeep));
  return true;
}

std::string fileText(const std::vector<Activity>& log) {
  Json out = Json::array();
  std::size_t first = log.size() > kKeep ? log.size() - kKeep : 0;
  for (std::size_t i = first; i < log.size(); ++i) out.push_back(toJson(log[i]));
  return out.dump(1);
}

std::vector<Activity> parseFile(std::string_view text) {
  auto json = parseJson(text);
  if (!json || !json->is_array()) throw JsonShapeError("The activity log is not a JSON list");
  std::vector<Activity> out;
  out.reserve(json->size());
  for (const auto& entry : *json) out.push_back(activityFromJson(entry));
  return out;
}

}  // namespace ActivityLog
}  // namespace orwenna
