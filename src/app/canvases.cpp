#include "app/canvases.h"

namespace orwenna {
namespace {

void putText(Json& out, const char* key, const std::optional<std::string>& value) {
  if (value) out[key] = *value;
}
void putDate(Json& out, const char* key, const std::optional<std::int64_t>& value) {
  if (value) out[key] = iso8601(*value);
}

std::int64_t dateField(const Json& json, std::string_view key) {
  auto at = parseIso8601(requireString(json, key));
  if (!at) throw JsonShapeError("Field \"" + std::string(key) + "\" is not an ISO-8601 date");
  return *at;
}

std::optional<std::int64_t> optionalDate(const Json& json, std::string_view key) {
  auto it = json.find(key);
  if (it == json.end() || it->is_null()) return std::nullopt;
  return dateField(json, key);
}

const Json* listField(const Json& json, std::string_view key) {
  auto it = json.find(key);
  if (it == json.end() || it->is_null()) return nullptr;
  if (!it->is_array()) throw JsonShapeError("Field \"" + std::string(key) + "\" is not a list");
  return &*it;
}

Json bubblesJson(const std::vector<ActivityBubble>& bubbles) {
  Json out = Json::array();
  for (const auto& b : bubbles) out.push_back(toJson(b));
  return out;
}

std::vector<ActivityBubble> bubblesFrom(const Json& json, std::string_view key) {
  std::vector<ActivityBubble> out;
  if (const Json* list = listField(json, key))
    for (const auto& b : *list) out.push_back(bubbleFromJson(b));
  return out;
}

Json outcomeJson(const CanvasOutcome& o) {
  return Json{{"at", iso8601(o.at)}, {"ok", o.ok}, {"unknown", o.unknown}};
}

CanvasOutcome outcomeFrom(const Json& json) {
  return CanvasOutcome{dateField(json, "at"), requireBool(json, "ok"), requireBool(json, "unknown")};
}

std::optional<CanvasOutcome> optionalOutcome(const Json& json, std::string_view key) {
  auto it = json.find(key);
  if (it == json.end() || it->is_null()) return std::nullopt;
  return outcomeFrom(*it);
}

}  // namespace

Json toJson(const Message& m) {
  Json out = Json{{"id", m.id}, {"fromUser", m.fromUser}, {"text", m.text}};
  putText(out, "note", m.note);
  putText(out, "shown", m.shown);
  return out;
}

Message messageFromJson(const Json& json) {
  if (!json.is_object()) throw JsonShapeError("A message is not an object");
  return Message{requireString(json, "id"), requireBool(json, "fromUser"), requireString(json, "text"),
                 optionalString(json, "note"), optionalString(json, "shown")};
}

Json toJson(const CanvasSession& c) {
  Json out = Json{{"id", c.id}, {"updated", iso8601(c.updated)}, {"title", c.title}};
  putText(out, "providerID", c.providerID);
  putText(out, "model", c.model);
  Json messages = Json::array();
  for (const auto& m : c.messages) messages.push_back(toJson(m));
  out["messages"] = std::move(messages);
  if (c.intent) out["intent"] = c.intent->toJson();
  out["executed"] = c.executed;
  out["bubbles"] = bubblesJson(c.bubbles);
  putText(out, "name", c.name);
  putText(out, "folder", c.folder);
  if (c.outcome) out["outcome"] = outcomeJson(*c.outcome);
  Json earlier = Json::array();
  for (const auto& d : c.earlier) {
    Json board = Json{{"title", d.title}, {"bubbles", bubblesJson(d.bubbles)}};
    if (d.outcome) board["outcome"] = outcomeJson(*d.outcome);
    earlier.push_back(std::move(board));
  }
  out["earlier"] = std::move(earlier);
  putDate(out, "boardAt", c.boardAt);
  putText(out, "chart", c.chart);
  putDate(out, "pinnedAt", c.pinnedAt);
  putText(out, "note", c.note);
  out["moreNotes"] = c.moreNotes;
  putText(out, "icon", c.icon);
  putText(out, "schedule", c.schedule);
  return out;
}

CanvasSession canvasFromJson(const Json& json) {
  if (!json.is_object()) throw JsonShapeError("A canvas is not an object");
  CanvasSession c;
  c.id = requireString(json, "id");
  c.updated = dateField(json, "updated");
  c.title = optionalString(json, "title").value_or("");
  c.providerID = optionalString(json, "providerID");
  c.model = optionalString(json, "model");
  if (const Json* list = listField(json, "messages"))
    for (const auto& m : *list) c.messages.push_back(messageFromJson(m));
  if (auto it = json.find("intent"); it != json.end() && !it->is_null()) c.intent = TradeIntent::fromJson(*it);
  if (auto it = json.find("executed"); it != json.end() && !it->is_null()) c.executed = requireBool(json, "executed");
  c.bubbles = bubblesFrom(json, "bubbles");
  c.name = optionalString(json, "name");
  c.folder = optionalString(json, "folder");
  c.outcome = optionalOutcome(json, "outcome");
  if (const Json* list = listField(json, "earlier")) {
    for (const auto& d : *list) {
      if (!d.is_object()) throw JsonShapeError("A done board is not an object");
      c.earlier.push_back(
          DoneBoard{optionalString(d, "title").value_or(""), bubblesFrom(d, "bubbles"), optionalOutcome(d, "outcome")});
    }
  }
  c.boardAt = optionalDate(json, "boardAt");
  c.chart = optionalString(json, "chart");
  c.pinnedAt = optionalDate(json, "pinnedAt");
  c.note = optionalString(json, "note");
  if (const Json* list = listField(json, "moreNotes")) {
    for (const auto& n : *list) {
      if (!n.is_string()) throw JsonShapeError("Field \"moreNotes\" holds a non-text item");
      c.moreNotes.push_back(n.get<std::string>());
    }
  }
  c.icon = optionalString(json, "icon");
  c.schedule = optionalString(json, "schedule");
  return c;
}

namespace CanvasFile {

std::string fileText(const std::vector<CanvasSession>& canvases) {
  Json out = Json::array();
  for (const auto& c : canvases) out.push_back(toJson(c));
  return out.dump(1);
}

std::vector<CanvasSession> parseFile(std::string_view text) {
  auto json = parseJson(text);
  if (!json || !json->is_array()) throw JsonShapeError("The canvases file is not a JSON list");
  std::vector<CanvasSession> out;
  for (const auto& c : *json) out.push_back(canvasFromJson(c));
  return out;
}

std::string folderIconsText(const std::map<std::string, std::string>& icons) {
  Json out = Json::object();
  for (const auto& [folder, icon] : icons) out[folder] = icon;
  return out.dump(1);
}

std::map<std::string, std::string> parseFolderIcons(std::string_view text) {
  auto json = parseJson(text);
  if (!json || !json->is_object()) throw JsonShapeError("The folder icons file is not a JSON object");
  std::map<std::string, std::string> out;
  for (const auto& [folder, icon] : json->items()) {
    if (!icon.is_string()) throw JsonShapeError("The icon of \"" + folder + "\" is not text");
    out[folder] = icon.get<std::string>();
  }
  return out;
}

}  // namespace CanvasFile
}  // namespace orwenna
