// The signer's socket: <runtimeDir>/signer.sock (folder 0700, socket 0600),
// guarded by <runtimeDir>/signer.lock, which holds the running signer's pid
// under an exclusive lock. Whoever holds the lock owns the socket path, so a
// socket file found there is a dead signer's and is removed. Only peers of
// the same user are answered (SO_PEERCRED); each connection carries one
// request and one reply and runs on its own thread.
//
// Thread-safe; `run` blocks until `stop` is set.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <filesystem>

#include "base/files.h"
#include "signer/signer_service.h"
#include "signing/signer_socket.h"

namespace orwenna {

// The service's settings from the environment. The key-stretching cost and
// the prompt time limit can be lowered only for tests (ORWENNA_TEST set):
// ORWENNA_SIGNER_SCRYPT_LOG2N and ORWENNA_SIGNER_PROMPT_SECONDS.
struct SignerSettings {
  SignerConfig config;
  std::chrono::milliseconds promptLimit{std::chrono::seconds(120)};
  static SignerSettings fromEnvironment(const AppPaths& paths);
};

// The same user as `self`, by the peer's credentials.
[[nodiscard]] bool peerAllowed(int fd, uid_t self);

class SignerServer {
 public:
  static constexpr const char* kLockName = "signer.lock";
  static constexpr std::chrono::seconds kRequestTimeLimit{30};
  static constexpr int kMaxConnections = 32;

  // Takes the lock and binds the socket. Throws SignerServiceError ("Another
  // signer is running." when the lock is held) or FileError.
  SignerServer(const std::filesystem::path& runtimeDir, SignerService& service);
  ~SignerServer();
  SignerServer(const SignerServer&) = delete;
  SignerServer& operator=(const SignerServer&) = delete;

  const std::filesystem::path& socketPath() const { return socket_; }

  void run(const std::atomic<bool>& stop);

  // Reads one request from `fd`, answers it and closes nothing.
  static void serve(int fd, SignerService& service);

 private:
  SignerService& service_;
  std::filesystem::path socket_;
  UniqueFd lock_;
  UniqueFd listener_;
  std::atomic<int> connections_{0};
};

}  // namespace orwenna
