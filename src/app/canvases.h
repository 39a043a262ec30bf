// The chat's messages and the canvases that hold them: each canvas keeps its
// own conversation, the trade plan on it, its step cards and where it is filed.
// "canvases.json" is the list of CanvasSession; "folder-icons.json" maps a
// folder's name to its icon.
//
// Plain value types and pure functions; thread-safe as values.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/activity.h"
#include "base/json.h"
#include "trading/trade_intent.h"

namespace orwenna {

struct Message {
  std::string id;  // UUID
  bool fromUser = false;
  std::string text;
  std::optional<std::string> note;   // caption under the message
  std::optional<std::string> shown;  // what the chat displays instead of `text`
  friend bool operator==(const Message&, const Message&) = default;
};

struct CanvasOutcome {
  std::int64_t at = 0;
  bool ok = false;
  bool unknown = false;
  friend bool operator==(const CanvasOutcome&, const CanvasOutcome&) = default;
};

// A board that was carried out and put away, kept under the canvas.
struct DoneBoard {
  std::string title;
  std::vector<ActivityBubble> bubbles;
  std::optional<CanvasOutcome> outcome;
  friend bool operator==(const DoneBoard&, const DoneBoard&) = default;
};

struct CanvasSession {
  std::string id;  // UUID
  std::int64_t updated = 0;
  std::string title;
  std::optional<std::string> providerID;
  std::optional<std::string> model;
  std::vector<Message> messages;
  std::optional<TradeIntent> intent;
  bool executed = false;
  std::vector<ActivityBubble> bubbles;
  std::optional<std::string> name;
  std::optional<std::string> folder;
  std::optional<CanvasOutcome> outcome;
  std::vector<DoneBoard> earlier;
  std::optional<std::int64_t> boardAt;
  std::optional<std::string> chart;
  std::optional<std::int64_t> pinnedAt;
  std::optional<std::string> note;
  std::vector<std::string> moreNotes;
  std::optional<std::string> icon;
  std::optional<std::string> schedule;
  friend bool operator==(const CanvasSession&, const CanvasSession&) = default;
};

Json toJson(const Message& message);
Json toJson(const CanvasSession& canvas);
// Throw JsonShapeError (or NumberFormatError) naming what is wrong.
[[nodiscard]] Message messageFromJson(const Json& json);
[[nodiscard]] CanvasSession canvasFromJson(const Json& json);

namespace CanvasFile {

std::string fileText(const std::vector<CanvasSession>& canvases);
// Throws JsonShapeError when the text is not a list of canvases.
[[nodiscard]] std::vector<CanvasSession> parseFile(std::string_view text);

std::string folderIconsText(const std::map<std::string, std::string>& icons);
// Throws JsonShapeError when the text is not an object of texts.
[[nodiscard]] std::map<std::string, std::string> parseFolderIcons(std::string_view text);

}  // namespace CanvasFile
}  // namespace orwenna
