#include "signer/session.h"

#include <algorithm>

namespace orwenna {

bool SessionState::validLength(std::int64_t seconds) {
  return seconds == 0 || (seconds >= kMinSessionSeconds && seconds <= kMaxSessionSeconds);
}

const SecretBytes* SessionState::storageKey() {
  if (key_.empty()) return nullptr;
  if (now() >= keyUntil_) {
    lock();
    return nullptr;
  }
  return &key_;
}

void SessionState::unlock(SecretBytes key) {
  key_ = std::move(key);
  keyUntil_ = now() + kUnlockedIdleMillis;
}

void SessionState::lock() {
  key_.wipe();
  keyUntil_ = 0;
  windowUntil_.reset();
}

void SessionState::approved() {
  const std::int64_t span = length_ > 0 ? length_ * 1000 : kNoSessionWindowMillis;
  windowUntil_ = now() + span;
  keyUntil_ = std::max(now() + kUnlockedIdleMillis, *windowUntil_);
}

void SessionState::endSession() { windowUntil_.reset(); }

bool SessionState::windowOpen() const { return windowUntil_ && now() < *windowUntil_; }

Approval SessionState::needed(bool presence, bool management) {
  if (presence || storageKey() == nullptr) return Approval::passphrase;
  if (!management && windowOpen()) return Approval::none;
  return Approval::confirm;
}

}  // namespace orwenna
