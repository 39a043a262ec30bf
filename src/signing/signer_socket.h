// The signer's transport: a Unix socket, one request per connection, each
// message a frame of a 4-byte big-endian length and that many bytes of JSON.
// Frames are capped on both sides so a peer cannot make the other allocate
// without limit. Free functions on file descriptors; thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

#include "base/error.h"

namespace orwenna {

// The socket failed: refused, closed early, timed out, or a frame over the cap.
// The message is the reason, without a leading capital phrase, so callers can
// put it after "The signer is unavailable: ".
class SignerTransportError : public Error {
 public:
  using Error::Error;
};

inline constexpr std::size_t kMaxSignerFrameBytes = std::size_t{16} << 20;

// Owns one descriptor; closes it when it goes away.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();
  int get() const { return fd_; }
  int release();
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Writes one frame. Throws SignerTransportError (a payload over the cap is
// refused before anything is written).
void writeFrame(int fd, std::string_view payload, std::size_t cap = kMaxSignerFrameBytes);

// Reads one frame. A length over `cap` is refused without reading the body.
// Without a time limit it waits as long as the peer takes. Throws
// SignerTransportError.
std::string readFrame(int fd, std::size_t cap = kMaxSignerFrameBytes,
                      std::optional<std::chrono::milliseconds> timeLimit = std::nullopt);

// Connects to the socket at `path`, giving up after `timeLimit`. Throws
// SignerTransportError with the reason.
UniqueFd connectUnixSocket(const std::filesystem::path& path, std::chrono::milliseconds timeLimit);

// The user id of the process at the other end (SO_PEERCRED), or nothing.
[[nodiscard]] std::optional<uid_t> peerUid(int fd);

// Only the same user may talk to the signer, in either direction.
[[nodiscard]] bool isSameUser(std::optional<uid_t> peer, uid_t self);

}  // namespace orwenna
