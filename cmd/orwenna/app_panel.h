// The web interface's screens around the chat: the model picker, the risk
// policy and other settings, the signer's address book, lock and session
// length, and the candles a chart draws. Each answer is JSON for the page;
// failures carry their finished sentence under "error". Thread-safe.
#pragma once

#include <atomic>
#include <memory>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "orwenna/conversation.h"
#include "signing/signer_client.h"
#include "web/workspace_backend.h"

namespace orwenna::cmd {

class ConversationPanel final : public AppPanel {
 public:
  // `publish` sends an event to the page's stream (the local setup's progress).
  ConversationPanel(Conversation& conversation, std::function<void(const Json&)> publish);
  // Waits for a local setup still running.
  ~ConversationPanel() override;
  std::optional<WebAnswer> act(std::string_view action, const Json& body) override;

 private:
  WebAnswer settings();
  WebAnswer saveRiskPolicy(const Json& body);
  WebAnswer models();
  WebAnswer chooseModel(const Json& body);
  WebAnswer signIn(const Json& body);
  WebAnswer signer(const SignerRequest& request, const char* what);
  WebAnswer candles(const Json& body);
  WebAnswer tokenChart(const Json& body);
  WebAnswer localSetup();
  WebAnswer pnl(const Json& body);

  Conversation& conversation_;
  SignerLocation signer_;
  std::mutex mutex_;
  std::vector<std::shared_ptr<LLMClient>> clients_;  // kept alive for the turns that use them
  std::function<void(const Json&)> publish_;
  std::thread setup_;  // the local model setup, at most one
  std::thread signIn_;  // a browser sign-in or an adopted login, at most one
  Cancellation signInCancel_;
  std::atomic<bool> signInRunning_{false};
};

}  // namespace orwenna::cmd
