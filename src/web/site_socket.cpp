#include "web/site_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "base/json.h"
#include "base/log.h"

namespace orwenna {

struct SiteSocket::Connection {
  int fd = -1;
  std::mutex writeMutex;
  std::atomic<bool> open{true};

  void send(const Json& message) {
    std::string line = message.dump() + "\n";
    std::lock_guard lock(writeMutex);
    if (!open.load()) return;
    std::size_t done = 0;
    while (done < line.size()) {
      ssize_t n = ::send(fd, line.data() + done, line.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        open.store(false);
        return;
      }
      done += static_cast<std::size_t>(n);
    }
  }
};

SiteSocket::SiteSocket(SiteBridge& bridge, std::filesystem::path path) : bridge_(bridge), path_(std::move(path)) {}

SiteSocket::~SiteSocket() { stop(); }

void SiteSocket::start() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path_.native().size() >= sizeof(address.sun_path)) throw SiteSocketError("The site socket's path is too long.");
  std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
  listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw SiteSocketError("Can't open the site socket.");
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
  // Created 0600 from the start, so no other user ever sees it open.
  const mode_t old = ::umask(0177);
  const int bound = ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  ::umask(old);
  if (bound != 0 || ::listen(listener_, 8) != 0) {
    ::close(listener_);
    listener_ = -1;
    throw SiteSocketError("Can't listen on " + path_.string() + ": " + std::strerror(errno));
  }
  ::chmod(path_.c_str(), 0600);
  acceptor_ = std::thread([this] { acceptLoop(); });
}

void SiteSocket::stop() {
  if (stopping_.exchange(true)) return;
  if (acceptor_.joinable()) acceptor_.join();
  if (listener_ >= 0) ::close(listener_);
  listener_ = -1;
  std::vector<std::thread> readers;
  {
    std::lock_guard lock(mutex_);
    for (auto& c : connections_) {
      std::lock_guard w(c->writeMutex);
      if (c->fd >= 0) ::shutdown(c->fd, SHUT_RDWR);
    }
    readers.swap(readers_);
  }
  for (auto& t : readers) t.join();
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

void SiteSocket::acceptLoop() {
  while (!stopping_.load()) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ucred peer{};
    socklen_t length = sizeof(peer);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != ::getuid()) {
      log::warn("site socket: a process of another user was turned away");
      ::close(fd);
      continue;
    }
    auto connection = std::make_shared<Connection>();
    connection->fd = fd;
    std::lock_guard lock(mutex_);
    connections_.push_back(connection);
    readers_.emplace_back([this, connection] { serve(connection); });
  }
}

void SiteSocket::serve(std::shared_ptr<Connection> connection) {
  std::set<std::string> frames;
  std::string buffer;
  char chunk[16384];
  for (;;) {
    ssize_t n = ::recv(connection->fd, chunk, sizeof(chunk), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    buffer.append(chunk, static_cast<std::size_t>(n));
    if (buffer.size() > kMaxLine && buffer.find('\n') == std::string::npos) break;
    std::size_t newline;
    while ((newline = buffer.find('\n')) != std::string::npos) {
      auto message = parseJson(std::string_view(buffer).substr(0, newline));
      buffer.erase(0, newline + 1);
      if (!message || !message->is_object()) continue;
      if (message->contains("gone") && (*message)["gone"].is_string()) {
        frames.erase((*message)["gone"].get<std::string>());
        bridge_.gone((*message)["gone"].get<std::string>());
        continue;
      }
      const Json id = message->value("id", Json(nullptr));
      auto text = [&](const char* key) {
        auto it = message->find(key);
        return it != message->end() && it->is_string() ? it->get<std::string>() : std::string();
      };
      SiteCall call{text("frame"), text("origin"), text("method"), message->value("params", Json::object())};
      frames.insert(call.frame);
      bridge_.call(call, [connection, id](const SiteReply& reply) {
        Json out = reply.toJson();
        out["id"] = id;
        // Chromium takes at most 1 MB from the host in one message.
        if (out.dump().size() > kMaxReply) {
          out = SiteReply::fail(-32603, "The answer is too large for the browser.").toJson();
          out["id"] = id;
        }
        connection->send(out);
      });
    }
  }
  {
    std::lock_guard w(connection->writeMutex);
    connection->open.store(false);
    ::close(connection->fd);
    connection->fd = -1;
  }
  {
    std::lock_guard lock(mutex_);
    std::erase(connections_, connection);
  }
  // The browser (or its host) went away: nothing it waits for may be signed.
  for (const auto& frame : frames) bridge_.gone(frame);
}

}  // namespace orwenna
