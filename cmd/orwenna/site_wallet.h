// The site wallet as `orwenna serve` runs it: the SiteBridge over the
// conversation's services, journal and signer, its socket in the runtime
// folder for the browser's host, its review sheets in the web interface, and
// "open SITE" from the chat starting Chromium with our extension.
#pragma once

#include <functional>
#include <memory>

#include "app/site_bridge.h"
#include "base/json.h"
#include "orwenna/conversation.h"
#include "web/site_socket.h"
#include "web/workspace_backend.h"

namespace orwenna::cmd {

class SiteWalletService {
 public:
  // `publish` sends one event to the page. Starts the socket; a socket that
  // can't be had leaves the app running without the site wallet (logged).
  // REQUIRES: `conversation` and `backend` outlive this service.
  SiteWalletService(Conversation& conversation, WorkspaceBackend& backend, std::function<void(const Json&)> publish);
  ~SiteWalletService();

 private:
  Conversation& conversation_;
  std::unique_ptr<SiteBridge> bridge_;
  std::unique_ptr<SiteSocket> socket_;
};

}  // namespace orwenna::cmd
