// The interface's server on a real port: only the opening link's one-time code
// gives a session; actions need the cookie, our header and our Origin; a
// foreign Host is refused; the state stream numbers its events and beats.
#include <gtest/gtest.h>

#include <httplib.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "support/test_support.h"
#include "web/web_server.h"

namespace orwenna {
namespace {

class FakeBackend final : public WebBackend {
 public:
  Json state() override { return {{"messages", Json::array({"hello"})}}; }
  WebAnswer act(std::string_view action, const Json& body) override {
    std::lock_guard lock(mutex);
    actions.push_back(std::string(action) + " " + body.dump());
    return WebAnswer{202, {{"accepted", true}}};
  }
  std::mutex mutex;
  std::vector<std::string> actions;
};

const std::vector<WebAsset> kAssets = {
    {"/index.html", "text/html; charset=utf-8", "<!doctype html><title>orwenna</title>"},
    {"/app.js", "text/javascript", "console.log(1)"},
};

class WebServerTest : public ::testing::Test {
 protected:
  WebServerTest() : server_(backend_, kAssets, SecureRandom::shared(), clock_, options()) {}
  static WebServer::Options options() {
    WebServer::Options o;
    o.heartbeat = std::chrono::milliseconds(50);
    o.launchKey = "launch-key";
    return o;
  }
  void SetUp() override { port_ = server_.start(); }

  httplib::Client client() {
    httplib::Client c("127.0.0.1", port_);
    c.set_read_timeout(5, 0);
    return c;
  }
  std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // Follows the opening URL as a browser would and returns the cookie pair.
  std::string signIn() {
    std::string url = server_.openUrl();
    auto res = client().Get(url.substr(url.find("/?")).c_str());
    EXPECT_EQ(res->status, 303);
    std::string setCookie = res->get_header_value("Set-Cookie");
    return setCookie.substr(0, setCookie.find(';'));
  }

  httplib::Result post(const std::string& cookie, const std::string& originHeader, bool actionHeader,
                       const std::string& body = R"({"text":"long ETH"})") {
    httplib::Headers headers{{"Origin", originHeader}};
    if (!cookie.empty()) headers.emplace("Cookie", cookie);
    if (actionHeader) headers.emplace(WebServer::kActionHeader, "1");
    return client().Post("/api/send", headers, body, "application/json");
  }

  testing::FixedClock clock_;
  FakeBackend backend_;
  WebServer server_;
  int port_ = 0;
};

TEST_F(WebServerTest, OnlyTheOneTimeCodeOpensASession) {
  auto res = client().Get("/");
  EXPECT_EQ(res->status, 403);
  EXPECT_EQ(client().Get("/api/state")->status, 401);
  EXPECT_EQ(client().Get("/?code=0123456789abcdef0123456789abcdef")->status, 403);

  std::string url = server_.openUrl();
  ASSERT_EQ(url.rfind("http://127.0.0.1:" + std::to_string(port_) + "/?code=", 0), 0u);
  const std::string path = url.substr(url.find("/?"));
  res = client().Get(path.c_str());
  ASSERT_EQ(res->status, 303);
  const std::string setCookie = res->get_header_value("Set-Cookie");
  EXPECT_NE(setCookie.find("HttpOnly"), std::string::npos);
  EXPECT_NE(setCookie.find("SameSite=Strict"), std::string::npos);
  const std::string cookie = setCookie.substr(0, setCookie.find(';'));

  res = client().Get("/", {{"Cookie", cookie}});
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, "<!doctype html><title>orwenna</title>");
  EXPECT_EQ(res->get_header_value("X-Frame-Options"), "DENY");
  res = client().Get("/api/state", {{"Cookie", cookie}});
  ASSERT_EQ(res->status, 200);
  EXPECT_EQ(parseJson(res->body)->at("messages")[0], "hello");

