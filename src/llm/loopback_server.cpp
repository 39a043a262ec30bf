#include "llm/loopback_server.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <fmt/format.h>

#include "base/log.h"
#include "llm/llm.h"

namespace orwenna {

namespace {

constexpr std::size_t kMaxRequestLine = 16384;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percentDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 &&
               hexValue(s[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

void sendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

QueryItems parseQuery(std::string_view query) {
  QueryItems items;
  std::size_t start = 0;
  while (start < query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    std::string_view pair = query.substr(start, end - start);
    start = end + 1;
    if (pair.empty()) continue;
    std::size_t eq = pair.find('=');
    std::string name = percentDecode(pair.substr(0, eq));
    std::string value = eq == std::string_view::npos ? std::string() : percentDecode(pair.substr(eq + 1));
    items[std::move(name)] = std::move(value);
  }
  return items;
}

std::string percentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string LoopbackServer::answer(bool found) {
  std::string body = std::string("<!doctype html><meta charset=utf-8><title>orwenna</title><p style=\"font:16px "
                                 "-apple-system;margin:40px\">") +
                     (found ? "Signed in. You can go back to orwenna." : "Not found") + "</p>";
  return std::string("HTTP/1.1 ") + (found ? "200 OK" : "404 Not Found") +
         "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

std::unique_ptr<LoopbackServer> LoopbackServer::start(std::uint16_t port, std::string path) {
  auto fail = [port](const std::string& reason) {
    return LLMError(fmt::format("Couldn't open port {}: {}.", port, reason));
  };
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw fail(std::strerror(errno));
  int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
    std::string reason = std::strerror(errno);
    ::close(fd);
    throw fail(reason);
  }
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::string reason = std::strerror(errno);
    ::close(fd);
    throw fail(reason);
  }
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC) != 0) {
    std::string reason = std::strerror(errno);
    ::close(fd);
    throw fail(reason);
  }
  std::unique_ptr<LoopbackServer> server(
      new LoopbackServer(fd, wake[0], wake[1], ntohs(address.sin_port), std::move(path)));
  server->thread_ = std::thread([s = server.get()] { s->serve(); });
  pthread_setname_np(server->thread_.native_handle(), "oauth.loopback");
  return server;
}

LoopbackServer::LoopbackServer(int listener, int wakeRead, int wakeWrite, std::uint16_t port, std::string path)
    : listener_(listener), wakeRead_(wakeRead), wakeWrite_(wakeWrite), port_(port), path_(std::move(path)) {}

LoopbackServer::~LoopbackServer() {
  cancel();
  if (thread_.joinable()) thread_.join();
  ::close(listener_);
  ::close(wakeRead_);
  ::close(wakeWrite_);
}

void LoopbackServer::cancel() {
  {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    finished_ = true;
  }
  ready_.notify_all();
  char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &byte, 1);
}

void LoopbackServer::serve() {
  while (true) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents) break;
    if (!(fds[0].revents & POLLIN)) continue;
    int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    handle(connection);
    ::close(connection);
  }
  // Stop accepting at once: a browser retrying must not find a half-dead port.
  ::shutdown(listener_, SHUT_RDWR);
}

void LoopbackServer::handle(int connection) {
  // A client that connects and says nothing must not hold up the sign-in.
  timeval limit{5, 0};
  ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string head;
  char buffer[2048];
  while (head.find("\r\n") == std::string::npos && head.find('\n') == std::string::npos &&
         head.size() < kMaxRequestLine) {
    ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    head.append(buffer, static_cast<std::size_t>(n));
  }
  std::string_view line(head);
  line = line.substr(0, line.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  // "GET /auth/callback?code=…&state=… HTTP/1.1"
  std::string_view target;
  if (auto sp = line.find(' '); sp != std::string_view::npos) {
    target = line.substr(sp + 1);
    target = target.substr(0, target.find(' '));
  }
  std::string_view path = target.substr(0, target.find('?'));
  bool found = !path.empty() && path == path_;
  if (found) {
    std::string_view query;
    if (auto q = target.find('?'); q != std::string_view::npos) query = target.substr(q + 1);
    QueryItems items = parseQuery(query);
    log::info("sign-in callback arrived on port {}", port_);
    {
      std::lock_guard lock(mutex_);
      queries_.push_back(std::move(items));
    }
    ready_.notify_all();
  }
  sendAll(connection, answer(found));
  ::shutdown(connection, SHUT_WR);
}

QueryItems LoopbackServer::nextQuery(std::chrono::milliseconds limit, const Cancellation* cancellation) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  std::unique_lock lock(mutex_);
  while (true) {
    if (!queries_.empty()) {
      QueryItems q = std::move(queries_.front());
      queries_.pop_front();
      return q;
    }
    if (finished_ || (cancellation && cancellation->isCancelled())) throw LLMError("Sign-in interrupted.");
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      double minutes = static_cast<double>(limit.count()) / 60000.0;
      throw LLMError(fmt::format("Sign-in didn't finish within {:g} min.", minutes));
    }
    auto step = std::min<std::chrono::steady_clock::duration>(deadline - now, std::chrono::milliseconds(100));
    ready_.wait_for(lock, step);
  }
}

}  // namespace orwenna
