// What the next signature needs from the user, and for how long an approval
// holds. The signer is locked until the passphrase is typed; unlocked, it
// keeps the storage key (never a wallet key) in memory. An approval opens a
// window: one minute without a session, the session length (5 to 30 minutes)
// with one. Inside the window signatures need no new prompt; outside it they
// need a confirmation of what is signed; locked, the passphrase. A wallet
// imported with `requirePresence` asks for the passphrase every time, and
// requests that widen signing or destroy keys never ride on a window. Fifteen
// minutes after the last approval (or at the session's end, if later) the
// storage key is dropped and the signer is locked again.
//
// Not thread-safe: the service holds it under its state lock.
#pragma once

#include <cstdint>
#include <optional>

#include "base/clock.h"
#include "signing/secret.h"

namespace orwenna {

enum class Approval {
  none,        // inside an open window
  confirm,     // CONFIRM of what is signed
  passphrase,  // GETPIN
};

class SessionState {
 public:
  static constexpr std::int64_t kNoSessionWindowMillis = 60'000;
  static constexpr std::int64_t kMinSessionSeconds = 5 * 60;
  static constexpr std::int64_t kMaxSessionSeconds = 30 * 60;
  static constexpr std::int64_t kUnlockedIdleMillis = 15 * 60'000;

  explicit SessionState(Clock& clock) : clock_(clock) {}

  // 0 (no session) or kMinSessionSeconds..kMaxSessionSeconds.
  [[nodiscard]] static bool validLength(std::int64_t seconds);

  // The storage key while unlocked; nullptr once locked or idle too long.
  const SecretBytes* storageKey();
  void unlock(SecretBytes key);
  void lock();

  // Opens the window after a signature the user approved.
  void approved();
  void endSession();
  [[nodiscard]] bool windowOpen() const;

  void setLength(std::int64_t seconds) { length_ = seconds; }
  std::int64_t length() const { return length_; }

  // `presence`: the wallet asks every time. `management`: a request that
  // widens signing or destroys keys.
  [[nodiscard]] Approval needed(bool presence, bool management);

 private:
  std::int64_t now() const { return clock_.monotonicMillis(); }

  Clock& clock_;
  SecretBytes key_;
  std::int64_t keyUntil_ = 0;
  std::optional<std::int64_t> windowUntil_;
  std::int64_t length_ = 0;
};

}  // namespace orwenna