  // A code works once.
  EXPECT_EQ(client().Get(path.c_str())->status, 403);
  // A code left unused past its lifetime works never.
  std::string late = server_.openUrl();
  clock_.sleepFor(std::chrono::duration_cast<std::chrono::milliseconds>(WebServer::kCodeLifetime).count() + 1);
  EXPECT_EQ(client().Get(late.substr(late.find("/?")).c_str())->status, 403);
}

TEST_F(WebServerTest, ActionsNeedCookieHeaderAndOurOrigin) {
  const std::string cookie = signIn();
  EXPECT_EQ(post("", origin(), true)->status, 401);                           // no cookie
  EXPECT_EQ(post(cookie, "http://evil.example", true)->status, 403);          // another page
  EXPECT_EQ(post(cookie, "null", true)->status, 403);                         // a sandboxed frame or file
  EXPECT_EQ(post(cookie, origin(), false)->status, 403);                      // a plain form post
  EXPECT_EQ(post(cookie, origin(), true, "[1,2]")->status, 400);
  EXPECT_TRUE(backend_.actions.empty());

  auto res = post(cookie, origin(), true);
  EXPECT_EQ(res->status, 202);
  EXPECT_EQ(res->get_header_value("Access-Control-Allow-Origin"), "");
  res = post(cookie, "http://localhost:" + std::to_string(port_), true, "");
  EXPECT_EQ(res->status, 202);
  EXPECT_EQ(backend_.actions, (std::vector<std::string>{R"(send {"text":"long ETH"})", "send {}"}));
}

TEST_F(WebServerTest, AForeignHostIsRefused) {
  const std::string cookie = signIn();
  // A DNS-rebinding page reaches our port under its own name.
  httplib::Headers headers{{"Host", "rebind.example:" + std::to_string(port_)}, {"Cookie", cookie}};
  EXPECT_EQ(client().Get("/api/state", headers)->status, 421);
  EXPECT_EQ(client().Get("/api/state", {{"Host", "localhost:" + std::to_string(port_)}, {"Cookie", cookie}})->status,
            200);
}

TEST_F(WebServerTest, TheStreamNumbersEventsAndBeats) {
  const std::string cookie = signIn();
  std::mutex mutex;
  std::string received;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    auto c = client();
    c.Get("/api/events", {{"Cookie", cookie}}, [&](const char* data, size_t length) {
      std::lock_guard lock(mutex);
      received.append(data, length);
      return !done.load();
    });
  });
  auto waitFor = [&](const std::string& text) {
    for (int i = 0; i < 200; ++i) {
      {
        std::lock_guard lock(mutex);
        if (received.find(text) != std::string::npos) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  };
  EXPECT_TRUE(waitFor(": heartbeat\n\n"));
  server_.publish({{"type", "message"}, {"text", "hi"}});
  server_.publish({{"type", "draft"}});
  EXPECT_TRUE(waitFor("id: 2\ndata: {\"type\":\"draft\"}\n\n"));
  EXPECT_TRUE(waitFor("id: 1\ndata: {\"type\":\"message\",\"text\":\"hi\"}\n\n"));
  done = true;
  server_.publish({{"type", "bye"}});
  reader.join();
  EXPECT_EQ(server_.lastEventId(), 3u);
  // Without the cookie there is no stream.
  EXPECT_EQ(client().Get("/api/events")->status, 401);
}

// Oversized and malformed bodies, streams without a session, and more open
// streams than the pool can spare: each is refused, and a Confirm still gets
// a thread.
TEST_F(WebServerTest, AbuseIsRefusedAndActionsStillAnswer) {
  const std::string cookie = signIn();
  EXPECT_EQ(post(cookie, origin(), true, std::string(2u << 20, ' '))->status, 413);
  EXPECT_EQ(post(cookie, origin(), true, "{\"text\":")->status, 400);
  EXPECT_EQ(post(cookie, origin(), true, "{\"text\":\"\xff\"}")->status, 400);
  EXPECT_TRUE(backend_.actions.empty());

  std::vector<std::thread> anonymous;
  std::atomic<int> refused{0};
  for (int i = 0; i < 32; ++i)
    anonymous.emplace_back([&] {
      auto r = client().Get("/api/events");
      if (r && r->status == 401) ++refused;
    });
  for (auto& t : anonymous) t.join();
  EXPECT_EQ(refused.load(), 32);

  std::atomic<bool> done{false};
  std::atomic<int> open{0};
  std::vector<std::thread> streams;
  const int cap = 12;  // 16 threads, four kept for everything else
  for (int i = 0; i < cap; ++i)
    streams.emplace_back([&] {
      bool counted = false;
      client().Get("/api/events", {{"Cookie", cookie}}, [&](const char*, size_t) {
        if (!counted) ++open;
        counted = true;
        return !done.load();
      });
    });
  for (int i = 0; i < 400 && open.load() < cap; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(open.load(), cap);
  auto extra = client().Get("/api/events", {{"Cookie", cookie}});
  ASSERT_TRUE(extra);
  EXPECT_EQ(extra->status, 503);
  EXPECT_EQ(post(cookie, origin(), true)->status, 202) << "an action still gets a thread";
  done = true;
  for (auto& t : streams) t.join();
  // Closed streams give their places back.
  std::atomic<bool> again{false};
  std::thread reader([&] {
    client().Get("/api/events", {{"Cookie", cookie}}, [&](const char*, size_t) {
      again = true;
      return false;
    });
  });
  reader.join();
  EXPECT_TRUE(again.load());
}

TEST_F(WebServerTest, ASecondStartGetsAnOpeningUrlWithTheLaunchKey) {
  EXPECT_EQ(client().Get("/api/open-url?key=wrong")->status, 403);
  auto res = client().Get("/api/open-url?key=launch-key");
  ASSERT_EQ(res->status, 200);
  std::string url = parseJson(res->body)->at("url");
  EXPECT_EQ(client().Get(url.substr(url.find("/?")).c_str())->status, 303);
}

}  // namespace
}  // namespace orwenna
