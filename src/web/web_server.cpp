#include "web/web_server.h"

#include <httplib.h>

#include <charconv>

#include <fmt/format.h>

#include "base/bytes.h"

namespace orwenna {

namespace {

constexpr const char* kLockedPage =
    "<!doctype html><meta charset=utf-8><title>orwenna</title>"
    "<p style=\"font:16px system-ui;margin:3em\">This page opens only from the link orwenna prints when it starts. "
    "Run <code>orwenna</code> again for a new link.</p>";

constexpr std::size_t kMaxActionBody = 1 << 20;

void secureHeaders(httplib::Response& res) {
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("X-Frame-Options", "DENY");
  res.set_header("Referrer-Policy", "no-referrer");
  res.set_header("Content-Security-Policy",
                 "default-src 'self'; img-src 'self' data:; style-src 'self'; script-src 'self'; "
                 "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'");
  res.set_header("Cache-Control", "no-store");
}

void answerJson(httplib::Response& res, int status, const Json& body) {
  res.status = status;
  res.set_content(body.dump(), "application/json");
}

std::string randomToken(Random& random, std::size_t bytes) {
  Bytes raw(bytes);
  random.fill(raw);
  return toHex(raw);
}

}  // namespace

struct WebServer::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::pair<std::uint64_t, std::string>> events;  // recent, numbered
  std::uint64_t nextId = 1;
  bool stopping = false;
  std::size_t streams = 0;  // open event streams, each holding a pool thread
};

WebServer::WebServer(WebBackend& backend, std::vector<WebAsset> assets, Random& random, Clock& clock, Options options)
    : backend_(backend),
      assets_(std::move(assets)),
      random_(random),
      clock_(clock),
      options_(std::move(options)),
      server_(std::make_unique<httplib::Server>()),
      shared_(std::make_shared<Shared>()) {}

WebServer::~WebServer() { stop(); }

bool WebServer::hostAllowed(const std::string& host) const {
  return host == fmt::format("127.0.0.1:{}", port_) || host == fmt::format("localhost:{}", port_);
}

bool WebServer::originAllowed(const std::string& origin) const {
  return origin == fmt::format("http://127.0.0.1:{}", port_) || origin == fmt::format("http://localhost:{}", port_);
}

bool WebServer::hasSession(const std::string& cookieHeader) const {
  // "a=b; orwenna_session=TOKEN; c=d"
  std::string_view rest = cookieHeader;
  const std::string prefix = std::string(kCookieName) + "=";
  while (!rest.empty()) {
    std::size_t end = rest.find(';');
    std::string_view part = rest.substr(0, end);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    if (part.starts_with(prefix)) {
      std::string token(part.substr(prefix.size()));
      std::lock_guard lock(mutex_);
      if (sessions_.contains(token)) return true;
    }
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return false;
}

std::optional<std::string> WebServer::redeemCode(const std::string& code) {
  std::lock_guard lock(mutex_);
  auto it = codes_.find(code);
  if (it == codes_.end()) return std::nullopt;
  const bool fresh = it->second >= clock_.nowMillis();
  codes_.erase(it);  // one use, fresh or not
  if (!fresh) return std::nullopt;
  std::string session = randomToken(random_, 32);
  sessions_.insert(session);
  return session;
}

std::string WebServer::openUrl() {
  std::string code = randomToken(random_, 16);
  {
    std::lock_guard lock(mutex_);
    const std::int64_t now = clock_.nowMillis();
    std::erase_if(codes_, [&](const auto& entry) { return entry.second < now; });
    codes_[code] = now + std::chrono::duration_cast<std::chrono::milliseconds>(kCodeLifetime).count();
  }
  return fmt::format("http://127.0.0.1:{}/?code={}", port_, code);
}

void WebServer::publish(const Json& event) {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->events.emplace_back(shared_->nextId++, event.dump());
    while (shared_->events.size() > 256) shared_->events.pop_front();
  }
  shared_->changed.notify_all();
}

std::uint64_t WebServer::lastEventId() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->nextId - 1;
}

std::size_t WebServer::maxStreams() const {
  // Actions, the state and the page's files keep at least four threads.
  return options_.threads > 8 ? options_.threads - 4 : options_.threads / 2;
}

