// The local web interface's server: the page, its state and its actions on
// 127.0.0.1 only, guarded so that no other page on the machine can act.
//
// Confirm on the page is the money gate, so every route checks, in order:
// the Host is 127.0.0.1 or localhost at our port (no DNS rebinding); the
// session cookie, which only a one-time code from the opening URL can set
// (HttpOnly, SameSite=Strict); and for actions (POST) a custom header and an
// Origin that is ours. No CORS headers are ever sent, and the page may not be
// framed. State goes out over one server-sent-event stream of numbered
// events with a heartbeat; a page that reconnects reloads /api/state.
//
// The app behind it implements `WebBackend`. Thread-safe: handlers run on
// the server's pool; `publish` may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/error.h"
#include "base/json.h"

namespace httplib {
class Server;
}

namespace orwenna {

class WebError : public Error {
 public:
  using Error::Error;
};

struct WebAnswer {
  int status = 200;
  Json body = Json::object();
};

class WebBackend {
 public:
  virtual ~WebBackend() = default;
  // The whole state the page shows.
  virtual Json state() = 0;
  // One action from the page (POST /api/<action>). The answer's body goes
  // back as JSON. Must not throw for bad input: answer 400 with {"error": …}.
  virtual WebAnswer act(std::string_view action, const Json& body) = 0;
};

// A file the page needs, served from memory.
struct WebAsset {
  std::string_view path;         // "/index.html"
  std::string_view contentType;  // "text/html; charset=utf-8"
  std::string_view body;
};

class WebServer {
 public:
  static constexpr const char* kCookieName = "orwenna_session";
  static constexpr const char* kActionHeader = "X-Orwenna-Action";
  static constexpr std::chrono::minutes kCodeLifetime{10};

  struct Options {
    int port = 0;  // 0: any free port
    std::chrono::milliseconds heartbeat{15000};
    std::size_t threads = 16;  // each open event stream holds one
    // When set, GET /api/open-url?key=… answers a fresh opening URL, so a
    // second start of the app can open the running one. The key lives in a
    // 0600 file only this user can read.
    std::optional<std::string> launchKey;
  };

  WebServer(WebBackend& backend, std::vector<WebAsset> assets, Random& random, Clock& clock, Options options);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds 127.0.0.1 and serves on a thread of its own. Throws WebError when
  // the port cannot be had. Returns the port.
  int start();
  void stop();
  int port() const { return port_; }

  // A fresh one-time code and the URL that opens the page with it.
  std::string openUrl();

  // Sends an event to every open stream, numbered in order.
  void publish(const Json& event);
  std::uint64_t lastEventId() const;

 private:
  std::size_t maxStreams() const;
  struct Shared;
  void installRoutes();
  bool hostAllowed(const std::string& host) const;
  bool originAllowed(const std::string& origin) const;
  bool hasSession(const std::string& cookieHeader) const;
  std::optional<std::string> redeemCode(const std::string& code);

  WebBackend& backend_;
  std::vector<WebAsset> assets_;
  Random& random_;
  Clock& clock_;
  Options options_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;

  mutable std::mutex mutex_;
  std::map<std::string, std::int64_t> codes_;  // code → expiry (ms)
  std::set<std::string> sessions_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace orwenna
