// A paid API on 127.0.0.1 speaking MPP (the "Payment" HTTP authentication
// scheme, tempo "charge" intent): without a credential it answers 402 with a
// WWW-Authenticate Payment challenge; with one it checks the echoed
// challenge against what it issued, reads the payment's receipt from the
// fake Tempo ledger (a Transfer of the asked amount of its token, from the
// payer, to its recipient, not used before) and answers 200 with a
// Payment-Receipt. It also serves the MPP directory (/api/services) listing
// itself under `serviceUrl`. And a client that sends a service's https
// address to the fake, and everything else where it was going.
// Thread-safe.
#pragma once

#include <mutex>
#include <set>
#include <string>

#include "base/bytes.h"
#include "base/http.h"
#include "base/json.h"
#include "base/text.h"
#include "fakes/fake_ledgers.h"
#include "fakes/fake_server.h"

namespace orwenna::testing {

class FakeMppService {
 public:
  static constexpr const char* kServiceUrl = "https://weather.mpp.test";

  FakeMppService(const FakeEVMLedger& ledger, std::string token, std::string recipient, std::string amount,
                 std::string listedPrice)
      : ledger_(ledger), token_(std::move(token)), recipient_(std::move(recipient)), amount_(std::move(amount)) {
    Json endpoint{{"method", "POST"}, {"path", "/v1/forecast/{city}"}, {"description", "A forecast."},
                  {"payment", {{"intent", "charge"}, {"amount", listedPrice}, {"decimals", 6}}}};
    Json service{{"id", "weather"}, {"name", "Weather"}, {"description", "Forecasts."}, {"status", "active"},
                 {"serviceUrl", kServiceUrl}, {"endpoints", Json::array({endpoint})}};
    server.onJson("GET", "/api/services", Json{{"services", Json::array({service})}}.dump());
    server.on("POST", "/v1/forecast/paris", [this](const RecordedRequest& r) { return forecast(r); });
  }

  // The answer a paid call gets; by default a small JSON forecast.
  void answer(std::string body) {
    std::lock_guard lock(mutex_);
    body_ = std::move(body);
  }
  // Ask for `amount` from now on (a service raising its price).
  void ask(std::string amount) {
    std::lock_guard lock(mutex_);
    amount_ = std::move(amount);
  }
  int paidCalls() const {
    std::lock_guard lock(mutex_);
    return paid_;
  }

  FakeServer server;

 private:
  static std::string b64(const std::string& s) {
    return toBase64Url(ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
  }

  FakeResponse challenge() {
    const std::string request =
        b64(Json{{"amount", amount_}, {"currency", token_}, {"recipient", recipient_},
                 {"methodDetails", {{"chainId", 4217}}}}.dump());
    const std::string id = "ch" + std::to_string(++issued_);
    requests_[id] = request;
    FakeResponse r = FakeResponse::json(R"({"type":"https://paymentauth.org/problems/payment-required","status":402})", 402);
    r.headers.push_back({"WWW-Authenticate", "Payment id=\"" + id + "\", realm=\"weather.mpp.test\", method=\"tempo\", "
                                             "intent=\"charge\", expires=\"2099-01-01T00:00:00Z\", request=\"" + request + "\""});
    return r;
  }

  FakeResponse forecast(const RecordedRequest& r) {
    std::lock_guard lock(mutex_);
    const std::string auth = r.header("Authorization");
    if (auth.empty()) return challenge();
    auto raw = auth.starts_with("Payment ") ? fromBase64Url(auth.substr(8)) : std::nullopt;
    auto credential = raw ? parseJson(std::string(raw->begin(), raw->end())) : std::nullopt;
    if (!credential || !credential->is_object()) return FakeResponse::json(R"({"error":"bad credential"})", 400);
    const Json& c = (*credential)["challenge"];
    const Json& payload = (*credential)["payload"];
    auto issued = requests_.find(c.value("id", ""));
    if (issued == requests_.end() || c.value("request", "") != issued->second || c.value("method", "") != "tempo" ||
        c.value("intent", "") != "charge" || c.value("realm", "") != "weather.mpp.test") {
      return challenge();
    }
    const std::string hash = payload.value("hash", "");
    const std::string payer = text::asciiLowercased(credential->value("source", "").substr(std::string("did:pkh:eip155:4217:").size()));
    if (payload.value("type", "") != "hash" || spent_.count(hash)) return challenge();
    auto receipt = ledger_.receiptOf(hash);
    if (!receipt || (*receipt)["status"] != "0x1") return challenge();
    bool paid = false;
    for (const auto& log : (*receipt)["logs"]) {
      const auto& topics = log["topics"];
      paid = paid || (log["address"] == text::asciiLowercased(token_) && topics.size() == 3 &&
                      topics[1] == "0x000000000000000000000000" + payer.substr(2) &&
                      topics[2] == "0x000000000000000000000000" + text::asciiLowercased(recipient_).substr(2) &&
                      parseUInt256Hex(log["data"].get<std::string>()) == parseUInt256(amount_));
    }
    if (!paid) return challenge();
    spent_.insert(hash);
    requests_.erase(issued);
    ++paid_;
    FakeResponse ok = FakeResponse::json(body_);
    ok.headers.push_back({"Payment-Receipt", b64(Json{{"status", "success"}, {"method", "tempo"}, {"reference", hash}}.dump())});
    return ok;
  }

  const FakeEVMLedger& ledger_;
  std::string token_;
  std::string recipient_;
  mutable std::mutex mutex_;
  std::string amount_;
  std::string body_ = R"({"city":"Paris","tomorrow":"rain"})";
  std::map<std::string, std::string> requests_;
  std::set<std::string> spent_;
  int issued_ = 0;
  int paid_ = 0;
};

// Sends a request for `from` (an https root) to `to`, the rest as it was.
struct HostRouteClient final : HttpClient {
  HostRouteClient(std::string from, std::string to) : from_(std::move(from)), to_(std::move(to)) {}
  HttpResponse send(const HttpRequest& r) override {
    HttpRequest copy = r;
    if (copy.url.starts_with(from_)) copy.url = to_ + copy.url.substr(from_.size());
    return CurlHttpClient::shared().send(copy);
  }
  HttpResponse stream(const HttpRequest& r, const LineHandler& h) override { return CurlHttpClient::shared().stream(r, h); }
  std::string from_;
  std::string to_;
};

}  // namespace orwenna::testing
