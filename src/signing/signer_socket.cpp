#include "signing/signer_socket.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <fmt/format.h>

namespace orwenna {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

int UniqueFd::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

namespace {

using Deadline = std::optional<std::chrono::steady_clock::time_point>;

// Waits until `fd` is ready for `events` or the deadline passes.
void waitReady(int fd, short events, const Deadline& deadline) {
  for (;;) {
    int timeout = -1;
    if (deadline) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) throw SignerTransportError("it did not answer in time");
      timeout = static_cast<int>(left.count());
    }
    pollfd p{fd, events, 0};
    int rc = ::poll(&p, 1, timeout);
    if (rc > 0) return;
    if (rc == 0) throw SignerTransportError("it did not answer in time");
    if (errno != EINTR) throw SignerTransportError(std::strerror(errno));
  }
}

void writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        waitReady(fd, POLLOUT, std::nullopt);
        continue;
      }
      throw SignerTransportError(fmt::format("the connection failed while sending ({})", std::strerror(errno)));
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void readAll(int fd, char* data, std::size_t size, const Deadline& deadline) {
  while (size > 0) {
    waitReady(fd, POLLIN, deadline);
    ssize_t n = ::recv(fd, data, size, 0);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      throw SignerTransportError(fmt::format("the connection failed while reading ({})", std::strerror(errno)));
    }
    if (n == 0) throw SignerTransportError("it closed the connection without an answer");
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace

void writeFrame(int fd, std::string_view payload, std::size_t cap) {
  if (payload.size() > cap) {
    throw SignerTransportError(fmt::format("a message of {} bytes is over the limit of {}", payload.size(), cap));
  }
  auto n = static_cast<std::uint32_t>(payload.size());
  const char header[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                          static_cast<char>(n)};
  writeAll(fd, header, 4);
  writeAll(fd, payload.data(), payload.size());
}

std::string readFrame(int fd, std::size_t cap, std::optional<std::chrono::milliseconds> timeLimit) {
  Deadline deadline;
  if (timeLimit) deadline = std::chrono::steady_clock::now() + *timeLimit;
  unsigned char header[4];
  readAll(fd, reinterpret_cast<char*>(header), 4, deadline);
  std::size_t size = (std::size_t{header[0]} << 24) | (std::size_t{header[1]} << 16) | (std::size_t{header[2]} << 8) |
                     std::size_t{header[3]};
  if (size > cap) {
    throw SignerTransportError(fmt::format("a message of {} bytes is over the limit of {}", size, cap));
  }
  std::string payload(size, '\0');
  readAll(fd, payload.data(), size, deadline);
  return payload;
}

UniqueFd connectUnixSocket(const std::filesystem::path& path, std::chrono::milliseconds timeLimit) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string text = path.string();
  if (text.size() >= sizeof(address.sun_path)) {
    throw SignerTransportError(fmt::format("the socket path {} is too long", text));
  }
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) throw SignerTransportError(std::strerror(errno));
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    if (errno != EINPROGRESS && errno != EAGAIN) {
      throw SignerTransportError(fmt::format("nothing answers at {} ({})", text, std::strerror(errno)));
    }
    waitReady(fd.get(), POLLOUT, std::chrono::steady_clock::now() + timeLimit);
    int error = 0;
    socklen_t length = sizeof(error);
    ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) throw SignerTransportError(fmt::format("nothing answers at {} ({})", text, std::strerror(error)));
  }
  return fd;
}

std::optional<uid_t> peerUid(int fd) {
  ucred credentials{};
  socklen_t length = sizeof(credentials);
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return std::nullopt;
  return credentials.uid;
}

bool isSameUser(std::optional<uid_t> peer, uid_t self) { return peer.has_value() && *peer == self; }

}  // namespace orwenna
