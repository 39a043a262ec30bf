#include "web/workspace_backend.h"

namespace orwenna {

namespace {

std::string_view languageCode(Language language) {
  switch (language) {
    case Language::russian:
      return "ru";
    case Language::spanish:
      return "es";
    case Language::english:
      break;
  }
  return "en";
}

WebAnswer bad(std::string error) { return WebAnswer{400, Json{{"error", std::move(error)}}}; }

std::optional<std::string> textField(const Json& body, const char* key) {
  auto it = body.find(key);
  if (it == body.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

}  // namespace

WorkspaceBackend::WorkspaceBackend(AppLoop& loop, Workspace& workspace, AppPanel* panel)
    : loop_(loop), workspace_(workspace), panel_(panel) {}

void WorkspaceBackend::attach(WebServer& server) {
  loop_.sync([&] {
    workspace_.setListener([this, &server](const WorkspaceEvent& e) {
      if (e.kind == "plan" && e.data.is_object()) {
        std::lock_guard lock(mutex_);
        blocks_[e.data.value("canvas", std::string())] = e.data.value("blocks", Json::array());
      }
      if (e.kind == "site" && openSite_ && e.data.is_object()) openSite_(e.data.value("url", std::string()));
      server.publish(Json{{"rev", e.rev}, {"kind", e.kind}, {"data", e.data}});
    });
  });
}

Json WorkspaceBackend::state() {
  Json out;
  loop_.sync([&] {
    out = workspace_.stateJson();
    out["language"] = languageCode(workspace_.replyLanguage());
    const auto& activities = workspace_.activities();
    Json log = Json::array();
    const std::size_t from = activities.size() > kActivityShown ? activities.size() - kActivityShown : 0;
    for (std::size_t i = from; i < activities.size(); ++i) log.push_back(toJson(activities[i]));
    out["activityLog"] = std::move(log);
  });
  std::lock_guard lock(mutex_);
  auto it = blocks_.find(out.value("canvasID", std::string()));
  out["blocks"] = it != blocks_.end() && !out["intent"].is_null() ? it->second : Json::array();
  if (automations_) out["automations"] = automations_->board();
  if (site_) {
    Json requests = Json::array();
    for (const auto& sheet : site_->sheets()) requests.push_back(sheet.toJson());
    out["siteRequests"] = std::move(requests);
  }
  return out;
}

WebAnswer WorkspaceBackend::act(std::string_view action, const Json& body) {
  if (action == "send" || action == "option") {
    auto text = textField(body, "text");
    if (!text || text->empty()) return bad("A message needs its text.");
    const MessageSource source = action == "send" ? MessageSource::composer : MessageSource::quickButton;
    loop_.post([this, text = *text, source] { workspace_.send(text, source); });
    return WebAnswer{202, Json{{"accepted", true}}};
  }
  if (action == "confirm") {
    auto id = textField(body, "id");
    auto version = body.find("version");
    if (!id || version == body.end() || !version->is_number_integer()) return bad("Confirm needs the card's id and version.");
    Workspace::ConfirmResult result = Workspace::ConfirmResult::notWaiting;
    const int v = version->get<int>();
    loop_.sync([&] { result = workspace_.confirm(*id, v); });
    if (result == Workspace::ConfirmResult::started) return WebAnswer{200, Json{{"started", true}}};
    // A replaced, stale or second Confirm signs nothing.
    return WebAnswer{409, Json{{"error", "This card changed or already ran; nothing was signed."}}};
  }
  if (action == "cancel") {
    loop_.post([this] { workspace_.cancelCard(); });
    return WebAnswer{202, Json::object()};
  }
  if (action == "stop") {
    loop_.post([this] { workspace_.stop(); });
    return WebAnswer{202, Json::object()};
  }
  if (action == "newCanvas") {
    loop_.post([this] { workspace_.newCanvas(); });
    return WebAnswer{202, Json::object()};
  }
  if (action == "switchCanvas") {
    auto id = textField(body, "id");
    if (!id) return bad("Which canvas?");
    bool found = false;
    loop_.sync([&] { found = workspace_.switchCanvas(*id); });
    return found ? WebAnswer{200, Json::object()} : WebAnswer{404, Json{{"error", "No such canvas."}}};
  }
  if ((action == "removeAlert" || action == "removeTask") && automations_) {
    auto id = textField(body, "id");
    if (!id) return bad("Which one?");
    bool removed = false;
    try {
      removed = action == "removeAlert" ? automations_->alerts().remove(*id) : automations_->tasks().remove(*id);
    } catch (const Error& e) {
      return WebAnswer{500, Json{{"error", e.what()}}};
    }
    if (!removed) return WebAnswer{404, Json{{"error", "It was already gone."}}};
    return WebAnswer{200, Json{{"automations", automations_->board()}}};
  }
  if (action == "siteDecide" && site_) {
    auto id = textField(body, "id");
    auto digest = textField(body, "digest");
    auto approve = body.find("approve");
    if (!id || !digest || approve == body.end() || !approve->is_boolean()) return bad("Which request, and yes or no?");
    auto flag = [&](const char* key) {
      auto it = body.find(key);
      return it != body.end() && it->is_boolean() && it->get<bool>();
    };
    auto refusal = site_->decide({*id, *digest, approve->get<bool>(), flag("allowUnknown"), flag("trustLookalike")});
    if (refusal) return WebAnswer{409, Json{{"error", *refusal}}};
    return WebAnswer{200, Json::object()};
  }
  if (panel_) {
    if (auto answer = panel_->act(action, body)) return *answer;
  }
  return WebAnswer{404, Json{{"error", "Unknown action."}}};
}

}  // namespace orwenna
