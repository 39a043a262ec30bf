// The app's end of the site wallet's channel: a Unix socket in the runtime
// folder (0600, and only this user's processes are served) where the
// browser's native-messaging host connects. Each line is one JSON message:
// a call {"id", "frame", "origin", "method", "params"} answered by
// {"id", "result"} or {"id", "error": "code|message"}, or {"gone": frame}
// when a frame went away. A connection that closes takes its frames' waiting
// requests with it.
//
// Thread-safe; one thread accepts and one reads each connection.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/site_bridge.h"
#include "base/error.h"

namespace orwenna {

class SiteSocketError : public Error {
 public:
  using Error::Error;
};

class SiteSocket {
 public:
  static constexpr const char* kSocketName = "site.sock";
  // A line longer than this ends its connection.
  static constexpr std::size_t kMaxLine = 8 << 20;
  static constexpr std::size_t kMaxReply = 1000 * 1000;

  // REQUIRES: `bridge` outlives this socket.
  SiteSocket(SiteBridge& bridge, std::filesystem::path path);
  ~SiteSocket();
  SiteSocket(const SiteSocket&) = delete;
  SiteSocket& operator=(const SiteSocket&) = delete;

  // Binds (replacing a stale socket file) and starts accepting. Throws SiteSocketError.
  void start();
  void stop();
  const std::filesystem::path& path() const { return path_; }

 private:
  struct Connection;
  void acceptLoop();
  void serve(std::shared_ptr<Connection> connection);

  SiteBridge& bridge_;
  std::filesystem::path path_;
  int listener_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::shared_ptr<Connection>> connections_;
  std::vector<std::thread> readers_;
};

}  // namespace orwenna
