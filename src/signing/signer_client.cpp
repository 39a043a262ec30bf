#include "signing/signer_client.h"

#include <unistd.h>

#include <fmt/format.h>

#include "platform/process.h"
#include "signing/secret.h"
#include "signing/signer_socket.h"

namespace orwenna {

namespace sr = signer_request;

SignerLocation SignerLocation::forApp(const AppPaths& paths) {
  return SignerLocation{paths.runtimeDir / kSocketName, executableDirectory() / kProgramName};
}

DebugAPIAccess debugAPIAccess(const SignerRequest& request) {
  return std::visit(
      [](const auto& c) {
        using T = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<T, sr::SignSolana> || std::is_same_v<T, sr::SignEVMTransaction> ||
                      std::is_same_v<T, sr::SignEVMBatch> || std::is_same_v<T, sr::SignHyperliquidL1> ||
                      std::is_same_v<T, sr::SignHyperliquidUser> || std::is_same_v<T, sr::SignRelayNonceMapping> ||
                      std::is_same_v<T, sr::SignNearIntentDeposit> || std::is_same_v<T, sr::SignNearTransfer> ||
                      std::is_same_v<T, sr::SignNearDeleteAccount> ||
                      std::is_same_v<T, sr::SignRelayHyperliquidDeposit> ||
                      std::is_same_v<T, sr::SignOneClickDeposit>) {
          return DebugAPIAccess::moneyMove;
        } else if constexpr (std::is_same_v<T, sr::Status> || std::is_same_v<T, sr::AddressBook> ||
                             std::is_same_v<T, sr::NearAddress> || std::is_same_v<T, sr::EndSession>) {
          return DebugAPIAccess::allowed;
        } else if constexpr (std::is_same_v<T, sr::LedgerAgent>) {
          return c.create ? DebugAPIAccess::refused : DebugAPIAccess::allowed;
        } else {
          return DebugAPIAccess::refused;
        }
      },
      request.value());
}

// ---- activity ----------------------------------------------------------------

std::optional<std::string> SignerActivity::ledger() const {
  std::lock_guard lock(mutex_);
  return ledger_;
}

void SignerActivity::setLedger(std::optional<std::string> prompt) {
  std::lock_guard lock(mutex_);
  ledger_ = std::move(prompt);
}

void SignerActivity::setListener(std::function<void(int)> listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

void SignerActivity::change(int delta) {
  int now = waiting_.fetch_add(delta) + delta;
  std::function<void(int)> listener;
  {
    std::lock_guard lock(mutex_);
    listener = listener_;
  }
  if (listener) listener(now);
}

SignerActivity::Scope::Scope(SignerActivity* activity) : activity_(activity) {
  if (activity_) activity_->change(+1);
}

SignerActivity::Scope::~Scope() {
  if (activity_) activity_->change(-1);
}

// ---- client ------------------------------------------------------------------

namespace {

thread_local bool tDebugAPI = false;

bool carriesSecret(const SignerRequest& request) {
  const SignerRequest& inner = request.unwrapped();
  return inner.get<sr::ImportMnemonic>() != nullptr || inner.get<sr::ImportPrivateKey>() != nullptr;
}

[[noreturn]] void unavailable(const std::string& reason) {
  throw SignerError(fmt::format("The signer is unavailable: {}.", reason));
}

}  // namespace

bool SignerClient::fromDebugAPI() { return tDebugAPI; }

SignerClient::DebugAPIScope::DebugAPIScope() : previous_(tDebugAPI) { tDebugAPI = true; }

SignerClient::DebugAPIScope::~DebugAPIScope() { tDebugAPI = previous_; }

SignerClient::SignerClient(SignerLocation location, Clock& clock) : location_(std::move(location)), clock_(clock) {}

bool SignerClient::isAvailable(const SignerLocation& location) { return isExecutableFile(location.program); }

SignerReply SignerClient::send(const SignerRequest& request) {
  if (tDebugAPI) {
    switch (debugAPIAccess(request)) {
      case DebugAPIAccess::allowed:
        break;
      case DebugAPIAccess::refused:
        throw SignerError("Nothing is signed from the debug API: confirm money moves in orwenna’s window.");
      case DebugAPIAccess::moneyMove: {
        SignerReply status = exchange(sr::Status{});
        const SignerWallet* active = status.activeWalletRecord();
        if (!active || !active->test.value_or(false)) {
          throw SignerError(
              "Nothing is signed from the debug API while a Touch ID wallet signs: confirm money moves in orwenna’s "
              "window, or switch to a test wallet.");
        }
        break;
      }
    }
  }
  return exchange(request);
}

SignerReply SignerClient::exchange(const SignerRequest& request) {
  UniqueFd fd;
  std::string firstFailure;
  try {
    fd = connectUnixSocket(location_.socket, kConnectTimeLimit);
  } catch (const SignerTransportError& e) {
    firstFailure = e.what();
  }
  if (!fd) {
    if (!isAvailable(location_)) {
      unavailable(fmt::format("nothing answers at {} and {} is not installed beside the app", location_.socket.string(),
                              location_.program.string()));
    }
    try {
      spawnDetached(location_.program, {});
    } catch (const Error& e) {
      unavailable(e.what());
    }
    const std::int64_t deadline = clock_.monotonicMillis() + kStartWait.count();
    std::string lastFailure = firstFailure;
    while (!fd && clock_.monotonicMillis() < deadline) {
      clock_.sleepFor(kRetryEvery.count());
      try {
        fd = connectUnixSocket(location_.socket, kConnectTimeLimit);
      } catch (const SignerTransportError& e) {
        lastFailure = e.what();
      }
    }
    if (!fd) unavailable(fmt::format("it did not start in time ({})", lastFailure));
  }
  // Another user's socket in our place is not our signer.
  if (!isSameUser(peerUid(fd.get()), ::getuid())) unavailable("the socket belongs to another user");

  Json json = request.toJson();
  std::string text = json.dump();
  const bool secret = carriesSecret(request);
  try {
    writeFrame(fd.get(), text);
  } catch (const SignerTransportError& e) {
    if (secret) {
      wipeJsonStrings(json);
      wipeString(text);
    }
    unavailable(e.what());
  }
  if (secret) {
    wipeJsonStrings(json);
    wipeString(text);
  }
  std::string replyText;
  try {
    replyText = readFrame(fd.get(), kMaxSignerFrameBytes, kReplyTimeLimit);
  } catch (const SignerTransportError& e) {
    unavailable(e.what());
  }
  auto parsed = parseJson(replyText);
  if (!parsed) throw SignerProtocolError("The signer's reply is not JSON.");
  SignerReply reply = SignerReply::fromJson(*parsed);
  if (reply.phrase) {
    wipeJsonStrings(*parsed);
    wipeString(replyText);
  }
  return reply;
}

}  // namespace orwenna
