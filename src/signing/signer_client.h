// The app's side of the signer service: where it listens, how a request gets
// there, and what the app may ask from its debug interface.
//
// Each `send` opens its own connection for one request and one reply. When
// nothing answers, the client starts `orwenna-signer` from beside the app's
// own executable and tries again for about two seconds. A reply with ok=false
// is returned, not thrown: callers decide. Thread-safe; `SignerActivity` may
// be read from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "base/clock.h"
#include "base/files.h"
#include "signing/signer_protocol.h"

namespace orwenna {

struct SignerLocation {
  std::filesystem::path socket;   // the signer's Unix socket
  std::filesystem::path program;  // orwenna-signer, started when nothing answers

  static constexpr const char* kSocketName = "signer.sock";
  static constexpr const char* kProgramName = "orwenna-signer";

  // The socket in the runtime folder and the program beside this executable.
  static SignerLocation forApp(const AppPaths& paths);
};

// What the debug interface may ask for.
enum class DebugAPIAccess {
  moneyMove,  // only while the active wallet is a test wallet
  allowed,
  refused,
};
[[nodiscard]] DebugAPIAccess debugAPIAccess(const SignerRequest& request);

// Counts requests in flight so the interface can show that a signature is
// awaited. `ledger` is the prompt shown while a hardware wallet waits.
class SignerActivity {
 public:
  int waiting() const { return waiting_.load(); }
  std::optional<std::string> ledger() const;
  void setLedger(std::optional<std::string> prompt);
  // Called (from the requesting thread) after every change of `waiting`.
  void setListener(std::function<void(int waiting)> listener);

  // Raised while alive.
  class Scope {
   public:
    explicit Scope(SignerActivity* activity);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    SignerActivity* activity_;
  };

 private:
  void change(int delta);
  std::atomic<int> waiting_{0};
  mutable std::mutex mutex_;
  std::optional<std::string> ledger_;
  std::function<void(int)> listener_;
};

class SignerClient {
 public:
  // How long a connect may take, and how long to wait for a started signer.
  static constexpr std::chrono::milliseconds kConnectTimeLimit{1000};
  static constexpr std::chrono::milliseconds kStartWait{2000};
  static constexpr std::chrono::milliseconds kRetryEvery{50};
  // The signer times out its own prompts; this only ends a wait on a signer
  // that hangs, so the executor and the guardian are never stuck for ever.
  static constexpr std::chrono::milliseconds kReplyTimeLimit{std::chrono::minutes(10)};

  explicit SignerClient(SignerLocation location, Clock& clock = SystemClock::shared());

  // Throws SignerError ("The signer is unavailable: …", the debug-interface
  // refusals) and SignerProtocolError for a reply that is not a SignerReply.
  SignerReply send(const SignerRequest& request);

  // The signer executable sits beside the app's.
  static bool isAvailable(const SignerLocation& location);

  // Set by the debug interface around the requests it makes (per thread).
  static bool fromDebugAPI();
  class DebugAPIScope {
   public:
    DebugAPIScope();
    ~DebugAPIScope();
    DebugAPIScope(const DebugAPIScope&) = delete;
    DebugAPIScope& operator=(const DebugAPIScope&) = delete;

   private:
    bool previous_;
  };

 private:
  SignerReply exchange(const SignerRequest& request);

  SignerLocation location_;
  Clock& clock_;
};

}  // namespace orwenna
