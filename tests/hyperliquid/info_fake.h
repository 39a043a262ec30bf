// Hyperliquid's info endpoint on a local port for the read tests: one canned
// answer per request "type" (with "/dex" when the body names one), HTTP 500
// for anything unanswered, and the time-out each read asked for.
// Thread-safety: answers may change while the server thread reads them.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/http.h"
#include "base/json.h"
#include "fakes/fake_server.h"
#include "hyperliquid/info.h"
#include "support/test_support.h"

namespace orwenna::testing {

inline constexpr std::int64_t kInfoNow = 1765000000000;

class FakeInfo {
 public:
  FakeInfo() {
    server.on("POST", "/info", [this](const RecordedRequest& r) {
      Json body = Json::parse(r.body);
      std::string key = body.at("type").get<std::string>();
      if (body.contains("dex")) key += "/" + body["dex"].get<std::string>();
      std::lock_guard lock(mutex_);
      auto it = answers_.find(key);
      return it == answers_.end() ? FakeResponse::json("null", 500) : it->second;
    });
  }
  void answer(const std::string& key, std::string body, int status = 200) {
    std::lock_guard lock(mutex_);
    answers_[key] = FakeResponse::json(std::move(body), status);
  }
  Hyperliquid::InfoApi api() { return {http, clock, server.url()}; }
  Json lastBody() const { return Json::parse(server.requests().back().body); }

  // Sends through the real client and keeps each request's time-out.
  class Client : public HttpClient {
   public:
    HttpResponse send(const HttpRequest& request) override {
      timeouts.push_back(request.timeout);
      return CurlHttpClient::shared().send(request);
    }
    HttpResponse stream(const HttpRequest& request, const LineHandler& onLine) override {
      return CurlHttpClient::shared().stream(request, onLine);
    }
    std::vector<std::chrono::milliseconds> timeouts;
  };

  FixedClock clock{kInfoNow};
  Client http;
  FakeServer server;

 private:
  std::mutex mutex_;
  std::map<std::string, FakeResponse> answers_;
};

}  // namespace orwenna::testing