void WebServer::installRoutes() {
  httplib::Server& s = *server_;
  const std::size_t threads = options_.threads;
  s.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  s.set_payload_max_length(kMaxActionBody);

  s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    secureHeaders(res);
    if (!hostAllowed(req.get_header_value("Host"))) {
      res.status = 421;
      res.set_content("Wrong host.", "text/plain");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  s.Get("/", [this](const httplib::Request& req, httplib::Response& res) {
    if (req.has_param("code")) {
      if (auto session = redeemCode(req.get_param_value("code"))) {
        res.set_header("Set-Cookie",
                       fmt::format("{}={}; HttpOnly; SameSite=Strict; Path=/", kCookieName, *session));
        res.status = 303;
        res.set_header("Location", "/");
        return;
      }
    }
    if (!hasSession(req.get_header_value("Cookie"))) {
      res.status = 403;
      res.set_content(kLockedPage, "text/html; charset=utf-8");
      return;
    }
    for (const auto& asset : assets_) {
      if (asset.path == "/index.html") {
        res.set_content(std::string(asset.body), std::string(asset.contentType));
        return;
      }
    }
    res.status = 404;
  });

  s.Get("/api/state", [this](const httplib::Request& req, httplib::Response& res) {
    if (!hasSession(req.get_header_value("Cookie"))) return answerJson(res, 401, {{"error", "Not signed in."}});
    // The id first: an event published meanwhile is then also seen on the stream.
    const std::uint64_t id = lastEventId();
    Json body = backend_.state();
    body["eventId"] = id;
    answerJson(res, 200, body);
  });

  s.Get("/api/events", [this](const httplib::Request& req, httplib::Response& res) {
    if (!hasSession(req.get_header_value("Cookie"))) return answerJson(res, 401, {{"error", "Not signed in."}});
    std::uint64_t after = lastEventId();
    if (req.has_param("after")) {
      std::string text = req.get_param_value("after");
      std::uint64_t value = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (ec == std::errc() && end == text.data() + text.size() && value <= after) after = value;
    }
    auto shared = shared_;
    // Each stream holds a thread of the pool: past the cap (many tabs, or a
    // page reconnecting in a loop) a Confirm would wait behind them.
    {
      std::lock_guard lock(shared->mutex);
      if (shared->streams >= maxStreams()) {
        return answerJson(res, 503, {{"error", "Too many orwenna windows are open; close one and this one reconnects."}});
      }
      ++shared->streams;
    }
    const auto heartbeat = options_.heartbeat;
    res.set_header("X-Accel-Buffering", "no");
    res.set_chunked_content_provider(
        "text/event-stream", [shared, heartbeat, sent = after](std::size_t, httplib::DataSink& sink) mutable {
          std::string out;
          {
            std::unique_lock lock(shared->mutex);
            shared->changed.wait_for(lock, heartbeat, [&] { return shared->stopping || shared->nextId - 1 > sent; });
            if (shared->stopping) return false;
            // Events the ring no longer holds are lost: tell the page to reload.
            if (!shared->events.empty() && shared->events.front().first > sent + 1) {
              out += fmt::format("event: reload\ndata: {{}}\n\n");
              sent = shared->events.front().first - 1;
            }
            for (const auto& [id, data] : shared->events) {
              if (id <= sent) continue;
              out += fmt::format("id: {}\ndata: {}\n\n", id, data);
              sent = id;
            }
          }
          if (out.empty()) out = ": heartbeat\n\n";
          return sink.write(out.data(), out.size());
        },
        [shared](bool) {
          std::lock_guard lock(shared->mutex);
          --shared->streams;
        });
  });

  s.Get("/api/open-url", [this](const httplib::Request& req, httplib::Response& res) {
    if (!options_.launchKey || req.get_param_value("key") != *options_.launchKey) {
      return answerJson(res, 403, {{"error", "Not allowed."}});
    }
    answerJson(res, 200, {{"url", openUrl()}});
  });

  s.Post(R"(/api/([a-zA-Z]+))", [this](const httplib::Request& req, httplib::Response& res) {
    if (!hasSession(req.get_header_value("Cookie"))) return answerJson(res, 401, {{"error", "Not signed in."}});
    if (req.get_header_value(kActionHeader) != "1" || !originAllowed(req.get_header_value("Origin"))) {
      return answerJson(res, 403, {{"error", "Not allowed from this page."}});
    }
    Json body = Json::object();
    if (!req.body.empty()) {
      auto parsed = parseJson(req.body);
      if (!parsed || !parsed->is_object()) return answerJson(res, 400, {{"error", "The request is not a JSON object."}});
      body = std::move(*parsed);
    }
    WebAnswer answer;
    try {
      answer = backend_.act(req.matches[1].str(), body);
    } catch (const std::exception& e) {
      answer = WebAnswer{500, {{"error", e.what()}}};
    }
    answerJson(res, answer.status, answer.body);
  });

  s.Get(R"(/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
    for (const auto& asset : assets_) {
      if (asset.path == req.path && asset.path != "/index.html") {
        res.set_content(std::string(asset.body), std::string(asset.contentType));
        return;
      }
    }
    res.status = 404;
    res.set_content("Not found.", "text/plain");
  });
}

int WebServer::start() {
  installRoutes();
  if (options_.port == 0) {
    port_ = server_->bind_to_any_port("127.0.0.1");
  } else {
    port_ = server_->bind_to_port("127.0.0.1", options_.port) ? options_.port : -1;
  }
  if (port_ <= 0) {
    throw WebError(options_.port == 0 ? std::string("No free port on 127.0.0.1 for the interface.")
                                      : fmt::format("Port {} on 127.0.0.1 is taken.", options_.port));
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  return port_;
}

void WebServer::stop() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->stopping = true;
  }
  shared_->changed.notify_all();
  if (server_) server_->stop();
  if (thread_.joinable()) thread_.join();
}

}  // namespace orwenna
