// The conversation behind the web interface: the page's state is the
// Workspace's, read on the app thread; the page's actions become Workspace
// calls posted to that thread, each message marked as coming from the
// composer or a quick button by the route it arrived on, never by its text.
// Every Workspace event goes out on the server's stream.
//
// Thread-safe: called from the server's threads; the Workspace is touched
// only on its AppLoop.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <mutex>
#include <string>

#include "app/automations.h"
#include "app/app_loop.h"
#include "app/site_bridge.h"
#include "app/workspace.h"
#include "web/web_server.h"

namespace orwenna {

// The page's other screens — settings, the model picker, the address book,
// the signer's lock, charts — answered by the app around the conversation.
class AppPanel {
 public:
  virtual ~AppPanel() = default;
  // Nothing when `action` is not one of the panel's.
  virtual std::optional<WebAnswer> act(std::string_view action, const Json& body) = 0;
};

class WorkspaceBackend final : public WebBackend {
 public:
  // How many of the newest activity entries the page gets with the state.
  static constexpr std::size_t kActivityShown = 200;

  // REQUIRES: `workspace` lives on `loop` and outlives this backend.
  WorkspaceBackend(AppLoop& loop, Workspace& workspace, AppPanel* panel = nullptr);

  // Sets the Workspace's listener (on the loop) to publish every event on
  // `server`, and keeps the plan blocks each canvas last showed.
  void attach(WebServer& server);

  // The site wallet's waiting requests join the state as "siteRequests" and
  // the page decides them with the "siteDecide" action. Call before serving.
  // REQUIRES: `bridge` outlives this backend.
  void setSiteBridge(SiteBridge* bridge) { site_ = bridge; }
  // The alerts board joins the state as "automations"; the page removes an
  // alert or a task with "removeAlert" / "removeTask" {id}. Call before
  // serving. REQUIRES: `automations` outlives this backend.
  void setAutomations(AppAutomations* automations) { automations_ = automations; }
  // Called (on the app thread) when the chat asks to open a site.
  void onOpenSite(std::function<void(const std::string& site)> open) { openSite_ = std::move(open); }

  Json state() override;
  WebAnswer act(std::string_view action, const Json& body) override;

 private:
  AppLoop& loop_;
  Workspace& workspace_;
  AppPanel* panel_;
  SiteBridge* site_ = nullptr;
  AppAutomations* automations_ = nullptr;
  std::function<void(const std::string&)> openSite_;
  std::mutex mutex_;
  std::map<std::string, Json> blocks_;  // by canvas id
};

}  // namespace orwenna
